#include "engine/Sensors.h"

#include <strings.h>

#include <array>
#include <cstdint>

#include "devices/SystemFacts.h"

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

}  // namespace

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
  const Sensor& s = kSensors.at(sensor);
  if (s.nameKey == nullptr) return s.fixedName;
  return devices::BoardSettingString(s.nameKey);
}

const char* SensorUnit(std::size_t sensor) {
  switch (kSensors.at(sensor).quantity) {
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
