#include "vornUnit3.h"

#include <QComboBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTreeView>

#include "DesignWindow.h"
#include "FolderModel.h"
#include "TextBytes.h"
#include "io.h"

namespace vorn {

TForm3* Form3 = nullptr;

TForm3::TForm3(QWidget* parent) : QDialog(parent) {
  DressWindow(this, QStringLiteral("Form3"), QStringLiteral("Choose Directory"));
  setFixedSize(433, 252);

  // Folders only, no refresh on file-system changes; the model's one top row is "/".
  model_ = new FolderModel(this);
  const QModelIndex root = model_->Root();
  model_->fetchMore(root);

  ShellComboBox1 = new QComboBox(this);
  ShellComboBox1->setObjectName(QStringLiteral("ShellComboBox1"));
  ShellComboBox1->setGeometry(4, 0, 421, 22);
  ShellComboBox1->setModel(model_);
  ShellComboBox1->setRootModelIndex(root);
  ShellComboBox1->setMaxVisibleItems(8);
  ShellComboBox1->setCurrentIndex(-1);
  ShellComboBox1->setPlaceholderText(QStringLiteral("/"));

  ShellTreeView1 = new QTreeView(this);
  ShellTreeView1->setObjectName(QStringLiteral("ShellTreeView1"));
  ShellTreeView1->setGeometry(4, 24, 421, 201);
  ShellTreeView1->setModel(model_);
  ShellTreeView1->setHeaderHidden(true);
  // Every row is as high as the first, so only the rows shown are asked for their text (and
  // only those folders are looked at for an expander).
  ShellTreeView1->setUniformRowHeights(true);
  ShellTreeView1->setRootIsDecorated(false);
  ShellTreeView1->setIndentation(19);
  ShellTreeView1->setSelectionMode(QAbstractItemView::SingleSelection);
  ShellTreeView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ShellTreeView1->viewport()->installEventFilter(this);
  ShellTreeView1->expand(root);
  ShellTreeView1->setCurrentIndex(root);

  // Enter presses OK wherever the focus is, but on Cancel it presses Cancel.
  Button2 = new QPushButton(QStringLiteral("OK"), this);
  Button2->setObjectName(QStringLiteral("Button2"));
  Button2->setGeometry(320, 232, 49, 17);
  Button3 = new QPushButton(QStringLiteral("Cancel"), this);
  Button3->setObjectName(QStringLiteral("Button3"));
  Button3->setGeometry(376, 232, 49, 17);
  for (QPushButton* b : {Button2, Button3}) {
    b->setAutoDefault(false);
    b->setDefault(false);
  }
  connect(Button2, &QPushButton::clicked, this, &TForm3::Button2Click);
  connect(Button3, &QPushButton::clicked, this, &TForm3::Button3Click);
  setTabOrder(ShellComboBox1, ShellTreeView1);
  setTabOrder(ShellTreeView1, Button2);
  setTabOrder(Button2, Button3);
}

TForm3::~TForm3() {
  if (Form3 == this) Form3 = nullptr;
}

QString TForm3::SelectedFolder() const {
  const QModelIndex current = ShellTreeView1->currentIndex();
  return current.isValid() ? FromBytes(model_->Path(current)) : QString();
}

void TForm3::Execute(std::function<QString()> read, std::function<void(const QString&)> write) {
  readField_ = std::move(read);
  writeField_ = std::move(write);
  // Centred over the main window the first time; after that it opens where it was left. The
  // toolkit would centre it again from frame sizes it only learns once the window manager
  // has framed it, which lands the frame a title bar lower than the first time.
  if (leftAt_) move(*leftAt_);
  exec();
  readField_ = {};
  writeField_ = {};
}

void TForm3::ShowFor(QComboBox* directoryField) {
  QPointer<QComboBox> field(directoryField);
  Execute([field] { return field ? field->currentText() : QString(); },
          [field](const QString& text) {
            if (field) field->setEditText(text);
          });
}

void TForm3::ShowFor(QLineEdit* directoryField) {
  QPointer<QLineEdit> field(directoryField);
  Execute([field] { return field ? field->text() : QString(); },
          [field](const QString& text) {
            if (field) field->setText(text);
          });
}

void TForm3::Button2Click() {
  const QString path = SelectedFolder();
  if (!path.isEmpty() && writeField_) {
    writeField_(path);
    // Read back and give it the separator; the root keeps its one "/".
    writeField_(FromBytes(AddTrailingBackslash(ToBytes(readField_()))));
  }
  accept();
}

void TForm3::Button3Click() { reject(); }

void TForm3::hideEvent(QHideEvent* event) {
  leftAt_ = frameGeometry().topLeft();
  QDialog::hideEvent(event);
}

void TForm3::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Escape:
      event->accept();  // does not close the chooser
      return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      (focusWidget() == Button3 ? Button3 : Button2)->click();
      event->accept();
      return;
    default:
      QDialog::keyPressEvent(event);
  }
}

bool TForm3::eventFilter(QObject* watched, QEvent* event) {
  // A right-click selects the folder under the pointer.
  if (watched == ShellTreeView1->viewport() && event->type() == QEvent::MouseButtonPress) {
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() == Qt::RightButton) {
      const QModelIndex at = ShellTreeView1->indexAt(mouse->position().toPoint());
      if (at.isValid()) ShellTreeView1->setCurrentIndex(at);
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void ChooseDirectory(QWidget* mainWindow, QComboBox* directoryField) {
  if (!Form3) Form3 = new TForm3(mainWindow);
  Form3->ShowFor(directoryField);
}

}  // namespace vorn
