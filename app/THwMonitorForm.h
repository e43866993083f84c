#pragma once
#include <QLabel>
#include <QString>
#include <array>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "app/Forms.h"
#include "engine/SensorHistory.h"
#include "engine/Sensors.h"

namespace rq::devices {
class ISAHwMonitorIo;
}
namespace rq::engine {
class MSupport;
}

namespace rq::app {

class HistoryGraph;

inline constexpr std::size_t kSensorRows = 12;
inline constexpr std::size_t kLeftColumnRows = 7;

// One sensor that answered (engine/Sensors.h); the window shows at most one per row.
using SensorReading = engine::SensorReading;
using SensorReadings = engine::SensorReadings;

// Asks the chip for every sensor in the window's order, each reading marked with its
// sensor. Runs on whichever thread owns the chip's register sequences at the time
// (the monitor thread once it runs).
SensorReadings ReadSensors(devices::ISAHwMonitorIo& chip);

// The row name of a sensor: a label of the board's settings section, or fixed.
QString SensorName(const engine::MSupport& system, std::size_t sensor);
QString SensorUnit(std::size_t sensor);
QString SensorValueText(const SensorReading& reading);

// Per sensor (engine/Sensors.h order): whether it is past its alarm limit.
using SensorAlarmRows = std::array<bool, engine::kSensorCount>;

// The hardware monitor panel: twelve rows of name, value and unit (seven in the
// left column, five in the right). The rows are given to the sensors that answer
// once, when the panel is made; afterwards the monitor thread only brings new
// values, each for its own sensor's row. Those values also feed the panel's
// history: the graph of one sensor above the rows (chosen by a click on a row's
// name and kept in the board's section) and each value's lowest and highest.
class THwMonitorForm : public TPanelForm {
 public:
  using Clock = std::function<engine::SensorClock::time_point()>;

  explicit THwMonitorForm(engine::MSupport& system);
  ~THwMonitorForm() override;

  // The board key that names the graphed sensor ("TempSensor2").
  static constexpr const char* kGraphSensorKey = "GraphSensor";

  struct Row {
    QLabel* name;
    QLabel* value;
    QLabel* unit;
    QString fullName;  // the name before a narrow column cut it
  };
  const std::array<Row, kSensorRows>& Rows() const { return rows_; }

  // Gives each reading the next row (at most twelve): its name, value and unit.
  void FillSensorRows(const SensorReadings& readings);
  // Rewrites each row's value from its own sensor's reading, "--" when that sensor
  // did not answer this time; names and units stay. A sensor without a row (one
  // switched on since the layout) is left out.
  void ShowSensorValues(const SensorReadings& readings);
  // Colours the row of each sensor past its alarm limit red, the others in the
  // skin's colours.
  void ShowAlarms(const SensorAlarmRows& alarmed);

  // Graphs the sensor of a filled row and keeps the choice in the settings file.
  void ChooseGraphRow(std::size_t row);
  std::optional<std::size_t> GraphSensor() const { return graphSensor_; }
  const HistoryGraph& Graph() const { return *graph_; }
  const engine::SensorHistory& History() const { return *history_; }
  // For tests: the moment each refresh is recorded at.
  void SetClock(Clock clock) { clock_ = std::move(clock); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Widgets belong to the window thread; anything else touching them is a fault
  // that would corrupt Qt's state at random, so it stops the program at once.
  void RequireWindowThread(const char* what) const;

  // RQ_MONITOR_TRACE=1: every refresh writes the rows as shown to standard error,
  // so that the end-to-end tests can compare them with the board.
  void TraceRows() const;

  // The stored choice when it names a sensor with a row, else the first
  // temperature's row, else the first row.
  std::optional<std::size_t> StoredGraphSensor() const;
  void ShowGraph(engine::SensorClock::time_point now);
  // Each value's hint: its lowest and highest since the first refresh, and when.
  void ShowExtremes(engine::SensorClock::time_point now);

  engine::MSupport& system_;
  bool traceValues_;
  std::array<Row, kSensorRows> rows_{};
  std::vector<std::size_t> rowSensors_;  // the sensor of each filled row, from the layout
  std::unique_ptr<engine::SensorHistory> history_;
  std::optional<std::size_t> graphSensor_;
  HistoryGraph* graph_;
  Clock clock_;
  std::array<bool, kSensorRows> rowAlarmed_{};
};

}  // namespace rq::app
