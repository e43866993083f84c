#pragma once
#include <QImage>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <optional>
#include <vector>

namespace rq::app {

// The frames of an AVI file, decoded once.
struct AnimationClip {
  std::vector<QImage> frames;
  int frameIntervalMs = 66;
};

// Every frame is kept decoded, so a clip is bounded before and while decoding: a
// small file can hold huge or countless frames. The control is 160 × 64 and the
// shipped clips are 30 frames (1.2 MiB decoded).
struct AnimationLimits {
  qint64 maxFileBytes = qint64{16} << 20;
  qint64 maxFrames = 1000;
  qint64 maxDecodedBytes = qint64{64} << 20;  // width × height × 4 over all frames
};

// Decodes every frame of the video file at `path`; nothing when it cannot be read
// or goes past `limits`.
std::optional<AnimationClip> DecodeAnimation(const QString& path, const AnimationLimits& limits = {});

// The speed animation file for an overclock percentage: "01.avi" up to 110 %,
// "02.avi" up to 120 %, "03.avi" above.
QString AnimationFileFor(int overclockPercent);

// An animation control: plays a video file in a loop. Setting the file it already
// plays keeps it running, so a once-a-second refresh does not restart it.
class AnimationPlayer : public QWidget {
 public:
  explicit AnimationPlayer(QWidget* parent);

  void SetFileName(const QString& path);
  const QString& FileName() const { return fileName_; }
  void Play();
  void Stop();
  bool Active() const { return timer_.isActive(); }
  int FrameCount() const { return static_cast<int>(clip_.frames.size()); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString fileName_;
  AnimationClip clip_;
  size_t frame_ = 0;
  QTimer timer_;
};

}  // namespace rq::app
