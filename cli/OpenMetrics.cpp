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

// The next character of `text`: its bytes, and whether they are well-formed UTF-8.
// A sequence that breaks off (a stray byte, an overlong form, a surrogate, a cut
// end) counts as one bad character up to where it broke, as the window and the
// JSON output replace it.
struct Utf8Step {
  std::size_t length;
  bool valid;
};
Utf8Step NextUtf8(std::string_view text) {
  const auto byte = [text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned lead = byte(0);
  if (lead < 0x80) return {1, true};
  const std::size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                             : lead >= 0xE0 && lead <= 0xEF ? 3
                             : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                            : 0;
  if (length == 0) return {1, false};
  const unsigned lowest = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
  const unsigned highest = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
  std::size_t i = 1;
  for (; i < length && i < text.size(); ++i) {
    if (byte(i) < (i == 1 ? lowest : 0x80) || byte(i) > (i == 1 ? highest : 0xBF)) return {i, false};
  }
  return {i, i == length};
}

constexpr const char* kReplacementCharacter = "\xEF\xBF\xBD";

}  // namespace

std::string EscapeLabelValue(std::string_view text) {
  // A label from a settings file of another encoding must not make a scrape
  // refuse the whole text: each byte that is not UTF-8 becomes U+FFFD, as the
  // window shows it.
  std::string escaped;
  while (!text.empty()) {
    const auto [length, valid] = NextUtf8(text);
    const char c = text.front();
    if (!valid) {
      escaped += kReplacementCharacter;
    } else if (c == '\\' || c == '"') {
      escaped += {'\\', c};
    } else {
      escaped += c == '\n' ? std::string_view("\\n") : text.substr(0, length);
    }
    text.remove_prefix(length);
  }
  return escaped;
}

std::vector<MetricRow> MetricRows(const std::string& chip, const engine::SensorReadings& readings) {
  std::vector<MetricRow> rows;
  for (const engine::SensorReading& reading : readings) {
    const SensorQuantity quantity = engine::QuantityOf(reading.sensor);
    // A host sensor keeps its driver's name and numbering.
    if (const std::string channel = engine::SensorChannel(reading.sensor); !channel.empty()) {
      rows.push_back({quantity, engine::SensorDriver(reading.sensor), channel, engine::SensorName(reading.sensor),
                      reading.value});
      continue;
    }
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
