// Pallwick: 2D load. Hundreds of sprites bounce over a scrolling backdrop, each
// frame composed in memory and blitted with QPainter.
#include <QImage>
#include <QPainter>
#include <QRadialGradient>
#include <QRandomGenerator>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <array>
#include <vector>

#include "stress/StressWindow.h"

namespace rq::stress {
namespace {

constexpr int kSpriteCount = 600;
constexpr int kSpriteSize = 48;
constexpr int kSpriteKinds = 6;
constexpr int kTileSize = 32;

struct Sprite {
  QPointF position;
  QPointF velocity;
  int kind;
};

class SpriteField : public QWidget {
 public:
  SpriteField() {
    setAttribute(Qt::WA_OpaquePaintEvent);
    for (int k = 0; k < kSpriteKinds; ++k) kinds_[static_cast<std::size_t>(k)] = MakeSprite(k);
    auto* random = QRandomGenerator::global();
    for (int i = 0; i < kSpriteCount; ++i) {
      sprites_.push_back({QPointF(random->bounded(kStressWidth), random->bounded(kStressHeight)),
                          QPointF(random->bounded(8.0) - 4.0, random->bounded(8.0) - 4.0), i % kSpriteKinds});
    }
    // A zero-interval timer fires whenever the event loop is idle: as many frames as the machine can draw.
    connect(&frames_, &QTimer::timeout, this, [this] {
      Step();
      update();
    });
    frames_.start(0);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    if (frame_.size() != size()) frame_ = QImage(size(), QImage::Format_ARGB32_Premultiplied);
    QPainter canvas(&frame_);
    DrawBackdrop(canvas);
    for (const Sprite& sprite : sprites_) {
      canvas.drawImage(sprite.position, kinds_[static_cast<std::size_t>(sprite.kind)]);
    }
    canvas.end();
    QPainter(this).drawImage(0, 0, frame_);
  }

 private:
  static QImage MakeSprite(int kind) {
    QImage image(kSpriteSize, kSpriteSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QRadialGradient glow(kSpriteSize / 2.0, kSpriteSize / 2.0, kSpriteSize / 2.0, kSpriteSize / 3.0,
                         kSpriteSize / 3.0);
    glow.setColorAt(0.0, Qt::white);
    glow.setColorAt(0.4, QColor::fromHsv(kind * 360 / kSpriteKinds, 220, 255));
    glow.setColorAt(1.0, QColor::fromHsv(kind * 360 / kSpriteKinds, 255, 90, 0));
    painter.setBrush(glow);
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(0, 0, kSpriteSize, kSpriteSize);
    return image;
  }

  void DrawBackdrop(QPainter& canvas) {
    const int shift = scroll_ % (2 * kTileSize);
    for (int y = -2 * kTileSize; y < height(); y += kTileSize) {
      for (int x = -2 * kTileSize; x < width(); x += kTileSize) {
        const bool dark = ((x + y) / kTileSize) % 2 == 0;
        canvas.fillRect(x + shift, y + shift, kTileSize, kTileSize,
                        dark ? QColor(20, 24, 40) : QColor(34, 40, 64));
      }
    }
  }

  void Step() {
    ++scroll_;
    const double right = width() - kSpriteSize;
    const double bottom = height() - kSpriteSize;
    for (Sprite& sprite : sprites_) {
      sprite.position += sprite.velocity;
      if (sprite.position.x() < 0 || sprite.position.x() > right) sprite.velocity.rx() = -sprite.velocity.x();
      if (sprite.position.y() < 0 || sprite.position.y() > bottom)
        sprite.velocity.ry() = -sprite.velocity.y();
      sprite.position.rx() = std::clamp(sprite.position.x(), 0.0, std::max(right, 0.0));
      sprite.position.ry() = std::clamp(sprite.position.y(), 0.0, std::max(bottom, 0.0));
    }
  }

  std::array<QImage, kSpriteKinds> kinds_;
  std::vector<Sprite> sprites_;
  QImage frame_;
  QTimer frames_;
  int scroll_ = 0;
};

}  // namespace
}  // namespace rq::stress

int main(int argc, char** argv) {
  return rq::stress::RunStressProgram(argc, argv, QStringLiteral("DirectDraw Testing Program"),
                                      [] { return new rq::stress::SpriteField; });
}
