#pragma once
#include <cstddef>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "devices/monitor/ISAHwMonitorIo.h"

namespace rq::engine {

enum class SensorQuantity { Temperature, Fan, Voltage };

// The fifteen sensors of a monitor chip in the order the monitor window gives
// them rows. A name comes from the board's settings section when `nameKey` is
// set, else it is `fixedName`.
struct Sensor {
  SensorQuantity quantity;
  const char* nameKey;
  const char* fixedName;
  bool (*read)(devices::ISAHwMonitorIo&, double&);
};
inline constexpr std::size_t kSensorCount = 15;
const Sensor& SensorAt(std::size_t sensor);

// One sensor that answered: its place in the fixed order and what the chip returned.
struct SensorReading {
  std::size_t sensor;
  double value;
};
using SensorReadings = std::vector<SensorReading>;

// Asks the chip for every sensor in order, keeping at most `limit` that answered
// (the board's switches and the chip's own slots decide which do).
SensorReadings ReadSensors(devices::ISAHwMonitorIo& chip,
                           std::size_t limit = std::numeric_limits<std::size_t>::max());

// On a machine without a monitor chip of the program's families, the host's own
// sensors (devices/monitor/HwmonSensors.h), which the system object finds at
// detection, take the chip's place. They are numbered after the chip's fifteen:
// sensor kSensorCount + i is the i-th host sensor in their listed order.
bool HostSensorsInUse();
// Every sensor number in use is below this.
std::size_t SensorSlots();
// The chip's sensors as above when there is a chip; else the host's that answered,
// at most `limit`.
SensorReadings ReadSensors(devices::ISAHwMonitorIo* chip,
                           std::size_t limit = std::numeric_limits<std::size_t>::max());

// The name of a sensor on this board (its label in the board's section, or fixed; a
// host sensor's label), its quantity and its unit: "C", "RPM" or "V".
std::string SensorName(std::size_t sensor);
SensorQuantity QuantityOf(std::size_t sensor);
// The kernel driver of a host sensor ("coretemp"); empty for the chip's.
std::string SensorDriver(std::size_t sensor);
// A host sensor's channel as its driver numbers it ("temp1", "fan2", "in0"); empty
// for the chip's.
std::string SensorChannel(std::size_t sensor);
const char* SensorUnit(std::size_t sensor);

// The board key that switches a sensor on ("TempSensor2", "Fan1", "V33"): a name
// for the sensor in the settings file that does not change with its label.
const char* SensorKey(std::size_t sensor);
// The sensor with that key (case as the settings file compares: not at all).
std::optional<std::size_t> SensorWithKey(const std::string& key);

}  // namespace rq::engine
