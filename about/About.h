// The About window: title, version, build, logo, copyright and author lines, and a link to the
// maker's home page.
#pragma once

#include <QDialog>
#include <QLabel>

#include "BuildLabel.h"
#include "URLLabel.h"

namespace vorn {

class TABoutQuillo : public QDialog {
  Q_OBJECT
 public:
  explicit TABoutQuillo(QWidget* parent = nullptr);

  // The title shown on every showing.
  static QString Title() { return QStringLiteral(" Tessaly "); }
  // The maker's home page that the link and the logo open.
  static std::string HomePage();

  // Sets the title and shows the window modally; returns when the user closes it.
  void ShowModal();

  QLabel* Image1;
  QLabel* Label5;
  QLabel* Label4;
  QLabel* Label6;
  TBuildLabel* BuildLabel2;
  QLabel* StaticText2;
  TURLLabel* URLLabel1;

 public slots:
  void URLLabel1Click();
  void Image1Click();

 protected:
  void showEvent(QShowEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;
};

extern TABoutQuillo* ABoutQuillo;

}  // namespace vorn
