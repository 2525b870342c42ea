// Every search case through every path the engine has: one thread and several, tiny and
// default blocks, line by line and skipping from candidate to candidate, literal and pattern,
// with and without case, UTF-8 and UTF-16 files, whole words and not, with and without
// context; each compared with one naive reference that reads every line of the file.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "CaseFold.h"
#include "FileReader.h"
#include "HitShelf.h"
#include "LineBreaks.h"
#include "ResultsSink.h"
#include "ScopedSeam.h"
#include "SearchRun.h"
#include "TempTree.h"
#include "Utf8.h"

namespace vorn {
namespace {

using test::TempTree;

// One line of a file's findings, as the sink heard it or as the reference makes it.
struct Found {
  FoundKind kind = FoundKind::Hit;
  size_t line = 0;
  std::string text;
  std::vector<MatchRange> matches;
  bool operator==(const Found&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Found& f) {
  out << (f.kind == FoundKind::Hit ? "hit " : f.kind == FoundKind::Context ? "context " : "--");
  if (f.kind == FoundKind::Break) return out;
  out << f.line << " [";
  for (const MatchRange& m : f.matches) out << m.begin << "-" << m.end << " ";
  return out << "] " << f.text.substr(0, 40);
}

using Findings = std::map<std::string, std::vector<Found>>;

class Collector : public ResultsSink {
 public:
  explicit Collector(SinkWants wants) : wants_(wants) {}
  SinkWants Wants() override { return wants_; }
  void Lines(std::span<const SearchHit> lines) override {
    for (const SearchHit& h : lines) {
      Found& f = found[std::string(h.path)].emplace_back();
      f.kind = h.kind;
      if (h.kind == FoundKind::Break) continue;
      f.line = h.lineIndex;
      f.text = h.text;
      f.matches.assign(h.matches.begin(), h.matches.end());
      if (!h.kept) continue;
      // A hit kept on the shelf is the hit itself there: its text and its ranges.
      ++kept;
      bool same = h.kind == FoundKind::Hit && h.kept->Text() == h.text &&
                  h.kept->lineIndex == h.lineIndex && h.kept->rangeCount <= h.matches.size();
      for (size_t i = 0; same && i < h.kept->rangeCount; ++i)
        same = h.kept->Range(i) ==
               MatchRange{h.matches[i].begin, std::min(h.matches[i].end, h.text.size())};
      keptWrong += same ? 0 : 1;
    }
  }
  void FileEnds(std::string_view path, const FileSummary& summary) override {
    hitLines[std::string(path)] = summary.hitLines;
  }
  Findings found;
  std::map<std::string, size_t> hitLines;
  size_t kept = 0;
  size_t keptWrong = 0;

 private:
  SinkWants wants_;
};

// The naive reference. A literal query is tried at every offset of the line, unit by unit,
// letters compared by their simple case folding and other bytes exactly.
size_t LiteralAt(std::string_view line, size_t at, std::string_view query, bool matchCase) {
  size_t p = at;
  for (size_t q = 0; q < query.size();) {
    if (p >= line.size()) return 0;
    char32_t qc = 0, lc = 0;
    const size_t qn = DecodeUtf8At(query.substr(q), qc);
    const size_t ln = DecodeUtf8At(line.substr(p), lc);
    if (qn == 0 || ln == 0 || matchCase) {
      if (line[p] != query[q]) return 0;
      ++p, ++q;
      continue;
    }
    if (SimpleFold(qc) != SimpleFold(lc)) return 0;
    p += ln, q += qn;
  }
  return p - at;
}

std::vector<MatchRange> NaiveMatches(std::string_view line, const SearchOptions& o) {
  std::vector<MatchRange> out;
  if (o.regex) {
    LineMatcher(o).Matches(line, out);
    return out;
  }
  if (o.query.empty() || o.query.find_first_of("\r\n") != std::string::npos) return out;
  for (size_t p = 0; p < line.size();) {
    const size_t n = LiteralAt(line, p, o.query, o.matchCase);
    if (n > 0 && (!o.wholeWord || StandsWhole(line, p, p + n))) {
      out.push_back({p, p + n});
      p += n;
    } else {
      ++p;
    }
  }
  return out;
}

bool Blank(std::string_view line) {
  return std::all_of(line.begin(), line.end(),
                     [](char c) { return static_cast<unsigned char>(c) <= 32; });
}

// grep's context rules over the naive hits: groups merged, a break between two, the file
// left after maxHitLines hits and the context after the last. A line is shown by its first
// 4096 bytes, with the matches that begin in them.
std::vector<Found> Reference(std::string_view text, const SearchOptions& o, const SinkWants& w) {
  constexpr size_t kShown = SearchRun::kShownLineBytes;
  std::vector<std::string_view> lines;
  for (size_t at = 0; at < text.size();) {
    const char* b = text.data() + at;
    const char* brk = FindNextBreak(b, text.data() + text.size());
    lines.emplace_back(b, static_cast<size_t>(brk - b));
    at = static_cast<size_t>(SkipBreak(brk, text.data() + text.size()) - text.data());
  }
  const auto shown = [&](size_t i) { return std::string(lines[i].substr(0, kShown)); };
  std::vector<Found> out;
  size_t toldTo = 0, after = 0, hits = 0;
  bool draining = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::vector<MatchRange> matches;
    if (!draining && !Blank(lines[i])) matches = NaiveMatches(lines[i], o);
    if (!matches.empty()) {
      const size_t from = std::max(i > w.before ? i - w.before : 0, toldTo);
      if ((w.before > 0 || w.after > 0) && !out.empty() && from > toldTo)
        out.push_back({FoundKind::Break, 0, {}, {}});
      for (size_t c = from; c < i; ++c) out.push_back({FoundKind::Context, c, shown(c), {}});
      std::erase_if(matches, [&](const MatchRange& m) { return m.begin >= kShown; });
      out.push_back({FoundKind::Hit, i, shown(i), matches});
      toldTo = i + 1;
      after = w.after;
      if (w.maxHitLines != 0 && ++hits >= w.maxHitLines) {
        if (w.after == 0) break;
        draining = true;
      }
    } else if (after > 0) {
      out.push_back({FoundKind::Context, i, shown(i), {}});
      toldTo = i + 1;
      if (--after == 0 && draining) break;
    }
  }
  return out;
}

// The UTF-16 bytes of a UTF-8 text, with the mark.
std::string Utf16Of(std::string_view utf8, bool bigEndian) {
  std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  const auto unit = [&](unsigned u) {
    const char high = static_cast<char>(u >> 8), low = static_cast<char>(u & 0xFF);
    out += bigEndian ? high : low;
    out += bigEndian ? low : high;
  };
  for (size_t i = 0; i < utf8.size();) {
    char32_t c = 0;
    i += DecodeUtf8At(utf8.substr(i), c);
    if (c >= 0x10000) {
      unit(0xD800 + ((c - 0x10000) >> 10));
      unit(0xDC00 + (c & 0x3FF));
    } else {
      unit(c);
    }
  }
  return out;
}

// Files of random words: letters whose case variants differ in length (long s, KELVIN SIGN,
// final sigma), word characters and not beyond ASCII, bytes that are not UTF-8, blank lines,
// every kind of line break, lines longer than a tiny block and than the shown bytes, the
// longer variants only past a long ASCII stretch, characters beyond 16 bits; the same texts
// in UTF-16 and with a UTF-8 mark (which belongs to no line); and a line of 300,000 bytes.
struct Corpus {
  TempTree tree;
  std::map<std::string, std::string> texts;  // by path: the text the reference reads

  void Add(const std::string& name, const std::string& bytes, const std::string& text) {
    tree.Write(name, bytes);
    texts[tree.Path(name)] = text;
  }

  Corpus() {
    std::mt19937 rng(27);
    const char* const words[] = {"ab",
                                 "a",
                                 "B",
                                 "ab_",
                                 "aB",
                                 "s",
                                 "k",
                                 "K",
                                 " ",
                                 " ",
                                 "\t",
                                 ".",
                                 "(",
                                 "\n",
                                 "\r\n",
                                 "\r",
                                 "\n\n",
                                 "  \n",
                                 "\xC3\xA9",
                                 "\xC5\xBF",
                                 "\xE2\x84\xAA",
                                 "\xCF\x82",
                                 "\xCE\xA3",
                                 "\xC2\xAB",
                                 "\xE2\x80\x94",
                                 "\xCC\x81",
                                 "\xC2\xA0",
                                 "\xE6\x97\xA5",
                                 "_",
                                 "\xF0\x9F\x98\x80"};
    for (int f = 0; f < 12; ++f) {
      // Every fifth file is in part Latin-1, not UTF-8.
      const bool latin1 = f % 5 == 2;
      std::string text = f == 0 ? "" : "ab ";
      const size_t size = f == 0 ? 0 : 200 + rng() % 3000;
      // Every fourth file goes long stretches without a break; every sixth is ASCII for its
      // first 2000 bytes.
      const bool stretches = f % 4 == 3, asciiFirst = f % 6 == 5;
      while (text.size() < size) {
        const std::string word =
            latin1 && rng() % 8 == 0 ? "\xE9" : words[rng() % std::size(words)];
        if (stretches && word.find_first_of("\r\n") != std::string::npos && rng() % 8) continue;
        if (asciiFirst && text.size() < 2000 && static_cast<unsigned char>(word[0]) >= 0x80)
          continue;
        text += word;
      }
      if (stretches) text += "\n" + std::string(5000, 'a') + " ab ab_\xC3\xA9 ab";
      if (latin1)
        text +=
            "\xFF"
            "ab \xE9"
            "ab\n";
      Add("f" + std::to_string(f) + ".txt", text, text);
      if (latin1) continue;
      if (f % 3 == 1) Add("w" + std::to_string(f) + ".txt", Utf16Of(text, f % 2 == 0), text);
      if (f % 3 == 2) Add("m" + std::to_string(f) + ".txt", "\xEF\xBB\xBF" + text, text);
    }
    std::string longLine(300000, 'a');
    for (size_t i = 0; i < longLine.size(); i += 1 + rng() % 7000) longLine[i] = "b B(_"[rng() % 5];
    const std::string text = "b_a\n" + longLine + "ab(\nA_B";
    Add("long.txt", text, text);
  }
};

struct Path {
  bool lineByLine;
  size_t block;
  unsigned threads;
};

TEST(SearchPaths, EveryPathGivesTheNaiveLinesRangesAndContext) {
  const Corpus corpus;
  const Path paths[] = {{true, 64, 1},  {true, size_t{1} << 20, 1},  {false, 64, 1},
                        {false, 64, 3}, {false, size_t{1} << 20, 1}, {false, size_t{1} << 20, 7}};
  // Context before and after, hits a file is left after; 70 lines reach past what a block
  // walks back.
  const SinkWants wants[] = {{0, 0, 0},   {2, 1, 0}, {1, 2, 7}, {0, 0, 3},
                             {70, 70, 0}, {5, 0, 0}, {0, 1, 0}};
  const char* const literals[] = {"ab",          "a",        "B a", " ",        "ab_",
                                  "\xE9",        "\xC3\xA9", "k",   "\xCF\x83", "\xCF\x83 a",
                                  "as\xCF\x83k", "Sk",       "a s"};
  const char* const patterns[] = {"ab",       "b[ _]a",    "^a",        "B$",          "a\\(",
                                  "(b|_)\\(", "\\.\\w{3}", "b.{5000}B", "\\bab\\b",    "(?<=_)B",
                                  "[ab]\\(",  "^\\W",      "\\s[AB]$",  "(?:a|b)_\\w", "a*",
                                  "a|ab",     "\\w+?",     "x?",        "\\p{L}{3}"};
  // Alternatives that begin alike: their shared literal finds the candidate lines.
  const char* const shared[] = {"ab_|ab_\\w+", "(aB |ab )a", "(?:ab_a|ab_)(?!a)",
                                // a run of a class leads each match, or may not
                                "[a-c_]{3,}", "[AB_a]{2}\\(", "[ab]{2,}|_", "[ab]{2}(x|)B"};
  std::vector<std::pair<const char*, bool>> queries;
  for (const char* q : literals) queries.emplace_back(q, false);
  for (const char* q : patterns) queries.emplace_back(q, true);
  for (const char* q : shared) queries.emplace_back(q, true);
  size_t n = 0;
  for (const auto& [query, regex] : queries)
    for (const bool wholeWord : {false, true})
      for (const bool matchCase : {false, true}) {
        const SearchOptions o{query, wholeWord, matchCase, regex};
        const SinkWants& w = wants[n++ % std::size(wants)];
        Findings want;
        for (const auto& [path, text] : corpus.texts) {
          std::vector<Found> found = Reference(text, o, w);
          if (!found.empty()) want[path] = std::move(found);
        }
        for (const Path& p : paths) {
          // Every other query keeps its hits on a shelf, as the window does.
          SinkWants keeping = w;
          if (n % 2) keeping.shelf = std::make_shared<HitShelf>();
          Collector sink(keeping);
          SearchRun run(corpus.tree.root(), "*", false, o, sink);
          run.SetLineByLine(p.lineByLine);
          run.SetBlockSize(p.block);
          run.SetThreads(p.threads);
          run.Run();
          const auto where = [&](const std::string& path) {
            return path + " for " + query + (regex ? " as a pattern" : "") +
                   (wholeWord ? ", whole word" : "") + (matchCase ? ", matching case" : "") +
                   ", context " + std::to_string(w.before) + "/" + std::to_string(w.after) +
                   ", max " + std::to_string(w.maxHitLines) + ", line by line " +
                   std::to_string(p.lineByLine) + ", block " + std::to_string(p.block) +
                   ", threads " + std::to_string(p.threads);
          };
          for (const auto& [path, found] : want) {
            const auto it = sink.found.find(path);
            const std::vector<Found>& got =
                it == sink.found.end() ? std::vector<Found>{} : it->second;
            const auto [g, f] = std::mismatch(got.begin(), got.end(), found.begin(), found.end());
            ASSERT_TRUE(g == got.end() && f == found.end())
                << where(path) << "\n at " << (g - got.begin()) << " of " << got.size() << "/"
                << found.size() << ": got " << (g == got.end() ? Found{} : *g) << "\n want "
                << (f == found.end() ? Found{} : *f);
            EXPECT_EQ(sink.hitLines[path],
                      std::count_if(found.begin(), found.end(),
                                    [](const Found& f) { return f.kind == FoundKind::Hit; }))
                << where(path);
          }
          ASSERT_EQ(sink.found.size(), want.size()) << where("");
          EXPECT_EQ(sink.keptWrong, 0u) << where("");
          // The workers keep what they find; the run's own thread hands its hits over.
          if (!keeping.shelf) {
            EXPECT_EQ(sink.kept, 0u) << where("");
          } else if (p.threads > 1 && !p.lineByLine && !want.empty()) {
            EXPECT_GT(sink.kept, 0u) << where("");
          }
        }
      }
}

// A sink that needs a file's first hit only (vorn-find -l) has the file read no further than
// the block that holds it.
std::atomic<size_t> bytesRead{0};
void CountRead(size_t bytes) { bytesRead += bytes; }

TEST(SearchPaths, AFileIsReadNoFurtherThanItsFirstHitWhenThatIsAllThatIsWanted) {
  TempTree t;
  std::string text = "a hit here\n";
  while (text.size() < (size_t{8} << 20)) text += "filler line without the word\n";
  text += "hit again\n";
  t.Write("big.txt", text);
  const test::ScopedSeam<ReadWatcher> watch(SetReadWatcher, CountRead);
  for (const unsigned threads : {1u, 2u}) {
    SinkWants w;
    w.maxHitLines = 1;
    bytesRead = 0;
    Collector sink(w);
    SearchRun run(t.root(), "*", false, {"hit", false, true}, sink);
    run.SetThreads(threads);
    run.Run();
    ASSERT_EQ(sink.found.size(), 1u);
    EXPECT_EQ(sink.found.begin()->second.size(), 1u);
    EXPECT_LT(bytesRead.load(), size_t{3} << 20) << threads;
  }
}

}  // namespace
}  // namespace vorn
