#include "BuildLabel.h"

#include <utility>

#include "VersionRecord.h"

namespace vorn {

namespace {
// The string table the build is looked up in: language 0406, code page 04E4.
constexpr std::string_view kFileVersionPath = "\\StringFileInfo\\040604E4\\FileVersion";
}  // namespace

TBuildLabel::TBuildLabel(QWidget* parent, std::string programFile)
    : QLabel(parent), programFile_(std::move(programFile)), textCaption2_(QStringLiteral("Build")) {
  setTextFormat(Qt::PlainText);
  ReadVersion();
  Compose();
  QPalette pal = palette();
  pal.setColor(QPalette::WindowText, Qt::blue);
  setPalette(pal);
}

void TBuildLabel::Loaded() {
  ReadVersion();
  Compose();
}

void TBuildLabel::ReadVersion() {
  // Without a record or without the value, the previous version text stays.
  const auto record = ReadVersionRecord(programFile_);
  if (!record) return;
  const auto value = QueryVersionValue(*record, kFileVersionPath);
  if (value && !value->empty()) versionText_ = QString::fromUtf8(value->data(), value->size());
}

void TBuildLabel::Compose() {
  setText(textCaption2_ + QLatin1Char(' ') + versionText_);
  adjustSize();  // the label is sized to its text
}

}  // namespace vorn
