// Fuzz entry for the whole RTF reader: tokens given their meaning in a text document (tables,
// code pages, formats, nesting). Whatever the bytes, it ends, and the text it shows is no
// longer than the bytes it came from.
#include <QGuiApplication>
#include <QTextDocument>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "RtfReader.h"

namespace vorn {
namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// The document lays text out with fonts, which need an application: one for the whole run,
// never destroyed, as Qt's own globals may be gone when the process exits.
void EnsureApplication() {
  if (QGuiApplication::instance()) return;
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  union Kept {
    QGuiApplication app;
    Kept(int& argc, char** argv) : app(argc, argv) {}
    ~Kept() {}
  };
  static int argc = 1;
  static char name[] = "rtf_reader_fuzz";
  static char* argv[] = {name, nullptr};
  static Kept kept(argc, argv);
}

}  // namespace
}  // namespace vorn

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vorn::EnsureApplication();
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  QTextDocument document;
  document.setPlainText(QStringLiteral("before"));
  const bool read = vorn::ReadRtf(bytes, document);
  vorn::Check(read == vorn::LooksLikeRtf(bytes));
  if (!read) {
    vorn::Check(document.toPlainText() == QStringLiteral("before"));
    return 0;
  }
  // Each shown character comes from at least one byte: a text byte, "\'hh", "\uN" or a word.
  vorn::Check(static_cast<size_t>(document.characterCount()) <= size + 1);
  return 0;
}
