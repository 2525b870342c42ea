// The main window: the query fields, the search with its Search and Stop Search buttons, the
// query history, the result list, the menus and the status line.
#pragma once

#include <QMainWindow>
#include <optional>
#include <vector>

#include "LineMatcher.h"
#include "MainControls.h"
#include "PumpThrottle.h"
#include "ResultListModel.h"
#include "io.h"

class QAction;
class QComboBox;
class QAbstractItemView;
class QMenu;
class QMenuBar;
class QStatusBar;

namespace vorn {

// Set by "Stop Search"; the search run clears it when it begins and reads it at its pumps.
extern bool StopRequested;

class TForm1 : public QMainWindow {
  Q_OBJECT
 public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  // One complete search run; returns when it has finished or was stopped.
  void Do_the_search();

  bool Searching() const { return searching_; }
  // The query and the four boxes as they stand.
  SearchOptions CurrentOptions() const;
  // The Options menu's listing items as they stand.
  ListingOptions CurrentListing() const;
  ResultListModel& Results() { return *results_; }
  int SelectedRow() const;
  // The hit of the selected row of ListBox1, which the result actions and the viewer take;
  // nothing when no row is selected. It views the result list's bytes.
  std::optional<SearchHit> SelectedHit() const;

  // How often the search really pumps events (tests pump at every chance).
  PumpThrottle& Throttle() { return throttle_; }

  // Components, named as in the window's layout.
  Form1Container* dxContainer1;
  QLabel* Label1;
  QLabel* Label2;
  QLabel* Label3;
  QComboBox* ComboBox1;      // File search mask
  QComboBox* ComboBox2;      // the query, with its history as items
  QComboBox* ComboBox3;      // Directory
  Form1Button* dxButton1;    // "Search"
  Form1Button* dxButton2;    // "Stop Search"
  Form1Button* dxButton3;    // "..."
  Form1Button* dxButton4;    // "Look for update"
  Form1Checkbox* Checkbox1;  // "Whole Word"
  Form1Checkbox* Checkbox2;  // "Match Case(Case sensitiv)"
  Form1Checkbox* Checkbox3;  // "Include Subdirectory"
  Form1Checkbox* Checkbox4;  // "Regular expression"
  QAbstractItemView* ListBox1;
  Form1LinkLabel* URLLabel2;
  QStatusBar* StatusBar1;
  QWidget* Panel1;
  QMenuBar* MainMenu1;
  QMenu* File1;
  QAction* Exit1;
  QMenu* About1;
  QAction* QuilloWare1;
  QAction* AboutVorn11;
  // Options: which files are listed, and how they are read: "Search Compressed Files and
  // Archives" and the "Encoding" submenu, whose checked item's data is the encoding setting
  // (TextDecoding.h).
  QMenu* Options1 = nullptr;
  QAction* RespectIgnoreFiles1;  // "Respect .gitignore and .ignore"
  QAction* IncludeHiddenFiles1;
  QAction* FollowLinkstoFolders1;
  QAction* SearchCompressed1 = nullptr;
  QMenu* Encoding1 = nullptr;
  QMenu* PopupMenu1;
  vorn::TdxStyleManager* dxStyleManager1;
  QAction* OpenContainingFolder1;
  QAction* FindFile1;
  QAction* SearchInternetforItem1;
  QAction* SearchInternetforItem2;
  // The hit taken elsewhere: the editor, the clipboard, a file.
  QAction* OpenInEditor1;    // File menu, context menu, Ctrl+E
  QAction* SaveResultsAs1;   // File menu
  QAction* CopyResult1;      // context menu, Ctrl+C in the list
  QAction* CopyAllResults1;  // context menu
  // At the status line's right end: the last run's totals, or "no results".
  QLabel* StatusTotals;

  // Handlers of this window.
  void FormCreate();
  void ComboBox2Change();
  void ComboBox2KeyDown(QComboBox* sender, int key);
  void ComboBox2Exit();
  void dxButton1Click();
  void dxButton2Click();
  void Exit1Click();

  // Result actions, the chooser and the update check.
  void ListBox1DblClick();
  void ListBox1KeyDown(int key);
  void FindFile1Click();
  void OpenContainingFolder1Click();
  void SearchInternetforItem1Click();
  void SearchInternetforItem2Click();
  void QuilloWare1Click();
  void AboutVorn11Click();
  void URLLabel2Click();
  void dxButton3Click();
  void dxButton4Click();
  void OpenInEditor1Click();
  void SaveResultsAs1Click();
  void CopyResult1Click();
  void CopyAllResults1Click();

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  class RunSide;
  struct Anchored;

  void BuildControls();
  void BuildMenus();
  void BuildReadingMenu();
  std::string EncodingSetting() const;
  void Connect();
  void Anchor(QWidget* control, Qt::Edges edges);
  void LayOut();
  void AddQueryToHistory();
  bool SearchRefused();
  void SetIdle();
  void EndProgram();

  ResultListModel* results_;
  mutable std::vector<MatchRange> selectedMatches_;  // what SelectedHit's matches view
  PumpThrottle throttle_;
  std::vector<Anchored> anchored_;
  bool searching_ = false;
  bool closing_ = false;
};

extern TForm1* Form1;

}  // namespace vorn
