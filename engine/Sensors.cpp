#include "engine/Sensors.h"

#include <strings.h>

#include <array>
#include <cstdint>

#include "devices/SystemFacts.h"
#include "devices/monitor/HwmonSensors.h"

namespace rq::engine {
namespace {

using Chip = devices::ISAHwMonitorIo;

template <bool (Chip::*Read)(std::int32_t&)>
bool ReadFanAsNumber(Chip& chip, double& value) {
  std::int32_t rpm = 0;
  if (!(chip.*Read)(rpm)) return false;
  value = rpm;
  return true;
}

template <bool (Chip::*Read)(double&)>
bool ReadNumber(Chip& chip, double& value) {
  return (chip.*Read)(value);
}

constexpr std::array<Sensor, kSensorCount> kSensors = {{
    {SensorQuantity::Temperature, "TempSensor1Label", nullptr, &ReadNumber<&Chip::ReadTempSensor1>},
    {SensorQuantity::Temperature, "TempSensor2Label", nullptr, &ReadNumber<&Chip::ReadTempSensor2>},
    {SensorQuantity::Temperature, "TempSensor3Label", nullptr, &ReadNumber<&Chip::ReadTempSensor3>},
    {SensorQuantity::Fan, "Fan1Label", nullptr, &ReadFanAsNumber<&Chip::ReadFan1>},
    {SensorQuantity::Fan, "Fan2Label", nullptr, &ReadFanAsNumber<&Chip::ReadFan2>},
    {SensorQuantity::Fan, "Fan3Label", nullptr, &ReadFanAsNumber<&Chip::ReadFan3>},
    {SensorQuantity::Voltage, "VCoreALabel", nullptr, &ReadNumber<&Chip::ReadVCoreA>},
    {SensorQuantity::Voltage, "VCoreBLabel", nullptr, &ReadNumber<&Chip::ReadVCoreB>},
    {SensorQuantity::Voltage, nullptr, "3.3V", &ReadNumber<&Chip::ReadV33>},
    {SensorQuantity::Voltage, nullptr, "5V", &ReadNumber<&Chip::ReadV5>},
    {SensorQuantity::Voltage, nullptr, "12V", &ReadNumber<&Chip::ReadV12>},
    {SensorQuantity::Voltage, nullptr, "-12V", &ReadNumber<&Chip::ReadVN12>},
    {SensorQuantity::Voltage, nullptr, "-5V", &ReadNumber<&Chip::ReadVN5>},
    {SensorQuantity::Voltage, nullptr, "VBAT", &ReadNumber<&Chip::ReadVBAT>},
    {SensorQuantity::Voltage, nullptr, "5VSB", &ReadNumber<&Chip::Read5VSB>},
}};

// The host sensor numbered `sensor`, or null for one of the chip's.
const devices::HwmonChannel* HostSensor(std::size_t sensor) {
  const auto* host = devices::CurrentSystem().hostSensors;
  if (host == nullptr || sensor < kSensorCount) return nullptr;
  return &host->at(sensor - kSensorCount);
}

}  // namespace

bool HostSensorsInUse() { return devices::CurrentSystem().hostSensors != nullptr; }

std::size_t SensorSlots() {
  const auto* host = devices::CurrentSystem().hostSensors;
  return kSensorCount + (host != nullptr ? host->size() : 0);
}

SensorReadings ReadSensors(devices::ISAHwMonitorIo* chip, std::size_t limit) {
  if (chip != nullptr) return ReadSensors(*chip, limit);
  SensorReadings readings;
  const auto* host = devices::CurrentSystem().hostSensors;
  for (std::size_t i = 0; host != nullptr && i < host->size() && readings.size() < limit; ++i) {
    if (const auto value = devices::ReadHwmonChannel((*host)[i]))
      readings.push_back({kSensorCount + i, *value});
  }
  return readings;
}

const Sensor& SensorAt(std::size_t sensor) { return kSensors.at(sensor); }

SensorReadings ReadSensors(devices::ISAHwMonitorIo& chip, std::size_t limit) {
  SensorReadings readings;
  for (std::size_t sensor = 0; sensor < kSensors.size() && readings.size() < limit; ++sensor) {
    double value = 0;
    if (kSensors[sensor].read(chip, value)) readings.push_back({sensor, value});
  }
  return readings;
}

std::string SensorName(std::size_t sensor) {
  if (const auto* host = HostSensor(sensor)) return host->label;
  const Sensor& s = kSensors.at(sensor);
  if (s.nameKey == nullptr) return s.fixedName;
  return devices::BoardSettingString(s.nameKey);
}

std::string SensorDriver(std::size_t sensor) {
  const auto* host = HostSensor(sensor);
  return host != nullptr ? host->chip : std::string();
}

std::string SensorChannel(std::size_t sensor) {
  const auto* host = HostSensor(sensor);
  return host != nullptr ? host->channel : std::string();
}

SensorQuantity QuantityOf(std::size_t sensor) {
  const auto* host = HostSensor(sensor);
  if (host == nullptr) return kSensors.at(sensor).quantity;
  switch (host->quantity) {
    case devices::HwmonQuantity::Temperature:
      return SensorQuantity::Temperature;
    case devices::HwmonQuantity::Fan:
      return SensorQuantity::Fan;
    case devices::HwmonQuantity::Voltage:
      break;
  }
  return SensorQuantity::Voltage;
}

const char* SensorUnit(std::size_t sensor) {
  switch (QuantityOf(sensor)) {
    case SensorQuantity::Temperature:
      return "C";
    case SensorQuantity::Fan:
      return "RPM";
    case SensorQuantity::Voltage:
      break;
  }
  return "V";
}

namespace {
constexpr std::array<const char*, kSensorCount> kSensorKeys = {
    "TempSensor1", "TempSensor2", "TempSensor3", "Fan1", "Fan2", "Fan3", "VCoreA", "VCoreB",
    "V33",         "V5",          "V12",         "VN12", "VN5",  "VBAT", "5VSB"};
}  // namespace

const char* SensorKey(std::size_t sensor) { return kSensorKeys.at(sensor); }

std::optional<std::size_t> SensorWithKey(const std::string& key) {
  for (std::size_t sensor = 0; sensor < kSensorKeys.size(); ++sensor)
    if (strcasecmp(key.c_str(), kSensorKeys[sensor]) == 0) return sensor;
  return std::nullopt;
}

}  // namespace rq::engine
