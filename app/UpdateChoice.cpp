#include "UpdateChoice.h"

#include <QApplication>
#include <QMessageBox>
#include <utility>

#include "ftper.h"

namespace vorn {

namespace {

void RealInformation(QWidget* parent, const QString& text) {
  QMessageBox::information(parent, QApplication::applicationName(), text);
}

InformationShower& Shower() {
  static InformationShower shower = RealInformation;
  return shower;
}

}  // namespace

void LookForUpdate(QWidget* parent, bool selfUpdate) {
  if (selfUpdate)
    CheckForUpdate();
  else
    Shower()(parent, QStringLiteral("Updates for this copy come with your system's packages."));
}

InformationShower SetInformationShower(InformationShower shower) {
  if (!shower) shower = RealInformation;
  return std::exchange(Shower(), std::move(shower));
}

}  // namespace vorn
