#include "app/THwMonitorForm.h"

#include <QFontMetrics>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "app/Format.h"
#include "devices/monitor/ISAHwMonitorIo.h"
#include "engine/MSupport.h"

namespace rq::app {
namespace {

constexpr QSize kMonitorSize(279, 397);

// Row geometry: the tops of the rows and where each column's name ends, value
// starts and unit starts. The skin's divider runs at x = 153: the left column ends
// short of it and the right one starts after it, each cell wide enough for its
// widest text ("System Temp", "-12.03", "RPM").
constexpr int kRowTops[kSensorRows] = {121, 143, 165, 189, 210, 230, 250, 121, 144, 166, 189, 210};
struct Column {
  int nameLeft, nameRight, valueLeft, unitLeft, unitWidth;
};
constexpr Column kLeftColumn{6, 78, 80, 126, 24};
constexpr Column kRightColumn{158, 188, 190, 236, 24};
constexpr int kValueWidth = 44;
constexpr int kRowHeight = 16;
constexpr int kSmallestPixelSize = 7;

const QColor kSilver(200, 206, 214);
const QColor kYellow(255, 226, 64);

void Colour(QLabel& label, const QColor& colour) {
  QPalette colours = label.palette();
  colours.setColor(QPalette::WindowText, colour);
  label.setPalette(colours);
}

constexpr int kNamePixelSize = 10;
// A sensor that did not answer this time, in its own row.
const QString kFailedRead = QStringLiteral("--");
constexpr int kUnitPixelSize = 9;

}  // namespace

SensorReadings ReadSensors(devices::ISAHwMonitorIo& chip) { return engine::ReadSensors(chip); }

QString SensorName(const engine::MSupport& /*system*/, std::size_t sensor) {
  return QString::fromStdString(engine::SensorName(sensor));
}

QString SensorUnit(std::size_t sensor) { return QString::fromLatin1(engine::SensorUnit(sensor)); }

QString SensorValueText(const SensorReading& reading) {
  if (engine::QuantityOf(reading.sensor) == engine::SensorQuantity::Fan)
    return QString::number(static_cast<std::int32_t>(reading.value));
  // A rail that rounds to nothing from below reads 0, not "-0".
  return FormatGeneral(reading.value == 0.0 ? 0.0 : reading.value);
}

THwMonitorForm::THwMonitorForm(engine::MSupport& system)
    : TPanelForm("Hardware Monitor", "HwMonitorBk.png", "HWMonitorBackGrnd", kMonitorSize),
      system_(system),
      traceValues_(std::getenv("RQ_MONITOR_TRACE") != nullptr) {
  setObjectName("HwMonitorForm");
  Background()->setObjectName("HwMonitorBkImage");
  for (std::size_t row = 0; row < kSensorRows; ++row) {
    const Column& column = row < kLeftColumnRows ? kLeftColumn : kRightColumn;
    const int top = kRowTops[row];
    const QString n = QString::number(row);
    Row& r = rows_[row];
    r.name = MakeLabel(this, "lblName" + n, row == 0 ? "CPU Temp" : "",
                       QRect(column.nameLeft, top, column.nameRight - column.nameLeft, kRowHeight),
                       LabelStyle::Caption, Qt::AlignRight | Qt::AlignVCenter);
    r.value = MakeLabel(this, "lblValue" + n, "", QRect(column.valueLeft, top, kValueWidth, kRowHeight),
                        LabelStyle::Value, Qt::AlignCenter);
    r.unit = MakeLabel(this, "lblUnit" + n, "", QRect(column.unitLeft, top, column.unitWidth, kRowHeight),
                       LabelStyle::Caption, Qt::AlignLeft | Qt::AlignVCenter);
    Colour(*r.name, kSilver);
    Colour(*r.value, kYellow);
    Colour(*r.unit, kSilver);
    ShrinkToFit(*r.name, kNamePixelSize, kSmallestPixelSize);  // board labels may be long
    QFont unitFont = r.unit->font();
    unitFont.setPixelSize(kUnitPixelSize);
    r.unit->setFont(unitFont);
  }
  // The monitor thread is still suspended: the layout pass has the chip to itself.
  if (system_.HasSensors()) FillSensorRows(engine::ReadSensors(system_.hardwareMonitor.get(), kSensorRows));
  AppForms().hwMonitorForm = this;
}

THwMonitorForm::~THwMonitorForm() {
  if (AppForms().hwMonitorForm == this) AppForms().hwMonitorForm = nullptr;
}

void THwMonitorForm::RequireWindowThread(const char* what) const {
  if (QThread::currentThread() == thread()) return;
  std::fprintf(stderr, "rhomboquest: %s touched the monitor window off the window thread\n", what);
  std::abort();
}

void THwMonitorForm::FillSensorRows(const SensorReadings& readings) {
  RequireWindowThread("FillSensorRows");
  rowSensors_.clear();
  for (std::size_t row = 0; row < readings.size() && row < kSensorRows; ++row) {
    const SensorReading& reading = readings[row];
    rowSensors_.push_back(reading.sensor);
    const QString name = SensorName(system_, reading.sensor);
    rows_[row].name->setText(name);
    rows_[row].name->setToolTip(name);
    ShrinkToFit(*rows_[row].name, kNamePixelSize, kSmallestPixelSize);
    // A name too long even at the smallest size (a host sensor's "nct6775 fan2" in the
    // narrow right column) keeps its end, which tells the rows apart, and says it is cut.
    QLabel& label = *rows_[row].name;
    if (!TextFits(label, label.font()))
      label.setText(QFontMetrics(label.font()).elidedText(name, Qt::ElideLeft, label.contentsRect().width()));
    rows_[row].value->setText(SensorValueText(reading));
    rows_[row].unit->setText(SensorUnit(reading.sensor));
  }
}

void THwMonitorForm::ShowSensorValues(const SensorReadings& readings) {
  RequireWindowThread("ShowSensorValues");
  for (std::size_t row = 0; row < rowSensors_.size(); ++row) {
    const auto reading = std::find_if(readings.begin(), readings.end(),
                                      [&](const SensorReading& r) { return r.sensor == rowSensors_[row]; });
    rows_[row].value->setText(reading == readings.end() ? kFailedRead : SensorValueText(*reading));
  }
  if (traceValues_) TraceRows();
}

void THwMonitorForm::TraceRows() const {
  QString line = "monitor:";
  for (const Row& row : rows_) {
    if (row.unit->text().isEmpty()) continue;
    line += " " + row.name->toolTip() + "=" + row.value->text() + " " + row.unit->text() + ";";
  }
  std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
}

}  // namespace rq::app
