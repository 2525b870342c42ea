#include "IgnoreRules.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "Fd.h"

namespace vorn {

namespace {

enum class Wild { Match, NoMatch, AbortAll, AbortToStarStar };

using Byte = unsigned char;

bool InClass(std::string_view name, Byte c) {
  if (name == "alnum") return std::isalnum(c) != 0 && c < 128;
  if (name == "alpha") return std::isalpha(c) != 0 && c < 128;
  if (name == "blank") return c == ' ' || c == '\t';
  if (name == "cntrl") return c < 32 || c == 127;
  if (name == "digit") return c >= '0' && c <= '9';
  if (name == "graph") return c > 32 && c < 127;
  if (name == "lower") return c >= 'a' && c <= 'z';
  if (name == "print") return c >= 32 && c < 127;
  if (name == "punct") return c > 32 && c < 127 && std::isalnum(c) == 0;
  if (name == "space") return c == ' ' || (c >= '\t' && c <= '\r');
  if (name == "upper") return c >= 'A' && c <= 'Z';
  return name == "xdigit" && std::isxdigit(c) != 0 && c < 128;
}

// p and t run over the pattern and the text; start is the pattern's first byte, so "**" can
// tell whether a slash or the start stands before it.
Wild Match(const Byte* p, const Byte* pe, const Byte* start, const Byte* t, const Byte* te) {
  for (; p < pe; ++p, ++t) {
    if (t == te && *p != '*') return Wild::AbortAll;
    switch (*p) {
      case '\\':
        // A lone "\" at the end matches nothing.
        if (++p == pe || *t != *p) return Wild::NoMatch;
        break;
      case '?':
        if (*t == '/') return Wild::NoMatch;
        break;
      case '*': {
        bool acrossFolders = false;
        if (p + 1 < pe && p[1] == '*') {
          const bool folderStart = p == start || p[-1] == '/';
          while (p + 1 < pe && p[1] == '*') ++p;
          const Byte* after = p + 1;
          if (folderStart && (after == pe || *after == '/' ||
                              (*after == '\\' && after + 1 < pe && after[1] == '/'))) {
            // "a/**/b" also matches "a/b": try the rest with no folder in between.
            if (after < pe && *after == '/' && Match(after + 1, pe, start, t, te) == Wild::Match)
              return Wild::Match;
            acrossFolders = true;
          }
        }
        ++p;
        if (p == pe) {
          if (!acrossFolders && std::memchr(t, '/', static_cast<size_t>(te - t)))
            return Wild::AbortToStarStar;
          return Wild::Match;
        }
        for (; t < te; ++t) {
          const Wild rest = Match(p, pe, start, t, te);
          if (rest != Wild::NoMatch) {
            if (!acrossFolders || rest != Wild::AbortToStarStar) return rest;
          } else if (!acrossFolders && *t == '/') {
            return Wild::AbortToStarStar;
          }
        }
        return Wild::AbortAll;
      }
      case '[': {
        ++p;
        if (p == pe) return Wild::AbortAll;
        const bool negated = *p == '!' || *p == '^';
        if (negated && ++p == pe) return Wild::AbortAll;
        bool matched = false;
        int previous = -1;  // the byte before, which a "-" may start a range from
        bool first = true;
        for (;; first = false, ++p) {
          if (p == pe) return Wild::AbortAll;
          if (*p == ']' && !first) break;
          if (*p == '\\') {
            if (++p == pe) return Wild::AbortAll;
            if (*t == *p) matched = true;
            previous = *p;
          } else if (*p == '-' && previous >= 0 && p + 1 < pe && p[1] != ']') {
            ++p;
            if (*p == '\\' && ++p == pe) return Wild::AbortAll;
            if (*t >= previous && *t <= *p) matched = true;
            previous = -1;
          } else if (*p == '[' && p + 1 < pe && p[1] == ':') {
            const Byte* name = p + 2;
            const Byte* close = name;
            while (close < pe && *close != ']') ++close;
            if (close == pe) return Wild::AbortAll;
            if (close - name < 1 || close[-1] != ':') {
              // No ":]": an ordinary "[" in the set.
              if (*t == '[') matched = true;
              previous = '[';
              continue;
            }
            const std::string_view className(reinterpret_cast<const char*>(name),
                                             static_cast<size_t>(close - 1 - name));
            static constexpr std::string_view kNames[] = {"alnum", "alpha", "blank", "cntrl",
                                                          "digit", "graph", "lower", "print",
                                                          "punct", "space", "upper", "xdigit"};
            bool known = false;
            for (const std::string_view k : kNames) known = known || k == className;
            if (!known) return Wild::AbortAll;
            if (InClass(className, *t)) matched = true;
            p = close;
            previous = -1;
          } else {
            if (*t == *p) matched = true;
            previous = *p;
          }
        }
        if (matched == negated || *t == '/') return Wild::NoMatch;
        break;
      }
      default:
        if (*t != *p) return Wild::NoMatch;
        break;
    }
  }
  return t == te ? Wild::Match : Wild::NoMatch;
}

// The runs of literal bytes of a pattern, in order, with whether the first begins it and the
// last ends it. Conservative: a run is left out wherever it is unsure (a "/" that "**" may
// stand for, a class with a [:name:] in it).
struct LiteralRuns {
  std::vector<std::string> runs;
  bool first = false, last = false;
};

LiteralRuns RunsOf(std::string_view p) {
  LiteralRuns out;
  std::string run;
  bool runAtStart = true;
  const auto end = [&] {
    if (!run.empty()) {
      if (out.runs.empty()) out.first = runAtStart;
      out.runs.push_back(std::move(run));
    }
    run.clear();
    runAtStart = false;
  };
  const bool cut = p.find("[:") != std::string_view::npos;
  if (cut) p = p.substr(0, p.find_first_of("*?[\\"));
  size_t i = 0;
  while (i < p.size()) {
    const char c = p[i];
    if (c == '*') {
      end();
      size_t stars = 0;
      while (i < p.size() && p[i] == '*') ++i, ++stars;
      if (stars > 1 && i < p.size() && p[i] == '/') ++i;
    } else if (c == '?') {
      end();
      ++i;
    } else if (c == '\\') {
      end();
      i += 2;
    } else if (c == '[') {
      end();
      size_t j = i + 1;
      if (j < p.size() && (p[j] == '!' || p[j] == '^')) ++j;
      if (j < p.size() && p[j] == ']') ++j;
      while (j < p.size() && p[j] != ']') j += p[j] == '\\' ? 2 : 1;
      i = j + 1;
    } else {
      run += c;
      ++i;
    }
  }
  const bool endsInRun = !run.empty();
  end();
  out.last = endsInRun && i == p.size() && !cut;
  return out;
}

bool HasWildcard(std::string_view text) {
  return text.find_first_of("*?[\\") != std::string_view::npos;
}

// A small text file's content; nothing when it cannot be read or is too large to be a rule
// file.
bool ReadSmall(int dirfd, const char* name, std::string& out, off_t kLargest = off_t{16} << 20) {
  const Fd fd(openat(dirfd, name, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  struct stat st {};
  if (!fd.ok() || fstat(fd.fd(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kLargest)
    return false;
  out.resize(static_cast<size_t>(st.st_size));
  size_t done = 0;
  while (done < out.size()) {
    const ssize_t n = read(fd.fd(), out.data() + done, out.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  out.resize(done);
  return true;
}

bool ReadSmall(const std::string& path, std::string& out) {
  return !path.empty() && ReadSmall(AT_FDCWD, path.c_str(), out);
}

bool SameLetters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<Byte>(a[i])) != std::tolower(static_cast<Byte>(b[i])))
      return false;
  return true;
}

// The value a git config text gives core.excludesFile, if it gives one (the last one counts).
bool ConfigExcludesFile(std::string_view text, std::string& value) {
  bool inCore = false, found = false;
  while (!text.empty()) {
    const size_t eol = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, eol);
    text.remove_prefix(std::min(eol + 1, text.size()));
    const auto skipBlanks = [&line] {
      while (!line.empty() && (line[0] == ' ' || line[0] == '\t' || line[0] == '\r'))
        line.remove_prefix(1);
    };
    skipBlanks();
    if (line.starts_with('[')) {
      const size_t close = line.find(']');
      if (close == std::string_view::npos) continue;
      const std::string_view header = line.substr(1, close - 1);
      inCore = SameLetters(header, "core");
      line.remove_prefix(close + 1);  // "[core] excludesFile = x" is one line too
      skipBlanks();
    }
    if (!inCore || line.empty() || line[0] == '#' || line[0] == ';') continue;
    size_t key = 0;
    while (key < line.size() && (std::isalnum(static_cast<Byte>(line[key])) || line[key] == '-'))
      ++key;
    if (!SameLetters(line.substr(0, key), "excludesfile")) continue;
    line.remove_prefix(key);
    skipBlanks();
    if (!line.starts_with('=')) continue;
    line.remove_prefix(1);
    skipBlanks();
    std::string parsed;
    size_t kept = 0;  // the length without unquoted trailing blanks
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
      const char c = line[i];
      if (c == '"') {
        quoted = !quoted;
        kept = parsed.size();
      } else if (c == '\\' && i + 1 < line.size()) {
        const char e = line[++i];
        parsed += e == 'n' ? '\n' : e == 't' ? '\t' : e == 'b' ? '\b' : e;
        kept = parsed.size();
      } else if (!quoted && (c == '#' || c == ';')) {
        break;
      } else {
        parsed += c;
        if (quoted || (c != ' ' && c != '\t' && c != '\r')) kept = parsed.size();
      }
    }
    parsed.resize(kept);
    value = std::move(parsed);
    found = true;
  }
  return found;
}

std::string Home() {
  const char* home = std::getenv("HOME");
  return home ? home : "";
}

std::string ConfigHome() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && *xdg) return xdg;
  const std::string home = Home();
  return home.empty() ? std::string() : home + "/.config";
}

std::string ExpandHome(const std::string& path) {
  if (path.starts_with("~/")) return Home() + path.substr(1);
  return path;
}

std::string Joined(const std::string& folder, std::string_view name) {
  std::string out = folder;
  if (!out.empty() && out.back() != '/') out += '/';
  out += name;
  return out;
}

std::uint32_t Big32(const char* at) {
  const auto* b = reinterpret_cast<const Byte*>(at);
  return (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) | (std::uint32_t{b[2]} << 8) |
         b[3];
}

// The paths of a git index (versions 2 to 4), sorted as git keeps them, into names (which
// holds their bytes); false when the index is missing or not one this reads.
bool ReadIndex(const std::string& path, size_t hashBytes, std::string& bytes,
               std::vector<std::string>& names) {
  // Each entry's fixed part: times, identity, mode, owner and size, the object name, flags.
  constexpr size_t kHeader = 12;
  const size_t kFixed = 40 + hashBytes + 2;
  if (!ReadSmall(AT_FDCWD, path.c_str(), bytes, off_t{1} << 30) || bytes.size() < kHeader ||
      bytes.compare(0, 4, "DIRC") != 0)
    return false;
  const std::uint32_t version = Big32(bytes.data() + 4);
  if (version < 2 || version > 4) return false;
  const size_t count = Big32(bytes.data() + 8);
  names.clear();
  names.reserve(std::min<size_t>(count, bytes.size() / kFixed));
  std::string previous;
  size_t at = kHeader;
  for (size_t i = 0; i < count; ++i) {
    if (at > bytes.size() || bytes.size() - at < kFixed + 2) return false;
    const unsigned flags = (Byte(bytes[at + kFixed - 2]) << 8) | Byte(bytes[at + kFixed - 1]);
    const size_t fixed = kFixed + ((flags & 0x4000) && version >= 3 ? 2 : 0);
    size_t name = at + fixed;
    std::string entry;
    if (version == 4) {
      // The name drops the last N bytes of the one before (N a varint) and adds its own.
      size_t drop = 0;
      for (;;) {
        if (name >= bytes.size()) return false;
        const Byte b = Byte(bytes[name++]);
        drop = (drop << 7) | (b & 0x7F);
        if (!(b & 0x80)) break;
        ++drop;
      }
      if (drop > previous.size()) return false;
      const size_t end = bytes.find('\0', name);
      if (end == std::string::npos) return false;
      entry = previous.substr(0, previous.size() - drop) + bytes.substr(name, end - name);
      at = end + 1;
    } else {
      const size_t end = bytes.find('\0', name);
      if (end == std::string::npos) return false;
      entry = bytes.substr(name, end - name);
      at += (fixed + entry.size() + 8) & ~size_t{7};
    }
    if (names.empty() || names.back() != entry) names.push_back(entry);
    previous = std::move(entry);
  }
  return true;
}

// Whether a repository's config names SHA-256 object names, which make index entries longer.
bool UsesSha256(std::string_view config) {
  std::string lower(config);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<Byte>(c)));
  const size_t key = lower.find("objectformat");
  if (key == std::string::npos) return false;
  const size_t value = lower.find("sha256", key);
  return value != std::string::npos && lower.find('\n', key) > value;
}

}  // namespace

bool WildMatch(std::string_view pattern, std::string_view text) {
  const auto* p = reinterpret_cast<const Byte*>(pattern.data());
  const auto* t = reinterpret_cast<const Byte*>(text.data());
  return Match(p, p + pattern.size(), p, t, t + text.size()) == Wild::Match;
}

void IgnorePatterns::Parse(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  while (!text.empty()) {
    const size_t eol = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, eol);
    text.remove_prefix(std::min(eol + 1, text.size()));
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (line.empty() || line[0] == '#') continue;
    // Trailing blanks go, unless a "\" keeps the one after it.
    size_t end = line.size();
    while (end > 0 && line[end - 1] == ' ') {
      size_t slashes = 0;
      while (end - 1 > slashes && line[end - 2 - slashes] == '\\') ++slashes;
      if (slashes % 2 == 1) break;
      --end;
    }
    line = line.substr(0, end);
    Pattern pattern{};
    if (line.starts_with('!')) {
      pattern.negated = true;
      line.remove_prefix(1);
    }
    if (line.ends_with('/')) {
      pattern.foldersOnly = true;
      line.remove_suffix(1);
    }
    if (line.find('/') != std::string_view::npos) {
      pattern.anchored = true;
      if (line.starts_with('/')) line.remove_prefix(1);
    }
    if (line.empty()) continue;
    pattern.text = line;
    pattern.kind = !HasWildcard(line) ? Kind::Literal
                   : line[0] == '*' && !HasWildcard(line.substr(1)) && !pattern.anchored
                       ? Kind::Suffix
                       : Kind::Wild;
    if (pattern.kind == Kind::Suffix) pattern.text.erase(0, 1);
    if (pattern.kind == Kind::Wild) {
      LiteralRuns runs = RunsOf(pattern.text);
      if (runs.first) pattern.prefix = runs.runs.front();
      if (runs.last) pattern.suffix = runs.runs.back();
      for (std::string& run : runs.runs)
        if (run.size() > pattern.needle.size()) pattern.needle = std::move(run);
    }
    patterns_.push_back(std::move(pattern));
  }
}

IgnorePatterns::Verdict IgnorePatterns::Match(std::string_view relative, std::string_view name,
                                              bool folder) const {
  for (auto p = patterns_.rbegin(); p != patterns_.rend(); ++p) {
    if (p->foldersOnly && !folder) continue;
    const std::string_view text = p->anchored ? relative : name;
    bool matches = false;
    switch (p->kind) {
      case Kind::Literal:
        matches = text == p->text;
        break;
      case Kind::Suffix:
        matches = text.ends_with(p->text);
        break;
      case Kind::Wild:
        matches = text.starts_with(p->prefix) && text.ends_with(p->suffix) &&
                  text.find(p->needle) != std::string_view::npos && WildMatch(p->text, text);
        break;
    }
    if (matches) return p->negated ? Verdict::Keep : Verdict::Ignore;
  }
  return Verdict::None;
}

struct IgnoreStack::Frame {
  size_t base = 0;  // the length of the folder's absolute path, with its "/"
  IgnorePatterns ignore;
  IgnorePatterns git;
  // Where a work tree starts: its repository's info/exclude and the user's excludes file.
  IgnorePatterns exclude;
  IgnorePatterns excludesFile;
  Frame* workTree = nullptr;  // the frame of the work tree this folder is in, if any
  // Where a work tree starts: what git tracks, read when a rule first leaves a path out.
  std::string gitDir;
  bool indexRead = false;
  size_t hashBytes = 20;
  std::vector<std::string> tracked;
  // A folder git's rules leave out but which holds tracked files: only those are taken.
  bool trackedOnly = false;
};

unsigned IgnoreStack::HoldsOf(std::string_view name) {
  if (name == ".gitignore") return kGitignore;
  if (name == ".ignore") return kIgnore;
  if (name == ".git") return kGitDir;
  return 0;
}

IgnoreStack::IgnoreStack(const std::string& top) {
  std::error_code ec;
  std::string absolute =
      std::filesystem::absolute(top.empty() ? std::string(".") : top, ec).lexically_normal();
  if (ec) absolute = top;
  if (absolute.empty() || absolute.back() != '/') absolute += '/';
  // The folders above the top, outermost first.
  for (size_t slash = absolute.find('/'); slash + 1 < absolute.size();
       slash = absolute.find('/', slash + 1)) {
    const std::string folder = absolute.substr(0, slash + 1);
    const Fd fd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.ok()) continue;
    unsigned holds = 0;
    for (const char* name : {".gitignore", ".ignore", ".git"})
      if (faccessat(fd.fd(), name, F_OK, AT_SYMLINK_NOFOLLOW) == 0) holds |= HoldsOf(name);
    path_ = folder;
    Push(fd.fd(), folder, holds);
  }
  path_ = absolute;
}

IgnoreStack::~IgnoreStack() = default;

void IgnoreStack::Enter(int fd, std::string_view name, unsigned holds) {
  if (!name.empty()) {
    path_ += name;
    path_ += '/';
  }
  Push(fd, path_, holds);
}

void IgnoreStack::Leave() {
  frames_.pop_back();
  if (!frames_.empty()) path_.resize(frames_.back()->base);
}

void IgnoreStack::Push(int fd, const std::string& folder, unsigned holds) {
  auto frame = std::make_unique<Frame>();
  frame->base = folder.size();
  if (!frames_.empty()) {
    frame->workTree = frames_.back()->workTree;
    frame->trackedOnly = frames_.back()->trackedOnly ||
                         (!keptFolder_.empty() && folder.ends_with("/" + keptFolder_ + "/"));
  }
  keptFolder_.clear();
  std::string text;
  if ((holds & kIgnore) && ReadSmall(fd, ".ignore", text)) frame->ignore.Parse(text);
  if ((holds & kGitignore) && ReadSmall(fd, ".gitignore", text)) frame->git.Parse(text);
  if (holds & kGitDir) {
    frame->trackedOnly = false;
    // A work tree starts here; ".git" is the repository, or a file naming it.
    frame->workTree = frame.get();
    frame->tracked.clear();
    std::string gitDir = folder + ".git/";
    struct stat st {};
    if (fstatat(fd, ".git", &st, 0) == 0 && S_ISREG(st.st_mode) && ReadSmall(fd, ".git", text) &&
        text.starts_with("gitdir:")) {
      std::string named(text.substr(7));
      while (!named.empty() && std::isspace(static_cast<Byte>(named.back()))) named.pop_back();
      while (!named.empty() && std::isspace(static_cast<Byte>(named.front()))) named.erase(0, 1);
      gitDir = Joined(named.starts_with('/') ? std::string() : folder, named) + "/";
    }
    // A linked work tree keeps its exclude file and config in the common repository.
    std::string common = gitDir;
    if (ReadSmall(gitDir + "commondir", text)) {
      while (!text.empty() && std::isspace(static_cast<Byte>(text.back()))) text.pop_back();
      common = Joined(text.starts_with('/') ? std::string() : gitDir, text) + "/";
    }
    frame->gitDir = gitDir;
    if (ReadSmall(common + "info/exclude", text)) frame->exclude.Parse(text);
    // core.excludesFile: the last config that sets it wins; unset, the default file.
    const std::string configHome = ConfigHome();
    std::string excludes = configHome.empty() ? std::string() : configHome + "/git/ignore";
    std::string value;
    const char* noSystem = std::getenv("GIT_CONFIG_NOSYSTEM");
    for (const std::string& config :
         {(noSystem && *noSystem) ? std::string() : std::string("/etc/gitconfig"),
          configHome.empty() ? std::string() : configHome + "/git/config",
          Home().empty() ? std::string() : Home() + "/.gitconfig", common + "config"})
      if (ReadSmall(config, text)) {
        if (ConfigExcludesFile(text, value)) excludes = ExpandHome(value);
        if (config == common + "config" && UsesSha256(text)) frame->hashBytes = 32;
      }
    if (ReadSmall(excludes, text)) frame->excludesFile.Parse(text);
  }
  frames_.push_back(std::move(frame));
}

bool IgnoreStack::Ignored(std::string_view name, bool folder) {
  if (folder && (name == ".git" || name == ".hg" || name == ".svn")) return true;
  if (frames_.empty()) return false;
  scratch_.assign(path_).append(name);
  const std::string_view path = scratch_;
  using Verdict = IgnorePatterns::Verdict;
  // .ignore files first, the deepest first; then git's, within the work tree only.
  for (auto f = frames_.rbegin(); f != frames_.rend(); ++f) {
    const Frame& frame = **f;
    if (frame.ignore.Empty()) continue;
    const Verdict v = frame.ignore.Match(path.substr(frame.base), name, folder);
    if (v != Verdict::None) return v == Verdict::Ignore;
  }
  Frame* tree = frames_.back()->workTree;
  if (!tree) return false;
  // What git tracks is never left out by its rules; in a folder its rules leave out, only that.
  const auto untracked = [&] {
    if (!Tracked(*tree, path.substr(tree->base), folder)) return true;
    if (folder) keptFolder_ = name;
    return false;
  };
  if (frames_.back()->trackedOnly) return untracked();
  for (auto f = frames_.rbegin(); f != frames_.rend(); ++f) {
    const Frame& frame = **f;
    if (!frame.git.Empty()) {
      const Verdict v = frame.git.Match(path.substr(frame.base), name, folder);
      if (v != Verdict::None) return v == Verdict::Ignore && untracked();
    }
    if (&frame == tree) break;
  }
  for (const IgnorePatterns* rules : {&tree->exclude, &tree->excludesFile}) {
    const Verdict v = rules->Match(path.substr(tree->base), name, folder);
    if (v != Verdict::None) return v == Verdict::Ignore && untracked();
  }
  return false;
}

bool IgnoreStack::Tracked(Frame& tree, std::string_view relative, bool folder) {
  if (!tree.indexRead) {
    tree.indexRead = true;
    std::string bytes;
    if (!ReadIndex(tree.gitDir + "index", tree.hashBytes, bytes, tree.tracked))
      tree.tracked.clear();
  }
  const auto& names = tree.tracked;
  if (!folder) return std::binary_search(names.begin(), names.end(), relative);
  // A folder is tracked when a tracked path begins with it and a "/".
  std::string prefix(relative);
  prefix += '/';
  const auto at = std::lower_bound(names.begin(), names.end(), prefix);
  return at != names.end() && at->starts_with(prefix);
}

}  // namespace vorn
