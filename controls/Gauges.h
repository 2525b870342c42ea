// TGauge: shows how far a value has come between a minimum and a maximum, as a bar with the
// whole-number percentage written over it.
#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>
#include <stdexcept>
#include <string>

namespace vorn {

// A property write the control refuses ("Value must be between %d and %d").
class EInvalidOperation : public std::runtime_error {
 public:
  explicit EInvalidOperation(const std::string& message) : std::runtime_error(message) {}
};

enum class TGaugeKind { gkText, gkHorizontalBar, gkVerticalBar, gkPie, gkNeedle };
enum class TGaugeBorderStyle { bsNone, bsSingle };

class TGauge : public QWidget {
  Q_OBJECT
 public:
  explicit TGauge(QWidget* parent = nullptr);

  int MinValue() const { return minValue_; }
  void SetMinValue(int value);
  int MaxValue() const { return maxValue_; }
  void SetMaxValue(int value);
  // Always within MinValue..MaxValue: a write outside is clamped.
  int Progress() const { return progress_; }
  void SetProgress(int value);
  TGaugeKind Kind() const { return kind_; }
  void SetKind(TGaugeKind kind);
  bool ShowText() const { return showText_; }
  void SetShowText(bool show);
  TGaugeBorderStyle BorderStyle() const { return borderStyle_; }
  void SetBorderStyle(TGaugeBorderStyle style);
  QColor ForeColor() const { return foreColor_; }
  void SetForeColor(const QColor& color);
  QColor BackColor() const { return backColor_; }
  void SetBackColor(const QColor& color);
  // The surround of the pie and the needle.
  QColor Color() const { return color_; }
  void SetColor(const QColor& color);

  // Progress as a whole percentage of the range, 0 for an empty range.
  int PercentDone() const;

  // While a window sets the gauge up from stored values, MinValue and MaxValue may be written
  // in either order: the range checks wait until loading ends.
  void SetLoading(bool loading) { loading_ = loading; }

  // The picture a paint copies to the screen, built off-screen in one piece; at a device pixel
  // ratio above 1, in the screen's physical pixels.
  QImage Picture(qreal ratio = 1) const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void RepaintNow();

  int minValue_ = 0;
  int maxValue_ = 100;
  int progress_ = 0;
  TGaugeKind kind_ = TGaugeKind::gkHorizontalBar;
  bool showText_ = true;
  TGaugeBorderStyle borderStyle_ = TGaugeBorderStyle::bsSingle;
  QColor foreColor_{0, 0, 0};
  QColor backColor_{255, 255, 255};
  QColor color_;
  bool loading_ = false;
};

}  // namespace vorn
