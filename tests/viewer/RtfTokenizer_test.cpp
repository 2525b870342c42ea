// The RTF tokenizer on its own: what each token holds and where it ends.
#include "RtfTokenizer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vorn {
namespace {

using vorn::RtfToken;
using vorn::RtfTokenizer;

// The tokens in a short written form: "{", "}", "\word", "\word=N", "sym:c", "x:hh", "t:text"
// and "bin:N".
struct Recorder {
  std::vector<std::string> seen;
  size_t stopAfter = SIZE_MAX;
  bool Add(std::string s) {
    seen.push_back(std::move(s));
    return seen.size() < stopAfter;
  }
  bool GroupStart() { return Add("{"); }
  bool GroupEnd() { return Add("}"); }
  bool Token(const RtfToken& t) {
    switch (t.kind) {
      case RtfToken::Kind::Word: {
        // Appended piece by piece: "literal" + std::string draws a false -Wrestrict from
        // GCC 12's optimiser.
        std::string word = "\\";
        word += t.text;
        if (t.hasParam) word.append("=").append(std::to_string(t.param));
        return Add(std::move(word));
      }
      case RtfToken::Kind::Symbol:
        return Add(std::string("sym:") + t.symbol);
      case RtfToken::Kind::HexByte:
        return Add("x:" + std::to_string(t.byte));
      case RtfToken::Kind::Text:
        return Add("t:" + std::string(t.text));
      case RtfToken::Kind::Binary:
        return Add("bin:" + std::to_string(t.text.size()));
    }
    return false;
  }
};

std::vector<std::string> Tokens(std::string_view rtf, size_t stopAfter = SIZE_MAX) {
  Recorder r;
  r.stopAfter = stopAfter;
  RtfTokenizer(rtf).Run(r);
  return r.seen;
}

using V = std::vector<std::string>;

TEST(RtfTokenizer, CutsWordsSymbolsBytesAndText) {
  // The blank after a word belongs to it; a sign or a negative number ends it; line ends are
  // dropped from text; escaped braces and backslashes are text.
  EXPECT_EQ(Tokens("{\\rtf1\\b0 bold\r\n text\\fs-24x\\par}"),
            (V{"{", "\\rtf=1", "\\b=0", "t:bold", "t: text", "\\fs=-24", "t:x", "\\par", "}"}));
  EXPECT_EQ(Tokens("\\{a\\}\\\\\\'e9\\'4\\~\\*\\\n"),
            (V{"t:{", "t:a", "t:}", "t:\\", "x:233", "sym:'", "t:4", "sym:~", "sym:*", "sym:\n"}));
  // A word of more than 32 letters is cut, the rest is text; digits past ten are dropped.
  EXPECT_EQ(Tokens("\\" + std::string(40, 'a') + " \\u123456789012"),
            (V{"\\" + std::string(32, 'a'), "t:aaaaaaaa ", "\\u=1234567890"}));
  // \bin takes its bytes whatever they are, at most to the end; a lone "\" at the end is nothing.
  EXPECT_EQ(Tokens("\\bin3 {}\\x\\bin0 \\bin99 ab"), (V{"bin:3", "t:x", "\\bin=0", "bin:2"}));
  EXPECT_EQ(Tokens("a\\"), (V{"t:a"}));
  // The sink stops the run.
  EXPECT_EQ(Tokens("{{a}}", 3), (V{"{", "{", "t:a"}));
}

}  // namespace
}  // namespace vorn
