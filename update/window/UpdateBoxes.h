// The message boxes of the update: the question before a download and the notice that names
// the fallback file (errors go to the application's error box). Tests replace them to answer
// without a display and to see what was asked.
#pragma once

#include <QString>
#include <functional>

#include "ErrorBox.h"

class QWidget;

namespace vorn {

struct UpdateBoxes {
  // A confirmation box (title "Confirm", question icon) with "&Yes" and "&No"; true for Yes.
  std::function<bool(QWidget* parent, const QString& text)> AskYesNo;
  // A confirmation box (title "Confirm", question icon) with only "OK".
  std::function<void(QWidget* parent, const QString& text)> Notify;
  // Errors go to the application's one error box (ShowErrorBox, its seam SetErrorBoxShower).
};

// The boxes in use; the real ones unless a test has put others in place.
const UpdateBoxes& Boxes();
// Puts boxes in place; an empty member keeps the real box for it. Returns what was in place.
UpdateBoxes SetUpdateBoxes(UpdateBoxes boxes);

}  // namespace vorn
