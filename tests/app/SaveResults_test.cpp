// The result list written out: each format read back by a reader of its own kind, and the
// file under the chosen name whole or not there at all.
#include "SaveResults.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <stdexcept>
#include <string>
#include <vector>

#include "ResultListModel.h"
#include "TempTree.h"

namespace vorn {
namespace {

// RFC 4180: fields split at commas, records at CRLF, quoted fields with doubled quotes.
std::vector<std::vector<std::string>> ReadCsv(const std::string& text) {
  std::vector<std::vector<std::string>> rows(1);
  std::string field;
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      rows.back().push_back(std::move(field));
      field.clear();
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      rows.back().push_back(std::move(field));
      field.clear();
      rows.emplace_back();
      ++i;
    } else {
      field += c;
    }
  }
  rows.pop_back();  // after the last CRLF
  return rows;
}

size_t Entries(const std::string& folder) {
  size_t n = 0;
  DIR* d = opendir(folder.c_str());
  while (dirent* e = readdir(d)) n += e->d_name[0] != '.' || e->d_name[1] > '.' ? 1 : 0;
  closedir(d);
  return n;
}

TEST(SaveResults, EveryFormatReadsBackAndNoPartialFileIsLeft) {
  test::TempTree tree;
  const std::string latin1 = "/t/caf\xE9.txt";
  const MatchRange a[] = {{4, 7}, {12, 15}};
  const MatchRange b[] = {{1, 2}};
  const SearchHit hits[] = {
      {"/t/a,b.txt", 4, "say \"hi\", \tx hi", false, a},
      {latin1, 0, "x\xE9", false, b},
      {"/t/none.txt", 9, "plain", false, {}},
  };
  ResultListModel model;
  model.Add(hits);

  const std::string lines = tree.Path("r.txt");
  ASSERT_TRUE(WriteResults(model, lines, ResultFormat::Lines));
  EXPECT_EQ(test::ReadFile(lines), "/t/a,b.txt (4)  :  say \"hi\", \tx hi\n" + latin1 +
                                       " (0)  :  x\xE9\n/t/none.txt (9)  :  plain\n");

  const std::string csv = tree.Path("r.csv");
  ASSERT_TRUE(WriteResults(model, csv, FormatForName(csv, ResultFormat::Lines)));
  EXPECT_EQ(ReadCsv(test::ReadFile(csv)),
            (std::vector<std::vector<std::string>>{{"path", "line", "column", "text"},
                                                   {"/t/a,b.txt", "5", "5", "say \"hi\", \tx hi"},
                                                   {latin1, "1", "2", "x\xE9"},
                                                   {"/t/none.txt", "10", "", "plain"}}));

  const std::string json = tree.Path("r.jsonl");
  ASSERT_TRUE(WriteResults(model, json, FormatForName(json, ResultFormat::Lines)));
  const QList<QByteArray> records = QByteArray::fromStdString(test::ReadFile(json)).split('\n');
  ASSERT_EQ(records.size(), 4);  // and the empty piece after the last line break
  std::vector<QJsonObject> objects;
  for (int i = 0; i < 3; ++i) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(records[i], &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << records[i].toStdString();
    objects.push_back(doc.object());
  }
  EXPECT_EQ(objects[0][QLatin1String("type")].toString(), QStringLiteral("match"));
  EXPECT_EQ(objects[0][QLatin1String("path")][QLatin1String("text")].toString(),
            QStringLiteral("/t/a,b.txt"));
  EXPECT_EQ(objects[0][QLatin1String("line")].toInt(), 4);
  EXPECT_EQ(objects[0][QLatin1String("text")][QLatin1String("text")].toString(),
            QStringLiteral("say \"hi\", \tx hi"));
  const QJsonArray matches = objects[0][QLatin1String("matches")].toArray();
  ASSERT_EQ(matches.size(), 2);
  EXPECT_EQ(matches[1][QLatin1String("start")].toInt(), 12);
  EXPECT_EQ(matches[1][QLatin1String("end")].toInt(), 15);
  EXPECT_EQ(QByteArray::fromBase64(
                objects[1][QLatin1String("path")][QLatin1String("bytes")].toString().toLatin1())
                .toStdString(),
            latin1);
  EXPECT_EQ(QByteArray::fromBase64(
                objects[1][QLatin1String("text")][QLatin1String("bytes")].toString().toLatin1())
                .toStdString(),
            "x\xE9");
  EXPECT_TRUE(objects[2][QLatin1String("matches")].toArray().isEmpty());

  // A stopped save and a failed one leave the file that was there, with its permissions,
  // and nothing beside it.
  chmod(lines.c_str(), 0640);
  const std::string before = test::ReadFile(lines);
  EXPECT_FALSE(WriteResults(model, lines, ResultFormat::Csv, [](size_t) { return false; }));
  EXPECT_EQ(test::ReadFile(lines), before);
  EXPECT_EQ(Entries(tree.Path("")), 3u);
  ASSERT_TRUE(WriteResults(model, lines, ResultFormat::Csv));
  struct stat st {};
  ASSERT_EQ(stat(lines.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  try {
    WriteResults(model, tree.Path("no/such/folder.txt"), ResultFormat::Lines);
    ADD_FAILURE() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot save the results to " +
                                         tree.Path("no/such/folder.txt") +
                                         ": No such file or directory");
  }
  EXPECT_EQ(Entries(tree.Path("")), 3u);
}

}  // namespace
}  // namespace vorn
