// The command-line front end, run as a user runs it.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "CasePairs.h"
#include "TempTree.h"

namespace vorn {
namespace {

using test::TempTree;

struct Outcome {
  std::string out;
  int status;
};

// Runs a shell command in folder with $F naming vorn-find and $AS dropping root's rights;
// its standard output and error are read together.
Outcome RunIn(const std::string& folder, const std::string& command) {
  setenv("F", VORN_FIND_PATH, 1);
  setenv("AS", geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups" : "", 1);
  FILE* p = popen(("exec 2>&1; cd '" + folder + "' && " + command).c_str(), "r");
  Outcome o;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) o.out.append(buf, n);
  o.status = WEXITSTATUS(pclose(p));
  return o;
}

Outcome RunFind(const std::string& args) { return RunIn(".", "$F " + args + " 2>/dev/null"); }

TEST(VornFind, PrintsResultLinesAndExitsZero) {
  TempTree t;
  t.Write("a b (1).txt", "one\r\nTwo needle\n");
  t.Write("sub/c.txt", "needle-x\n");
  const Outcome o = RunFind("-r '" + t.root() + "' '*.TXT' NEEDLE");
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, t.root() + "a b (1).txt (1)  :  Two needle\n" + t.root() +
                       "sub/c.txt (0)  :  needle-x\n");
  EXPECT_EQ(RunFind("-s -w '" + t.root() + "' '*' needle").out,
            t.root() + "a b (1).txt (1)  :  Two needle\n");
  EXPECT_EQ(RunFind("--match-case --recursive -- '" + t.root() + "' '*' NEEDLE").out, "");
  // No subdirectories; the query keeps its blanks.
  EXPECT_EQ(RunFind("'" + t.root() + "' '*' 'needle '").out, "");
  EXPECT_EQ(RunFind("'" + t.root() + "' '*' 'two '").out,
            t.root() + "a b (1).txt (1)  :  Two needle\n");
}

TEST(VornFind, LettersBeyondAsciiIgnoringCaseAndMatchingIt) {
  TempTree t;
  const auto& pairs = vorn::test::CasePairs();
  for (size_t i = 0; i < pairs.size(); ++i) {
    const std::string name = "case" + std::to_string(i) + ".txt";
    t.Write(name, "before\n" + pairs[i].line + "\n");
    for (const bool matchCase : {false, true}) {
      const Outcome o = RunFind(std::string(matchCase ? "-s " : "") + "'" + t.root() + "' " + name +
                                " '" + pairs[i].query + "'");
      const bool hit = matchCase ? pairs[i].hitMatchingCase : pairs[i].hitIgnoringCase;
      EXPECT_EQ(o.status, hit ? 0 : 1) << pairs[i].query << " / " << pairs[i].line;
      EXPECT_EQ(o.out, hit ? t.root() + name + " (1)  :  " + pairs[i].line + "\n" : "");
    }
  }
}

// -R follows as grep's does, telling of a link that leads nowhere; the listing's options
// combine with -r in any order.
TEST(VornFind, ListingOptions) {
  TempTree t;
  t.Write("real/a.txt", "needle\n");
  t.Write(".git/x", "needle\n");
  t.Write(".hid.txt", "needle\n");
  t.Write(".gitignore", "*.txt\n");
  t.Symlink("real", "link");
  t.Symlink("gone", "dangling");
  const std::string top = "'" + t.root() + "'";
  Outcome o = RunIn(".", "$F -R " + top + " '*' needle");
  EXPECT_EQ(o.out, "vorn-find: " + t.root() + "dangling: No such file or directory\n" + t.root() +
                       "link/a.txt (0)  :  needle\n");
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(RunFind("-r --hidden " + top + " '*' needle").out,
            t.root() + ".git/x (0)  :  needle\n" + t.root() + ".hid.txt (0)  :  needle\n" +
                t.root() + "real/a.txt (0)  :  needle\n");
  o = RunFind("--ignore-files --hid -r " + top + " '*' needle");
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.status, 1);
}

TEST(VornFind, StatusesAndMessages) {
  const std::string usage = "usage: vorn-find [OPTION...] DIRECTORY MASK TEXT\n";
  TempTree t;
  t.Write("a.c", "needle\x1b[0m\n");
  t.Write("sub/b.H", "x\nneedle\n");
  t.Write("sub/c.txt", "needle\n");
  chmod(t.root().c_str(), 0755);  // the ordinary user must reach the folder itself
  // What the ordinary user cannot read lies apart, so the cases above run alike as any user.
  TempTree u;
  u.Write("locked.txt", "needle\n");
  u.Write("ok.txt", "needle\n");
  u.Write("shut/x.txt", "needle\n");
  u.MakeDir("closed");
  for (const char* name : {"locked.txt", "shut", "closed"}) chmod(u.Path(name).c_str(), 0);
  chmod(u.root().c_str(), 0755);
  setenv("U", u.root().c_str(), 1);
  const std::string denied = ": Permission denied\n";
  // Without root's rights the program runs from a copy the ordinary user can reach.
  TempTree bin;
  std::filesystem::copy_file(VORN_FIND_PATH, bin.Path("vorn-find"));
  chmod(bin.root().c_str(), 0755);
  setenv("B", bin.Path("vorn-find").c_str(), 1);
  // To a pipe or file the bytes go out as they are.
  const std::string found = "./a.c (0)  :  needle\x1b[0m\n./sub/b.H (1)  :  needle\n";
  const std::string full = "vorn-find: cannot write the results: No space left on device\n";
  const std::string noFile = "vorn-find: the mask names no file; \"*\" takes every file\n";
  auto badCount = [&](const std::string& n) {
    return "vorn-find: invalid thread count '" + n + "' (a whole number from 1 to 1024)\n" + usage;
  };
  struct Case {
    const char* command;
    int status;
    std::string output;
  };
  const Case cases[] = {
      {"$F -r . '*.c;*.h' needle", 0, found},
      {"$F -rj 1 . ';*.c;;*.h' needle", 0, found},
      {"$F -j2 --threads=7 --threads 3 -r . '*.c;*.h' needle", 0, found},
      // getopt_long's forms: options after operands, abbreviations, joined values, "--".
      {"$F . '*.c;*.h' needle --rec --thr=2 -sij1", 0, found},
      {"$F -rs . '*.c;*.h' NEEDLE", 1, ""},
      {"$F -r --match-case -i -- . '*.c' -dash", 1, ""},
      {"$F -r . '*.c;*.h' absent", 1, ""},
      {"$F missing '*' x", 2, "vorn-find: missing: No such file or directory\n"},
      {"$F a.c '*' x", 2, "vorn-find: a.c: Not a directory\n"},
      // An unset variable names no folder; a mask with nothing in it takes no file.
      {"$F '' '*' needle", 2, "vorn-find: '': No such file or directory\n"},
      {"$F . '' needle", 2, noFile},
      {"$F . ' ; ' needle", 2, noFile},
      {"$F . '!' needle", 2, noFile},
      {"$AS $B \"${U}closed\" '*' x", 2, "vorn-find: " + u.Path("closed") + denied},
      // Unreadable files and folders are told, the rest searched, and the run fails.
      {"$AS $B \"$U\" '*' needle", 2,
       "vorn-find: " + u.Path("locked.txt") + denied + u.Path("ok.txt") + " (0)  :  needle\n"},
      {"$AS $B -r \"$U\" 'x*' needle", 2,
       "vorn-find: " + u.Path("closed") + denied + "vorn-find: " + u.Path("shut") + denied},
      {"$AS $B --no-messages -rj3 \"$U\" '*' needle", 2, u.Path("ok.txt") + " (0)  :  needle\n"},
      {"$F -r . '*' needle >/dev/full", 2, full},
      {"$F --version", 0, "vorn-find " VORN_VERSION "\n"},
      {"$F --version >/dev/full", 2, full},
      {"$F -j 0 . '*' x", 2, badCount("0")},
      {"$F -jx . '*' x", 2, badCount("x")},
      {"$F --threads=1025 . '*' x", 2, badCount("1025")},
      {"$F . '*' x -j", 2, "vorn-find: option requires an argument -- 'j'\n" + usage},
      {"$F . '*' x --threads", 2, "vorn-find: option '--threads' requires an argument\n" + usage},
      {"$F", 2, usage},
      {"$F / '*'", 2, usage},
      {"$F -x / '*' a", 2, "vorn-find: invalid option -- 'x'\n" + usage},
      {"$F --bogus / '*' a", 2, "vorn-find: unrecognized or ambiguous option '--bogus'\n" + usage},
  };
  for (const Case& c : cases) {
    const Outcome o = RunIn(t.root(), c.command);
    EXPECT_EQ(o.status, c.status) << c.command;
    EXPECT_EQ(o.out, c.output) << c.command;
  }
  for (const char* help : {"$F -h", "$F --help", "$F -rh"}) {
    const Outcome o = RunIn(t.root(), help);
    EXPECT_EQ(o.out.substr(0, usage.size()), usage);
    EXPECT_NE(o.out.find("Exit status"), std::string::npos);
    EXPECT_EQ(o.status, 0);
  }
}

// Runs vorn-find in folder at a terminal of the given type and returns what it writes there.
std::string AtTerminal(const std::string& folder, const char* term, std::vector<std::string> args) {
  termios mode{};
  cfmakeraw(&mode);
  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, &mode, nullptr);
  if (pid == 0) {
    std::vector<char*> argv{const_cast<char*>(VORN_FIND_PATH)};
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    setenv("TERM", term, 1);
    if (chdir(folder.c_str()) == 0) execv(VORN_FIND_PATH, argv.data());
    _exit(127);
  }
  std::string out;
  char buf[4096];
  ssize_t n;
  while (pid > 0 && (n = read(master, buf, sizeof buf)) > 0)
    out.append(buf, static_cast<size_t>(n));
  waitpid(pid, nullptr, 0);
  close(master);
  return out;
}

// Counts, file names, the editors' form and colours, to a pipe and at a terminal.
TEST(VornFind, OutputModes) {
  TempTree t;
  t.Write("a.txt", "x Needle needle\nnone\nneedles\n");
  t.Write("b.txt", "needle\n");
  t.Write("sub/c.txt", "\x1b-needle-\xc2\x9b\n");
  const std::string m = "\33[35m\33[K", g = "\33[32m\33[K", c = "\33[36m\33[K",
                    r = "\33[01;31m\33[K", e = "\33[m\33[K";
  struct Case {
    const char* args;
    std::string output;
  };
  const Case cases[] = {
      {"-c . '*' needle", "./a.txt:2\n./b.txt:1\n"},
      {"--count -rw . '*' needle", "./a.txt:1\n./b.txt:1\n./sub/c.txt:1\n"},
      {"-l -r . '*' needle", "./a.txt\n./b.txt\n./sub/c.txt\n"},
      {"-c --files-with-matches . '*' needle", "./a.txt\n./b.txt\n"},
      {"--vimgrep -rs . 'a*' needle", "./a.txt:1:10:x Needle needle\n./a.txt:3:1:needles\n"},
      {"--vimgrep -rw . '*' needle",
       "./a.txt:1:3:x Needle needle\n./b.txt:1:1:needle\n./sub/c.txt:1:3:\x1b-needle-\xc2\x9b\n"},
      {"--color=always -w . 'b*' needle",
       m + "./b.txt" + e + c + " (" + e + g + "0" + e + c + ")  :  " + e + r + "needle" + e + "\n"},
      {"--colour=always -c . 'b*' needle", m + "./b.txt" + e + c + ":" + e + "1\n"},
      {"--color=never --vimgrep . 'b*' needle", "./b.txt:1:1:needle\n"},
      {"--color . 'b*' needle", "./b.txt (0)  :  needle\n"},  // auto: never into a pipe
  };
  for (const Case& k : cases)
    EXPECT_EQ(RunIn(t.root(), "$F " + std::string(k.args)).out, k.output) << k.args;
  // GREP_COLORS changes the colours; values that are not colour numbers are passed over.
  EXPECT_EQ(
      RunIn(t.root(), "GREP_COLORS='ms=4:fn=:ne:ln=1m\\33:se=x' $F --color=always -l . 'b*' n").out,
      "./b.txt\n");
  EXPECT_EQ(
      RunIn(t.root(), "GREP_COLORS='mt=4:fn=:ne:ln=1m\\33' $F --color=always -s . 'a*' Need").out,
      "./a.txt\33[36m (\33[m\33[32m0\33[m\33[36m)  :  \33[mx \33[4mNeed\33[mle needle\n");
  // Past a long line's shown bytes the column is read from the file, line breaks of every kind
  // and lines longer than the read buffer included.
  TempTree l;
  const std::string longLine = std::string(2500000, 'x') + " needle " + std::string(1 << 20, 'y');
  l.Write("a.txt", "needle\r\n" + longLine + "\r" + std::string(4093, 'b') + "needle\n" +
                       std::string(5600, 'c') + " needle\r\nneedle\n");
  std::string columns;
  for (const char* w : {"", "-w "}) {
    const Outcome o =
        RunIn(l.root(), "$F --vimgrep " + std::string(w) + ". '*' needle | cut -d: -f3");
    columns += o.out + "|";
  }
  EXPECT_EQ(columns, "1\n2500002\n4094\n5602\n1\n|1\n2500002\n5602\n1\n|");
  // At a terminal colours come unasked, unless the terminal is dumb; a file's bytes stay escaped.
  const std::string line = "./sub/c.txt:1:3:\\x1b-" + r + "needle" + e + "-\\xc2\\x9b\n";
  EXPECT_EQ(AtTerminal(t.root(), "xterm", {"--vimgrep", "-r", ".", "c*", "needle"}),
            m + "./sub/c.txt" + e + c + ":" + e + g + "1" + e + c + ":" + e + g + "3" + e + c +
                ":" + e + line.substr(16));
  EXPECT_EQ(AtTerminal(t.root(), "dumb", {"--vimgrep", "-r", ".", "c*", "needle"}),
            "./sub/c.txt:1:3:\\x1b-needle-\\xc2\\x9b\n");
}

// A file with a NUL byte in its head, or in a found line, is binary: one line on standard
// error instead of its lines, unless -a; UTF-16 text never is. Masks take exclusions.
TEST(VornFind, BinaryFilesAndMasks) {
  using namespace std::string_literals;
  TempTree t;
  const std::string pad(70000, 'p');
  t.Write("a.bin", std::string("x\0y\nneedle one\nneedle two\n", 26));
  t.Write("b.txt", "needle\n" + pad + "\nneedle \x01\n" + pad + "\nx\0y\n"s);
  t.Write("c.log", "needle\n" + pad + "\nneedle\0late\nneedle after\n"s);
  t.Write("d.u16", std::string("\xFF\xFEn\0e\0e\0d\0l\0e\0\0\0\n\0", 18));
  t.Write("build/e.txt", "needle\n");
  t.Write("sub/build.txt", "needle\n");
  t.Write("CAF\xC3\x89.TXT", "needle\n");
  const std::string bin = "vorn-find: ./a.bin: binary file matches\n";
  const std::string log = "./c.log (0)  :  needle\nvorn-find: ./c.log: binary file matches\n";
  const std::string u16 = "./d.u16 (0)  :  needle" + std::string(1, '\0') + "\n";
  struct Case {
    const char* command;
    int status;
    std::string output;
  };
  const Case cases[] = {
      {"$F . '*.bin' needle", 0, bin},
      {"$F -a . '*.bin' needle", 0, "./a.bin (1)  :  needle one\n./a.bin (2)  :  needle two\n"},
      {"$F --text . '*.bin' absent", 1, ""},
      // A NUL after the head, in a line without a hit, leaves the file text.
      {"$F . b.txt needle", 0, "./b.txt (0)  :  needle\n./b.txt (2)  :  needle \x01\n"},
      {"$F -j1 . '*.log' needle", 0, log},
      {"$F -j3 . '*.log;*.u16' needle", 0, log + u16},
      // Parts are trimmed; "!" parts leave files and folders out.
      {"$F -r . ' *.bin ; *.u16 ' needle", 0, bin + u16},
      {"$F -r . '!*.bin;!*.LOG;!*.u16;!BUILD/' needle", 0,
       "./CAF\xC3\x89.TXT (0)  :  needle\n./b.txt (0)  :  needle\n./b.txt (2)  :  needle "
       "\x01\n./sub/build.txt (0)  :  needle\n"},
      {"$F -r . '*.txt;!b*;!caf*' needle", 0, "./build/e.txt (0)  :  needle\n"},
      {"$F . 'caf\xC3\xA9.txt' needle", 0, "./CAF\xC3\x89.TXT (0)  :  needle\n"},
      {"$F -r . 'build/' needle", 2,
       "vorn-find: mask part 'build/' names a folder; folders can only be left out "
       "(\"!build/\")\n"},
      {"$F -r . '!sub/build.txt' needle", 2,
       "vorn-find: mask part '!sub/build.txt' names a path; a part names a file or a folder "
       "(\"!build/\")\n"},
  };
  for (const Case& c : cases) {
    const Outcome o = RunIn(t.root(), c.command);
    EXPECT_EQ(o.status, c.status) << c.command;
    EXPECT_EQ(o.out, c.output) << c.command;
  }
}

// grep's outputs and limits: every match alone or coloured, NULs after paths that may hold a
// line break, quiet, and what the run stops at.
TEST(VornFind, MatchesPathsWithNulsAndQuiet) {
  using namespace std::string_literals;
  TempTree t;
  t.Write("a.txt", "one needle two Needle\nnone\nneedle\n");
  t.Write("new\nline.txt", "needle\n");
  t.Write("z.txt", "nothing\n");
  const std::string r = "\33[01;31m\33[K", e = "\33[m\33[K";
  struct Case {
    const char* command;
    int status;
    std::string output;
  };
  const Case cases[] = {
      {"$F -o . 'a*' needle", 0,
       "./a.txt (0)  :  needle\n./a.txt (0)  :  Needle\n./a.txt (2)  :  needle\n"},
      {"$F --only-matching -E -s . 'a*' 'n[a-z]+'", 0,
       "./a.txt (0)  :  ne\n./a.txt (1)  :  none\n./a.txt (2)  :  needle\n"},
      {"$F -o --vimgrep -s . 'a*' ne", 0,
       "./a.txt:1:2:ne\n./a.txt:1:5:ne\n./a.txt:2:3:ne\n./a.txt:3:1:ne\n"},
      {"GREP_COLORS='fn=:ln=:se=' $F --color=always . 'a*' needle", 0,
       "./a.txt (0)  :  one " + r + "needle" + e + " two " + r + "Needle" + e +
           "\n./a.txt (2)  :  " + r + "needle" + e + "\n"},
      {"$F -lZ . '*' needle", 0, "./a.txt\0./new\nline.txt\0"s},
      {"$F --count --null . '*' needle", 0,
       "./a.txt\0"
       "2\n./new\nline.txt\0"
       "1\n"s},
      {"$F -q . '*' needle", 0, ""},
      {"$F --quiet . '*' absent", 1, ""},
      {"$F -q missing '*' needle", 2, "vorn-find: missing: No such file or directory\n"},
      {"$F -m 0 . '*' needle", 1, ""},
      {"$F -m x . '*' needle", 2,
       "vorn-find: invalid max count 'x' (a whole number)\nusage: vorn-find [OPTION...] "
       "DIRECTORY MASK TEXT\n"},
  };
  for (const Case& c : cases) {
    const Outcome o = RunIn(t.root(), c.command);
    EXPECT_EQ(o.status, c.status) << c.command;
    EXPECT_EQ(o.out, c.output) << c.command;
  }
  // Quiet ends the run at its first hit: the unreadable file after it is never reached, and
  // one before it does not spoil the success.
  TempTree u;
  u.Write("a.txt", "needle\n");
  u.Write("b.txt", "needle\n");
  chmod(u.Path("b.txt").c_str(), 0);
  chmod(u.root().c_str(), 0755);
  TempTree bin;
  std::filesystem::copy_file(VORN_FIND_PATH, bin.Path("vorn-find"));
  chmod(bin.root().c_str(), 0755);
  setenv("B", bin.Path("vorn-find").c_str(), 1);
  setenv("U", u.root().c_str(), 1);
  EXPECT_EQ(RunIn(t.root(), "$AS $B -q -j1 \"$U\" '*' needle").out, "");
  const Outcome o = RunIn(t.root(), "$AS $B -q -j1 \"$U\" 'b*' needle");
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(o.out, "vorn-find: " + u.Path("b.txt") + ": Permission denied\n");
}

// The JSON stream read back by a JSON parser: each file's objects in order, paths and lines
// that are not UTF-8 as base64, every match's bytes, and the summary.
TEST(VornFind, JsonReadsBackByteForByte) {
  TempTree t;
  t.Write("caf\xE9.txt", "x needle \"needle\"\t\x1b\\\x7f\xc2\x85\n\xFF needle\n");
  t.Write("d.txt", "none\n");
  const char* digest = R"(python3 -c '
import base64, json, sys
def data(v): return v["text"].encode() if "text" in v else base64.b64decode(v["bytes"])
for line in sys.stdin.buffer:
    o = json.loads(line)
    if o["type"] == "summary":
        print(o["files"], o["hit_lines"], o["matches"], o["elapsed"] >= 0)
        continue
    found = [(m["start"], m["end"]) for m in o["matches"]] if o["type"] == "match" else []
    counts = (o["hit_lines"], o["matches"], o["binary"]) if o["type"] == "end" else ""
    print(o["type"], data(o["path"]), o.get("line"), data(o["text"]) if "text" in o else "",
          found, counts)
')";
  const Outcome o = RunIn(t.root(), "$F --json . '*' needle | " + std::string(digest));
  EXPECT_EQ(o.out,
            "begin b'./caf\\xe9.txt' None  [] \n"
            "match b'./caf\\xe9.txt' 0 b'x needle \"needle\"\\t\\x1b\\\\\\x7f\\xc2\\x85' "
            "[(2, 8), (10, 16)] \n"
            "match b'./caf\\xe9.txt' 1 b'\\xff needle' [(2, 8)] \n"
            "end b'./caf\\xe9.txt' None  [] (2, 3, False)\n"
            "2 2 3 True\n");
}

// Context lines around hits, groups merged where they touch and "--" between the others, in a
// file and from one file to the next; a limit of hit lines per file; the files without a hit.
TEST(VornFind, ContextLimitsAndFilesWithoutAHit) {
  using namespace std::string_literals;
  TempTree t;
  t.Write("a.txt", "0 needle\n1\n2\n3 needle\n4\n5\n6\n7\n8 needle\n9\n");
  t.Write("b.txt", "needle\n\nx\n");
  t.Write("c\nd.txt", "none\n");
  const std::string a = "./a.txt (", b = "./b.txt (";
  struct Case {
    const char* command;
    int status;
    std::string output;
  };
  const Case cases[] = {
      {"$F -C 1 . 'a*' needle", 0,
       a + "0)  :  0 needle\n" + a + "1)  -  1\n" + a + "2)  -  2\n" + a + "3)  :  3 needle\n" + a +
           "4)  -  4\n--\n" + a + "7)  -  7\n" + a + "8)  :  8 needle\n" + a + "9)  -  9\n"},
      {"$F -B 2 --after-context=1 -j2 . '?.txt' needle", 0,
       a + "0)  :  0 needle\n" + a + "1)  -  1\n" + a + "2)  -  2\n" + a + "3)  :  3 needle\n" + a +
           "4)  -  4\n--\n" + a + "6)  -  6\n" + a + "7)  -  7\n" + a + "8)  :  8 needle\n" + a +
           "9)  -  9\n--\n" + b + "0)  :  needle\n" + b + "1)  -  \n"},
      {"$F -m 2 -A 1 . 'a*' needle", 0,
       a + "0)  :  0 needle\n" + a + "1)  -  1\n--\n" + a + "3)  :  3 needle\n" + a + "4)  -  4\n"},
      {"$F --max-count=1 -c . '*' needle", 0, "./a.txt:1\n./b.txt:1\n"},
      {"$F -L . '*' needle", 0, "./c\nd.txt\n"},
      {"$F --files-without-match -Z . '*' needle", 0, "./c\nd.txt\0"s},
      {"$F -L . '?.txt' needle", 1, ""},
      {"$F -lL . '?.txt' none", 0, "./a.txt\n./b.txt\n"},
  };
  for (const Case& c : cases) {
    const Outcome o = RunIn(t.root(), c.command);
    EXPECT_EQ(o.status, c.status) << c.command;
    EXPECT_EQ(o.out, c.output) << c.command;
  }
}

// The size of the write the process is blocked in on its standard output, or 0 when it ends
// or never gets there.
size_t PendingWriteSize(pid_t pid) {
  const std::string file = "/proc/" + std::to_string(pid) + "/syscall";
  for (int tries = 0; tries < 30000; ++tries) {
    std::ifstream in(file);
    std::string number, fd, buffer, count;  // "running" while it runs
    if (!(in >> number)) return 0;
    if (number == std::to_string(SYS_write) && in >> fd >> buffer >> count &&
        std::strtoul(fd.c_str(), nullptr, 16) == 1)
      return std::strtoul(count.c_str(), nullptr, 16);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return 0;
}

TEST(VornFind, AtATerminalEachLineGoesOutWhenFoundWithControlBytesEscaped) {
  TempTree t;
  // Lone C1 bytes (Latin-1's CSI) and the bidirectional controls are escaped too.
  t.Write("a\x1b.txt",
          "x\tneedle\x1b[2J\x07\x7f\xc2\x9b\xc3\xa9\x9b[\xe2\x80\xae\xe2\x81\xa6\xe2\x80\xa9\n");
  t.Write("b.txt", "needle\n");
  const std::string first = t.root() +
                            "a\\x1b.txt (0)  :  x\tneedle\\x1b[2J\\x07\\x7f\\xc2\\x9b\xc3\xa9\\x9b["
                            "\\u202e\\u2066\xe2\x80\xa9\n";
  const std::string second = t.root() + "b.txt (0)  :  needle\n";

  termios mode{};
  cfmakeraw(&mode);
  mode.c_iflag |= IXON;  // ^S holds the terminal's output, ^Q lets it go
  mode.c_cc[VSTOP] = 0x13;
  mode.c_cc[VSTART] = 0x11;
  mode.c_cc[VMIN] = 1;
  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, &mode, nullptr);
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    char go;
    if (read(0, &go, 1) != 1) _exit(98);  // starts once the output is held
    execl(VORN_FIND_PATH, VORN_FIND_PATH, "--color=never", "-j", "1", t.root().c_str(), "*.txt",
          "needle", nullptr);
    _exit(127);
  }
  ASSERT_EQ(write(master, "\x13g", 2), 2);
  // Held at its first write, the program has found one line and writes that line alone.
  EXPECT_EQ(PendingWriteSize(pid), first.size());
  ASSERT_EQ(write(master, "\x11", 1), 1);
  std::string out;
  char buf[4096];
  ssize_t n;
  while ((n = read(master, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  int status = 0;
  waitpid(pid, &status, 0);
  close(master);
  EXPECT_EQ(out, first + second);
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace vorn
