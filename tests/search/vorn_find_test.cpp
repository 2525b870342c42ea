// The command-line front end, run as a user runs it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "TempTree.h"

namespace {

using vorn::test::TempTree;

struct Outcome {
  std::string out;
  int status;
};

Outcome RunFind(const std::string& args) {
  const std::string command = std::string(VORN_FIND_PATH) + " " + args + " 2>/dev/null";
  FILE* p = popen(command.c_str(), "r");
  Outcome o;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) o.out.append(buf, n);
  o.status = WEXITSTATUS(pclose(p));
  return o;
}

TEST(VornFind, PrintsResultLinesAndExitsZero) {
  TempTree t;
  t.Write("a b (1).txt", "one\r\nTwo needle\n");
  t.Write("sub/c.txt", "needle-x\n");
  const Outcome o = RunFind("-r '" + t.root() + "' '*.TXT' NEEDLE");
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, t.root() + "a b (1).txt (1)  :  Two needle\n" + t.root() + "sub/c.txt (0)  :  needle-x\n");
  EXPECT_EQ(RunFind("-c -w '" + t.root() + "' '*' needle").out, t.root() + "a b (1).txt (1)  :  Two needle\n");
  EXPECT_EQ(RunFind("--match-case --recursive -- '" + t.root() + "' '*' NEEDLE").out, "");
  // No subdirectories; the query keeps its blanks.
  EXPECT_EQ(RunFind("'" + t.root() + "' '*' 'needle '").out, "");
  EXPECT_EQ(RunFind("'" + t.root() + "' '*' 'two '").out, t.root() + "a b (1).txt (1)  :  Two needle\n");
  EXPECT_EQ(RunFind("-r '" + t.root() + "missing' '*' x").status, 0);
}

TEST(VornFind, BadArgumentsGiveStatusTwo) {
  EXPECT_EQ(RunFind("").status, 2);
  EXPECT_EQ(RunFind("/ '*'").status, 2);
  EXPECT_EQ(RunFind("-x / '*' a").status, 2);
  EXPECT_EQ(RunFind("--bogus / '*' a").status, 2);
  const Outcome help = RunFind("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("usage: vorn-find"), std::string::npos);
}

}  // namespace
