// A label that shows the program's build: a word, a blank and the "FileVersion" string of the
// running program file's version record.
#pragma once

#include <QLabel>
#include <QString>
#include <string>

namespace vorn {

class TBuildLabel : public QLabel {
  Q_OBJECT
 public:
  // Reads the version of the given program file; by default the running program's own.
  explicit TBuildLabel(QWidget* parent = nullptr,
                       std::string programFile = std::string("/proc/self/exe"));

  QString TextCaption2() const { return textCaption2_; }
  // Stores the word only; the caption follows at the next Loaded.
  void SetTextCaption2(const QString& text) { textCaption2_ = text; }
  // The version string as last read; empty until a read finds one.
  QString VersionText() const { return versionText_; }
  QString Caption() const { return text(); }

  // Once the window has set the label's properties: reads the version again and composes the
  // caption from TextCaption2, replacing any caption set before.
  void Loaded();

 private:
  void ReadVersion();
  void Compose();

  std::string programFile_;
  QString textCaption2_;
  QString versionText_;
};

}  // namespace vorn
