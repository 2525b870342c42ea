// The styled panel: a coloured area with optional edge lines, glyph and caption that holds other
// controls and can enable and disable them with itself.
#pragma once

#include <QColor>
#include <QPainter>
#include <QPixmap>
#include <QRect>

#include "dxCore.h"
#include "dxCoreUtils.h"

namespace vorn {

enum TdxEnabledMode { emAffectChilds, emNormal };
enum TdxGlyphLayout { glBottom, glCenter, glTop };
enum TdxTextLayout { tlTop, tlCenter, tlBottom };

class TdxCustomContainer : public TdxCustomControl {
  Q_OBJECT
 public:
  explicit TdxCustomContainer(QWidget* parent = nullptr);

  // Horizontal alignment of the caption: Qt::AlignLeft, Qt::AlignHCenter or Qt::AlignRight.
  Qt::Alignment Alignment() const { return alignment_; }
  void SetAlignment(Qt::Alignment alignment);
  int BorderWidth() const { return borderWidth_; }
  void SetBorderWidth(int width);
  QColor BoundColor() const { return boundColor_; }
  void SetBoundColor(const QColor& color);
  TdxBoundLines BoundLines() const { return boundLines_; }
  void SetBoundLines(TdxBoundLines lines);
  // The container's own colour, which its children show as their parent's colour.
  void SetColor(const QColor& color);
  TdxEnabledMode EnabledMode() const { return enabledMode_; }
  void SetEnabledMode(TdxEnabledMode mode);
  bool Focusable() const { return focusable_; }
  void SetFocusable(bool focusable);
  QPixmap Glyph() const { return glyph_; }
  void SetGlyph(const QPixmap& glyph);
  TdxGlyphLayout GlyphLayout() const { return glyphLayout_; }
  void SetGlyphLayout(TdxGlyphLayout layout);
  TdxTextLayout Layout() const { return layout_; }
  void SetLayout(TdxTextLayout layout);
  bool ShowBoundLines() const { return showBoundLines_; }
  void SetShowBoundLines(bool show);
  bool ShowCaption() const { return showCaption_; }
  void SetShowCaption(bool show);
  quint8 Spacing() const { return spacing_; }
  void SetSpacing(quint8 spacing);
  bool WordWrap() const { return wordWrap_; }
  void SetWordWrap(bool wrap);
  bool AutoSize() const { return autoSize_; }
  void SetAutoSize(bool autoSize) { autoSize_ = autoSize; }

  // The client rectangle less the border width and the edge lines.
  QRect InnerRect() const;

 signals:
  void OnEnabledChanged();
  // Fired while painting, after the edge lines, with the inner rectangle.
  void OnPaint(const QRect& inner, const QFont& font, QPainter* painter);
  void OnDblClick();
  void OnResize();

 protected:
  bool TakesFocusOnPress() const override { return focusable_; }
  void paintEvent(QPaintEvent* e) override;
  void changeEvent(QEvent* e) override;
  void moveEvent(QMoveEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;

 private:
  void ApplyEnabledMode();
  void Relayout();

  Qt::Alignment alignment_ = Qt::AlignHCenter;
  int borderWidth_ = 0;
  QColor boundColor_{0x80, 0x80, 0x80};
  TdxBoundLines boundLines_;
  TdxEnabledMode enabledMode_ = emNormal;
  bool focusable_ = false;
  QPixmap glyph_;
  TdxGlyphLayout glyphLayout_ = glCenter;
  TdxTextLayout layout_ = tlCenter;
  bool showBoundLines_ = true;
  bool showCaption_ = false;
  quint8 spacing_ = 5;
  bool wordWrap_ = false;
  bool autoSize_ = false;
};

class TdxContainer : public TdxCustomContainer {
  Q_OBJECT
 public:
  explicit TdxContainer(QWidget* parent = nullptr) : TdxCustomContainer(parent) {}
};

}  // namespace vorn
