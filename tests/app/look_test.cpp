// The look: number forms, region resources against their pictures, the three-state
// buttons and the speed animations.
#include <gtest/gtest.h>

#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <QtEndian>

#include "app/Animation.h"
#include "app/Format.h"
#include "app/ImageButton.h"
#include "app/Region.h"

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

}  // namespace
}  // namespace rq::app
