// The version record in the program file and the build label that shows it.
#include "BuildLabel.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "TempTree.h"
#include "VersionRecord.h"

namespace vorn {

namespace {

using vorn::QueryVersionValue;
using vorn::ReadVersionRecord;
using vorn::test::TempTree;

const std::string kPath = "\\StringFileInfo\\040604E4\\FileVersion";

std::string Record(std::initializer_list<std::string> strings) {
  std::string r("VornVersionRecord\0", 18);
  for (const auto& s : strings) r += s + '\0';
  return r + '\0';
}

TEST(VersionRecord, LooksUpValuesByPath) {
  const std::string r = Record({"\\StringFileInfo\\040904E4\\FileVersion", "1.0", kPath, "0.9.0.13",
                                "\\StringFileInfo\\040604E4\\Empty", ""});
  EXPECT_EQ(QueryVersionValue(r, kPath), "0.9.0.13");
  EXPECT_EQ(QueryVersionValue(r, "\\stringfileinfo\\040604e4\\fileversion"), "0.9.0.13");
  EXPECT_EQ(QueryVersionValue(r, "\\StringFileInfo\\040604E4\\Empty"), "");
  EXPECT_EQ(QueryVersionValue(r, "\\StringFileInfo\\040604E4\\ProductVersion"), std::nullopt);
  EXPECT_EQ(QueryVersionValue(r, "\\StringFileInfo\\040604E4"), std::nullopt);
  // A damaged record gives nothing: no header, or a value that runs off the end.
  EXPECT_EQ(QueryVersionValue(r.substr(1), kPath), std::nullopt);
  std::string cut = Record({kPath, "0.9.0.13"});
  cut.resize(cut.size() - 2);
  EXPECT_EQ(QueryVersionValue(cut, kPath), std::nullopt);
  EXPECT_EQ(QueryVersionValue("", kPath), std::nullopt);
}

TEST(VersionRecord, ReadsTheSectionOfABuiltProgram) {
  const auto own = ReadVersionRecord("/proc/self/exe");
  ASSERT_TRUE(own);
  EXPECT_EQ(QueryVersionValue(*own, kPath), "0.9.0.13");
  const auto probe = ReadVersionRecord(VORN_PROBE);
  ASSERT_TRUE(probe);
  EXPECT_EQ(QueryVersionValue(*probe, kPath), "0.9.0.13");
  // Strings under another language and code page are not found under 040604E4.
  const auto other = ReadVersionRecord(VORN_PROBE_OTHER);
  ASSERT_TRUE(other);
  EXPECT_EQ(QueryVersionValue(*other, kPath), std::nullopt);
  EXPECT_EQ(QueryVersionValue(*other, "\\StringFileInfo\\040904B0\\FileVersion"), "7.7");
  EXPECT_EQ(ReadVersionRecord(VORN_PROBE_BARE), std::nullopt);
}

TEST(VersionRecord, DamagedOrForeignFilesGiveNothing) {
  TempTree t;
  std::ifstream in(VORN_PROBE, std::ios::binary);
  const std::string elf((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GT(elf.size(), 4096u);
  t.Write("empty", "");
  t.Write("text", "just some text, long enough to be read as a header, and then some more of it");
  t.Write("head", elf.substr(0, 64));
  t.Write("half", elf.substr(0, elf.size() / 2));  // section headers sit at the end
  std::string badOffset = elf;
  badOffset.replace(0x28, 8, std::string(8, '\xff'));
  t.Write("bad-offset", badOffset);
  std::string badNames = elf;
  badNames.replace(0x3E, 2, std::string("\xfe\x7f", 2));
  t.Write("bad-names", badNames);
  t.Fifo("fifo");
  t.MakeDir("dir");
  for (const char* name :
       {"empty", "text", "head", "half", "bad-offset", "bad-names", "fifo", "dir", "missing"})
    EXPECT_EQ(ReadVersionRecord(t.root() + name), std::nullopt) << name;
}

TEST(BuildLabel, ShowsTheProgramsFileVersion) {
  TBuildLabel own;
  EXPECT_EQ(own.TextCaption2(), QStringLiteral("Build"));
  EXPECT_EQ(own.Caption(), QStringLiteral("Build 0.9.0.13"));
  EXPECT_EQ(own.palette().color(QPalette::WindowText), QColor(Qt::blue));
  EXPECT_GE(own.width(), own.sizeHint().width());

  // No record, or no value in the 040604E4 table: the word and a blank.
  EXPECT_EQ(TBuildLabel(nullptr, VORN_PROBE_BARE).Caption(), QStringLiteral("Build "));
  EXPECT_EQ(TBuildLabel(nullptr, VORN_PROBE_OTHER).Caption(), QStringLiteral("Build "));

  // The word is stored at once but shown only after the next load, which replaces any caption.
  TBuildLabel label(nullptr, VORN_PROBE);
  label.setText(QStringLiteral("Build "));
  label.SetTextCaption2(QStringLiteral("Version"));
  EXPECT_EQ(label.Caption(), QStringLiteral("Build "));
  label.Loaded();
  EXPECT_EQ(label.Caption(), QStringLiteral("Version 0.9.0.13"));
}

}  // namespace
}  // namespace vorn
