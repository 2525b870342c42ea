#include "SaveResults.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFileDialog>
#include <QProgressDialog>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <utility>
#include <vector>

#include "Fd.h"
#include "ResultListModel.h"
#include "ScopeExit.h"
#include "TextBytes.h"

namespace vorn {

namespace {

constexpr size_t kFlushBytes = size_t{1} << 20;
constexpr size_t kRowsBetweenAsks = 4096;

[[noreturn]] void Fail(const std::string& path, int error) {
  throw std::runtime_error("Cannot save the results to " + path + ": " + std::strerror(error));
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

SaveTargetChooser& Chooser() {
  static SaveTargetChooser chooser;
  return chooser;
}

const QString kLinesFilter = QStringLiteral("Result lines (*.txt)");
const QString kCsvFilter = QStringLiteral("CSV (*.csv)");
const QString kJsonFilter = QStringLiteral("JSON Lines (*.jsonl)");

std::optional<SaveTarget> AskForTarget(QWidget* parent) {
  QString filter = kLinesFilter;
  const QString name = QFileDialog::getSaveFileName(
      parent, QStringLiteral("Save Results As"), QString(),
      kLinesFilter + QStringLiteral(";;") + kCsvFilter + QStringLiteral(";;") + kJsonFilter,
      &filter);
  if (name.isEmpty()) return std::nullopt;
  const ResultFormat chosen = filter == kCsvFilter    ? ResultFormat::Csv
                              : filter == kJsonFilter ? ResultFormat::JsonLines
                                                      : ResultFormat::Lines;
  const std::string path = ToBytes(name);
  return SaveTarget{path, FormatForName(path, chosen)};
}

}  // namespace

ResultFormat FormatForName(const std::string& path, ResultFormat fallback) {
  const auto ends = [&path](std::string_view suffix) {
    if (path.size() < suffix.size()) return false;
    for (size_t i = 0; i < suffix.size(); ++i)
      if (std::tolower(static_cast<unsigned char>(path[path.size() - suffix.size() + i])) !=
          suffix[i])
        return false;
    return true;
  };
  if (ends(".csv")) return ResultFormat::Csv;
  if (ends(".jsonl") || ends(".json")) return ResultFormat::JsonLines;
  if (ends(".txt")) return ResultFormat::Lines;
  return fallback;
}

bool WriteResults(const ResultListModel& model, const std::string& path, ResultFormat format,
                  const std::function<bool(size_t)>& goOn) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "./" : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty()) Fail(path, EISDIR);
  std::string temporary = folder + "." + name + ".XXXXXX";
  Fd out(mkostemp(temporary.data(), O_CLOEXEC));
  if (!out.ok()) Fail(path, errno);
  bool kept = false;
  const ScopeExit cleanUp([&] {
    if (!kept) unlink(temporary.c_str());
  });
  // The permissions of the file replaced, else those a new file gets.
  struct stat st {};
  mode_t mode = 0;
  if (stat(path.c_str(), &st) == 0) {
    mode = st.st_mode & 07777;
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  if (fchmod(out.fd(), mode) != 0) Fail(path, errno);

  std::string buffer(ResultHeader(format));
  buffer.reserve(kFlushBytes + 65536);
  std::vector<MatchRange> matches;
  const size_t rows = model.Total();
  for (size_t row = 0; row < rows; ++row) {
    if (row % kRowsBetweenAsks == 0 && goOn && !goOn(row)) return false;
    SearchHit hit = model.Hit(row);
    if (format != ResultFormat::Lines) {
      model.Matches(row, matches);
      hit.matches = matches;
    }
    AppendResultRecord(buffer, format, hit);
    if (buffer.size() >= kFlushBytes) {
      if (!WriteAll(out.fd(), buffer)) Fail(path, errno ? errno : EIO);
      buffer.clear();
    }
  }
  if (!WriteAll(out.fd(), buffer)) Fail(path, errno ? errno : EIO);
  if (close(out.release()) != 0) Fail(path, errno);
  if (rename(temporary.c_str(), path.c_str()) != 0) Fail(path, errno);
  kept = true;
  return true;
}

void SaveResultsAs(QWidget* parent, const ResultListModel& model) {
  const std::optional<SaveTarget> target = Chooser() ? Chooser()(parent) : AskForTarget(parent);
  if (!target) return;
  const size_t rows = model.Total();
  QProgressDialog progress(QStringLiteral("Saving %1 results...").arg(rows), QStringLiteral("Stop"),
                           0, static_cast<int>(std::min<size_t>(rows, INT32_MAX)), parent);
  progress.setWindowTitle(QStringLiteral("Save Results As"));
  progress.setWindowModality(Qt::WindowModal);
  progress.setMinimumDuration(400);
  progress.setAutoReset(false);
  WriteResults(model, target->path, target->format, [&progress](size_t done) {
    progress.setValue(static_cast<int>(std::min<size_t>(done, INT32_MAX)));
    return !progress.wasCanceled();
  });
}

SaveTargetChooser SetSaveTargetChooser(SaveTargetChooser chooser) {
  return std::exchange(Chooser(), std::move(chooser));
}

}  // namespace vorn
