#include "cli/OpenMetrics.h"

#include <array>
#include <charconv>
#include <cmath>
#include <set>
#include <tuple>

namespace rq::cli {
namespace {

using engine::SensorQuantity;

struct Family {
  SensorQuantity quantity;
  const char* kind;  // the sensor's kind and the first number of it, as hwmon counts
  int firstNumber;
  const char* name;
  const char* unit;
  const char* help;
};

constexpr std::array<Family, 3> kFamilies = {{
    {SensorQuantity::Temperature, "temp", 1, "temp_celsius", "celsius",
     "Temperature a sensor of the board's monitor chip reads, in degrees Celsius."},
    {SensorQuantity::Fan, "fan", 1, "fan_rpm", "rpm",
     "Fan speed the board's monitor chip counts, in revolutions per minute."},
    {SensorQuantity::Voltage, "in", 0, "in_volts", "volts",
     "Voltage an input of the board's monitor chip reads, in volts."},
}};
constexpr const char* kLabelFamily = "sensor_label";
constexpr const char* kLabelHelp = "The name of a sensor on this board; always 1.";

const Family& FamilyOf(SensorQuantity quantity) {
  for (const Family& family : kFamilies) {
    if (family.quantity == quantity) return family;
  }
  return kFamilies.back();
}

std::string SampleValue(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
  char text[32];
  const auto written = std::to_chars(text, text + sizeof text, value);
  return std::string(text, written.ptr);
}

void Header(std::string& out, const std::string& name, const char* help, const char* unit) {
  out += "# HELP " + name + ' ' + help + "\n# TYPE " + name + " gauge\n";
  if (unit != nullptr) out += "# UNIT " + name + ' ' + unit + '\n';
}

std::string Labels(const MetricRow& row, bool withName) {
  std::string labels =
      "{chip=\"" + EscapeLabelValue(row.chip) + "\",sensor=\"" + EscapeLabelValue(row.sensor);
  if (withName) labels += "\",label=\"" + EscapeLabelValue(row.label);
  return labels + "\"}";
}

}  // namespace

std::string EscapeLabelValue(std::string_view text) {
  std::string escaped;
  for (char c : text) {
    if (c == '\\' || c == '"') escaped += '\\';
    escaped += c == '\n' ? std::string("\\n") : std::string(1, c);
  }
  return escaped;
}

std::vector<MetricRow> MetricRows(const std::string& chip, const engine::SensorReadings& readings) {
  std::vector<MetricRow> rows;
  for (const engine::SensorReading& reading : readings) {
    const SensorQuantity quantity = engine::SensorAt(reading.sensor).quantity;
    // Numbered within its kind in the chip's fixed order, whichever answered.
    int number = FamilyOf(quantity).firstNumber;
    for (std::size_t before = 0; before < reading.sensor; ++before)
      number += engine::SensorAt(before).quantity == quantity ? 1 : 0;
    rows.push_back({quantity, chip, FamilyOf(quantity).kind + std::to_string(number),
                    engine::SensorName(reading.sensor), reading.value});
  }
  return rows;
}

std::string ExpositionText(const std::vector<MetricRow>& rows) {
  std::vector<const MetricRow*> kept;
  std::set<std::tuple<SensorQuantity, std::string, std::string>> seen;
  for (const MetricRow& row : rows) {
    if (seen.insert({row.quantity, row.chip, row.sensor}).second) kept.push_back(&row);
  }
  std::string out;
  for (const Family& family : kFamilies) {
    const std::string name = std::string(kMetricPrefix) + family.name;
    Header(out, name, family.help, family.unit);
    for (const MetricRow* row : kept) {
      if (row->quantity == family.quantity)
        out += name + Labels(*row, false) + ' ' + SampleValue(row->value) + '\n';
    }
  }
  const std::string labelName = std::string(kMetricPrefix) + kLabelFamily;
  Header(out, labelName, kLabelHelp, nullptr);
  for (const MetricRow* row : kept) out += labelName + Labels(*row, true) + " 1\n";
  return out + "# EOF\n";
}

}  // namespace rq::cli
