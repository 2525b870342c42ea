#include "VornUnit1.h"

#include <sys/stat.h>

#include <QAbstractItemView>
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QResizeEvent>
#include <QScreen>
#include <QStatusBar>
#include <cerrno>
#include <cstring>
#include <string>

#include "DesignFont.h"
#include "DesignPalette.h"
#include "ErrorBox.h"
#include "FileMask.h"
#include "MainWindowHabits.h"
#include "QueryHistory.h"
#include "ReplaceWindow.h"
#include "ResultActions.h"
#include "ResultListView.h"
#include "ResultRowDelegate.h"
#include "SaveResults.h"
#include "ScopeExit.h"
#include "SearchRun.h"
#include "SearchStatus.h"
#include "StartUp.h"
#include "TextBytes.h"
#include "UpdateCheck.h"
#include "UpdateChoice.h"
#include "dxCoreUtils.h"
#include "io.h"
#include "txthandling.h"
#include "vornUnit2.h"
#include "vornUnit3.h"

namespace vorn {

bool StopRequested = false;
TForm1* Form1 = nullptr;

namespace {

// The window's client area as laid out: 759 x 446, of which the status line takes the
// bottom 19 pixels; the menu bar sits above it.
constexpr int kClientWidth = 759;
constexpr int kClientHeight = 446;
constexpr int kStatusHeight = 19;
constexpr QSize kCentralSize(kClientWidth, kClientHeight - kStatusHeight);
constexpr QSize kContainerSize(743, 79);
// The outer 500 x 150 less the window frame (4 pixels a side) and the caption.
constexpr QSize kMinimumClient(492, 116);

// The two system colours of the window, as the designer's desktop theme shows them.
const QColor kGradientInactiveCaption(0x9D, 0xB9, 0xEB);
const QColor kInactiveCaptionText(0xD8, 0xE4, 0xF8);

// The window's own face where the system has it; else a face of about its width, so the
// captions ("Look for update", "Match Case(Case sensitiv)") fit the sizes the layout gives.
QFont WindowFont() { return DesignFont(QStringLiteral("MS Sans Serif"), 11); }

// A "simple" combo box: an edit field whose items (the history) are never dropped down.
class SimpleComboBox : public QComboBox {
 public:
  explicit SimpleComboBox(QWidget* parent) : QComboBox(parent) {
    setEditable(true);
    setStyleSheet(
        QStringLiteral("QComboBox { padding-right: 0px; } "
                       "QComboBox::drop-down { width: 0px; border: none; } "
                       "QComboBox::down-arrow { image: none; width: 0px; }"));
  }
  void showPopup() override {}
};

// "1,234 lines in 56 files, 2.3 s", or "no results".
QString TotalsText(size_t lines, size_t files, qint64 milliseconds) {
  if (lines == 0) return QStringLiteral("no results");
  const QLocale locale;
  return QStringLiteral("%1 %2 in %3 %4, %5 s")
      .arg(locale.toString(static_cast<qulonglong>(lines)),
           lines == 1 ? QStringLiteral("line") : QStringLiteral("lines"),
           locale.toString(static_cast<qulonglong>(files)),
           files == 1 ? QStringLiteral("file") : QStringLiteral("files"),
           locale.toString(static_cast<double>(milliseconds) / 1000.0, 'f', 1));
}

// Editable, with no automatic insertion and no completion: the program alone fills the items,
// and what the user types stays exactly as typed.
void MakePlainEditable(QComboBox* box) {
  box->setEditable(true);
  box->setInsertPolicy(QComboBox::NoInsert);
  box->setDuplicatesEnabled(true);
  box->setCompleter(nullptr);
}

}  // namespace

// The window's side of a search run: hits go to the result list's model; the run pumps events
// only when the throttle says a pump is due, and each pump shows where the run is.
class TForm1::RunSide : public ResultsSink, public RunPacer {
 public:
  explicit RunSide(TForm1& form) : form_(form) {}

  // The workers keep the hits where the list shows them from.
  SinkWants Wants() override {
    SinkWants wants;
    wants.shelf = form_.results_->NewShelf();
    return wants;
  }
  void Lines(std::span<const SearchHit> lines) override { form_.results_->Add(lines); }
  bool PumpDue() override { return form_.throttle_.Due(); }
  void Pump(const RunProgress& at) override {
    if (const std::optional<std::string> text = status_.AtPump(at)) Show(*text);
    form_.results_->Publish();
    form_.throttle_.BeginPump();
    QCoreApplication::processEvents();
    form_.throttle_.EndPump();
  }
  void Progress(const RunProgress& at) override { Show(status_.AtLine(at)); }
  bool StopRequested() override { return vorn::StopRequested; }
  SearchOptions Options(const SearchOptions&) override { return form_.CurrentOptions(); }
  bool ListingGoesOn() override { return !form_.closing_; }
  void Show(std::string_view text) { form_.StatusBar1->showMessage(ShownBytes(text)); }

 private:
  TForm1& form_;
  SearchStatus status_;
};

// A control that keeps its distance to the given edges of its parent when the parent is
// resized; with neither left nor right (or top nor bottom) it keeps its relative centre.
struct TForm1::Anchored {
  QWidget* control;
  QRect origin;
  QSize parentOrigin;
  Qt::Edges edges;
};

TForm1::TForm1(QWidget* parent) : QMainWindow(parent), results_(new ResultListModel(this)) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("Vorn Version 1.0"));
  setFont(WindowFont());
  PinFace(this, kGradientInactiveCaption);

  BuildControls();
  BuildMenus();
  Connect();
  new QueryHistory(ComboBox2);
  new MainWindowHabits(this, {ComboBox1, ComboBox2, ComboBox3}, ComboBox3, [this] {
    if (searching_) dxButton2Click();  // Escape is "Stop Search" while a search runs
  });

  // The client area is 759 x 446 below the menu bar.
  const int menuHeight = MainMenu1->sizeHint().height();
  setMinimumSize(kMinimumClient.width(), std::max(kMinimumClient.height(), menuHeight + 60));
  resize(kClientWidth, menuHeight + kClientHeight);
  if (const QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());

  FormCreate();
}

TForm1::~TForm1() {
  if (Form1 == this) Form1 = nullptr;
}

void TForm1::BuildControls() {
  auto* central = new QWidget(this);
  central->setObjectName(QStringLiteral("Form1Client"));
  setCentralWidget(central);
  central->installEventFilter(this);

  // A panel in the caption text colour with a one-pixel white frame on all four sides; its
  // children follow its enabled state and show its colour as their background.
  dxContainer1 = new Form1Container(central);
  dxContainer1->setObjectName(QStringLiteral("dxContainer1"));
  dxContainer1->setGeometry(8, 4, kContainerSize.width(), kContainerSize.height());
  dxContainer1->SetColor(kInactiveCaptionText);
  dxContainer1->SetBoundColor(Qt::white);
  dxContainer1->SetBoundLines(vorn::blLeft | vorn::blTop | vorn::blRight | vorn::blBottom);
  dxContainer1->SetEnabledMode(vorn::emAffectChilds);
  dxContainer1->SetGlyphLayout(vorn::glTop);
  dxContainer1->installEventFilter(this);
  Anchor(dxContainer1, Qt::LeftEdge | Qt::TopEdge | Qt::RightEdge);

  // The fields begin at x 57: a label is narrowed to end before them, whatever face the
  // system gave the window.
  auto label = [this](const char* name, const char* caption, int x, int y) {
    auto* l = new QLabel(QString::fromUtf8(caption), dxContainer1);
    l->setObjectName(QString::fromUtf8(name));
    l->move(x, y);
    l->setFont(FitCaptionFont(l->font(), l->text(), 57 - x, 17, {false, false}));
    l->adjustSize();
    return l;
  };
  Label3 = label("Label3", "Directory", 1, 9);
  Label1 = label("Label1", "File search", 1, 33);
  Label2 = label("Label2", "Text to find", 1, 57);

  ComboBox3 = new SimpleComboBox(dxContainer1);
  ComboBox3->setObjectName(QStringLiteral("ComboBox3"));
  MakePlainEditable(ComboBox3);
  ComboBox3->setGeometry(57, 9, 265, 17);

  dxButton3 = new Form1Button(dxContainer1);
  dxButton3->setObjectName(QStringLiteral("dxButton3"));
  dxButton3->SetCaption(QStringLiteral("..."));
  dxButton3->setGeometry(321, 9, 17, 17);

  auto checkbox = [this](const char* name, const char* caption, int x, int y) {
    auto* c = new Form1Checkbox(dxContainer1);
    c->setObjectName(QString::fromUtf8(name));
    c->SetCaption(QString::fromUtf8(caption));
    c->setGeometry(x, y, 152, 17);
    return c;
  };
  Checkbox3 = checkbox("Checkbox3", "Include Subdirectory", 353, 9);

  ComboBox1 = new QComboBox(dxContainer1);
  ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
  MakePlainEditable(ComboBox1);
  ComboBox1->addItems({QStringLiteral("*.Txt"), QStringLiteral("*.csv"), QStringLiteral("*.Log"),
                       QStringLiteral("*.*")});
  ComboBox1->setEditText(QStringLiteral("*.Txt"));
  ComboBox1->setGeometry(57, 33, 281, 21);

  Checkbox1 = checkbox("Checkbox1", "Whole Word", 353, 33);

  ComboBox2 = new SimpleComboBox(dxContainer1);
  ComboBox2->setObjectName(QStringLiteral("ComboBox2"));
  MakePlainEditable(ComboBox2);
  ComboBox2->setEditText(QString());
  ComboBox2->setGeometry(57, 57, 281, 17);

  Checkbox2 = checkbox("Checkbox2", "Match Case(Case sensitiv)", 353, 57);

  // The fourth box stands in the column of the other three, one row below the container.
  Checkbox4 = new Form1Checkbox(central);
  Checkbox4->setObjectName(QStringLiteral("Checkbox4"));
  Checkbox4->SetCaption(QStringLiteral("Regular expression"));
  Checkbox4->setGeometry(8 + 353, 4 + 81, 152, 17);

  dxButton4 = new Form1Button(dxContainer1);
  dxButton4->setObjectName(QStringLiteral("dxButton4"));
  dxButton4->SetCaption(QStringLiteral("Look for update"));
  dxButton4->setGeometry(657, 3, 81, 13);
  dxButton4->SetTabStop(false);
  Anchor(dxButton4, Qt::TopEdge);

  dxButton1 = new Form1Button(central);
  dxButton1->setObjectName(QStringLiteral("dxButton1"));
  dxButton1->SetCaption(QStringLiteral("Search"));
  dxButton1->setGeometry(8, 88, 73, 21);
  dxButton1->setEnabled(false);

  dxButton2 = new Form1Button(central);
  dxButton2->setObjectName(QStringLiteral("dxButton2"));
  dxButton2->SetCaption(QStringLiteral("Stop Search"));
  dxButton2->setGeometry(88, 88, 73, 21);
  dxButton2->hide();

  // Present for the controls' look; no control is linked to it.
  dxStyleManager1 = new vorn::TdxStyleManager(this);
  dxStyleManager1->setObjectName(QStringLiteral("dxStyleManager1"));

  ListBox1 = new ResultListView(central);
  ListBox1->setObjectName(QStringLiteral("ListBox1"));
  ListBox1->setGeometry(8, 112, 740, 290);
  ListBox1->setModel(results_);
  ListBox1->setSelectionMode(QAbstractItemView::SingleSelection);
  ListBox1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ListBox1->setContextMenuPolicy(Qt::CustomContextMenu);
  // Rows show their hits highlighted, and lines wider than the list scroll across.
  ListBox1->setItemDelegate(new ResultRowDelegate(*results_, ListBox1));
  ListBox1->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  ListBox1->installEventFilter(this);
  Anchor(ListBox1, Qt::LeftEdge | Qt::TopEdge | Qt::RightEdge | Qt::BottomEdge);

  // Blue at rest, red under the pointer; a click shows the About window.
  URLLabel2 = new Form1LinkLabel(central);
  URLLabel2->setObjectName(QStringLiteral("URLLabel2"));
  URLLabel2->SetCaption(QStringLiteral("QuilloWare 2003"));
  URLLabel2->setGeometry(667, 408, 84, 15);
  URLLabel2->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  URLLabel2->setFont(DesignFont(QStringLiteral("Small Fonts"), 9));
  URLLabel2->SetColorOnenter(Qt::red);
  URLLabel2->SetColorOnExit(Qt::blue);
  URLLabel2->SetLinkUnderline(false);
  URLLabel2->SetLinkBorderstyle(false);
  Anchor(URLLabel2, Qt::RightEdge | Qt::BottomEdge);

  // Held the hidden browser control; addresses now go to the desktop's browser.
  Panel1 = new QWidget(central);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setGeometry(552, 64, 185, 41);
  Panel1->setVisible(false);

  StatusBar1 = new QStatusBar(this);
  StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
  StatusBar1->setSizeGripEnabled(false);
  StatusBar1->setFixedHeight(kStatusHeight);
  PinFace(StatusBar1, kInactiveCaptionText);
  setStatusBar(StatusBar1);
  StatusTotals = new QLabel(StatusBar1);
  StatusTotals->setObjectName(QStringLiteral("StatusTotals"));
  StatusTotals->setContentsMargins(0, 0, 6, 0);
  StatusBar1->addPermanentWidget(StatusTotals);

  // The fields top to bottom (the Directory's "..." beside it), then the options, then the
  // buttons and the result list.
  setTabOrder(ComboBox3, dxButton3);
  setTabOrder(dxButton3, ComboBox1);
  setTabOrder(ComboBox1, ComboBox2);
  setTabOrder(ComboBox2, Checkbox3);
  setTabOrder(Checkbox3, Checkbox1);
  setTabOrder(Checkbox1, Checkbox2);
  setTabOrder(Checkbox2, Checkbox4);
  setTabOrder(Checkbox4, dxButton1);
  setTabOrder(dxButton1, dxButton2);
  setTabOrder(dxButton2, ListBox1);
  ListBox1->setFocus();

  for (QComboBox* field : {ComboBox1, ComboBox2, ComboBox3}) field->installEventFilter(this);
}

void TForm1::BuildMenus() {
  MainMenu1 = menuBar();
  MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
  // The bar shows the window's face; its titles are drawn in the button text colour.
  PinText(MainMenu1, QPalette::ButtonText);

  File1 = MainMenu1->addMenu(QStringLiteral("File"));
  File1->setObjectName(QStringLiteral("File1"));
  OpenInEditor1 = File1->addAction(QStringLiteral("Open in Editor"));
  OpenInEditor1->setObjectName(QStringLiteral("OpenInEditor1"));
  OpenInEditor1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
  SaveResultsAs1 = File1->addAction(QStringLiteral("Save Results As..."));
  SaveResultsAs1->setObjectName(QStringLiteral("SaveResultsAs1"));
  File1->addSeparator();
  // Replace in files: a window of its own, filled with this window's query.
  QAction* replaceInFiles = File1->addAction(QStringLiteral("Replace in Files..."));
  replaceInFiles->setObjectName(QStringLiteral("ReplaceInFiles1"));
  replaceInFiles->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
  connect(replaceInFiles, &QAction::triggered, this,
          [this] { Guarded(this, [this] { ShowReplaceWindow(*this); }); });
  File1->addSeparator();
  Exit1 = File1->addAction(QStringLiteral("Exit"));
  Exit1->setObjectName(QStringLiteral("Exit1"));

  About1 = MainMenu1->addMenu(QStringLiteral("About"));
  About1->setObjectName(QStringLiteral("About1"));
  QuilloWare1 = About1->addAction(QStringLiteral("QuilloWare"));
  QuilloWare1->setObjectName(QStringLiteral("QuilloWare1"));
  AboutVorn11 = About1->addAction(QStringLiteral("About Vorn"));
  AboutVorn11->setObjectName(QStringLiteral("AboutVorn11"));

  // Check items that keep their state until the program ends; each run reads them at its start.
  // Before About, as a desktop's menus stand.
  Options1 = new QMenu(QStringLiteral("Options"), MainMenu1);
  MainMenu1->insertMenu(About1->menuAction(), Options1);
  Options1->setObjectName(QStringLiteral("Options1"));
  const auto checkItem = [this](const char* caption, const char* name) {
    QAction* item = Options1->addAction(QString::fromLatin1(caption));
    item->setObjectName(QString::fromLatin1(name));
    item->setCheckable(true);
    return item;
  };
  RespectIgnoreFiles1 = checkItem("Respect .gitignore and .ignore", "RespectIgnoreFiles1");
  IncludeHiddenFiles1 = checkItem("Include Hidden Files", "IncludeHiddenFiles1");
  FollowLinkstoFolders1 = checkItem("Follow Links to Folders", "FollowLinkstoFolders1");

  PopupMenu1 = new QMenu(this);
  PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
  OpenContainingFolder1 = PopupMenu1->addAction(QStringLiteral("Open Containing Folder"));
  OpenContainingFolder1->setObjectName(QStringLiteral("OpenContainingFolder1"));
  FindFile1 = PopupMenu1->addAction(QStringLiteral("Show File"));
  FindFile1->setObjectName(QStringLiteral("FindFile1"));
  SearchInternetforItem1 =
      PopupMenu1->addAction(QStringLiteral("Search Internet for item (Narrow search)"));
  SearchInternetforItem1->setObjectName(QStringLiteral("SearchInternetforItem1"));
  SearchInternetforItem2 =
      PopupMenu1->addAction(QStringLiteral("Search Internet for Item (Wide Search)"));
  SearchInternetforItem2->setObjectName(QStringLiteral("SearchInternetforItem2"));
  PopupMenu1->addSeparator();
  PopupMenu1->addAction(OpenInEditor1);
  // Ctrl+C copies the row in the list only: in a field it copies the field's text.
  CopyResult1 = PopupMenu1->addAction(QStringLiteral("Copy"));
  CopyResult1->setObjectName(QStringLiteral("CopyResult1"));
  CopyResult1->setShortcut(QKeySequence::Copy);
  CopyResult1->setShortcutContext(Qt::WidgetShortcut);
  ListBox1->addAction(CopyResult1);
  CopyAllResults1 = PopupMenu1->addAction(QStringLiteral("Copy All Results"));
  CopyAllResults1->setObjectName(QStringLiteral("CopyAllResults1"));
  BuildReadingMenu();
}

// The Options menu's items on how files are read; their state lasts until the program ends.
void TForm1::BuildReadingMenu() {
  for (QAction* a : MainMenu1->actions())
    if (a->menu() && a->text() == QStringLiteral("Options")) Options1 = a->menu();
  if (!Options1) {
    Options1 = new QMenu(QStringLiteral("Options"), MainMenu1);
    MainMenu1->insertMenu(About1->menuAction(), Options1);
  } else {
    Options1->addSeparator();
  }
  Options1->setObjectName(QStringLiteral("Options1"));
  SearchCompressed1 = Options1->addAction(QStringLiteral("Search Compressed Files and Archives"));
  SearchCompressed1->setObjectName(QStringLiteral("SearchCompressed1"));
  SearchCompressed1->setCheckable(true);
  Encoding1 = Options1->addMenu(QStringLiteral("Encoding"));
  Encoding1->setObjectName(QStringLiteral("Encoding1"));
  auto* encodings = new QActionGroup(Encoding1);
  const auto add = [&](const QString& caption, const char* setting) {
    QAction* a = Encoding1->addAction(caption);
    a->setCheckable(true);
    a->setData(QString::fromLatin1(setting));
    encodings->addAction(a);
    return a;
  };
  add(QStringLiteral("Automatic"), "")->setChecked(true);
  add(QStringLiteral("UTF-8 only"), "utf-8");
  Encoding1->addSeparator();
  for (const char* name : {"windows-1252", "ISO-8859-15", "windows-1250", "windows-1251", "KOI8-R",
                           "Shift_JIS", "EUC-JP", "GB18030", "Big5", "EUC-KR"})
    add(QString::fromLatin1(name), name);
}

std::string TForm1::EncodingSetting() const {
  for (const QAction* a : Encoding1->actions())
    if (a->isChecked()) return a->data().toString().toStdString();
  return {};
}

void TForm1::Connect() {
  // Every handler runs guarded: an error that escapes it is shown in the error box.
  auto on = [this](auto handler) {
    return [this, handler] { Guarded(this, [this, handler] { (this->*handler)(); }); };
  };
  connect(ComboBox2, &QComboBox::editTextChanged, this, on(&TForm1::ComboBox2Change));
  connect(dxButton1, &vorn::TdxCustomControl::OnClick, this, on(&TForm1::dxButton1Click));
  connect(dxButton2, &vorn::TdxCustomControl::OnClick, this, on(&TForm1::dxButton2Click));
  connect(dxButton3, &vorn::TdxCustomControl::OnClick, this, on(&TForm1::dxButton3Click));
  connect(dxButton4, &vorn::TdxCustomControl::OnClick, this, on(&TForm1::dxButton4Click));
  connect(URLLabel2, &vorn::TURLLabel::OnClick, this, on(&TForm1::URLLabel2Click));
  connect(Exit1, &QAction::triggered, this, on(&TForm1::Exit1Click));
  connect(QuilloWare1, &QAction::triggered, this, on(&TForm1::QuilloWare1Click));
  connect(AboutVorn11, &QAction::triggered, this, on(&TForm1::AboutVorn11Click));
  connect(OpenContainingFolder1, &QAction::triggered, this,
          on(&TForm1::OpenContainingFolder1Click));
  connect(FindFile1, &QAction::triggered, this, on(&TForm1::FindFile1Click));
  connect(SearchInternetforItem1, &QAction::triggered, this,
          on(&TForm1::SearchInternetforItem1Click));
  connect(SearchInternetforItem2, &QAction::triggered, this,
          on(&TForm1::SearchInternetforItem2Click));
  connect(ListBox1, &QAbstractItemView::doubleClicked, this, on(&TForm1::ListBox1DblClick));
  connect(OpenInEditor1, &QAction::triggered, this, on(&TForm1::OpenInEditor1Click));
  connect(SaveResultsAs1, &QAction::triggered, this, on(&TForm1::SaveResultsAs1Click));
  connect(CopyResult1, &QAction::triggered, this, on(&TForm1::CopyResult1Click));
  connect(CopyAllResults1, &QAction::triggered, this, on(&TForm1::CopyAllResults1Click));
  connect(ListBox1, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { PopupMenu1->popup(ListBox1->viewport()->mapToGlobal(at)); });
}

void TForm1::Anchor(QWidget* control, Qt::Edges edges) {
  const QSize parentOrigin =
      control->parentWidget() == dxContainer1 ? kContainerSize : kCentralSize;
  anchored_.push_back(Anchored{control, control->geometry(), parentOrigin, edges});
}

// Places the anchored controls for their parents' present sizes.
void TForm1::LayOut() {
  for (const Anchored& a : anchored_) {
    const QSize now = a.control->parentWidget()->size();
    const int dw = now.width() - a.parentOrigin.width();
    const int dh = now.height() - a.parentOrigin.height();
    QRect r = a.origin;
    auto axis = [](int pos, int len, int delta, int parentLen, int parentOrigin, bool near,
                   bool far) {
      if (near && far) return std::pair{pos, std::max(0, len + delta)};
      if (far) return std::pair{pos + delta, len};
      if (near) return std::pair{pos, len};
      // Neither edge: the centre keeps its place relative to the parent's size.
      const int centre = parentOrigin > 0 ? (2 * pos + len) * parentLen / (2 * parentOrigin) : 0;
      return std::pair{centre - len / 2, len};
    };
    const auto [x, w] = axis(r.x(), r.width(), dw, now.width(), a.parentOrigin.width(),
                             a.edges & Qt::LeftEdge, a.edges & Qt::RightEdge);
    const auto [y, h] = axis(r.y(), r.height(), dh, now.height(), a.parentOrigin.height(),
                             a.edges & Qt::TopEdge, a.edges & Qt::BottomEdge);
    a.control->setGeometry(x, y, w, h);
  }
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::Resize:
      if (watched == centralWidget() || watched == dxContainer1) LayOut();
      break;
    case QEvent::KeyPress: {
      const auto* key = static_cast<QKeyEvent*>(event);
      if (watched == ComboBox1 || watched == ComboBox2 || watched == ComboBox3) {
        auto* field = static_cast<QComboBox*>(watched);
        Guarded(this, [&] { ComboBox2KeyDown(field, key->key()); });
      } else if (watched == ListBox1) {
        Guarded(this, [&] { ListBox1KeyDown(key->key()); });
      }
      break;  // the key goes on to the control's own handling
    }
    case QEvent::FocusOut: {
      // Focus moving to another control, not the window losing activation or a menu opening.
      const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
      if ((watched == ComboBox2 || watched == ComboBox3) && reason != Qt::ActiveWindowFocusReason &&
          reason != Qt::PopupFocusReason)
        Guarded(this, [this] { ComboBox2Exit(); });
      break;
    }
    default:
      break;
  }
  return QMainWindow::eventFilter(watched, event);
}

bool TForm1::event(QEvent* event) {
  // The status line shows the search's texts only: menu hovers must not blank it.
  if (event->type() == QEvent::StatusTip) return true;
  return QMainWindow::event(event);
}

void TForm1::closeEvent(QCloseEvent* event) {
  event->accept();
  EndProgram();
}

// Ends the program: a running search stops at its next pump and no listing goes on; the
// event loop ends once the handlers on the stack have returned.
void TForm1::EndProgram() {
  StopRequested = true;
  // A running download stops, and nothing is installed after the user quit.
  AbortUpdateForQuit();
  if (closing_) return;  // quitting closes the windows, which comes back here
  closing_ = true;
  QCoreApplication::quit();
}

void TForm1::FormCreate() { ComboBox3->setEditText(FromBytes(StartFolder(VORN_SELF_UPDATE))); }

void TForm1::ComboBox2Change() {
  dxButton1->setEnabled(!Trimmed(ToBytes(ComboBox2->currentText())).empty());
}

void TForm1::AddQueryToHistory() {
  const QString query = ComboBox2->currentText();
  if (Trimmed(ToBytes(query)).empty()) return;
  // Adding an item must not change the text being typed.
  ComboBox2->addItem(query);
  if (ComboBox2->currentText() != query) ComboBox2->setEditText(query);
}

void TForm1::ComboBox2KeyDown(QComboBox* sender, int key) {
  (void)sender;  // both fields do the same: the query is what goes to the history
  if (!IsEnterKey(key)) return;
  // Enter during a run does nothing: no nested run, no history entry.
  if (searching_) return;
  Do_the_search();
  if (closing_) return;
  AddQueryToHistory();
}

void TForm1::ComboBox2Exit() { AddQueryToHistory(); }

void TForm1::dxButton1Click() { Do_the_search(); }

void TForm1::dxButton2Click() { StopRequested = true; }

void TForm1::Exit1Click() { EndProgram(); }

void TForm1::SetIdle() {
  dxButton2->setVisible(false);
  dxButton1->setVisible(true);
  searching_ = false;
}

SearchOptions TForm1::CurrentOptions() const {
  SearchOptions options{ToBytes(ComboBox2->currentText()), Checkbox1->Checked(),
                        Checkbox2->Checked(), Checkbox4->Checked()};
  options.encoding = EncodingSetting();
  options.packed = SearchCompressed1->isChecked();
  return options;
}

ListingOptions TForm1::CurrentListing() const {
  ListingOptions listing;
  listing.ignoreFiles = RespectIgnoreFiles1->isChecked();
  listing.hidden = IncludeHiddenFiles1->isChecked();
  listing.followLinks = FollowLinkstoFolders1->isChecked();
  return listing;
}

// A search that cannot run as asked is refused before anything changes: the error box says
// why, and the list and the status line keep the last run's results.
bool TForm1::SearchRefused() {
  const SearchOptions start = CurrentOptions();
  if (start.regex) {
    RegexError invalid;
    if (!RegexMatcher::Compile(start.query, start.matchCase, start.wholeWord, &invalid, false)) {
      ShowErrorBox(this, QStringLiteral("The regular expression is not valid: %1 (at position %2).")
                             .arg(FromBytes(invalid.message))
                             .arg(invalid.position));
      return true;
    }
  }
  // A mask that cannot mean what it says.
  if (const FileMask files(ToBytes(ComboBox1->currentText())); !files.Fault().empty()) {
    ShowErrorBox(this, FromBytes("File search: " + files.Fault()));
    return true;
  }
  // A folder that is not there would finish as if it held nothing. An empty field is the
  // working folder.
  const std::string directory = ToBytes(ComboBox3->currentText());
  if (!directory.empty()) {
    struct stat st {};
    const int error = stat(directory.c_str(), &st) != 0 ? errno : S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    if (error != 0) {
      ShowErrorBox(this, QStringLiteral("The folder %1 cannot be searched: %2")
                             .arg(ShownBytes(directory), FromBytes(std::strerror(error))));
      return true;
    }
  }
  return false;
}

void TForm1::Do_the_search() {
  if (searching_ || closing_) return;
  if (SearchRefused()) return;
  searching_ = true;
  StatusTotals->clear();
  QElapsedTimer took;
  took.start();
  // Whatever way the run ends, even by an error, the rows found are shown, their totals
  // beside the status line, and the buttons come back to idle.
  const ScopeExit idle([this, &took] {
    results_->Publish();
    throttle_.Finish();
    StatusTotals->setText(TotalsText(results_->Total(), results_->Files(), took.elapsed()));
    SetIdle();
  });
  StopRequested = false;
  dxButton1->setVisible(false);
  dxButton2->setVisible(true);

  const std::string directory = AddTrailingBackslash(ToBytes(ComboBox3->currentText()));
  ComboBox3->setEditText(FromBytes(directory));
  results_->Clear();
  const std::string mask = ToBytes(ComboBox1->currentText());
  // The listing of a large tree comes before the first file: the run says so from its start
  // rather than leaving the last run's end on the status line.
  StatusBar1->showMessage(ShownBytes("Searching : " + directory));

  RunSide side(*this);
  SearchRun run(directory, mask, Checkbox3->Checked(), CurrentOptions(), side, &side);
  // Files are read and searched on every core; the sink and the pacer are still called on this
  // thread only, in the order of a single-threaded run, so widgets, pumping and stop stay as
  // they were.
  run.SetThreads(0);
  // The run's threads yield to this one: with as many of them as processors, a pump due would
  // otherwise wait for a time slice, and the window would stand still meanwhile.
  run.SetYieldBy(5);
  run.SetListing(CurrentListing());
  // The viewer reads the files the rows name as the run reads them.
  if (Form2) Form2->SetMarkPattern(CurrentOptions());
  throttle_.Start();
  const SearchEnd end = run.Run();
  side.Show(end == SearchEnd::Aborted ? SearchStatus::kAborted
                                      : SearchStatus::Finished(run.UnsearchedLines()));
  // The viewer marks what the pattern in effect at the end matches.
  if (Form2) Form2->SetMarkPattern(CurrentOptions());
}

int TForm1::SelectedRow() const {
  const QModelIndex current = ListBox1->currentIndex();
  if (!current.isValid() || !ListBox1->selectionModel()->isSelected(current)) return -1;
  return current.row();
}

std::optional<SearchHit> TForm1::SelectedHit() const {
  const int row = SelectedRow();
  if (row < 0) return std::nullopt;
  SearchHit hit = results_->Hit(static_cast<size_t>(row));
  results_->Matches(static_cast<size_t>(row), selectedMatches_);
  hit.matches = selectedMatches_;
  return hit;
}

// The result actions take the selected row's hit and do nothing without one.
void TForm1::ListBox1DblClick() { ShowFile(SelectedHit()); }

// Enter with any of Shift, Ctrl and Alt; other keys are the list's own.
void TForm1::ListBox1KeyDown(int key) {
  if (IsEnterKey(key)) ShowFile(SelectedHit());
}

void TForm1::FindFile1Click() { ShowFile(SelectedHit()); }

void TForm1::OpenContainingFolder1Click() { OpenContainingFolder(SelectedHit()); }

void TForm1::SearchInternetforItem1Click() { SearchInternetNarrow(SelectedHit()); }

void TForm1::SearchInternetforItem2Click() { SearchInternetWide(SelectedHit()); }

void TForm1::QuilloWare1Click() { OpenMakerHomePage(); }

void TForm1::AboutVorn11Click() { ShowAboutWindow(); }

void TForm1::URLLabel2Click() { ShowAboutWindow(); }

void TForm1::dxButton3Click() { vorn::ChooseDirectory(this, ComboBox3); }

void TForm1::dxButton4Click() { LookForUpdate(this); }

void TForm1::OpenInEditor1Click() { OpenInEditor(SelectedHit()); }

void TForm1::SaveResultsAs1Click() {
  if (results_->Total() == 0) {
    ShowErrorBox(this, QStringLiteral("There are no results to save"));
    return;
  }
  SaveResultsAs(this, *results_);
}

void TForm1::CopyResult1Click() {
  const int row = SelectedRow();
  if (row >= 0) CopyResultLines(results_->ResultLine(static_cast<size_t>(row)));
}

void TForm1::CopyAllResults1Click() {
  std::string all;
  for (size_t row = 0; row < results_->Total(); ++row) {
    if (row > 0) all += '\n';
    AppendResultLine(all, results_->Hit(row));
  }
  CopyResultLines(all);
}

}  // namespace vorn
