#include <gtest/gtest.h>

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <random>
#include <string>
#include <vector>

#include "FilePlan.h"
#include "ResultsSink.h"
#include "SearchRun.h"
#include "TempTree.h"
#include "Utf8.h"

namespace vorn {
namespace {

// A file as the test builds it: lines of code points (-1 a byte 0xFF that is not UTF-8), each
// with its own line end, in one encoding.
struct Model {
  TextEncoding encoding = TextEncoding::Bytes;
  std::vector<std::string> text;  // UTF-8, or raw bytes for the invalid byte
  std::vector<std::string> ends;
};

std::string EncodeUtf16(std::string_view utf8, bool big) {
  std::string out;
  const auto unit = [&](unsigned u) {
    out += static_cast<char>(big ? u >> 8 : u & 0xFF);
    out += static_cast<char>(big ? u & 0xFF : u >> 8);
  };
  for (size_t at = 0; at < utf8.size();) {
    char32_t c = 0;
    at += DecodeUtf8At(utf8.substr(at), c);
    if (c >= 0x10000) {
      unit(0xD800 + ((c - 0x10000) >> 10));
      unit(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      unit(c);
    }
  }
  return out;
}

// The file's bytes for lines (the model's own, or replaced ones), byte by byte.
std::string Bytes(const Model& m, const std::vector<std::string>& lines) {
  const bool utf16 = m.encoding == TextEncoding::Utf16LE || m.encoding == TextEncoding::Utf16BE;
  const bool big = m.encoding == TextEncoding::Utf16BE;
  std::string out = m.encoding == TextEncoding::Utf8Marked ? "\xEF\xBB\xBF"
                    : utf16                                ? (big ? "\xFE\xFF" : "\xFF\xFE")
                                                           : "";
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string line = lines[i] + m.ends[i];
    out += utf16 ? EncodeUtf16(line, big) : line;
  }
  return out;
}

Model RandomModel(std::mt19937& random) {
  static const std::vector<std::string> pieces = {
      "a", "b", "A", "B", " ", "x", "ab", "AB", "\xC3\xA9", "\xC3\x89", "\xF0\x9F\x98\x80", "\xFF"};
  static const std::vector<std::string> ends = {"\n", "\r\n", "\r"};
  Model m;
  m.encoding = static_cast<TextEncoding>(random() % 4);
  const bool utf16 = m.encoding == TextEncoding::Utf16LE || m.encoding == TextEncoding::Utf16BE;
  const size_t lines = 1 + random() % 12;
  for (size_t i = 0; i < lines; ++i) {
    std::string text;
    const size_t length = random() % 40;
    while (text.size() < length) {
      const std::string& piece = pieces[random() % pieces.size()];
      if (!(utf16 && piece == "\xFF")) text += piece;
    }
    // A lone CR before an empty line ending in LF would make one CR LF of the two.
    if (text.empty() && i > 0 && m.ends[i - 1] == "\r") text = "x";
    m.text.push_back(text);
    m.ends.push_back(i + 1 == lines && random() % 2 ? "" : ends[random() % ends.size()]);
  }
  return m;
}

// What PCRE2's own global substitution makes of a line the search takes as a hit.
std::string Substituted(const std::string& line, const SearchOptions& o, std::string with) {
  if (line.find_first_not_of(std::string(" \t\x01", 3)) == std::string::npos) return line;
  std::string pattern = o.regex ? o.query : "\\Q" + o.query + "\\E";
  if (!o.regex) {
    std::string escaped;
    for (const char c : with) escaped += c == '$' ? std::string("$$") : std::string(1, c);
    with = escaped;
  }
  int error = 0;
  PCRE2_SIZE offset = 0;
  pcre2_code* code = pcre2_compile(
      reinterpret_cast<PCRE2_SPTR>(pattern.c_str()), pattern.size(),
      PCRE2_UTF | PCRE2_MATCH_INVALID_UTF | PCRE2_UCP | (o.matchCase ? 0 : PCRE2_CASELESS), &error,
      &offset, nullptr);
  std::string out(line.size() * 8 + 64, '\0');
  PCRE2_SIZE size = out.size();
  const int rc = pcre2_substitute(code, reinterpret_cast<PCRE2_SPTR>(line.data()), line.size(), 0,
                                  PCRE2_SUBSTITUTE_GLOBAL | PCRE2_SUBSTITUTE_UNSET_EMPTY, nullptr,
                                  nullptr, reinterpret_cast<PCRE2_SPTR>(with.data()), with.size(),
                                  reinterpret_cast<PCRE2_UCHAR*>(out.data()), &size);
  pcre2_code_free(code);
  EXPECT_GE(rc, 0);
  out.resize(size);
  return out;
}

// The hit lines the engine hands over, with their ranges when it gives them.
class Hits : public ResultsSink {
 public:
  void Lines(std::span<const SearchHit> hits) override {
    for (const SearchHit& h : hits) ranges[h.lineIndex].assign(h.matches.begin(), h.matches.end());
  }
  HitRanges ranges;
};

struct Case {
  SearchOptions options;
  std::string with;
};

// Random files through the search and the plan, held byte for byte against PCRE2's own
// global substitution line by line, and a random choice of matches against the plan's ranges
// spliced into the file as built.
TEST(ReplacePlan, EveryByteOutsideTheMatchesStaysAsItWas) {
  const std::vector<Case> cases = {
      {{"ab", false, false, false}, "Z"},
      {{"ab", false, true, false}, "$1\n."},
      {{"\xC3\xA9", false, false, false}, "e"},
      {{"(a)(b+)", false, true, true}, "<$2$1>"},
      {{"(?<first>a|\xC3\xA9)", false, false, true}, "[${first}]\r\n"},
      {{"b*", false, true, true}, "-"},
      {{"x$|^A", false, true, true}, "$$"},
  };
  std::mt19937 random(20261209);
  test::TempTree tree;
  for (int round = 0; round < 300; ++round) {
    const Case& c = cases[round % cases.size()];
    const Model m = RandomModel(random);
    const std::string original = Bytes(m, m.text);
    tree.Write("f.txt", original);
    std::string error;
    const auto substitution = Substitution::Make(c.options, c.with, &error);
    ASSERT_TRUE(substitution) << error;
    Hits hits;
    SearchRun run(tree.root(), "f.txt", false, c.options, hits);
    run.SetBlockSize(16 + random() % 48);
    run.Run();
    const FilePlan plan = PlanFile(tree.Path("f.txt"), *substitution, &hits.ranges);
    ASSERT_EQ(plan.refusal, "");
    SCOPED_TRACE(testing::Message() << "round " << round << " query " << c.options.query);

    std::vector<std::string> expected;
    for (size_t i = 0; i < m.text.size(); ++i) {
      std::string with = c.with, end = m.ends[i];
      for (size_t k = i; end.empty() && k-- > 0;) end = m.ends[k];
      if (end.empty()) end = "\n";
      for (size_t at = 0; (at = with.find_first_of("\r\n", at)) != std::string::npos;) {
        with.replace(at, with[at] == '\r' && with[at + 1] == '\n' ? 2 : 1, end);
        at += end.size();
      }
      expected.push_back(Substituted(m.text[i], c.options, with));
    }
    const FileText text(original);
    ASSERT_EQ(*ApplyPlan(text, plan, {}), Bytes(m, expected));

    MatchChoice chosen(plan.Matches());
    for (size_t k = 0; k < chosen.size(); ++k) chosen[k] = random() % 2;
    std::vector<std::string> spliced = m.text;
    size_t k = 0;
    for (const LineChange& line : plan.lines) {
      std::string out;
      size_t copied = 0;
      for (size_t j = 0; j < line.matches.size(); ++j, ++k) {
        if (!chosen[k]) continue;
        out += line.before.substr(copied, line.matches[j].begin - copied) + line.with[j];
        copied = line.matches[j].end;
      }
      spliced[line.lineIndex] = out + line.before.substr(copied);
    }
    EXPECT_EQ(*ApplyPlan(text, plan, chosen), Bytes(m, spliced));
  }
}

TEST(ReplacePlan, RefusesWhatItCannotReplaceFaithfully) {
  std::string error;
  EXPECT_FALSE(Substitution::Make({"(a)", false, true, true}, "$2", &error));
  EXPECT_NE(error.find("group 2"), std::string::npos);
  EXPECT_FALSE(Substitution::Make({"(a)", false, true, true}, "${nope}", &error));
  EXPECT_FALSE(Substitution::Make({"(a)", false, true, true}, "cost $", &error));
  EXPECT_FALSE(Substitution::Make({"a(", false, true, true}, "x", &error));
  EXPECT_TRUE(Substitution::Make({"(a)", false, true, true}, "$1$$", &error));

  // Ranges that are not the pattern's matches in the line, or overlap, are refused, not
  // written four bytes off.
  const auto s = Substitution::Make({"b", false, true, false}, "[b]", &error);
  const FileText text("abc\nabc\n");
  HitRanges wrong{{0, {{0, 1}}}};
  EXPECT_NE(PlanText("f", text, *s, &wrong).refusal, "");
  HitRanges overlap{{1, {{1, 2}, {1, 2}}}};
  EXPECT_NE(PlanText("f", text, *s, &overlap).refusal, "");
  HitRanges right{{1, {{1, 2}}}};
  EXPECT_EQ(*ApplyPlan(text, PlanText("f", text, *s, &right), {}), "abc\na[b]c\n");
}

}  // namespace
}  // namespace vorn
