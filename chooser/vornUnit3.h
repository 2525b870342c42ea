// The directory chooser: a modal folder picker for the main window's Directory field. It is
// created on the first click of "..." and lives until the program ends, so the tree keeps
// its expanded folders and its selection between openings.
//
// The main window's "..." handler is one call:
//   void TForm1::dxButton3Click() { ChooseDirectory(this, ComboBox3); }
// "OK" writes the folder selected in the tree, with a trailing "/", into the field; "Cancel",
// the close box and a failed choice leave it as it was.
#pragma once

#include <QDialog>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <functional>
#include <optional>

class QComboBox;
class QKeyEvent;
class QLineEdit;
class QPushButton;
class QTreeView;

namespace vorn {

class FolderModel;

class TForm3 : public QDialog {
  Q_OBJECT
 public:
  explicit TForm3(QWidget* parent = nullptr);
  // Clears Form3 when it is this chooser, so a later "..." creates a new one instead of
  // using a freed one (the chooser goes with the main window that owns it).
  ~TForm3() override;

  // Shows the chooser modally for the given field (an editable combo box or a line edit) and
  // returns when it is closed. The field is written only by "OK".
  void ShowFor(QComboBox* directoryField);
  void ShowFor(QLineEdit* directoryField);

  // The absolute path of the folder selected in the tree ("/" for the root), without a
  // trailing "/", as the window's text of its bytes; empty when nothing is selected.
  QString SelectedFolder() const;

  QComboBox* ShellComboBox1 = nullptr;
  QTreeView* ShellTreeView1 = nullptr;
  QPushButton* Button2 = nullptr;
  QPushButton* Button3 = nullptr;

  void Button2Click();
  void Button3Click();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Execute(std::function<QString()> read, std::function<void(const QString&)> write);

  FolderModel* model_ = nullptr;
  std::function<QString()> readField_;
  std::function<void(const QString&)> writeField_;
  std::optional<QPoint> leftAt_;  // where the window's frame was when it was last closed
};

extern TForm3* Form3;

// Creates Form3 on first use (as a child of mainWindow) and shows it for the field.
void ChooseDirectory(QWidget* mainWindow, QComboBox* directoryField);

}  // namespace vorn
