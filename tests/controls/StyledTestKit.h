// Input and picture helpers for the styled-control tests: events are sent straight to the widget,
// so the tests do not depend on a window manager or on the pointer's real position.
#pragma once

#include <QApplication>
#include <QComboBox>
#include <QEnterEvent>
#include <QImage>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTest>
#include <QWidget>

namespace vorn::test {

inline void SendEnter(QWidget* w) {
  const QPointF local(w->width() / 2.0, w->height() / 2.0);
  QEnterEvent e(local, local, w->mapToGlobal(local));
  QApplication::sendEvent(w, &e);
}

inline void SendLeave(QWidget* w) {
  QEvent e(QEvent::Leave);
  QApplication::sendEvent(w, &e);
}

inline void SendMouse(QWidget* w, QEvent::Type type, QPoint pos,
                      Qt::MouseButton button = Qt::LeftButton) {
  const Qt::MouseButtons held =
      type == QEvent::MouseButtonRelease ? Qt::MouseButtons() : Qt::MouseButtons(Qt::LeftButton);
  QMouseEvent e(type, QPointF(pos), QPointF(w->mapToGlobal(pos)),
                type == QEvent::MouseMove ? Qt::NoButton : button, held, Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}

inline QPoint Middle(const QWidget* w) { return QPoint(w->width() / 2, w->height() / 2); }

// A press and release in the middle of the widget.
inline void ClickOn(QWidget* w) {
  SendMouse(w, QEvent::MouseButtonPress, Middle(w));
  SendMouse(w, QEvent::MouseButtonRelease, Middle(w));
}

// Replaces an editable field's text the way a user does: select all, delete, type.
inline void Retype(QComboBox* field, const QString& text) {
  field->setFocus();
  field->lineEdit()->selectAll();
  QTest::keyClick(field, Qt::Key_Delete);
  QTest::keyClicks(field, text);
}

inline QImage Grab(QWidget* w) { return w->grab().toImage().convertToFormat(QImage::Format_RGB32); }

inline QColor At(const QImage& image, int x, int y) { return QColor(image.pixel(x, y)); }

// The smallest rectangle holding every pixel in which the two images differ.
inline QRect DiffBox(const QImage& a, const QImage& b) {
  QRect box;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x)
      if (a.pixel(x, y) != b.pixel(x, y)) box |= QRect(x, y, 1, 1);
  return box;
}

// The smallest rectangle holding every pixel of the given colour.
inline QRect ColourBox(const QImage& image, QColor c) {
  QRect box;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (image.pixel(x, y) == c.rgb()) box |= QRect(x, y, 1, 1);
  return box;
}

}  // namespace vorn::test
