#pragma once
#include <QLabel>
#include <QString>
#include <array>
#include <cstddef>
#include <vector>

#include "app/Forms.h"
#include "engine/Sensors.h"

namespace rq::devices {
class ISAHwMonitorIo;
}
namespace rq::engine {
class MSupport;
}

namespace rq::app {

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
// values, each for its own sensor's row.
class THwMonitorForm : public TPanelForm {
 public:
  explicit THwMonitorForm(engine::MSupport& system);
  ~THwMonitorForm() override;

  struct Row {
    QLabel* name;
    QLabel* value;
    QLabel* unit;
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

 private:
  // Widgets belong to the window thread; anything else touching them is a fault
  // that would corrupt Qt's state at random, so it stops the program at once.
  void RequireWindowThread(const char* what) const;

  // RQ_MONITOR_TRACE=1: every refresh writes the rows as shown to standard error,
  // so that the end-to-end tests can compare them with the board.
  void TraceRows() const;

  engine::MSupport& system_;
  bool traceValues_;
  std::array<Row, kSensorRows> rows_{};
  std::vector<std::size_t> rowSensors_;  // the sensor of each filled row, from the layout
  std::array<bool, kSensorRows> rowAlarmed_{};
};

}  // namespace rq::app
