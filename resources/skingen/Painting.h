#pragma once
#include <QColor>
#include <QImage>
#include <QPainterPath>
#include <QRectF>
#include <QString>

// Drawing primitives shared by every skin: one material (dark brushed metal) and
// one light (from the top left), so all windows of the program look alike.
namespace rq::skingen {

inline const QColor kGlowCyan(90, 216, 255);
inline const QColor kGlowAmber(255, 178, 64);
// The fill of engraved lettering: light, as dark glyphs on the dark metal cannot be
// read (even black reaches less than 2:1 on it; this fill reaches 6:1 and more).
inline const QColor kInlay(222, 226, 232);
// Small print is thin: it needs a lighter colour than the lettering to read as well.
inline const QColor kSmallPrint(200, 206, 214);
inline const QColor kEdge(10, 11, 13);

QImage NewCanvas(int width, int height);
// Fills `shape` with brushed metal and bevels its outline.
void PaintMetalBody(QImage& image, const QPainterPath& shape, unsigned seed);
// A dark inset panel (read-out glass) with an inner shadow and a faint grid.
void PaintRecess(QImage& image, const QRectF& rect, double radius, bool grid = true);
// Text cut into the metal and filled with light enamel, its shadow below right.
void PaintEngraved(QImage& image, const QRectF& rect, const QString& text, int pixelSize, bool bold,
                   int alignment);
// Small print: light text with a shadow, readable where engraving is too faint.
void PaintPrinted(QImage& image, const QRectF& rect, const QString& text, int pixelSize,
                  const QColor& colour);
// Text that glows on a recess.
void PaintGlowText(QImage& image, const QRectF& rect, const QString& text, int pixelSize,
                   const QColor& colour, int alignment);
void PaintScrew(QImage& image, const QPointF& centre);
// Pixels are either fully inside (opaque) or fully outside (transparent): the window
// region derived from the alpha channel then shows exactly the painted picture.
void BinarizeAlpha(QImage& image);

}  // namespace rq::skingen
