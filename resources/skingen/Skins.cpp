#include "Skins.h"

#include <QDir>
#include <QFile>
#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>
#include <functional>
#include <stdexcept>

#include "Painting.h"
#include "RegionData.h"

namespace rq::skingen {
namespace {

constexpr int kButtonSize = 30;
constexpr int kLeft = Qt::AlignLeft | Qt::AlignVCenter;
constexpr int kCentre = Qt::AlignCenter;

class Output {
 public:
  explicit Output(QString dir) : dir_(std::move(dir)) {}

  void Png(const QString& name, const QImage& image) {
    QDir().mkpath(QFileInfo(dir_ + "/" + name).path());
    if (!image.save(dir_ + "/" + name, "PNG")) throw std::runtime_error("cannot write " + name.toStdString());
    files_ << name;
  }
  // A window background and the region resource derived from its alpha.
  void Window(const QString& picture, const QString& region, QImage image) {
    BinarizeAlpha(image);
    Png(picture, image);
    const QString name = "rgn/" + region;
    QDir().mkpath(dir_ + "/rgn");
    QFile file(dir_ + "/" + name);
    if (!file.open(QIODevice::WriteOnly) || file.write(RegionDataFromAlpha(image)) < 0)
      throw std::runtime_error("cannot write " + name.toStdString());
    files_ << name;
  }
  const QStringList& Files() const { return files_; }

 private:
  QString dir_;
  QStringList files_;
};

QPainterPath RoundedRect(const QRectF& r, double radius) {
  QPainterPath path;
  path.addRoundedRect(r, radius, radius);
  return path;
}

// --- window backgrounds --------------------------------------------------------

QImage MainSkin() {
  // Body 2..305 x 16..400 with a crest rising to y = 1: the region bounds are 2,1 to 305,400.
  QImage image = NewCanvas(308, 400);
  QPainterPath shape =
      RoundedRect(QRectF(2, 16, 303, 384), 22).united(RoundedRect(QRectF(70, 1, 168, 44), 14));
  PaintMetalBody(image, shape.simplified(), 308400);

  PaintRecess(image, QRectF(84, 7, 140, 26), 9, false);
  PaintGlowText(image, QRectF(84, 7, 140, 26), "RHOMBOQUEST", 13, kGlowCyan, kCentre);
  PaintEngraved(image, QRectF(16, 40, 276, 14), "OVER CLOCK  &&  H/W MONITOR", 9, true, kCentre);
  PaintScrew(image, {18, 32});
  PaintScrew(image, {18, 386});
  PaintScrew(image, {290, 386});

  PaintRecess(image, QRectF(16, 60, 276, 186), 8);
  const char* captions[] = {"CPU SPEED", "CPU CLOCK", "AGP CLOCK", "PCI CLOCK", "MEMORY CLOCK"};
  for (int i = 0; i < 5; ++i) {
    const double y = 68 + i * 28;
    PaintGlowText(image, QRectF(28, y, 110, 22), captions[i], 10, QColor(120, 170, 190), kLeft);
    QPainter p(&image);
    p.setPen(QPen(QColor(90, 216, 255, 28), 1));
    p.drawLine(QPointF(26, y + 25), QPointF(282, y + 25));
  }
  PaintGlowText(image, QRectF(28, 210, 110, 26), "OVER CLOCK", 11, kGlowAmber.darker(130), kLeft);

  PaintRecess(image, QRectF(64, 254, 180, 72), 6, false);
  PaintRecess(image, QRectF(22, 338, 264, 54), 10, false);
  const char* buttons[] = {"CLOCK", "VOLTAGE", "MONITOR", "ABOUT"};
  for (int i = 0; i < 4; ++i) {
    PaintGlowText(image, QRectF(22 + i * 64, 376, 72, 14), buttons[i], 8, QColor(120, 170, 190), kCentre);
  }
  return image;
}

QImage OverclockSkin() {
  QImage image = NewCanvas(245, 350);
  PaintMetalBody(image, RoundedRect(QRectF(0, 0, 245, 350), 18), 245350);
  PaintEngraved(image, QRectF(0, 8, 245, 24), "OVER CLOCK", 15, true, kCentre);
  PaintRecess(image, QRectF(16, 38, 213, 66), 8);
  PaintGlowText(image, QRectF(24, 42, 120, 14), "CPU CLOCK", 9, QColor(120, 170, 190), kLeft);
  PaintGlowText(image, QRectF(176, 66, 46, 30), "MHz", 13, kGlowCyan.darker(140), kLeft);
  const char* steps[] = {"-3", "-1", "+1", "+3"};
  for (int i = 0; i < 4; ++i)
    PaintEngraved(image, QRectF(17 + i * 54, 150, 50, 14), QString(steps[i]) + " MHz", 9, true, kCentre);
  QPainter p(&image);
  p.setPen(QPen(QColor(0, 0, 0, 150), 1));
  p.drawLine(18, 172, 227, 172);
  p.setPen(QPen(QColor(255, 255, 255, 50), 1));
  p.drawLine(18, 173, 227, 173);
  p.end();
  const char* actions[][2] = {{"AUTO SELECT", "find the best CPU clock"},
                              {"VERIFY", "test and save this clock"},
                              {"RECOVERY", "after a fail-safe reboot"},
                              {"RESET", "hardware default settings"}};
  for (int i = 0; i < 4; ++i) {
    const double y = 184 + i * 40;
    PaintEngraved(image, QRectF(68, y + 1, 160, 16), actions[i][0], 12, true, kLeft);
    PaintPrinted(image, QRectF(68, y + 16, 160, 13), actions[i][1], 9, kSmallPrint);
  }
  PaintScrew(image, {14, 338});
  PaintScrew(image, {231, 338});
  return image;
}

QImage InfoSkin() {
  QImage image = NewCanvas(259, 200);
  PaintMetalBody(image, RoundedRect(QRectF(0, 0, 259, 200), 16), 259200);
  PaintEngraved(image, QRectF(0, 6, 259, 22), "SYSTEM INFORMATION", 13, true, kCentre);
  PaintRecess(image, QRectF(10, 32, 239, 158), 8);
  return image;
}

QImage VoltageSkin() {
  QImage image = NewCanvas(259, 200);
  PaintMetalBody(image, RoundedRect(QRectF(0, 0, 259, 200), 16), 259201);
  PaintEngraved(image, QRectF(0, 6, 259, 22), "VOLTAGE", 14, true, kCentre);
  PaintRecess(image, QRectF(10, 32, 239, 84), 8);
  PaintGlowText(image, QRectF(22, 44, 100, 22), "CPU CORE", 11, QColor(120, 170, 190), kLeft);
  PaintGlowText(image, QRectF(22, 80, 100, 22), "MEMORY", 11, QColor(120, 170, 190), kLeft);
  PaintEngraved(image, QRectF(18, 138, 100, 18), "OVER VOLTAGE", 11, true, kLeft);
  PaintPrinted(image, QRectF(18, 156, 110, 14), "core and memory", 9, kSmallPrint);
  PaintScrew(image, {14, 186});
  PaintScrew(image, {245, 186});
  return image;
}

QImage HwMonitorSkin() {
  QImage image = NewCanvas(279, 397);
  PaintMetalBody(image, RoundedRect(QRectF(0, 0, 279, 397), 18), 279397);
  PaintEngraved(image, QRectF(0, 10, 279, 24), "HARDWARE MONITOR", 14, true, kCentre);
  // The read-out window above the sensor rows: the panel draws its history graph in it.
  PaintRecess(image, QRectF(14, 42, 251, 62), 8);
  PaintRecess(image, QRectF(6, 112, 267, 166), 8);
  QPainter p(&image);
  p.setPen(QPen(QColor(90, 216, 255, 40), 1));
  p.drawLine(QPointF(153.5, 118), QPointF(153.5, 272));  // after the left column's units
  p.end();
  // Ventilation slots below the rows.
  QPainter v(&image);
  v.setRenderHint(QPainter::Antialiasing);
  for (int i = 0; i < 7; ++i) {
    const QRectF slot(40, 296 + i * 12, 199, 5);
    v.setPen(Qt::NoPen);
    v.setBrush(QColor(255, 255, 255, 45));
    v.drawRoundedRect(slot.translated(0, 1), 2.5, 2.5);
    v.setBrush(QColor(6, 8, 10));
    v.drawRoundedRect(slot, 2.5, 2.5);
  }
  v.end();
  PaintScrew(image, {16, 384});
  PaintScrew(image, {263, 384});
  return image;
}

// --- three-state buttons -----------------------------------------------------------

enum class ButtonState { Up, Down, Disable };

using Glyph = std::function<void(QPainterPath&)>;

QPainterPath Chevrons(int count, bool right) {
  constexpr double kDepth = 6, kSpacing = 6;
  QPainterPath path;
  double x = 15 - (kDepth + (count - 1) * kSpacing) / 2;
  for (int i = 0; i < count; ++i, x += kSpacing) {
    const double back = right ? x : x + kDepth;
    const double tip = right ? x + kDepth : x;
    path.moveTo(back, 9);
    path.lineTo(tip, 15);
    path.lineTo(back, 21);
  }
  return path;
}

QPainterPath GlyphFor(const QString& name) {
  QPainterPath path;
  if (name == "Exit") {
    path.moveTo(10, 10);
    path.lineTo(20, 20);
    path.moveTo(20, 10);
    path.lineTo(10, 20);
  } else if (name == "About") {
    path.moveTo(15, 13.5);
    path.lineTo(15, 21);
    path.addEllipse(QPointF(15, 9.5), 0.6, 0.6);
  } else if (name == "OverClk") {
    path.arcMoveTo(QRectF(8, 9, 14, 14), 200);
    path.arcTo(QRectF(8, 9, 14, 14), 200, -220);
    path.moveTo(15, 16);
    path.lineTo(19.5, 11.5);
  } else if (name == "Volt") {
    path.moveTo(17, 7.5);
    path.lineTo(11, 16);
    path.lineTo(15.5, 16);
    path.lineTo(13, 22.5);
    path.lineTo(19.5, 13.5);
    path.lineTo(15, 13.5);
    path.closeSubpath();
  } else if (name == "HwMonitor") {
    path.moveTo(7.5, 16);
    path.lineTo(11, 16);
    path.lineTo(13, 10);
    path.lineTo(16, 21);
    path.lineTo(18, 14);
    path.lineTo(19.5, 16);
    path.lineTo(22.5, 16);
  } else if (name == "DecrMore") {
    path = Chevrons(2, false);
  } else if (name == "Decr") {
    path = Chevrons(1, false);
  } else if (name == "Incr") {
    path = Chevrons(1, true);
  } else if (name == "IncrMore") {
    path = Chevrons(2, true);
  } else if (name == "Auto") {
    path.arcMoveTo(QRectF(9, 9, 12, 12), 60);
    path.arcTo(QRectF(9, 9, 12, 12), 60, 300);
    path.moveTo(21, 9.5);
    path.lineTo(18.5, 10.2);
    path.lineTo(20.5, 12.5);
    path.moveTo(13.5, 13);
    path.lineTo(15, 17);
    path.lineTo(16.5, 13);
  } else if (name == "Verify") {
    path.moveTo(9.5, 15.5);
    path.lineTo(13.5, 19.5);
    path.lineTo(21, 10.5);
  } else if (name == "Recov") {
    path.moveTo(15, 8);
    path.lineTo(21, 10.5);
    path.cubicTo(21, 17, 18.5, 20.5, 15, 22.5);
    path.cubicTo(11.5, 20.5, 9, 17, 9, 10.5);
    path.closeSubpath();
    path.moveTo(12.5, 15);
    path.lineTo(14.5, 17);
    path.lineTo(17.8, 12.8);
  } else if (name == "Reset") {
    path.arcMoveTo(QRectF(9, 9, 12, 12), 110);
    path.arcTo(QRectF(9, 9, 12, 12), 110, 290);
    path.moveTo(10, 8.5);
    path.lineTo(11.2, 12.3);
    path.lineTo(14.8, 10.8);
  }
  return path;
}

QImage ButtonImage(const QString& name, ButtonState state) {
  QImage image = NewCanvas(kButtonSize, kButtonSize);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  const QPointF centre(15, 15);

  // Bezel ring.
  QLinearGradient ring(0, 0, 30, 30);
  ring.setColorAt(0.0, QColor(196, 204, 214));
  ring.setColorAt(0.5, QColor(90, 96, 104));
  ring.setColorAt(1.0, QColor(24, 26, 30));
  p.setPen(QPen(QColor(0, 0, 0, 220), 1.0));
  p.setBrush(ring);
  p.drawEllipse(centre, 14.2, 14.2);

  // Face: domed when up, dished when down, flat and dull when unavailable.
  QLinearGradient face(0, 3, 0, 27);
  if (state == ButtonState::Up) {
    face.setColorAt(0.0, QColor(92, 99, 108));
    face.setColorAt(1.0, QColor(30, 33, 38));
  } else if (state == ButtonState::Down) {
    face.setColorAt(0.0, QColor(16, 18, 21));
    face.setColorAt(1.0, QColor(58, 62, 70));
  } else {
    face.setColorAt(0.0, QColor(52, 54, 58));
    face.setColorAt(1.0, QColor(40, 42, 46));
  }
  p.setPen(Qt::NoPen);
  p.setBrush(face);
  p.drawEllipse(centre, 11.4, 11.4);
  if (state == ButtonState::Up) {
    QRadialGradient shine(QPointF(12, 9), 9);
    shine.setColorAt(0.0, QColor(255, 255, 255, 70));
    shine.setColorAt(1.0, QColor(255, 255, 255, 0));
    p.setBrush(shine);
    p.drawEllipse(centre, 11.4, 11.4);
  }

  QPainterPath glyph = GlyphFor(name);
  if (state == ButtonState::Down) glyph.translate(0.5, 0.8);
  const QColor colour = state == ButtonState::Up     ? kGlowCyan
                        : state == ButtonState::Down ? kGlowAmber
                                                     : QColor(96, 100, 108);
  if (state != ButtonState::Disable) {
    for (double width : {6.0, 4.2}) {
      QColor halo = colour;
      halo.setAlpha(width > 5 ? 45 : 80);
      p.setPen(QPen(halo, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      p.setBrush(Qt::NoBrush);
      p.drawPath(glyph);
    }
  } else {
    p.setPen(QPen(QColor(255, 255, 255, 40), 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(glyph.translated(0, 0.8));
  }
  p.setPen(QPen(state == ButtonState::Disable ? colour : colour.lighter(130), 2.0, Qt::SolidLine,
                Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
  p.drawPath(glyph);
  return image;
}

// Two-state toggles of the voltage window: a pill with a lamp.
QImage ToggleImage(const QString& text, bool on, const QColor& lamp) {
  QImage image = NewCanvas(48, 24);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient body(0, 0, 0, 24);
  body.setColorAt(0.0, on ? QColor(24, 27, 31) : QColor(88, 95, 104));
  body.setColorAt(1.0, on ? QColor(58, 63, 70) : QColor(32, 35, 40));
  p.setPen(QPen(QColor(0, 0, 0, 220), 1.0));
  p.setBrush(body);
  p.drawRoundedRect(QRectF(0.5, 0.5, 47, 23), 11.5, 11.5);
  QColor led = on ? lamp : QColor(40, 44, 48);
  if (on) {
    QRadialGradient glow(QPointF(12, 12), 9);
    QColor halo = lamp;
    halo.setAlpha(120);
    glow.setColorAt(0.0, halo);
    glow.setColorAt(1.0, QColor(0, 0, 0, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(glow);
    p.drawEllipse(QPointF(12, 12), 9, 9);
  }
  p.setPen(QPen(QColor(0, 0, 0, 200), 0.8));
  p.setBrush(led);
  p.drawEllipse(QPointF(12, 12), 4, 4);
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(11);
  font.setBold(true);
  p.setFont(font);
  p.setPen(on ? lamp.lighter(120) : QColor(20, 22, 26));
  p.drawText(QRectF(18, 0, 28, 24), kCentre, text);
  return image;
}

QImage ProgramIcon() {
  QImage image = NewCanvas(64, 64);
  QImage face = ButtonImage("OverClk", ButtonState::Up);
  QPainter p(&image);
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  p.drawImage(QRectF(2, 2, 60, 60), face);
  return image;
}

}  // namespace

QStringList WriteSkins(const QString& dir) {
  Output out(dir);
  out.Window("skin/MainBk.png", "BACKGROUND", MainSkin());
  out.Window("skin/OverClockBk.png", "OVERCLOCKBACKGRND", OverclockSkin());
  out.Window("skin/VoltageBk.png", "VOLTAGEBACKGRND", VoltageSkin());
  out.Window("skin/HwMonitorBk.png", "HWMONITORBACKGRND", HwMonitorSkin());
  out.Window("skin/AboutBk.png", "ABOUTBACKGRND", InfoSkin());

  const QStringList buttons = {"Exit", "About",    "OverClk", "Volt",   "HwMonitor", "DecrMore", "Decr",
                               "Incr", "IncrMore", "Auto",    "Verify", "Recov",     "Reset"};
  for (const QString& name : buttons) {
    out.Png("button/" + name + "Up.png", ButtonImage(name, ButtonState::Up));
    out.Png("button/" + name + "Down.png", ButtonImage(name, ButtonState::Down));
    out.Png("button/" + name + "Disable.png", ButtonImage(name, ButtonState::Disable));
  }
  out.Png("button/YesOn.png", ToggleImage("YES", true, QColor(110, 255, 140)));
  out.Png("button/YesOff.png", ToggleImage("YES", false, QColor(110, 255, 140)));
  out.Png("button/NoOn.png", ToggleImage("NO", true, kGlowAmber));
  out.Png("button/NoOff.png", ToggleImage("NO", false, kGlowAmber));
  out.Png("icon/Rhomboquest.png", ProgramIcon());
  return out.Files();
}

}  // namespace rq::skingen
