// The application's standard error box: modal, titled with the application title, with the
// error icon and an OK button. Tests replace it to see the text without a modal loop.
#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace vorn {

// The text as the box shows it: a "." is appended when the last character sorts after ".".
QString ErrorBoxText(const QString& message);

void ShowErrorBox(QWidget* parent, const QString& message);

// Receives the finished text (ErrorBoxText applied). An empty function restores the real box.
// Returns the one that was in place.
using ErrorBoxShower = std::function<void(QWidget* parent, const QString& text)>;
ErrorBoxShower SetErrorBoxShower(ErrorBoxShower shower);

// Runs work; an exception that leaves it is shown in the error box and the program goes on,
// as for every event handler.
void Guarded(QWidget* parent, const std::function<void()>& work);

}  // namespace vorn
