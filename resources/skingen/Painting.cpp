#include "Painting.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>
#include <random>

namespace rq::skingen {

QImage NewCanvas(int width, int height) {
  QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  return image;
}

void PaintMetalBody(QImage& image, const QPainterPath& shape, unsigned seed) {
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF box = shape.boundingRect();

  QLinearGradient base(box.topLeft(), box.bottomLeft());
  base.setColorAt(0.0, QColor(74, 80, 88));
  base.setColorAt(0.45, QColor(48, 52, 58));
  base.setColorAt(1.0, QColor(30, 33, 37));
  p.fillPath(shape, base);

  // Brushing: many faint horizontal streaks of random length and brightness.
  p.save();
  p.setClipPath(shape);
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const int streaks = static_cast<int>(box.width() * box.height() / 18.0);
  for (int i = 0; i < streaks; ++i) {
    const double y = box.top() + unit(random) * box.height();
    const double x = box.left() + unit(random) * box.width() - 40;
    const double length = 20 + unit(random) * 120;
    const bool light = unit(random) < 0.5;
    const int alpha = 6 + static_cast<int>(unit(random) * 14);
    p.setPen(QPen(light ? QColor(255, 255, 255, alpha) : QColor(0, 0, 0, alpha + 4), 1.0));
    p.drawLine(QPointF(x, y), QPointF(x + length, y));
  }
  // A soft sheen across the upper third.
  QRadialGradient sheen(box.left() + box.width() * 0.3, box.top() + box.height() * 0.15, box.width() * 0.8);
  sheen.setColorAt(0.0, QColor(255, 255, 255, 34));
  sheen.setColorAt(1.0, QColor(255, 255, 255, 0));
  p.fillPath(shape, sheen);
  p.restore();

  // Bevel: a bright lip on the lit side, a dark one on the shadow side, a black rim.
  p.save();
  p.setClipPath(shape);
  QLinearGradient lip(box.topLeft(), box.bottomRight());
  lip.setColorAt(0.0, QColor(200, 208, 218, 170));
  lip.setColorAt(0.5, QColor(120, 126, 134, 40));
  lip.setColorAt(1.0, QColor(0, 0, 0, 170));
  p.setPen(QPen(QBrush(lip), 7.0));
  p.drawPath(shape);
  // The rim stays inside the outline, so the picture never grows past its region.
  p.setPen(QPen(kEdge, 3.2));
  p.drawPath(shape);
  p.restore();
}

void PaintRecess(QImage& image, const QRectF& rect, double radius, bool grid) {
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QPainterPath path;
  path.addRoundedRect(rect, radius, radius);

  // Outer lip: light below right, dark above left, so the panel sits below the metal.
  p.setPen(QPen(QColor(255, 255, 255, 60), 1.2));
  p.drawPath(path.translated(0.8, 0.8));
  p.setPen(QPen(QColor(0, 0, 0, 200), 1.2));
  p.drawPath(path.translated(-0.6, -0.6));

  QLinearGradient glass(rect.topLeft(), rect.bottomLeft());
  glass.setColorAt(0.0, QColor(6, 14, 18));
  glass.setColorAt(1.0, QColor(10, 24, 30));
  p.fillPath(path, glass);

  p.save();
  p.setClipPath(path);
  if (grid) {
    p.setPen(QPen(QColor(60, 170, 210, 14), 1.0));
    for (double x = rect.left() + 4; x < rect.right(); x += 6)
      p.drawLine(QPointF(x, rect.top()), QPointF(x, rect.bottom()));
    for (double y = rect.top() + 4; y < rect.bottom(); y += 6)
      p.drawLine(QPointF(rect.left(), y), QPointF(rect.right(), y));
  }
  // Inner shadow along the top edge and a faint reflection across the glass.
  QLinearGradient shadow(rect.topLeft(), rect.topLeft() + QPointF(0, 10));
  shadow.setColorAt(0.0, QColor(0, 0, 0, 160));
  shadow.setColorAt(1.0, QColor(0, 0, 0, 0));
  p.fillRect(rect, shadow);
  QPainterPath reflection;
  reflection.moveTo(rect.left(), rect.top());
  reflection.lineTo(rect.left() + rect.width() * 0.55, rect.top());
  reflection.lineTo(rect.left() + rect.width() * 0.35, rect.bottom());
  reflection.lineTo(rect.left(), rect.bottom());
  reflection.closeSubpath();
  p.fillPath(reflection, QColor(255, 255, 255, 7));
  p.restore();
  p.setPen(QPen(QColor(0, 0, 0, 230), 1.0));
  p.drawPath(path);
}

static QFont SkinFont(int pixelSize, bool bold) {
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(pixelSize);
  font.setBold(bold);
  font.setLetterSpacing(QFont::AbsoluteSpacing, pixelSize > 12 ? 1.5 : 0.6);
  font.setHintingPreference(QFont::PreferNoHinting);
  return font;
}

void PaintEngraved(QImage& image, const QRectF& rect, const QString& text, int pixelSize, bool bold,
                   int alignment) {
  QPainter p(&image);
  p.setRenderHint(QPainter::TextAntialiasing);
  p.setFont(SkinFont(pixelSize, bold));
  // The cut's shadow falls below right, away from the light.
  p.setPen(QColor(0, 0, 0, 200));
  p.drawText(rect.translated(1, 1), alignment, text);
  p.setPen(kInlay);
  p.drawText(rect, alignment, text);
}

void PaintPrinted(QImage& image, const QRectF& rect, const QString& text, int pixelSize,
                  const QColor& colour) {
  QPainter p(&image);
  p.setRenderHint(QPainter::TextAntialiasing);
  p.setFont(SkinFont(pixelSize, false));
  p.setPen(QColor(0, 0, 0, 190));
  p.drawText(rect.translated(1, 1), Qt::AlignLeft | Qt::AlignVCenter, text);
  p.setPen(colour);
  p.drawText(rect, Qt::AlignLeft | Qt::AlignVCenter, text);
}

void PaintGlowText(QImage& image, const QRectF& rect, const QString& text, int pixelSize,
                   const QColor& colour, int alignment) {
  QPainter p(&image);
  p.setRenderHint(QPainter::TextAntialiasing);
  p.setFont(SkinFont(pixelSize, true));
  QColor halo = colour;
  for (int i = 3; i >= 1; --i) {
    halo.setAlpha(22);
    p.setPen(halo);
    for (int dx = -i; dx <= i; dx += i) {
      for (int dy = -i; dy <= i; dy += i) p.drawText(rect.translated(dx, dy), alignment, text);
    }
  }
  p.setPen(colour);
  p.drawText(rect, alignment, text);
}

void PaintScrew(QImage& image, const QPointF& centre) {
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QRadialGradient head(centre - QPointF(1.5, 1.5), 5.5);
  head.setColorAt(0.0, QColor(190, 196, 204));
  head.setColorAt(1.0, QColor(60, 64, 70));
  p.setPen(QPen(QColor(0, 0, 0, 180), 1.0));
  p.setBrush(head);
  p.drawEllipse(centre, 4.5, 4.5);
  p.setPen(QPen(QColor(30, 32, 36), 1.4));
  p.drawLine(centre + QPointF(-2.6, 1.6), centre + QPointF(2.6, -1.6));
}

void BinarizeAlpha(QImage& image) {
  const QRgb edge = kEdge.rgb();
  for (int y = 0; y < image.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      const QRgb px = line[x];
      const int a = qAlpha(px);
      if (a < 128) {
        line[x] = 0;
      } else if (a < 255) {
        // Premultiplied: complete the pixel over the rim colour.
        const int rest = 255 - a;
        line[x] = qRgba(qRed(px) + qRed(edge) * rest / 255, qGreen(px) + qGreen(edge) * rest / 255,
                        qBlue(px) + qBlue(edge) * rest / 255, 255);
      }
    }
  }
}

}  // namespace rq::skingen
