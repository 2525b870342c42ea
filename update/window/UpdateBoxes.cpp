#include "UpdateBoxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <utility>

#include "ErrorBox.h"

namespace vorn {

namespace {

bool RealAskYesNo(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"), text, QMessageBox::NoButton,
                  parent);
  QPushButton* yes = box.addButton(QStringLiteral("&Yes"), QMessageBox::YesRole);
  box.addButton(QStringLiteral("&No"), QMessageBox::NoRole);
  box.setDefaultButton(yes);
  box.exec();
  return box.clickedButton() == yes;
}

void RealNotify(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"), text, QMessageBox::Ok, parent);
  box.exec();
}

// Errors go to the application's one error box, so its seam sees them too.
void RealShowError(QWidget* parent, const QString& text) { ShowErrorBox(parent, text); }

UpdateBoxes& InPlace() {
  static UpdateBoxes boxes{RealAskYesNo, RealNotify, RealShowError};
  return boxes;
}

}  // namespace

const UpdateBoxes& Boxes() { return InPlace(); }

UpdateBoxes SetUpdateBoxes(UpdateBoxes boxes) {
  if (!boxes.AskYesNo) boxes.AskYesNo = RealAskYesNo;
  if (!boxes.Notify) boxes.Notify = RealNotify;
  if (!boxes.ShowError) boxes.ShowError = RealShowError;
  return std::exchange(InPlace(), std::move(boxes));
}

}  // namespace vorn
