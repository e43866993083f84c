#pragma once
// The sensors as a scrape target reads them: the exposition text that
// `rqctl sensors --format openmetrics` prints and `log --openmetrics-textfile`
// writes. The text is OpenMetrics 1.0 and, line for line, the older plain text
// format too: its `# UNIT` and `# EOF` lines are comments there. It carries no
// timestamps, which a textfile collector refuses.
#include <string>
#include <string_view>
#include <vector>

#include "engine/Sensors.h"

namespace rq::cli {

// The metric families: the hwmon collector's units and suffixes under a prefix of
// our own, so the same chip read by both never gives two families one name.
inline constexpr const char* kMetricPrefix = "rhomboquest_hwmon_";

// One sensor's sample. `sensor` is the stable kind-and-number the hwmon collector
// uses (temp1, fan2, in0), `label` the name users gave it, exported apart so a
// renamed sensor does not start a new series.
struct MetricRow {
  engine::SensorQuantity quantity;
  std::string chip;
  std::string sensor;
  std::string label;
  double value;
};

// The rows of one chip's readings.
std::vector<MetricRow> MetricRows(const std::string& chip, const engine::SensorReadings& readings);

// The whole exposition, ending in `# EOF`. A row naming a chip and sensor of its
// kind a second time is left out: a scrape refuses a series given twice.
std::string ExpositionText(const std::vector<MetricRow>& rows);

// A label value between double quotes: backslash, double quote and line feed
// escaped, bytes that are not UTF-8 replaced.
std::string EscapeLabelValue(std::string_view text);

}  // namespace rq::cli
