// Regular expressions through the engine and through vorn-find, checked against GNU grep -P
// (PCRE2 as well) and against running the pattern on every line.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "RegexMatcher.h"
#include "ScopedSeam.h"
#include "SearchRun.h"
#include "TempTree.h"

namespace vorn {
namespace {

using test::TempTree;

class Found : public ResultsSink {
 public:
  void Lines(std::span<const SearchHit> hits) override {
    for (const SearchHit& h : hits) found.emplace(std::string(h.path), h.lineIndex);
  }
  void Unsearched(std::string_view path, size_t line) override {
    unsearched.emplace_back(std::string(path), line);
  }
  std::set<std::pair<std::string, size_t>> found;
  std::vector<std::pair<std::string, size_t>> unsearched;
  size_t unsearchedCount = 0;
};

Found Search(const std::string& dir, const SearchOptions& o, unsigned threads = 0) {
  Found l;
  SearchRun run(dir, "*", true, o, l);
  run.SetThreads(threads);
  run.Run();
  l.unsearchedCount = run.UnsearchedLines();
  return l;
}

std::string Shell(const std::string& command, int* status) {
  FILE* p = popen(command.c_str(), "r");
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  *status = WEXITSTATUS(pclose(p));
  return out;
}

std::string Quoted(const std::string& s) {
  std::string q = "'";
  for (const char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

struct Case {
  const char* pattern;
  bool wholeWord, matchCase;
  std::vector<size_t> lines;
};

const char* const kLines[] = {
    "PM_SUSPEND and PM_RESUME",  // 0
    "pm_resume lower",           // 1
    "kmalloc_array(n, size)",    // 2
    "kmallocx (no",              // 3
    "foo_ops bar_ops",           // 4
    "Stra\xC3\x9F"
    "e \xC3\x89"
    "COLE",  // 5
    "\xC3\xA9"
    "cole 123456 x",     // 6
    "   ",               // 7: blank, never a hit
    "end$ anchor",       // 8
    "subfoo food foo",   // 9
    "\xFF\xFE foo\xFF",  // 10: not UTF-8
    "\xE2\x84\xAA"
    "elvin",  // 11: Kelvin sign
};

// Each case runs through the engine (with and without the JIT) and through vorn-find.
TEST(Regex, PatternsOptionsAndLinesThroughTheEngineAndVornFind) {
  const Case cases[] = {
      {"PM_[A-Z]+", false, true, {0}},
      {"PM_[A-Z]+", false, false, {0, 1}},
      {"[A-Z]+_SUSPEND", false, true, {0}},
      {"kmalloc\\w*\\(", false, true, {2}},
      {"(foo|bar)_ops", false, true, {4}},
      {"^\\s*$", false, true, {}},
      {"^end\\$", false, true, {8}},
      {"\\b\\d{6}\\b", false, true, {6}},
      {"\xC3\x89"
       "cole",
       false,
       false,
       {5, 6}},
      {"\xC3\x89"
       "COLE",
       false,
       true,
       {5}},
      {"\\p{Lu}{5}", false, true, {0, 5}},
      {"foo", true, true, {9}},
      {"fo+", true, true, {9}},
      {"foo", false, true, {4, 9, 10}},
      {"kelvin", false, false, {11}},
      {"ops|x$", true, false, {6}},
      {"stra\xC3\x9F"
       "e",
       false,
       false,
       {5}},
  };
  TempTree t;
  std::string text;
  for (const char* line : kLines) text += std::string(line) + "\n";
  t.Write("r.txt", text);
  const std::string file = t.Path("r.txt");
  for (const Case& c : cases) {
    std::set<std::pair<std::string, size_t>> want;
    std::string printed;
    for (size_t line : c.lines) {
      want.emplace(file, line);
      printed += file + " (" + std::to_string(line) + ")  :  " + kLines[line] + "\n";
    }
    const SearchOptions o{c.pattern, c.wholeWord, c.matchCase, true};
    EXPECT_EQ(Search(t.root(), o).found, want) << c.pattern;
    {
      const test::ScopedSeam<bool> interpreter(SetRegexJit, false);
      EXPECT_EQ(Search(t.root(), o, 1).found, want) << c.pattern << " without the JIT";
    }
    int status = 0;
    const std::string out = Shell(std::string(VORN_FIND_PATH) + (c.wholeWord ? " -w" : "") +
                                      (c.matchCase ? " -s" : "") + " --regex " + Quoted(t.root()) +
                                      " '*' " + Quoted(c.pattern),
                                  &status);
    EXPECT_EQ(out, printed) << c.pattern;
    EXPECT_EQ(status, c.lines.empty() ? 1 : 0) << c.pattern;
  }

  // An invalid pattern: status 2 and PCRE2's message with its 1-based position.
  int status = 0;
  EXPECT_EQ(
      Shell(std::string(VORN_FIND_PATH) + " -P " + Quoted(t.root()) + " '*' '\xC3\xA9(b' 2>&1",
            &status),
      "vorn-find: invalid regular expression at position 4: missing closing parenthesis\n");
  EXPECT_EQ(status, 2);
}

// Runaway backtracking is cut off per line: every such line is reported, the rest is found,
// and it all ends quickly.
TEST(Regex, LinesThatNeedTooMuchWorkAreReportedAndSkipped) {
  TempTree t;
  std::string runaway;
  for (int i = 0; i < 20; ++i) runaway += std::string(100000, 'a') + "!\n";
  t.Write("a.txt", runaway);
  t.Write("b.txt", "aaa\n");
  const SearchOptions o{"(a+)+$", false, true, true};
  for (unsigned threads : {1u, 3u}) {
    const Found l = Search(t.root(), o, threads);
    EXPECT_EQ(l.found.size(), 1u);
    ASSERT_EQ(l.unsearched.size(), 20u);
    EXPECT_EQ(l.unsearched[19], std::make_pair(t.Path("a.txt"), size_t{19}));
    EXPECT_EQ(l.unsearchedCount, 20u);
  }
  int status = 0;
  const std::string out = Shell(std::string(VORN_FIND_PATH) + " -E " + Quoted(t.root()) +
                                    " a.txt '(a+)+$' 2>&1 >/dev/null | head -2",
                                &status);
  const std::string said = ": line 0: the regular expression needs too much work for this line\n";
  EXPECT_EQ(out, "vorn-find: " + t.Path("a.txt") + said + "vorn-find: " + t.Path("a.txt") +
                     std::string(said).replace(7, 1, "1"));
  Shell(std::string(VORN_FIND_PATH) + " -E " + Quoted(t.root()) + " a.txt '(a+)+$' 2>/dev/null",
        &status);
  EXPECT_EQ(status, 2);  // nothing found, lines left undecided
  Shell(std::string(VORN_FIND_PATH) + " -E " + Quoted(t.root()) + " '*' '(a+)+$' 2>/dev/null",
        &status);
  EXPECT_EQ(status, 0);
}

// The literals read from the common shapes, and none where the pattern's text is not read
// (the regex_literal fuzz target holds them to the lines the pattern matches).
TEST(Regex, RequiredLiteralsOfCommonShapes) {
  const std::pair<const char*, const char*> shapes[] = {
      {"PM_[A-Z]+", "PM_"},
      {"[A-Z]+_SUSPEND", "_SUSPEND"},
      {"kmalloc\\w*\\(", "kmalloc"},
      {"(foo|bar)_ops", "_ops"},
      {"a\\.b{2}c+d?", "a."},
      {"x|y", ""},
      {"(?i)abc", ""},
      {"\\Qa.b\\E", ""},
      {"ab{,2}", ""},
      {"spin_lock|spin_lock_irqsave", "spin_lock"},
      {"(spin_lock|spin_lock_irqsave)\\(", "spin_lock"},
      {"x_ops|(foo_op)+s", "_op"},
      {"(?:abc)?d|abd", ""},
      {"abc|abd", ""},
      {"abc|", ""},
      {"(?=bar_ops)\\w+|bar_opt", "bar_op"},
      {"(?!bar_ops)\\w+|bar_opt", ""},
  };
  for (const auto& [pattern, literal] : shapes)
    EXPECT_EQ(RequiredLiteral(pattern, true).bytes, literal) << pattern;
  EXPECT_EQ(RequiredLiteral("kmalloc\\w*\\(", false).bytes, "malloc");  // the Kelvin sign is a k
  EXPECT_EQ(RequiredLiteral("Spin_lock|spin_LOCK_x", false).bytes, "pin_loc");
}

// The set of lines found equals GNU grep -P's (PCRE2 too, told to use Unicode properties) on
// a generated tree, for patterns of every kind, with and without Match Case.
TEST(Regex, SameLinesAsGrep) {
  int status = 0;
  Shell("echo a | LC_ALL=C.UTF-8 grep -P '(*UCP)a' >/dev/null 2>&1", &status);
  if (status != 0) GTEST_SKIP() << "no grep -P here";
  TempTree t;
  std::mt19937 rng(11);
  const std::vector<std::string> words = {"foo",
                                          "bar",
                                          "Foo_bar",
                                          "PM_RESUME",
                                          "kmalloc(",
                                          "x86",
                                          "123456",
                                          "2024-01-02",
                                          "caf\xC3\xA9",
                                          "CAF\xC3\x89",
                                          "\xCE\xB1\xCE\xB2\xCE\xB3",
                                          "Stra\xC3\x9F"
                                          "e",
                                          "\xE2\x84\xAA",
                                          "\t",
                                          "  ",
                                          "(a)",
                                          "[b]",
                                          "a.b",
                                          "\xFF",
                                          "end",
                                          "#define",
                                          "ops",
                                          "_ops",
                                          "aaaa",
                                          "Ab",
                                          "z",
                                          "\xE6\x97\xA5\xE6\x9C\xAC"};
  for (int f = 0; f < 8; ++f) {
    std::string text;
    for (int l = 0; l < 300; ++l) {
      for (size_t n = rng() % 9; n > 0; --n) {
        std::string word = words[rng() % words.size()];
        // Half the files are ASCII, which patterns scan another way.
        while (f % 2 && std::any_of(word.begin(), word.end(), [](char c) { return c & 0x80; }))
          word = words[rng() % words.size()];
        text += word + " ";
      }
      text += "\n";
    }
    t.Write("d" + std::to_string(f % 3) + "/f" + std::to_string(f) + ".txt", text);
  }
  const char* const patterns[] = {
      "foo",
      "fo+",
      "^foo",
      "bar $",
      "\\bend\\b",
      "[A-Z]+_[A-Z]+",
      "PM_[A-Z]+",
      "kmalloc\\w*\\(",
      "(foo|bar)_ops",
      "foo|bar",
      "\\d{4}-\\d\\d",
      "\\b\\d{6}\\b",
      "[a-z]{5,}",
      "x\\d+",
      "^\\s",
      "\\S+\\s+\\S+$",
      "a.b",
      "a\\.b",
      "\\(a\\)",
      "\\[b\\]",
      "caf\xC3\xA9",
      "\xC3\xA9",
      "\\p{Greek}+",
      "\\p{Lu}\\p{Ll}",
      "[[:alpha:]]{6}",
      "\\w{8}",
      "stra\xC3\x9F"
      "e",
      "^[^a-z]*$",
      "(?i)foo_BAR",
      "\\x{65e5}",
      "kelvin|\xE2\x84\xAA",
      "k",
      "s",
      "K.*K",
      "(a+)+b",
      "^(?:\\S+ ){3}$",
      "#\\w+",
      "a{4}",
      "(?<=_)ops",
      "ops(?! )",
      "\\bops\\b",
      "^$",
      ".",
      "\\t",
      "Ab|aB",
      "[^\\x00-\\x7f]",
      "\\W{3}",
      "end\\s*$",
      "(\\w)\\1",
      "2024|x86",
      "\\p{L}+\\d",
      "[\xC3\xA9\xC3\x89]",
      "e\\b",
  };
  for (const char* pattern : patterns)
    for (bool matchCase : {true, false}) {
      const std::string grep =
          Shell("LC_ALL=C.UTF-8 grep -P -a -rn " + std::string(matchCase ? "" : "-i ") +
                    Quoted(std::string("(*UCP)") + pattern) + " " + Quoted(t.root()),
                &status);
      std::set<std::pair<std::string, size_t>> want;
      size_t at = 0;
      while (at < grep.size()) {
        const size_t end = grep.find('\n', at);
        const std::string line = grep.substr(at, end - at);
        at = end + 1;
        const size_t colon = line.find(':');
        const size_t second = line.find(':', colon + 1);
        const std::string shown = line.substr(second + 1);
        // A blank line is never a hit here.
        if (std::all_of(shown.begin(), shown.end(),
                        [](char ch) { return static_cast<unsigned char>(ch) <= 32; }))
          continue;
        want.emplace(line.substr(0, colon), std::stoul(line.substr(colon + 1, second - colon)) - 1);
      }
      EXPECT_EQ(Search(t.root(), {pattern, false, matchCase, true}).found, want)
          << pattern << " " << matchCase;
    }
}

}  // namespace
}  // namespace vorn

namespace vorn {
namespace {

// A pattern searches a line longer than the reading buffer whole: a match that spans the
// buffer's cuts is found, and the line is shown by its first 4096 bytes.
TEST(Regex, PatternsSearchLongLinesWhole) {
  TempTree t;
  std::string json = "[";
  for (int i = 0; i < 90000; ++i)
    json +=
        std::string(i ? ", " : "") + "{\"k\": " + std::to_string(i) + ", \"v\": \"xxxxxxxxxx\"}";
  json += "]";
  ASSERT_GT(json.size(), size_t{2} << 20);
  t.Write("one.json", json);
  const std::string shown = t.Path("one.json") + " (0)  :  " + json.substr(0, 4096) + "\n";
  for (const char* pattern : {"^\\[.*\\]$", ".*\\]$", "\"k\": 8999\\d,", "\\[\\{.*89999"}) {
    int status = 0;
    EXPECT_EQ(Shell(std::string(VORN_FIND_PATH) + " -E " + Quoted(t.root()) + " '*' " +
                        Quoted(pattern) + " 2>&1",
                    &status),
              shown)
        << pattern;
    EXPECT_EQ(status, 0) << pattern;
  }
  int status = 0;
  Shell(std::string(VORN_FIND_PATH) + " -E " + Quoted(t.root()) + " '*' 'z.*\\]$'", &status);
  EXPECT_EQ(status, 1);
}

}  // namespace
}  // namespace vorn
