// "Replace in Files...": a window of its own beside the main window. Preview runs the search
// and lists each file with its matches, every match's line before and after the change, with
// check boxes per file and per match; Replace writes the checked matches file by file (each
// file wholly old or wholly new), with progress and Stop, and lists what was replaced and what
// was left alone and why; Undo Last Replace puts back what the last replace changed.
#pragma once

#include <QWidget>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FilePlan.h"
#include "LineMatcher.h"
#include "PumpThrottle.h"
#include "UndoStore.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace vorn {

class TForm1;

class ReplaceWindow : public QWidget {
  Q_OBJECT
 public:
  explicit ReplaceWindow(QWidget* parent = nullptr);
  ~ReplaceWindow() override;

  // The main window's folder, mask, text and options, to edit here.
  void Fill(const QString& folder, const QString& mask, const SearchOptions& options,
            bool subdirectories);

  void Preview();
  void Replace();
  void Stop() { stopRequested_ = true; }
  void UndoLastReplace();
  bool Busy() const { return busy_; }

  // Asked once before a replace writes anything: true goes on; outside is how many of the
  // files lie outside the folder (reached by links), and allowOutside says to replace them
  // too. A message box asks by default; tests answer in its place.
  std::function<bool(const QString& question, size_t outside, bool& allowOutside)> confirm;

  // How often a run pumps events (tests pump at every chance).
  PumpThrottle& Throttle() { return throttle_; }

  QLineEdit* directory;
  QLineEdit* mask;
  QLineEdit* text;
  QLineEdit* with;
  QCheckBox* subdirectories;
  QCheckBox* wholeWord;
  QCheckBox* matchCase;
  QCheckBox* regex;
  QPushButton* previewButton;
  QPushButton* stopButton;
  QPushButton* replaceButton;
  QPushButton* undoButton;
  QTreeWidget* matches;  // a row per file, under it a row per match
  QProgressBar* progress;
  QListWidget* report;  // what the last replace or undo did, file by file
  QLabel* status;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  class Collector;
  void AddFile(FilePlan plan);
  void Pump();
  void SetBusy(bool busy);
  SearchOptions Options() const;

  std::vector<FilePlan> plans_;  // by the file rows' index
  UndoStore undo_;
  PumpThrottle throttle_;
  std::string folder_;  // the folder the preview searched, links resolved
  size_t previewMatches_ = 0;
  bool busy_ = false;
  bool stopRequested_ = false;
};

// Opens the window (made once, owned by the main window) with the main window's query.
ReplaceWindow& ShowReplaceWindow(TForm1& form);

}  // namespace vorn
