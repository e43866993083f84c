#include "Animations.h"

#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTransform>
#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

namespace rq::skingen {
namespace {

constexpr int kWidth = 160;
constexpr int kHeight = 64;
constexpr int kFramesPerSecond = 15;
constexpr int kFrames = 30;  // a two-second loop that joins seamlessly
constexpr int kBlades = 6;
constexpr double kChevronPeriod = 16.0;

struct Speed {
  const char* file;
  int rotorTurns;     // whole blade steps (60 degrees) per loop
  int chevronShifts;  // whole chevron periods per loop
  QColor colour;
};

void Check(int result, const char* what) {
  if (result < 0) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(result, text, sizeof text);
    throw std::runtime_error(std::string(what) + ": " + text);
  }
}

QImage Frame(const Speed& speed, int index) {
  QImage image(kWidth, kHeight, QImage::Format_RGB32);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient glass(0, 0, 0, kHeight);
  glass.setColorAt(0.0, QColor(6, 14, 18));
  glass.setColorAt(1.0, QColor(10, 24, 30));
  p.fillRect(image.rect(), glass);
  p.setPen(QPen(QColor(60, 170, 210, 16), 1));
  for (int x = 2; x < kWidth; x += 6) p.drawLine(x, 0, x, kHeight);
  for (int y = 2; y < kHeight; y += 6) p.drawLine(0, y, kWidth, y);

  const double phase = static_cast<double>(index) / kFrames;
  // Turbine on the left.
  const QPointF hub(32, 32);
  QRadialGradient halo(hub, 30);
  QColor glow = speed.colour;
  glow.setAlpha(70);
  halo.setColorAt(0.0, glow);
  halo.setColorAt(1.0, QColor(0, 0, 0, 0));
  p.setPen(Qt::NoPen);
  p.setBrush(halo);
  p.drawEllipse(hub, 30, 30);
  p.setPen(QPen(speed.colour.darker(160), 2));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(hub, 26, 26);
  const double angle = phase * speed.rotorTurns * (360.0 / kBlades);
  for (int b = 0; b < kBlades; ++b) {
    QTransform t;
    t.translate(hub.x(), hub.y());
    t.rotate(angle + b * 360.0 / kBlades);
    QPainterPath blade;
    blade.moveTo(4, -2);
    blade.cubicTo(12, -10, 22, -8, 23, -1);
    blade.cubicTo(16, -3, 10, 1, 4, 3);
    blade.closeSubpath();
    QLinearGradient shade(0, -8, 0, 4);
    shade.setColorAt(0.0, speed.colour.lighter(140));
    shade.setColorAt(1.0, speed.colour.darker(170));
    p.setPen(QPen(speed.colour.darker(200), 0.8));
    p.setBrush(shade);
    p.drawPath(t.map(blade));
  }
  p.setBrush(QColor(200, 210, 220));
  p.setPen(QPen(QColor(20, 24, 28), 1));
  p.drawEllipse(hub, 4.5, 4.5);

  // Chevron band on the right, scrolling toward the right edge.
  const QRectF band(66, 18, 88, 28);
  p.save();
  p.setClipRect(band);
  const double offset = std::fmod(phase * speed.chevronShifts * kChevronPeriod, kChevronPeriod);
  for (double x = band.left() - kChevronPeriod + offset; x < band.right(); x += kChevronPeriod) {
    const double fade = std::clamp((x - band.left()) / band.width(), 0.0, 1.0);
    QColor c = speed.colour;
    c.setAlphaF(0.25 + 0.75 * fade);
    QPainterPath chevron;
    chevron.moveTo(x, band.top() + 3);
    chevron.lineTo(x + 8, band.center().y());
    chevron.lineTo(x, band.bottom() - 3);
    p.setPen(QPen(c, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(chevron);
  }
  p.restore();
  p.setPen(QPen(speed.colour.darker(150), 1));
  p.drawLine(QPointF(band.left(), band.top() - 4), QPointF(band.right(), band.top() - 4));
  p.drawLine(QPointF(band.left(), band.bottom() + 4), QPointF(band.right(), band.bottom() + 4));
  return image;
}

void Encode(const QString& path, const Speed& speed) {
  const std::string file = path.toStdString();
  AVFormatContext* format = nullptr;
  Check(avformat_alloc_output_context2(&format, nullptr, "avi", file.c_str()), "output");
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
  if (!codec) throw std::runtime_error("no MJPEG encoder");
  AVStream* stream = avformat_new_stream(format, nullptr);
  AVCodecContext* context = avcodec_alloc_context3(codec);
  context->width = kWidth;
  context->height = kHeight;
  context->time_base = AVRational{1, kFramesPerSecond};
  context->framerate = AVRational{kFramesPerSecond, 1};
  context->pix_fmt = AV_PIX_FMT_YUVJ444P;
  context->flags |= AV_CODEC_FLAG_QSCALE;
  context->global_quality = FF_QP2LAMBDA * 2;
  if (format->oformat->flags & AVFMT_GLOBALHEADER) context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  Check(avcodec_open2(context, codec, nullptr), "encoder");
  Check(avcodec_parameters_from_context(stream->codecpar, context), "parameters");
  stream->time_base = context->time_base;
  Check(avio_open(&format->pb, file.c_str(), AVIO_FLAG_WRITE), "open");
  Check(avformat_write_header(format, nullptr), "header");

  SwsContext* scaler = sws_getContext(kWidth, kHeight, AV_PIX_FMT_BGRA, kWidth, kHeight, context->pix_fmt,
                                      SWS_BICUBIC, nullptr, nullptr, nullptr);
  AVFrame* frame = av_frame_alloc();
  frame->format = context->pix_fmt;
  frame->width = kWidth;
  frame->height = kHeight;
  Check(av_frame_get_buffer(frame, 0), "frame");
  AVPacket* packet = av_packet_alloc();

  auto drain = [&]() {
    for (;;) {
      const int got = avcodec_receive_packet(context, packet);
      if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) return;
      Check(got, "encode");
      av_packet_rescale_ts(packet, context->time_base, stream->time_base);
      packet->stream_index = stream->index;
      Check(av_interleaved_write_frame(format, packet), "write");
    }
  };
  for (int i = 0; i < kFrames; ++i) {
    const QImage image = Frame(speed, i);
    Check(av_frame_make_writable(frame), "writable");
    const uint8_t* source[] = {image.constBits()};
    const int stride[] = {static_cast<int>(image.bytesPerLine())};
    sws_scale(scaler, source, stride, 0, kHeight, frame->data, frame->linesize);
    frame->pts = i;
    Check(avcodec_send_frame(context, frame), "send");
    drain();
  }
  Check(avcodec_send_frame(context, nullptr), "flush");
  drain();
  Check(av_write_trailer(format), "trailer");

  av_packet_free(&packet);
  av_frame_free(&frame);
  sws_freeContext(scaler);
  avcodec_free_context(&context);
  avio_closep(&format->pb);
  avformat_free_context(format);
}

}  // namespace

void WriteAnimations(const QString& dir) {
  av_log_set_level(AV_LOG_ERROR);
  const Speed speeds[] = {{"01.avi", 1, 2, QColor(90, 216, 255)},
                          {"02.avi", 3, 5, QColor(255, 178, 64)},
                          {"03.avi", 6, 9, QColor(255, 80, 60)}};
  for (const Speed& speed : speeds) Encode(dir + "/" + speed.file, speed);
}

}  // namespace rq::skingen
