// The application's standard error box: a modal box titled with the application title, with
// the error icon and an OK button. Handlers run their work through Guarded, so an error that
// escapes them is shown there and the program goes on.
#pragma once

#include <QString>

#include <functional>

class QWidget;

// The message as the box shows it: a "." is appended when the last character sorts after ".".
QString ErrorBoxText(const QString& message);

void ShowErrorBox(QWidget* parent, const QString& message);

// Runs work; an exception that leaves it is shown in the error box.
void Guarded(QWidget* parent, const std::function<void()>& work);
