// Every search case through every path the engine has: one thread and several, tiny and
// default blocks, line by line and skipping from candidate to candidate, literal and pattern,
// with and without case, UTF-8 and UTF-16 files, whole words and not, with and without
// context; each compared with one naive reference that reads every line of the file.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "CaseFold.h"
#include "FileReader.h"
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
    }
  }
  Findings found;

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

std::vector<Found> Reference(std::string_view text, const SearchOptions& o, const SinkWants& w) {
  std::vector<std::string_view> lines;
  for (size_t at = 0; at < text.size();) {
    const char* b = text.data() + at;
    const char* brk = FindNextBreak(b, text.data() + text.size());
    lines.emplace_back(b, static_cast<size_t>(brk - b));
    at = static_cast<size_t>(SkipBreak(brk, text.data() + text.size()) - text.data());
  }
  std::vector<std::vector<MatchRange>> matches(lines.size());
  std::vector<bool> hit(lines.size());
  for (size_t i = 0; i < lines.size(); ++i) {
    if (Blank(lines[i])) continue;
    matches[i] = NaiveMatches(lines[i], o);
    hit[i] = !matches[i].empty();
  }
  std::vector<Found> out;
  size_t next = 0;  // the first line not yet given
  for (size_t i = 0; i < lines.size(); ++i) {
    if (!hit[i]) continue;
    const size_t from = std::max(next, i >= w.before ? i - w.before : 0);
    if (!out.empty() && from > next) out.push_back({FoundKind::Break, 0, {}, {}});
    for (size_t c = from; c < i; ++c)
      out.push_back({FoundKind::Context, c, std::string(lines[c].substr(0, 4096)), {}});
    out.push_back({FoundKind::Hit, i, std::string(lines[i].substr(0, 4096)), matches[i]});
    next = i + 1;
    for (size_t c = i + 1; c < lines.size() && c <= i + w.after && !hit[c]; ++c, ++next)
      out.push_back({FoundKind::Context, c, std::string(lines[c].substr(0, 4096)), {}});
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
// every kind of line break, and lines longer than a tiny block and than the shown bytes.
struct Corpus {
  TempTree tree;
  std::map<std::string, std::string> texts;  // by path: the text the reference reads

  Corpus() {
    std::mt19937 rng(27);
    const char* const words[] = {"ab",   "a",  "B",  "ab_", "aB",       "s",  "k",        "K",
                                 " ",    " ",  "\t", ".",   "(",        "\n", "\r\n",     "\r",
                                 "\n\n", "  \n", "\xC3\xA9", "\xC5\xBF", "\xE2\x84\xAA",
                                 "\xCF\x82", "\xCE\xA3", "\xC2\xAB", "\xE2\x80\x94", "\xCC\x81",
                                 "\xC2\xA0", "\xE6\x97\xA5"};
    for (int f = 0; f < 10; ++f) {
      std::string text;
      const size_t size = f == 0 ? 0 : 200 + rng() % 3000;
      while (text.size() < size) {
        // Every fourth file goes long stretches without a break.
        std::string word = words[rng() % std::size(words)];
        if (f % 4 == 3 && word.find_first_of("\r\n") != std::string::npos && rng() % 8) continue;
        text += word;
      }
      if (f % 4 == 3) text += "\n" + std::string(5000, 'a') + " ab ab_\xC3\xA9 ab";
      const bool binaryBytes = f % 5 == 2;
      if (binaryBytes) text += "\xFF" "ab \xE9" "ab\n";
      std::string name = "f" + std::to_string(f) + ".txt";
      tree.Write(name, text);
      texts[tree.Path(name)] = text;
      if (f % 3 == 1 && !binaryBytes) {
        const std::string wide = "w" + std::to_string(f) + ".txt";
        tree.Write(wide, Utf16Of(text, f % 2 == 0));
        texts[tree.Path(wide)] = text;
      }
    }
  }
};

struct Path {
  bool lineByLine;
  size_t block;
  unsigned threads;
};

Findings Run(const std::string& root, const SearchOptions& o, const SinkWants& w, const Path& p) {
  Collector sink(w);
  SearchRun run(root, "*", false, o, sink);
  run.SetLineByLine(p.lineByLine);
  run.SetBlockSize(p.block);
  run.SetThreads(p.threads);
  run.Run();
  return sink.found;
}

TEST(SearchPaths, EveryPathGivesTheNaiveLinesRangesAndContext) {
  const Corpus corpus;
  Findings empty;
  const Path paths[] = {{true, 64, 1},        {true, size_t{1} << 20, 1}, {false, 64, 1},
                        {false, 64, 3},       {false, size_t{1} << 20, 1},
                        {false, size_t{1} << 20, 3}};
  struct Query {
    const char* text;
    bool regex;
  };
  const Query queries[] = {
      {"ab", false},         {"a", false},       {"B a", false},     {" ", false},
      {"ab_", false},        {"\xC3\xA9", false}, {"k", false},      {"\xCF\x83", false},
      {"s", false},          {"ab", true},       {"b[ _]a", true},   {"^a", true},
      {"B$", true},          {"a*", true},       {"\\bab\\b", true}, {"(?<=_)B", true},
      {"a|ab", true},        {"\\w+?", true},    {"x?", true},       {"\\p{L}{3}", true},
  };
  int n = 0;
  for (const Query& q : queries)
    for (const bool wholeWord : {false, true})
      for (const bool matchCase : {false, true}) {
        const SearchOptions o{q.text, wholeWord, matchCase, q.regex};
        SinkWants w;
        if (n++ % 2) w.before = 2, w.after = 1;
        Findings want;
        for (const auto& [path, text] : corpus.texts) {
          std::vector<Found> found = Reference(text, o, w);
          if (!found.empty()) want[path] = std::move(found);
        }
        for (const Path& p : paths) {
          const Findings got = Run(corpus.tree.root(), o, w, p);
          for (const auto& [path, found] : want) {
            const auto it = got.find(path);
            ASSERT_EQ(it == got.end() ? std::vector<Found>{} : it->second, found)
                << path << " for " << q.text << (q.regex ? " as a pattern" : "")
                << (wholeWord ? ", whole word" : "") << (matchCase ? ", matching case" : "")
                << ", context " << w.before << "/" << w.after << ", line by line "
                << p.lineByLine << ", block " << p.block << ", threads " << p.threads;
          }
          ASSERT_EQ(got.size(), want.size()) << q.text;
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
    const Findings found = Run(t.root(), {"hit", false, true}, w, {false, size_t{1} << 20, threads});
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found.begin()->second.size(), 1u);
    EXPECT_LT(bytesRead.load(), size_t{3} << 20) << threads;
  }
}

}  // namespace
}  // namespace vorn
