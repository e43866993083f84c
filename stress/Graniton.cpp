// Graniton: video load. Synthetic frames are generated, compressed to JPEG and
// decoded again, as a player decodes a stream, and every decoded frame is shown.
#include <QBuffer>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QTimer>
#include <QWidget>
#include <cmath>

#include "stress/StressWindow.h"

namespace rq::stress {
namespace {

constexpr int kFrameWidth = 640;
constexpr int kFrameHeight = 360;
constexpr int kJpegQuality = 85;

class VideoView : public QWidget {
 public:
  VideoView() : source_(kFrameWidth, kFrameHeight, QImage::Format_RGB32) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    clock_.start();
    connect(&frames_, &QTimer::timeout, this, [this] {
      DecodeNextFrame();
      update();
    });
    frames_.start(0);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (!shown_.isNull()) {
      const QSize fitted = shown_.size().scaled(size(), Qt::KeepAspectRatio);
      painter.drawImage(
          QRect(QPoint((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted), shown_);
    }
  }

 private:
  // A moving interference pattern: smooth gradients and fine detail, the mix
  // that keeps a codec busy.
  void RenderSource(double t) {
    for (int y = 0; y < kFrameHeight; ++y) {
      auto* line = reinterpret_cast<QRgb*>(source_.scanLine(y));
      for (int x = 0; x < kFrameWidth; ++x) {
        const double a = std::sin(x * 0.031 + t) + std::sin(y * 0.047 - t * 1.3) +
                         std::sin((x + y) * 0.019 + t * 0.7) +
                         std::sin(std::hypot(x - 320.0, y - 180.0) * 0.05 - t);
        const int level = static_cast<int>((a + 4.0) * 31.0);
        line[x] = qRgb(level, (level * 3 + x) & 0xFF, (255 - level + y) & 0xFF);
      }
    }
  }

  void DecodeNextFrame() {
    RenderSource(static_cast<double>(clock_.elapsed()) / 400.0);
    QByteArray stream;
    QBuffer buffer(&stream);
    buffer.open(QIODevice::WriteOnly);
    source_.save(&buffer, "JPEG", kJpegQuality);
    QImage decoded;
    if (decoded.loadFromData(stream, "JPEG")) shown_ = std::move(decoded);
  }

  QImage source_;
  QImage shown_;
  QTimer frames_;
  QElapsedTimer clock_;
};

}  // namespace
}  // namespace rq::stress

int main(int argc, char** argv) {
  return rq::stress::RunStressProgram(argc, argv, QStringLiteral("DShow Testing"),
                                      [] { return new rq::stress::VideoView; });
}
