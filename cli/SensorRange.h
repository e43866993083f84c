#pragma once
// How `sensors` shows each sensor's lowest and highest value since it started,
// and the times of day rqctl prints.
#include <nlohmann/json.hpp>
#include <string>

#include "engine/SensorStats.h"

namespace rq::cli {

using TimePoint = engine::SensorStats::Clock::time_point;

// Local time in ISO 8601 with its offset: 2026-12-09T05:07:38+00:00.
std::string IsoTime(TimePoint time);

// "min +44.0 C at 20:17:03, max +47.0 C at 20:18:10", the values as the caller
// formats them; a time of another day than `now` carries its date.
std::string RangeText(const engine::SensorStats::Range& range, const std::string& lowest,
                      const std::string& highest, TimePoint now);

// {"min": {"value", "time"}, "max": {"value", "time"}}, the times as IsoTime.
nlohmann::json RangeJson(const engine::SensorStats::Range& range);

}  // namespace rq::cli
