#include "app/THwMonitorForm.h"

#include <QDateTime>
#include <QEvent>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "app/Format.h"
#include "app/HistoryGraph.h"
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
const QColor kAlarmRed(255, 48, 48);

void Colour(QLabel& label, const QColor& colour) {
  QPalette colours = label.palette();
  colours.setColor(QPalette::WindowText, colour);
  label.setPalette(colours);
}

constexpr int kNamePixelSize = 10;
// A sensor that did not answer this time, in its own row.
const QString kFailedRead = QStringLiteral("--");
constexpr int kUnitPixelSize = 9;

// Inside the skin's read-out window (14, 42, 251 x 62), clear of its rim.
constexpr QRect kGraphArea(16, 43, 247, 60);

QString SeenAt(engine::SensorClock::time_point at, engine::SensorClock::time_point now) {
  const auto ms = [](engine::SensorClock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
  };
  const QDateTime when = QDateTime::fromMSecsSinceEpoch(ms(at));
  // A program left running for days: an extreme of another day says which.
  const bool today = when.date() == QDateTime::fromMSecsSinceEpoch(ms(now)).date();
  return when.toString(today ? QStringLiteral("HH:mm:ss") : QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString ValueWithUnit(std::size_t sensor, double value) {
  return SensorValueText({sensor, value}) + " " + SensorUnit(sensor);
}

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
      traceValues_(std::getenv("RQ_MONITOR_TRACE") != nullptr),
      history_(std::make_unique<engine::SensorHistory>()),
      graph_(new HistoryGraph(this)),
      clock_([] { return engine::SensorClock::now(); }) {
  graph_->setGeometry(kGraphArea);
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
    r.name->installEventFilter(this);
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
    rows_[row].fullName = name;
    ShrinkToFit(*rows_[row].name, kNamePixelSize, kSmallestPixelSize);
    // A name too long even at the smallest size (a host sensor's "nct6775 fan2" in the
    // narrow right column) keeps its end, which tells the rows apart; the tip has it whole.
    QLabel& label = *rows_[row].name;
    if (!TextFits(label, label.font())) {
      label.setText(ElideLeadingWords(name, QFontMetrics(label.font()), label.contentsRect().width()));
      ShrinkToFit(label, kNamePixelSize, kSmallestPixelSize);  // what is left may fit larger
    }
    rows_[row].value->setText(SensorValueText(reading));
    rows_[row].unit->setText(SensorUnit(reading.sensor));
    rows_[row].name->setCursor(Qt::PointingHandCursor);
    rows_[row].name->setToolTip(name + QStringLiteral("\nClick to graph this sensor's last ten minutes"));
  }
  graphSensor_ = StoredGraphSensor();
  ShowGraph(clock_());
}

void THwMonitorForm::ShowSensorValues(const SensorReadings& readings) {
  RequireWindowThread("ShowSensorValues");
  for (std::size_t row = 0; row < rowSensors_.size(); ++row) {
    const auto reading = std::find_if(readings.begin(), readings.end(),
                                      [&](const SensorReading& r) { return r.sensor == rowSensors_[row]; });
    rows_[row].value->setText(reading == readings.end() ? kFailedRead : SensorValueText(*reading));
  }
  const auto now = clock_();
  history_->Record(readings, now);
  ShowExtremes(now);
  ShowGraph(now);
  if (traceValues_) TraceRows();
}

bool THwMonitorForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    for (std::size_t row = 0; row < rowSensors_.size(); ++row)
      if (watched == rows_[row].name) ChooseGraphRow(row);
  }
  return TPanelForm::eventFilter(watched, event);
}

void THwMonitorForm::ChooseGraphRow(std::size_t row) {
  RequireWindowThread("ChooseGraphRow");
  if (row >= rowSensors_.size()) return;
  graphSensor_ = rowSensors_[row];
  ShowGraph(clock_());
  // The graph follows the click either way; a choice that cannot be kept is news.
  // A host sensor has no board key to keep: its choice lasts until the program ends.
  if (*graphSensor_ >= engine::kSensorCount) return;
  if (!system_.WriteSettingString(system_.boardModel, kGraphSensorKey, engine::SensorKey(*graphSensor_)))
    system_.ReportSettingsWriteFailure();
}

std::optional<std::size_t> THwMonitorForm::StoredGraphSensor() const {
  const auto hasRow = [&](std::size_t sensor) {
    return std::find(rowSensors_.begin(), rowSensors_.end(), sensor) != rowSensors_.end();
  };
  const auto stored = engine::SensorWithKey(system_.ReadSettingString(system_.boardModel, kGraphSensorKey));
  if (stored && hasRow(*stored)) return stored;
  const auto temperature = std::find_if(rowSensors_.begin(), rowSensors_.end(), [](std::size_t sensor) {
    return engine::QuantityOf(sensor) == engine::SensorQuantity::Temperature;
  });
  if (temperature != rowSensors_.end()) return *temperature;
  if (!rowSensors_.empty()) return rowSensors_.front();
  return std::nullopt;
}

void THwMonitorForm::ShowGraph(engine::SensorClock::time_point now) {
  if (!graphSensor_) {
    graph_->Clear();
    return;
  }
  const std::size_t sensor = *graphSensor_;
  const auto row = std::find(rowSensors_.begin(), rowSensors_.end(), sensor) - rowSensors_.begin();
  QString name = rows_[static_cast<std::size_t>(row)].name->text();
  if (name.isEmpty() && sensor < engine::kSensorCount) name = QString::fromLatin1(engine::SensorKey(sensor));  // a board without the label
  graph_->ShowSeries(name + ", " + SensorUnit(sensor), history_->Samples(sensor), now,
                     [sensor](double value) {
                       return SensorValueText({sensor, value});
                     });
}

void THwMonitorForm::ShowExtremes(engine::SensorClock::time_point now) {
  for (std::size_t row = 0; row < rowSensors_.size(); ++row) {
    const std::size_t sensor = rowSensors_[row];
    const auto lowest = history_->Lowest(sensor);
    const auto highest = history_->Highest(sensor);
    if (!lowest || !highest) continue;  // never answered yet: no hint to give
    rows_[row].value->setToolTip(
        QStringLiteral("Minimum %1 at %2\nMaximum %3 at %4\nsince the panel first opened")
            .arg(ValueWithUnit(sensor, lowest->value), SeenAt(lowest->at, now),
                 ValueWithUnit(sensor, highest->value), SeenAt(highest->at, now)));
  }
}

void THwMonitorForm::ShowAlarms(const SensorAlarmRows& alarmed) {
  RequireWindowThread("ShowAlarms");
  for (std::size_t row = 0; row < rowSensors_.size(); ++row) {
    const bool alarm = rowSensors_[row] < alarmed.size() && alarmed[rowSensors_[row]];
    if (alarm == rowAlarmed_[row]) continue;
    rowAlarmed_[row] = alarm;
    Colour(*rows_[row].name, alarm ? kAlarmRed : kSilver);
    Colour(*rows_[row].value, alarm ? kAlarmRed : kYellow);
    Colour(*rows_[row].unit, alarm ? kAlarmRed : kSilver);
  }
}

void THwMonitorForm::TraceRows() const {
  QString line = "monitor:";
  for (const Row& row : rows_) {
    if (row.unit->text().isEmpty()) continue;
    line += " " + row.fullName + "=" + row.value->text() + " " + row.unit->text();
    if (row.value->palette().color(QPalette::WindowText) == kAlarmRed) line += " red";
    line += ";";
  }
  std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
}

}  // namespace rq::app
