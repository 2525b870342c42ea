#include "ReplaceWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <future>

#include "ErrorBox.h"
#include "FileMask.h"
#include "ResultsSink.h"
#include "RunPacer.h"
#include "SafeWrite.h"
#include "ScopeExit.h"
#include "SearchRun.h"
#include "Substitution.h"
#include "TextBytes.h"
#include "VornUnit1.h"
#include "dxCoreUtils.h"
#include "io.h"

namespace vorn {

namespace {

// A match row's line before and after, each as the text before the change, the changed part
// and the text after it.
constexpr int kParts = Qt::UserRole + 1;
constexpr int kPlan = Qt::UserRole + 2;
// Bytes of a line shown on either side of its match.
constexpr size_t kAround = 60;
// Files written at once.
constexpr size_t kWritersAtOnce = 8;

const QColor kRemoved(0xF8, 0xC8, 0xC8);
const QColor kAdded(0xC0, 0xEC, 0xC0);

QString Excerpt(std::string_view line, size_t from, size_t to) {
  return ShownBytes(line.substr(from, to - from));
}

// The line around one match, before and after it is replaced.
QStringList Parts(std::string_view line, MatchRange m, std::string_view with) {
  size_t from = m.begin > kAround ? m.begin - kAround : 0;
  while (from > 0 && (static_cast<unsigned char>(line[from]) & 0xC0) == 0x80) --from;
  size_t to = std::min(line.size(), m.end + kAround);
  while (to < line.size() && (static_cast<unsigned char>(line[to]) & 0xC0) == 0x80) ++to;
  const QString lead = from > 0 ? QStringLiteral("\u2026") : QString();
  const QString tail = to < line.size() ? QStringLiteral("\u2026") : QString();
  const QString prefix = lead + Excerpt(line, from, m.begin);
  const QString suffix = Excerpt(line, m.end, to) + tail;
  return {prefix, Excerpt(line, m.begin, m.end), suffix, prefix, ShownBytes(with), suffix};
}

// Paints a match row as two lines, the changed parts on their colour.
class MatchDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    const QStringList parts = index.data(kParts).toStringList();
    if (parts.size() != 6) {
      QStyledItemDelegate::paint(painter, option, index);
      return;
    }
    QStyleOptionViewItem opt(option);
    initStyleOption(&opt, index);
    opt.text.clear();
    const QWidget* widget = opt.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
    const QRect area = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, widget);
    painter->save();
    painter->setClipRect(area);
    const QFontMetrics metrics(opt.font);
    const int height = metrics.height();
    for (int row = 0; row < 2; ++row) {
      int x = area.left() + 2;
      const int top = area.top() + 2 + row * height;
      const QString marks[] = {row == 0 ? QStringLiteral("\u2212 ") : QStringLiteral("+ "),
                               parts[row * 3], parts[row * 3 + 1], parts[row * 3 + 2]};
      for (int k = 0; k < 4 && x < area.right(); ++k) {
        const int width = metrics.horizontalAdvance(marks[k]);
        if (k == 2)
          painter->fillRect(QRect(x, top, std::max(width, 2), height), row ? kAdded : kRemoved);
        painter->drawText(QRect(x, top, width + 1, height), Qt::AlignLeft | Qt::AlignVCenter,
                          marks[k]);
        x += width;
      }
    }
    painter->restore();
  }

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    if (index.data(kParts).isValid()) size.setHeight(2 * QFontMetrics(option.font).height() + 4);
    return size;
  }
};

// Every match row of a file row: whether it is checked.
MatchChoice Chosen(const QTreeWidgetItem* file) {
  MatchChoice chosen(static_cast<size_t>(file->childCount()));
  for (int k = 0; k < file->childCount(); ++k)
    chosen[static_cast<size_t>(k)] = file->child(k)->checkState(0) == Qt::Checked;
  return chosen;
}

std::string Resolved(const std::string& folder) {
  char* real = realpath(folder.empty() ? "." : folder.c_str(), nullptr);
  if (!real) return {};
  std::string resolved = real;
  std::free(real);
  return resolved;
}

QString Plural(size_t n, const char* one, const char* many) {
  return QStringLiteral("%1 %2").arg(n).arg(QString::fromUtf8(n == 1 ? one : many));
}

}  // namespace

// The preview's side of the search run: a file's hit lines are gathered until the run goes on
// to the next file, then planned and listed; the run pumps the window's events at the
// throttle's pace and stops when asked.
class ReplaceWindow::Collector : public ResultsSink, public RunPacer {
 public:
  Collector(ReplaceWindow& window, const Substitution& substitution)
      : window_(window), substitution_(substitution) {}

  void Lines(std::span<const SearchHit> hits) override {
    for (const SearchHit& hit : hits) {
      if (hit.kind != FoundKind::Hit) continue;
      if (hit.path != file_) {
        End();
        file_ = hit.path;
      }
      ranges_[hit.lineIndex].assign(hit.matches.begin(), hit.matches.end());
    }
  }
  void FileEnds(std::string_view path, const FileSummary& summary) override {
    (void)path;
    (void)summary;
    End();
  }
  bool PumpDue() override { return window_.throttle_.Due(); }
  void Pump(const RunProgress& at) override {
    (void)at;
    window_.Pump();
  }
  bool StopRequested() override { return window_.stopRequested_; }
  bool ListingGoesOn() override { return !window_.stopRequested_; }

  void End() {
    if (file_.empty()) return;
    FilePlan plan = PlanFile(file_, substitution_, &ranges_);
    ranges_.clear();
    file_.clear();
    window_.AddFile(std::move(plan));
  }

 private:
  ReplaceWindow& window_;
  const Substitution& substitution_;
  std::string file_;
  HitRanges ranges_;
};

namespace {

// A captioned control with the object name the tests and style sheets find it by.
template <class Control>
Control* Named(QWidget* parent, const char* caption, const char* name) {
  auto* control = new Control(QString::fromUtf8(caption), parent);
  control->setObjectName(QString::fromUtf8(name));
  return control;
}

}  // namespace

ReplaceWindow::ReplaceWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("ReplaceWindow"));
  setWindowTitle(QStringLiteral("Replace in Files"));
  auto* fields = new QGridLayout;
  const auto field = [&](int row, const char* label, const char* name) {
    auto* edit = new QLineEdit(this);
    edit->setObjectName(QString::fromUtf8(name));
    auto* caption = new QLabel(QString::fromUtf8(label), this);
    caption->setBuddy(edit);
    fields->addWidget(caption, row, 0);
    fields->addWidget(edit, row, 1);
    return edit;
  };
  directory = field(0, "&Directory:", "Directory");
  mask = field(1, "File search &mask:", "Mask");
  text = field(2, "&Text:", "Text");
  with = field(3, "Replace &with:", "ReplaceWith");
  subdirectories = Named<QCheckBox>(this, "Include &Subdirectory", "IncludeSubdirectory");
  wholeWord = Named<QCheckBox>(this, "Whole W&ord", "WholeWord");
  matchCase = Named<QCheckBox>(this, "Match &Case", "MatchCase");
  regex = Named<QCheckBox>(this, "Regular e&xpression", "RegularExpression");
  auto* options = new QHBoxLayout;
  for (QCheckBox* check : {subdirectories, wholeWord, matchCase, regex}) options->addWidget(check);
  options->addStretch();

  previewButton = Named<QPushButton>(this, "&Preview", "Preview");
  stopButton = Named<QPushButton>(this, "S&top", "Stop");
  replaceButton = Named<QPushButton>(this, "&Replace", "Replace");
  undoButton = Named<QPushButton>(this, "&Undo Last Replace", "UndoLastReplace");
  auto* buttons = new QHBoxLayout;
  for (QPushButton* b : {previewButton, stopButton, replaceButton, undoButton})
    buttons->addWidget(b);
  buttons->addStretch();

  matches = new QTreeWidget(this);
  matches->setObjectName(QStringLiteral("Matches"));
  matches->setHeaderHidden(true);
  matches->setColumnCount(1);
  matches->setUniformRowHeights(false);
  matches->setItemDelegate(new MatchDelegate(matches));
  progress = new QProgressBar(this);
  progress->setObjectName(QStringLiteral("Progress"));
  progress->setVisible(false);
  report = new QListWidget(this);
  report->setObjectName(QStringLiteral("Report"));
  report->setMaximumHeight(120);
  status = new QLabel(this);
  status->setObjectName(QStringLiteral("Status"));

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(fields);
  layout->addLayout(options);
  layout->addLayout(buttons);
  layout->addWidget(matches, 1);
  layout->addWidget(progress);
  layout->addWidget(report);
  layout->addWidget(status);
  resize(760, 560);

  const auto on = [this](void (ReplaceWindow::*handler)()) {
    return [this, handler] { Guarded(this, [this, handler] { (this->*handler)(); }); };
  };
  connect(previewButton, &QPushButton::clicked, this, on(&ReplaceWindow::Preview));
  connect(stopButton, &QPushButton::clicked, this, on(&ReplaceWindow::Stop));
  connect(replaceButton, &QPushButton::clicked, this, on(&ReplaceWindow::Replace));
  connect(undoButton, &QPushButton::clicked, this, on(&ReplaceWindow::UndoLastReplace));
  connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { Stop(); });

  confirm = [this](const QString& question, size_t outside, bool& allowOutside) {
    QMessageBox ask(QMessageBox::Question, windowTitle(), question,
                    QMessageBox::Yes | QMessageBox::No, this);
    QCheckBox* also = nullptr;
    if (outside > 0) {
      also = new QCheckBox(QStringLiteral("Also replace in the %1 outside the folder")
                               .arg(Plural(outside, "file", "files")));
      ask.setCheckBox(also);
    }
    const bool yes = ask.exec() == QMessageBox::Yes;
    allowOutside = also && also->isChecked();
    return yes;
  };
  SetBusy(false);
}

ReplaceWindow::~ReplaceWindow() = default;

void ReplaceWindow::Fill(const QString& folder, const QString& fileMask,
                         const SearchOptions& options, bool subfolders) {
  directory->setText(folder);
  mask->setText(fileMask);
  text->setText(FromBytes(options.query));
  wholeWord->setChecked(options.wholeWord);
  matchCase->setChecked(options.matchCase);
  regex->setChecked(options.regex);
  subdirectories->setChecked(subfolders);
}

SearchOptions ReplaceWindow::Options() const {
  return SearchOptions{ToBytes(text->text()), wholeWord->isChecked(), matchCase->isChecked(),
                       regex->isChecked()};
}

void ReplaceWindow::SetBusy(bool busy) {
  busy_ = busy;
  for (QWidget* w :
       {static_cast<QWidget*>(previewButton), static_cast<QWidget*>(directory),
        static_cast<QWidget*>(mask), static_cast<QWidget*>(text), static_cast<QWidget*>(with)})
    w->setEnabled(!busy);
  stopButton->setEnabled(busy);
  replaceButton->setEnabled(!busy && previewMatches_ > 0);
  undoButton->setEnabled(!busy && undo_.Count() > 0);
}

void ReplaceWindow::Pump() {
  throttle_.BeginPump();
  QCoreApplication::processEvents();
  throttle_.EndPump();
}

void ReplaceWindow::closeEvent(QCloseEvent* event) {
  // A run under way stops at its next pump; the window closes once it has.
  if (busy_) {
    Stop();
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
}

void ReplaceWindow::Preview() {
  if (busy_) return;
  const SearchOptions options = Options();
  std::string error;
  const auto substitution = Substitution::Make(options, ToBytes(with->text()), &error);
  if (!substitution) {
    ShowErrorBox(this, QStringLiteral("Cannot replace: %1.").arg(FromBytes(error)));
    return;
  }
  const std::string fileMask = ToBytes(mask->text());
  if (const FileMask files(fileMask); !files.Fault().empty()) {
    ShowErrorBox(this, FromBytes("File search: " + files.Fault()));
    return;
  }
  const std::string folder = AddTrailingBackslash(ToBytes(directory->text()));
  folder_ = Resolved(folder);
  if (folder_.empty()) {
    ShowErrorBox(this, FromBytes(folder + ": " + std::strerror(errno)));
    return;
  }
  matches->clear();
  plans_.clear();
  report->clear();
  previewMatches_ = 0;
  stopRequested_ = false;
  SetBusy(true);
  status->setText(ShownBytes("Searching : " + folder));
  const ScopeExit idle([this] {
    throttle_.Finish();
    SetBusy(false);
  });
  Collector collector(*this, *substitution);
  SearchRun run(folder, fileMask, subdirectories->isChecked(), options, collector, &collector);
  run.SetThreads(0);
  throttle_.Start();
  run.Run();
  collector.End();
  status->setText(QStringLiteral("%1 in %2%3")
                      .arg(Plural(previewMatches_, "match", "matches"),
                           Plural(plans_.size(), "file", "files"),
                           stopRequested_ ? QStringLiteral(" (stopped)") : QString()));
}

void ReplaceWindow::AddFile(FilePlan plan) {
  const size_t count = plan.Matches();
  if (count == 0 && plan.refusal.empty()) return;
  auto* file = new QTreeWidgetItem;
  file->setData(0, kPlan, static_cast<qulonglong>(plans_.size()));
  const QString path = ShownBytes(plan.path);
  if (!plan.refusal.empty()) {
    file->setText(0,
                  QStringLiteral("%1  \u2014 left alone: %2").arg(path, FromBytes(plan.refusal)));
    file->setFlags(Qt::ItemIsEnabled);
  } else {
    file->setText(0, QStringLiteral("%1  (%2)").arg(path, Plural(count, "match", "matches")));
    file->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsAutoTristate);
    file->setCheckState(0, Qt::Checked);
    QList<QTreeWidgetItem*> rows;
    rows.reserve(static_cast<qsizetype>(count));
    for (const LineChange& line : plan.lines) {
      for (size_t j = 0; j < line.matches.size(); ++j) {
        auto* row = new QTreeWidgetItem;
        const QStringList parts = Parts(line.before, line.matches[j], line.with[j]);
        row->setData(0, kParts, parts);
        row->setText(0, QStringLiteral("%1: %2%3%4 \u2192 %5%6%7")
                            .arg(line.lineIndex)
                            .arg(parts[0], parts[1], parts[2], parts[3], parts[4], parts[5]));
        row->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsSelectable);
        row->setCheckState(0, Qt::Checked);
        rows.push_back(row);
      }
    }
    file->addChildren(rows);
    previewMatches_ += count;
  }
  plans_.push_back(std::move(plan));
  matches->addTopLevelItem(file);
}

void ReplaceWindow::Replace() {
  if (busy_ || plans_.empty()) return;
  size_t total = 0, files = 0, outside = 0;
  for (int i = 0; i < matches->topLevelItemCount(); ++i) {
    const QTreeWidgetItem* file = matches->topLevelItem(i);
    const FilePlan& plan = plans_[file->data(0, kPlan).toULongLong()];
    if (!plan.refusal.empty()) continue;
    const MatchChoice chosen = Chosen(file);
    const auto n = static_cast<size_t>(std::count(chosen.begin(), chosen.end(), true));
    if (n == 0) continue;
    total += n;
    ++files;
    outside += Outside(plan.target, folder_) ? 1 : 0;
  }
  if (total == 0) {
    status->setText(QStringLiteral("No match is checked."));
    return;
  }
  QString question = QStringLiteral("Replace %1 in %2?")
                         .arg(Plural(total, "match", "matches"), Plural(files, "file", "files"));
  if (outside > 0)
    question += QStringLiteral("\n%1 outside the folder (reached by links).")
                    .arg(outside == 1 ? QStringLiteral("1 of the files lies")
                                      : QStringLiteral("%1 of the files lie").arg(outside));
  bool allowOutside = false;
  if (!confirm(question, outside, allowOutside)) return;

  undo_.Clear();
  report->clear();
  stopRequested_ = false;
  SetBusy(true);
  progress->setRange(0, static_cast<int>(std::min<size_t>(files, INT_MAX)));
  progress->setValue(0);
  progress->setVisible(true);
  const ScopeExit idle([this] {
    throttle_.Finish();
    progress->setVisible(false);
    previewMatches_ = 0;
    SetBusy(false);
  });
  const WriteRules rules{folder_, allowOutside};
  size_t replaced = 0, replacedFiles = 0, left = 0, done = 0;
  // Most of a file's write waits for the disk: a few files are written at once, and what was
  // done is listed in the preview's order while the window keeps its events going.
  struct Writing {
    const FilePlan* plan;
    std::future<WriteOutcome> outcome;
  };
  std::deque<Writing> writing;
  const auto finish = [&] {
    Writing& first = writing.front();
    while (first.outcome.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready)
      if (throttle_.Due()) Pump();
    const WriteOutcome outcome = first.outcome.get();
    const QString path = ShownBytes(first.plan->path);
    writing.pop_front();
    if (outcome.replaced) {
      replaced += outcome.matches;
      ++replacedFiles;
      report->addItem(
          QStringLiteral("Replaced %1: %2").arg(Plural(outcome.matches, "match", "matches"), path));
    } else {
      ++left;
      report->addItem(
          QStringLiteral("Left alone: %1 \u2014 %2").arg(path, FromBytes(outcome.reason)));
    }
    progress->setValue(static_cast<int>(std::min<size_t>(++done, INT_MAX)));
    if (throttle_.Due()) Pump();
  };
  throttle_.Start();
  for (int i = 0; i < matches->topLevelItemCount() && !stopRequested_; ++i) {
    const QTreeWidgetItem* file = matches->topLevelItem(i);
    const FilePlan& plan = plans_[file->data(0, kPlan).toULongLong()];
    MatchChoice chosen = Chosen(file);
    if (!plan.refusal.empty() || std::count(chosen.begin(), chosen.end(), true) == 0) continue;
    if (writing.size() >= kWritersAtOnce) finish();
    writing.push_back({&plan, std::async(std::launch::async, [this, &plan, &rules, chosen] {
                         return ReplaceInFile(plan, chosen, rules, &undo_);
                       })});
  }
  // Stop leaves the files not yet begun untouched; those under way are finished.
  while (!writing.empty()) finish();
  status->setText(
      QStringLiteral("%1 replaced in %2%3%4")
          .arg(Plural(replaced, "match", "matches"), Plural(replacedFiles, "file", "files"),
               left ? QStringLiteral("; %1 left alone").arg(Plural(left, "file", "files"))
                    : QString(),
               stopRequested_ ? QStringLiteral(" (stopped)") : QString()));
  // The preview shows files as they were: a new one is needed before replacing again.
  matches->clear();
  plans_.clear();
}

void ReplaceWindow::UndoLastReplace() {
  if (busy_ || undo_.Count() == 0) return;
  report->clear();
  size_t restored = 0, left = 0;
  SetBusy(true);
  const std::vector<UndoStore::Outcome> outcomes = undo_.Undo([this] {
    if (throttle_.Due()) Pump();
  });
  for (const UndoStore::Outcome& outcome : outcomes) {
    const QString path = ShownBytes(outcome.path);
    if (outcome.restored) {
      ++restored;
      report->addItem(QStringLiteral("Put back: %1").arg(path));
    } else {
      ++left;
      report->addItem(
          QStringLiteral("Left alone: %1 \u2014 %2").arg(path, FromBytes(outcome.reason)));
    }
  }
  status->setText(
      QStringLiteral("%1 put back%2")
          .arg(Plural(restored, "file", "files"),
               left ? QStringLiteral("; %1 left alone").arg(Plural(left, "file", "files"))
                    : QString()));
  SetBusy(false);
}

ReplaceWindow& ShowReplaceWindow(TForm1& form) {
  auto* window =
      form.findChild<ReplaceWindow*>(QStringLiteral("ReplaceWindow"), Qt::FindDirectChildrenOnly);
  if (!window) window = new ReplaceWindow(&form);
  if (!window->Busy())
    window->Fill(form.ComboBox3->currentText(), form.ComboBox1->currentText(),
                 form.CurrentOptions(), form.Checkbox3->Checked());
  window->show();
  window->raise();
  window->activateWindow();
  return *window;
}

}  // namespace vorn
