// Compressed files and archives, searched with vorn-find -z as a user runs it, and the reader
// on a decompression bomb.
#include "Packed.h"

#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "FileReader.h"
#include "FileScan.h"
#include "SearchRun.h"
#include "TempTree.h"

namespace vorn {
namespace {

using test::TempTree;

struct Member {
  std::string name;
  std::string bytes;
  long long zeros = 0;  // this many NUL bytes follow, written a block at a time
};

void WriteArchive(const std::string& path, int format, int filter,
                  const std::vector<Member>& members) {
  archive* a = archive_write_new();
  ASSERT_EQ(archive_write_set_format(a, format), ARCHIVE_OK);
  if (filter != ARCHIVE_FILTER_NONE) {
    ASSERT_EQ(archive_write_add_filter(a, filter), ARCHIVE_OK);
  }
  ASSERT_EQ(archive_write_open_filename(a, path.c_str()), ARCHIVE_OK);
  const std::string block(1 << 20, '\0');
  for (const Member& m : members) {
    archive_entry* e = archive_entry_new();
    archive_entry_set_pathname(e, m.name.c_str());
    archive_entry_set_size(e, static_cast<la_int64_t>(m.bytes.size()) + m.zeros);
    archive_entry_set_filetype(e, AE_IFREG);
    archive_entry_set_perm(e, 0644);
    ASSERT_EQ(archive_write_header(a, e), ARCHIVE_OK) << archive_error_string(a);
    archive_write_data(a, m.bytes.data(), m.bytes.size());
    for (long long left = m.zeros; left > 0; left -= static_cast<long long>(block.size()))
      archive_write_data(a, block.data(), std::min<size_t>(block.size(), left));
    archive_entry_free(e);
  }
  archive_write_close(a);
  archive_write_free(a);
}

struct Outcome {
  std::string out, err;
  int status;
};

Outcome Find(const std::string& args) {
  const std::string err = ::testing::TempDir() + "packed_err.txt";
  FILE* p = popen((std::string(VORN_FIND_PATH) + " " + args + " 2>'" + err + "'").c_str(), "r");
  Outcome o;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) o.out.append(buf, n);
  o.status = WEXITSTATUS(pclose(p));
  o.err = test::ReadFile(err);
  return o;
}

const std::string kUtf16 = std::string(
    "\xFF\xFE"
    "f\0i\0n\0d\0 \0c\0a\0f\0\xE9\0",
    20);

TEST(Packed, EveryKindOfArchiveAndCompressedFileIsSearchedAsItsContent) {
  TempTree t;
  std::string inner;
  {
    TempTree i;
    WriteArchive(i.Path("inner.tar"), ARCHIVE_FORMAT_TAR_USTAR, ARCHIVE_FILTER_NONE,
                 {{"deep.txt", "find café deep\n"}});
    inner = test::ReadFile(i.Path("inner.tar"));
  }
  const std::vector<Member> members = {{"doc/utf8.txt", "one\nfind café here\n"},
                                       {"utf16.txt", kUtf16},
                                       {"bin.dat", std::string("find café\0\x01", 12)},
                                       {"inner.tar", inner}};
  WriteArchive(t.Path("a.zip"), ARCHIVE_FORMAT_ZIP, ARCHIVE_FILTER_NONE, members);
  WriteArchive(t.Path("a.tar"), ARCHIVE_FORMAT_TAR_PAX_RESTRICTED, ARCHIVE_FILTER_NONE, members);
  WriteArchive(t.Path("a.tar.xz"), ARCHIVE_FORMAT_TAR_USTAR, ARCHIVE_FILTER_XZ, members);
  WriteArchive(t.Path("a.7z"), ARCHIVE_FORMAT_7ZIP, ARCHIVE_FILTER_NONE, members);
  WriteArchive(t.Path("a.cpio"), ARCHIVE_FORMAT_CPIO_POSIX, ARCHIVE_FILTER_NONE, members);
  const std::pair<const char*, int> filters[] = {{"c.txt.bz2", ARCHIVE_FILTER_BZIP2},
                                                 {"c.txt.gz", ARCHIVE_FILTER_GZIP},
                                                 {"c.txt.lz4", ARCHIVE_FILTER_LZ4},
                                                 {"c.txt.xz", ARCHIVE_FILTER_XZ},
                                                 {"c.txt.zst", ARCHIVE_FILTER_ZSTD}};
  for (const auto& [name, filter] : filters)
    WriteArchive(t.Path(name), ARCHIVE_FORMAT_RAW, filter, {{"data", "x\nfind café\n"}});
  // A Latin-1 file is found by the UTF-8 query and shown as UTF-8, also beside archives.
  t.Write("plain.txt", "find caf\xE9\n");

  const Outcome o = Find("-z -r '" + t.root() + "' '*' 'find café'");
  std::string want, wantErr;
  for (const char* a : {"a.7z", "a.cpio", "a.tar", "a.tar.xz", "a.zip"}) {
    const std::string archive = t.root() + a;
    want += archive + "//doc/utf8.txt (1)  :  find café here\n";
    want += archive + "//utf16.txt (0)  :  find café\n";
    wantErr += "vorn-find: " + archive + "//bin.dat: binary file matches\n";
    // One level deep: an archive inside is searched as its bytes.
    wantErr += "vorn-find: " + archive + "//inner.tar: binary file matches\n";
  }
  for (const auto& [name, filter] : filters) want += t.root() + name + " (1)  :  find café\n";
  want += t.root() + "plain.txt (0)  :  find café\n";
  EXPECT_EQ(o.out, want);
  EXPECT_EQ(o.err, wantErr);
  EXPECT_EQ(o.status, 0);
  // Without -z the files are what they always were: none of their content is read.
  const Outcome plain = Find("-r '" + t.root() + "' '*' 'find café here'");
  EXPECT_EQ(plain.out.find("//"), std::string::npos) << plain.out;
  EXPECT_EQ(Find("--encoding=utf-8 '" + t.root() + "' plain.txt 'find café'").status, 1);
  // A member's path opens in the reader as the search named it, and whole.
  std::string content;
  EXPECT_EQ(ReadPackedWhole(t.Path("a.tar.xz//doc/utf8.txt"), 1 << 20, content), 0);
  EXPECT_EQ(content, "one\nfind café here\n");
  EXPECT_EQ(ReadPackedWhole(t.Path("c.txt.zst"), 1 << 20, content), 0);
  EXPECT_EQ(content, "x\nfind café\n");
  EXPECT_EQ(ReadPackedWhole(t.Path("plain.txt"), 1 << 20, content), ENOEXEC);
  EXPECT_EQ(ReadPackedWhole(t.Path("a.zip//missing.txt"), 1 << 20, content), ENOENT);
}

TEST(Packed, TruncatedArchiveKeepsWhatCameBeforeAndSaysSo) {
  TempTree t;
  std::mt19937 random(7);
  std::string noise(300000, '\0');
  for (char& c : noise) c = static_cast<char>('a' + random() % 26);
  WriteArchive(t.Path("cut.tar.gz"), ARCHIVE_FORMAT_TAR_USTAR, ARCHIVE_FILTER_GZIP,
               {{"first.txt", "needle one\n"}, {"noise.txt", noise}, {"last.txt", "needle two\n"}});
  WriteArchive(t.Path("cut.gz"), ARCHIVE_FORMAT_RAW, ARCHIVE_FILTER_GZIP,
               {{"data", "needle three\n" + noise}});
  for (const char* name : {"cut.tar.gz", "cut.gz"}) {
    const std::string whole = test::ReadFile(t.Path(name));
    t.Write(name, whole.substr(0, whole.size() / 2));
  }
  const Outcome o = Find("-z '" + t.root() + "' '*' needle");
  EXPECT_EQ(o.out, t.root() + "cut.gz (0)  :  needle three\n" + t.root() +
                       "cut.tar.gz//first.txt (0)  :  needle one\n");
  EXPECT_NE(o.err.find("vorn-find: " + t.root() +
                       "cut.gz: the archive or compressed file is damaged or cut short\n"),
            std::string::npos)
      << o.err;
  EXPECT_NE(o.err.find("cut.tar.gz: the archive or compressed file is damaged or cut short\n"),
            std::string::npos)
      << o.err;
  EXPECT_EQ(o.status, 2);
}

class StopAt : public FileScan::Hooks {
 public:
  bool Hit(size_t, std::string_view, bool, std::span<const MatchRange>) override { return true; }
  bool Context(size_t, std::string_view) override { return true; }
  bool Break() override { return true; }
  bool Passed(size_t) override { return ++passed < 3; }
  bool Unsearched(size_t) override { return true; }
  int passed = 0;
};

TEST(Packed, BombIsGivenUpAtTheRatioAndStopsAtOnce) {
  TempTree t;
  const long long huge = 1ll << 30;  // a gigabyte of NUL bytes in a few kilobytes
  WriteArchive(t.Path("bomb.zst"), ARCHIVE_FORMAT_RAW, ARCHIVE_FILTER_ZSTD,
               {{"data", "needle\n", huge}});
  WriteArchive(t.Path("bomb.tar.zst"), ARCHIVE_FORMAT_TAR_USTAR, ARCHIVE_FILTER_ZSTD,
               {{"zeros.bin", "", huge}, {"after.txt", "needle\n"}});
  ASSERT_LT(test::ReadFile(t.Path("bomb.zst")).size() * kExpansionRatio, size_t{1} << 30);
  const auto start = std::chrono::steady_clock::now();
  const Outcome o = Find("-z -a '" + t.root() + "' '*' needle");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  const std::string why =
      ": given up: its content expands more than 1000 times (a "
      "decompression bomb)\n";
  EXPECT_EQ(o.out, t.root() + "bomb.zst (0)  :  needle\n");
  // The member is given up as it is read, and the listing of the members after it too.
  EXPECT_EQ(o.err, "vorn-find: " + t.root() + "bomb.tar.zst//zeros.bin" + why +
                       "vorn-find: " + t.root() + "bomb.tar.zst" + why + "vorn-find: " + t.root() +
                       "bomb.zst" + why);
  EXPECT_EQ(o.status, 2);

  // Stop is heard at every stretch of the content, long before the ratio gives up.
  FileReader reader;
  reader.SetPacked(true);
  ASSERT_TRUE(reader.Open(t.Path("bomb.zst")));
  StopAt hooks;
  FileScan scan(hooks);
  SearchOptions options;
  options.query = "never there";
  EXPECT_EQ(scan.Run(reader, std::make_shared<const LineMatcher>(options)), FileScan::End::Stopped);
  EXPECT_EQ(hooks.passed, 3);
}

// The bytes this process has read so far, by any call.
long long BytesRead() {
  std::ifstream io("/proc/self/io");
  std::string key;
  long long value = 0;
  while (io >> key >> value)
    if (key == "rchar:") return value;
  return -1;
}

// A compressed tar is decompressed once: the members the listing read through to reach the
// next are searched as it read them, on one thread or on several.
TEST(Packed, ACompressedTarIsReadOnce) {
  TempTree t;
  std::mt19937 random(7);
  std::vector<Member> members;
  for (int i = 0; i < 40; ++i) {
    std::string bytes(32 << 10, ' ');
    for (char& c : bytes) c = static_cast<char>('a' + random() % 26);
    members.push_back({"m" + std::to_string(i) + ".txt", bytes + "\nneedle\n"});
  }
  WriteArchive(t.Path("a.tar.gz"), ARCHIVE_FORMAT_TAR_USTAR, ARCHIVE_FILTER_GZIP, members);
  const auto size = static_cast<long long>(test::ReadFile(t.Path("a.tar.gz")).size());
  struct Count : ResultsSink {
    size_t hits = 0;
    void Lines(std::span<const SearchHit> lines) override { hits += lines.size(); }
  };
  for (const unsigned threads : {1u, 2u}) {
    Count sink;
    SearchOptions o;
    o.query = "needle";
    o.packed = true;
    const long long before = BytesRead();
    SearchRun run(t.root(), "*", true, o, sink);
    run.SetThreads(threads);
    EXPECT_EQ(run.Run(), SearchEnd::Finished);
    EXPECT_EQ(sink.hits, members.size());
    EXPECT_LT(BytesRead() - before, size + size / 2) << threads << " threads";
  }
}

}  // namespace
}  // namespace vorn
