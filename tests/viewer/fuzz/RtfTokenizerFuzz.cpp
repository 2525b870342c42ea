// Fuzz entry for the RTF tokenizer: every token lies inside the input, after the one before,
// and is well formed; the run ends however the bytes are cut.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "RtfTokenizer.h"

namespace vorn {
namespace {

using vorn::RtfToken;

void Check(bool ok) {
  if (!ok) std::abort();
}

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

struct CheckingSink {
  std::string_view in;
  const char* after = nullptr;  // end of the last token that points into the input
  size_t braces = 0;

  bool GroupStart() { return ++braces, true; }
  bool GroupEnd() { return ++braces, true; }

  // The view lies inside the input, not before the end of the token before.
  void Inside(std::string_view v) {
    Check(v.data() >= after && v.data() + v.size() <= in.data() + in.size());
    after = v.data() + v.size();
  }

  bool Token(const RtfToken& t) {
    switch (t.kind) {
      case RtfToken::Kind::Word:
        Inside(t.text);
        Check(!t.text.empty() && t.text.size() <= vorn::RtfTokenizer::kMaxWordLength);
        for (const char c : t.text) Check(IsLetter(c));
        Check(t.param > -10'000'000'000LL && t.param < 10'000'000'000LL);
        Check(t.hasParam || t.param == 0);
        Check(t.text.data() > in.data() && t.text.data()[-1] == '\\');
        break;
      case RtfToken::Kind::Text:
        Inside(t.text);
        Check(!t.text.empty());
        if (t.text.size() == 1 && t.text.data() > in.data() && t.text.data()[-1] == '\\') break;
        for (const char c : t.text)
          Check(c != '{' && c != '}' && c != '\\' && c != '\r' && c != '\n');
        break;
      case RtfToken::Kind::Binary:
        Inside(t.text);
        break;
      case RtfToken::Kind::HexByte:
      case RtfToken::Kind::Symbol:
        break;
    }
    return true;
  }
};

}  // namespace
}  // namespace vorn

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  vorn::CheckingSink sink{in, in.data()};
  vorn::RtfTokenizer(in).Run(sink);
  vorn::Check(sink.braces <= size);
  return 0;
}
