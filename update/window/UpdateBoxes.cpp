#include "UpdateBoxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <utility>

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

UpdateBoxes& InPlace() {
  static UpdateBoxes boxes{RealAskYesNo, RealNotify};
  return boxes;
}

}  // namespace

const UpdateBoxes& Boxes() { return InPlace(); }

UpdateBoxes SetUpdateBoxes(UpdateBoxes boxes) {
  if (!boxes.AskYesNo) boxes.AskYesNo = RealAskYesNo;
  if (!boxes.Notify) boxes.Notify = RealNotify;
  return std::exchange(InPlace(), std::move(boxes));
}

}  // namespace vorn
