// The look: number forms, region resources against their pictures, the three-state
// buttons and the speed animations.
#include <gtest/gtest.h>

#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <cstring>

#include "app/Animation.h"
#include "app/Format.h"
#include "app/ImageButton.h"
#include "app/Region.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace rq::app {
namespace {

TEST(Format, GeneralFormIsShortestAndFixedFormHasOneDecimal) {
  EXPECT_EQ(FormatGeneral(133.3), "133.3");
  EXPECT_EQ(FormatGeneral(200.0), "200");
  EXPECT_EQ(FormatGeneral(133.3 + 1), "134.3");
  EXPECT_EQ(FormatGeneral(166.66666666666666), "166.666666666667");
  EXPECT_EQ(FormatFixed1(2400.04), "2400.0");
  EXPECT_EQ(FormatFixed1(0), "0.0");
}

QByteArray Header(qint32 size, qint32 type, qint32 count, qint32 bytes) {
  QByteArray data(32, '\0');
  qToLittleEndian(size, data.data());
  qToLittleEndian(type, data.data() + 4);
  qToLittleEndian(count, data.data() + 8);
  qToLittleEndian(bytes, data.data() + 12);
  return data;
}

void AppendRect(QByteArray& data, qint32 l, qint32 t, qint32 r, qint32 b) {
  char bytes[16];
  qToLittleEndian(l, bytes);
  qToLittleEndian(t, bytes + 4);
  qToLittleEndian(r, bytes + 8);
  qToLittleEndian(b, bytes + 12);
  data.append(bytes, 16);
}

TEST(Region, DecodesRectanglesWithExclusiveRightAndBottom) {
  QByteArray data = Header(32, 1, 2, 32);
  AppendRect(data, 0, 0, 10, 5);
  AppendRect(data, 2, 5, 8, 6);
  auto region = RegionFromRgnData(data);
  ASSERT_TRUE(region);
  EXPECT_TRUE(region->contains(QPoint(9, 4)));
  EXPECT_FALSE(region->contains(QPoint(10, 4)));
  EXPECT_TRUE(region->contains(QPoint(2, 5)));
  EXPECT_FALSE(region->contains(QPoint(1, 5)));
  EXPECT_FALSE(region->contains(QPoint(2, 6)));
}

TEST(Region, RejectsMalformedBlocksInsteadOfReadingPastThem) {
  EXPECT_FALSE(RegionFromRgnData(QByteArray(16, '\0')));  // short header
  EXPECT_FALSE(RegionFromRgnData(Header(40, 1, 0, 0)));   // wrong header size
  EXPECT_FALSE(RegionFromRgnData(Header(32, 2, 0, 0)));   // not rectangles
  QByteArray truncated = Header(32, 1, 3, 48);            // says 3, holds 1
  AppendRect(truncated, 0, 0, 1, 1);
  EXPECT_FALSE(RegionFromRgnData(truncated));
  EXPECT_FALSE(RegionFromRgnData(Header(32, 1, -1, 0)));  // huge count
  QByteArray empty = Header(32, 1, 1, 16);
  AppendRect(empty, 5, 5, 5, 9);  // zero width: skipped
  auto region = RegionFromRgnData(empty);
  ASSERT_TRUE(region);
  EXPECT_TRUE(region->isEmpty());
}

struct Skin {
  const char* region;
  const char* picture;
  QSize size;
};

class SkinRegion : public ::testing::TestWithParam<Skin> {};

TEST_P(SkinRegion, RegionIsExactlyTheOpaquePartOfThePicture) {
  const Skin skin = GetParam();
  const QImage picture(QStringLiteral(":/skin/") + skin.picture);
  ASSERT_FALSE(picture.isNull());
  EXPECT_EQ(picture.size(), skin.size);
  // Looked up without regard to case, as the resource names are spelled both ways.
  auto region = LoadRegionResource(QString(skin.region).toLower());
  ASSERT_TRUE(region);
  int mismatches = 0;
  for (int y = 0; y < picture.height(); ++y)
    for (int x = 0; x < picture.width(); ++x)
      if ((qAlpha(picture.pixel(x, y)) >= 128) != region->contains(QPoint(x, y))) ++mismatches;
  EXPECT_EQ(mismatches, 0);
  EXPECT_EQ(RgnDataBounds(RegionResourceData(skin.region)), region->boundingRect());
}

INSTANTIATE_TEST_SUITE_P(Windows, SkinRegion,
                         ::testing::Values(Skin{"BackGround", "MainBk.png", {308, 400}},
                                           Skin{"OverClockBackGrnd", "OverClockBk.png", {245, 350}},
                                           Skin{"AboutBackGrnd", "AboutBk.png", {259, 200}},
                                           Skin{"VoltageBackGrnd", "VoltageBk.png", {259, 200}},
                                           Skin{"HWMonitorBackGrnd", "HwMonitorBk.png", {279, 397}}),
                         [](const ::testing::TestParamInfo<Skin>& param) {
                           return std::string(param.param.region);
                         });

TEST(Region, MainWindowOutlineSpansTheStatedBounds) {
  auto bounds = RgnDataBounds(RegionResourceData("BackGround"));
  ASSERT_TRUE(bounds);
  EXPECT_EQ(*bounds, QRect(QPoint(2, 1), QPoint(304, 399)));  // 2,1 to 305,400 exclusive
}

TEST(ImageButton, ShowsExactlyOnePictureAndClicksOnlyWhenReleasedInside) {
  QWidget parent;
  ImageButton button(&parent, "Exit", "Exit", "Close the Utility.");
  auto visible = [&] {
    QStringList shown;
    for (const char* name : {"imgExitUp", "imgExitDown", "imgExitDisable"})
      if (!button.findChild<QLabel*>(name)->isHidden()) shown << name;
    return shown;
  };
  EXPECT_EQ(visible(), QStringList{"imgExitUp"});
  EXPECT_EQ(button.toolTip(), "Close the Utility.");
  EXPECT_EQ(button.cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(button.size(), QSize(30, 30));

  QSignalSpy clicks(&button, &ImageButton::Click);
  QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(15, 15));
  QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(15, 15));
  EXPECT_EQ(clicks.count(), 1);
  QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(15, 15));
  QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(60, 60));  // dragged off
  EXPECT_EQ(clicks.count(), 1);

  button.ShowDown();
  EXPECT_EQ(visible(), QStringList{"imgExitDown"});
  button.SetUnavailable();
  EXPECT_EQ(visible(), QStringList{"imgExitDisable"});
  QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(15, 15));
  EXPECT_EQ(clicks.count(), 1);
}

TEST(Animation, FileFollowsThePercentageWithInclusiveLimits) {
  EXPECT_EQ(AnimationFileFor(100), "01.avi");
  EXPECT_EQ(AnimationFileFor(110), "01.avi");
  EXPECT_EQ(AnimationFileFor(111), "02.avi");
  EXPECT_EQ(AnimationFileFor(120), "02.avi");
  EXPECT_EQ(AnimationFileFor(121), "03.avi");
}

TEST(Animation, ShippedFilesDecodeAndBrokenOnesDoNot) {
  const QString bin = qEnvironmentVariable("RQ_BIN_DIR");
  ASSERT_FALSE(bin.isEmpty());
  for (const char* file : {"01.avi", "02.avi", "03.avi"}) {
    auto clip = DecodeAnimation(bin + "/" + file);
    ASSERT_TRUE(clip) << file;
    EXPECT_EQ(clip->frames.size(), 30u);
    EXPECT_EQ(clip->frames.front().size(), QSize(160, 64));
    EXPECT_GT(clip->frameIntervalMs, 0);
  }
  EXPECT_FALSE(DecodeAnimation(bin + "/no-such.avi"));

  QWidget parent;
  AnimationPlayer player(&parent);
  player.SetFileName(bin + "/02.avi");
  player.Play();
  EXPECT_TRUE(player.Active());
  player.SetFileName(bin + "/02.avi");  // the same file keeps playing
  EXPECT_TRUE(player.Active());
  player.SetFileName(bin + "/missing.avi");
  player.Play();
  EXPECT_FALSE(player.Active());
  EXPECT_EQ(player.FrameCount(), 0);
}

// Writes `frames` grey frames of `width` × `height` as an MJPEG AVI.
bool WriteGreyClip(const QString& path, int width, int height, int frames) {
  const QByteArray file = path.toLocal8Bit();
  AVFormatContext* format = nullptr;
  if (avformat_alloc_output_context2(&format, nullptr, "avi", file.constData()) < 0) return false;
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
  AVStream* stream = avformat_new_stream(format, nullptr);
  AVCodecContext* context = avcodec_alloc_context3(codec);
  AVFrame* frame = av_frame_alloc();
  AVPacket* packet = av_packet_alloc();
  context->width = width;
  context->height = height;
  context->time_base = AVRational{1, 15};
  context->pix_fmt = AV_PIX_FMT_YUVJ420P;
  frame->format = context->pix_fmt;
  frame->width = width;
  frame->height = height;
  bool ok = avcodec_open2(context, codec, nullptr) >= 0 &&
            avcodec_parameters_from_context(stream->codecpar, context) >= 0 &&
            avio_open(&format->pb, file.constData(), AVIO_FLAG_WRITE) >= 0 &&
            avformat_write_header(format, nullptr) >= 0 && av_frame_get_buffer(frame, 0) >= 0;
  const auto drain = [&] {
    while (ok && avcodec_receive_packet(context, packet) >= 0) {
      av_packet_rescale_ts(packet, context->time_base, stream->time_base);
      packet->stream_index = stream->index;
      ok = av_interleaved_write_frame(format, packet) >= 0;
    }
  };
  for (int i = 0; ok && i < frames; ++i) {
    for (int plane = 0; plane < 3; ++plane) {
      const int rows = plane == 0 ? height : (height + 1) / 2;
      std::memset(frame->data[plane], 128, static_cast<std::size_t>(frame->linesize[plane]) * rows);
    }
    frame->pts = i;
    ok = avcodec_send_frame(context, frame) >= 0;
    drain();
  }
  ok = ok && avcodec_send_frame(context, nullptr) >= 0;
  drain();
  ok = ok && av_write_trailer(format) >= 0;
  av_packet_free(&packet);
  av_frame_free(&frame);
  avcodec_free_context(&context);
  avio_closep(&format->pb);
  avformat_free_context(format);
  return ok;
}

TEST(Animation, ClipsPastTheLimitsAreNotPlayed) {
  QTemporaryDir dir;
  // One picture is a clip of one frame to the decoder, whatever the file's name:
  // 4096 × 4352 grey, 68 MiB decoded, from a file of a few dozen KiB.
  const QString huge = dir.filePath("huge.avi");
  QImage picture(4096, 4352, QImage::Format_Grayscale8);
  picture.fill(128);
  ASSERT_TRUE(picture.save(huge, "PNG", 80));  // light compression: quick to write
  const QString endless = dir.filePath("endless.avi");
  ASSERT_TRUE(WriteGreyClip(endless, 16, 16, 1001));
  for (const QString& path : {huge, endless}) {
    SCOPED_TRACE(path.toStdString());
    EXPECT_LT(QFileInfo(path).size(), 2 << 20);  // small files: the file-size bound is not what refuses them
    EXPECT_FALSE(DecodeAnimation(path));
    QWidget parent;
    AnimationPlayer player(&parent);
    player.SetFileName(path);
    player.Play();
    EXPECT_FALSE(player.Active());
    EXPECT_EQ(player.FrameCount(), 0);
  }

  // The bounds are inclusive: the shipped clip is 30 frames, 160 × 64 × 4 × 30 bytes.
  const QString shipped = qEnvironmentVariable("RQ_BIN_DIR") + "/01.avi";
  const qint64 size = QFileInfo(shipped).size();
  struct Bound {
    AnimationLimits limits;
    bool decodes;
  };
  const Bound bounds[] = {
      {{.maxFileBytes = size, .maxFrames = 30, .maxDecodedBytes = 1228800}, true},
      {{.maxFileBytes = size - 1, .maxFrames = 30, .maxDecodedBytes = 1228800}, false},
      {{.maxFileBytes = size, .maxFrames = 29, .maxDecodedBytes = 1228800}, false},
      {{.maxFileBytes = size, .maxFrames = 30, .maxDecodedBytes = 1228799}, false},
  };
  for (const Bound& b : bounds) {
    EXPECT_EQ(DecodeAnimation(shipped, b.limits).has_value(), b.decodes)
        << b.limits.maxFileBytes << " " << b.limits.maxFrames << " " << b.limits.maxDecodedBytes;
  }
}

}  // namespace
}  // namespace rq::app
