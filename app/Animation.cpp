#include "app/Animation.h"

#include <QFileInfo>
#include <QPainter>
#include <algorithm>
#include <cstdio>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

namespace rq::app {
namespace {

constexpr int kSlowPercent = 110;
constexpr int kMediumPercent = 120;
constexpr qint64 kBytesPerPixel = 4;  // the frames are kept as 32-bit images

// Owns the decoder objects of one decoding pass.
struct Decoder {
  AVFormatContext* format = nullptr;
  AVCodecContext* codec = nullptr;
  AVFrame* frame = nullptr;
  AVPacket* packet = nullptr;
  SwsContext* scaler = nullptr;
  ~Decoder() {
    sws_freeContext(scaler);
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&codec);
    avformat_close_input(&format);
  }
};

}  // namespace

QString AnimationFileFor(int overclockPercent) {
  if (overclockPercent <= kSlowPercent) return QStringLiteral("01.avi");
  if (overclockPercent <= kMediumPercent) return QStringLiteral("02.avi");
  return QStringLiteral("03.avi");
}

std::optional<AnimationClip> DecodeAnimation(const QString& path, const AnimationLimits& limits) {
  av_log_set_level(AV_LOG_ERROR);  // the decoder's notes are no concern of the user
  const QFileInfo info(path);
  if (!info.isFile() || info.size() > limits.maxFileBytes) return std::nullopt;
  Decoder d;
  const QByteArray file = path.toLocal8Bit();
  if (avformat_open_input(&d.format, file.constData(), nullptr, nullptr) < 0) return std::nullopt;
  // The decoders refuse a frame larger than the whole budget before allocating it,
  // also while probing the streams.
  const qint64 maxPixels = std::max<qint64>(1, limits.maxDecodedBytes / kBytesPerPixel);
  std::vector<AVDictionary*> probeOptions(d.format->nb_streams, nullptr);
  for (AVDictionary*& options : probeOptions) av_dict_set_int(&options, "max_pixels", maxPixels, 0);
  const int probed = avformat_find_stream_info(d.format, probeOptions.data());
  for (AVDictionary*& options : probeOptions) av_dict_free(&options);
  if (probed < 0) return std::nullopt;
  const AVCodec* codec = nullptr;
  const int stream = av_find_best_stream(d.format, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
  if (stream < 0 || !codec) return std::nullopt;
  d.codec = avcodec_alloc_context3(codec);
  if (!d.codec || avcodec_parameters_to_context(d.codec, d.format->streams[stream]->codecpar) < 0)
    return std::nullopt;
  d.codec->max_pixels = maxPixels;
  if (avcodec_open2(d.codec, codec, nullptr) < 0) return std::nullopt;
  d.frame = av_frame_alloc();
  d.packet = av_packet_alloc();

  AnimationClip clip;
  const AVRational rate = av_guess_frame_rate(d.format, d.format->streams[stream], nullptr);
  if (rate.num > 0 && rate.den > 0) clip.frameIntervalMs = std::max(10, 1000 * rate.den / rate.num);

  qint64 decodedBytes = 0;
  auto receive = [&]() -> bool {
    for (;;) {
      const int got = avcodec_receive_frame(d.codec, d.frame);
      if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) return true;
      if (got < 0) return false;
      const int w = d.frame->width, h = d.frame->height;
      if (w <= 0 || h <= 0) return false;
      decodedBytes += qint64{w} * h * kBytesPerPixel;
      if (static_cast<qint64>(clip.frames.size()) >= limits.maxFrames ||
          decodedBytes > limits.maxDecodedBytes)
        return false;
      d.scaler = sws_getCachedContext(d.scaler, w, h, static_cast<AVPixelFormat>(d.frame->format), w, h,
                                      AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
      if (!d.scaler) return false;
      QImage image(w, h, QImage::Format_RGB32);
      uint8_t* target[] = {image.bits()};
      const int stride[] = {static_cast<int>(image.bytesPerLine())};
      sws_scale(d.scaler, d.frame->data, d.frame->linesize, 0, h, target, stride);
      clip.frames.push_back(std::move(image));
    }
  };
  while (av_read_frame(d.format, d.packet) >= 0) {
    const bool ours = d.packet->stream_index == stream;
    const bool sent = !ours || avcodec_send_packet(d.codec, d.packet) >= 0;
    av_packet_unref(d.packet);
    if (!sent || !receive()) return std::nullopt;
  }
  avcodec_send_packet(d.codec, nullptr);
  if (!receive() || clip.frames.empty()) return std::nullopt;
  return clip;
}

AnimationPlayer::AnimationPlayer(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  connect(&timer_, &QTimer::timeout, this, [this] {
    if (clip_.frames.empty()) return;
    frame_ = (frame_ + 1) % clip_.frames.size();
    update();
  });
}

void AnimationPlayer::SetFileName(const QString& path) {
  if (path == fileName_) return;
  fileName_ = path;
  timer_.stop();
  frame_ = 0;
  if (auto clip = DecodeAnimation(path)) {
    clip_ = std::move(*clip);
  } else {
    clip_ = {};
    std::fprintf(stderr, "rhomboquest: cannot play the animation %s\n", qPrintable(path));
  }
  update();
}

void AnimationPlayer::Play() {
  if (clip_.frames.empty() || timer_.isActive()) return;
  timer_.start(clip_.frameIntervalMs);
}

void AnimationPlayer::Stop() { timer_.stop(); }

void AnimationPlayer::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), QColor(6, 14, 18));
  if (clip_.frames.empty()) return;
  const QImage& image = clip_.frames[frame_];
  p.drawImage(QPoint((width() - image.width()) / 2, (height() - image.height()) / 2), image);
}

}  // namespace rq::app
