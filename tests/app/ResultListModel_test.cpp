#include "ResultListModel.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QSize>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "SearchRun.h"

namespace vorn {

namespace {

// Hands one hit over as the search does, from bytes that do not outlive the call.
void Add(ResultListModel& model, std::string path, size_t index, std::string text) {
  const vorn::SearchHit hit{path, index, text};
  model.Add({&hit, 1});
}

TEST(ResultListModel, PublishesInBatchesAndKeepsEveryHitsFields) {
  ResultListModel model;
  QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
  // One batch, two files.
  const std::string a = "/d/a.txt", b = "/d/b (1).txt";
  const vorn::SearchHit batch[] = {{a, 0, "first"}, {a, 7, ""}, {b, 12, "x(2) : y"}};
  model.Add(batch);
  EXPECT_EQ(model.rowCount(), 0);  // nothing is shown before the batch is published
  EXPECT_EQ(model.Total(), 3u);
  model.Publish();
  model.Publish();  // nothing new: no empty insertion
  ASSERT_EQ(inserted.count(), 1);
  EXPECT_EQ(inserted.at(0).at(1).toInt(), 0);
  EXPECT_EQ(inserted.at(0).at(2).toInt(), 2);
  EXPECT_EQ(model.rowCount(), 3);

  const vorn::SearchHit item = model.Hit(2);
  EXPECT_EQ(item.path, "/d/b (1).txt");
  EXPECT_EQ(item.lineIndex, 12u);
  EXPECT_EQ(item.text, "x(2) : y");
  EXPECT_EQ(model.ResultLine(2), "/d/b (1).txt (12)  :  x(2) : y");
  EXPECT_EQ(model.ResultLine(1), "/d/a.txt (7)  :  ");
  EXPECT_EQ(model.index(0, 0).data().toString(), QStringLiteral("/d/a.txt (0)  :  first"));
  EXPECT_EQ(model.index(0, 0).data(Qt::SizeHintRole).toSize().height(), 13);
  EXPECT_FALSE(model.index(3, 0).isValid());
  EXPECT_FALSE(model.index(0, 1).isValid());  // one column, no children
  EXPECT_FALSE(model.index(0, 0, model.index(0, 0)).isValid());

  Add(model, "/d/c.txt", 1, "later");
  model.Publish();
  EXPECT_EQ(inserted.count(), 2);
  EXPECT_EQ(model.rowCount(), 4);

  model.Clear();
  EXPECT_EQ(model.rowCount(), 0);
  EXPECT_EQ(model.Total(), 0u);
  Add(model, "/e", 3, "again");
  model.Publish();
  EXPECT_EQ(model.ResultLine(0), "/e (3)  :  again");
}

// Many long lines spread over several storage chunks read back unchanged, and paths that
// come back after another file's hits are kept apart.
TEST(ResultListModel, KeepsTextsAcrossStorageChunks) {
  ResultListModel model;
  const int n = 1200;
  auto text = [](int i) {
    return std::string(4096 - static_cast<size_t>(i % 5), static_cast<char>('a' + i % 26)) +
           std::to_string(i);
  };
  for (int i = 0; i < n; ++i)
    Add(model, i % 3 ? "/p/one" : "/p/two", static_cast<size_t>(i), text(i));
  model.Publish();
  ASSERT_EQ(model.rowCount(), n);
  for (int i = 0; i < n; ++i) {
    const vorn::SearchHit item = model.Hit(static_cast<size_t>(i));
    ASSERT_EQ(item.text, text(i)) << i;
    ASSERT_EQ(item.path, i % 3 ? "/p/one" : "/p/two") << i;
    ASSERT_EQ(item.lineIndex, static_cast<size_t>(i));
  }
}

// Hits a run kept on the model's shelf are shown where they lie, those handed over without
// one are copied; both keep their ranges cut to the kept text, rows in the order given, each
// with its own file's path.
TEST(ResultListModel, ShowsKeptHitsWhereTheyLieAndCopiesTheOthers) {
  ResultListModel model;
  HitShelf::Writer writer(*model.NewShelf());
  const std::string a = "/d/a", b = "/d/b";
  const std::string longLine = std::string(70000, 'x');
  const MatchRange cut[] = {{0, 2}, {4, 9}};
  const MatchRange beyond[] = {{65530, 65540}, {65535, 65536}, {69000, 69001}};
  const MatchRange one[] = {{1, 2}};
  const auto kept = [&](const std::string& path, size_t line, std::string_view text,
                        std::span<const MatchRange> matches) {
    SearchHit hit{path, line, {}, false, matches};
    hit.kept = writer.Put(line, text, false, matches);
    hit.text = hit.kept->Text();
    return hit;
  };
  const SearchHit hits[] = {kept(a, 1, "abcdef", cut), SearchHit{a, 2, "xyz", false, one},
                            kept(a, 3, "kept", {}), kept(b, 4, longLine, beyond),
                            kept(b, 5, "b5", one)};
  model.Add(hits);
  model.Publish();
  ASSERT_EQ(model.rowCount(), 5);
  const struct {
    const std::string& path;
    size_t line;
    size_t textSize;
    std::vector<MatchRange> matches;
  } want[] = {{a, 1, 6, {{0, 2}, {4, 6}}},
              {a, 2, 3, {{1, 2}}},
              {a, 3, 4, {}},
              {b, 4, HitShelf::kMaxText, {{65530, 65535}}},
              {b, 5, 2, {{1, 2}}}};
  std::vector<MatchRange> matches;
  for (size_t row = 0; row < 5; ++row) {
    const SearchHit hit = model.Hit(row);
    EXPECT_EQ(hit.path, want[row].path) << row;
    EXPECT_EQ(hit.lineIndex, want[row].line) << row;
    EXPECT_EQ(hit.text.size(), want[row].textSize) << row;
    model.Matches(row, matches);
    EXPECT_EQ(matches, want[row].matches) << row;
  }
  EXPECT_EQ(model.Hit(0).text, "abcdef");
  EXPECT_EQ(model.Hit(1).text, "xyz");
  EXPECT_EQ(model.Files(), 2u);
  EXPECT_EQ(model.LongestText(), HitShelf::kMaxText);
  EXPECT_THROW(model.Hit(5), std::out_of_range);
}

}  // namespace
}  // namespace vorn
