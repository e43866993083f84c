#include "cli/SensorRange.h"

#include <ctime>
#include <iomanip>
#include <sstream>

namespace rq::cli {
namespace {

std::tm LocalTime(TimePoint time) {
  const std::time_t seconds = engine::SensorStats::Clock::to_time_t(time);
  std::tm local{};
  localtime_r(&seconds, &local);
  return local;
}

std::string Formatted(const std::tm& local, const char* format) {
  std::ostringstream text;
  text << std::put_time(&local, format);
  return text.str();
}

std::string WhenSeen(TimePoint seen, TimePoint now) {
  const std::tm local = LocalTime(seen);
  const std::tm today = LocalTime(now);
  const bool sameDay = local.tm_year == today.tm_year && local.tm_yday == today.tm_yday;
  return Formatted(local, sameDay ? "%H:%M:%S" : "%Y-%m-%d %H:%M:%S");
}

}  // namespace

std::string IsoTime(TimePoint time) {
  std::string iso = Formatted(LocalTime(time), "%Y-%m-%dT%H:%M:%S%z");
  // +hhmm as +hh:mm, the extended form of the rest.
  if (iso.size() >= 5) iso.insert(iso.size() - 2, ":");
  return iso;
}

std::string RangeText(const engine::SensorStats::Range& range, const std::string& lowest,
                      const std::string& highest, TimePoint now) {
  return "min " + lowest + " at " + WhenSeen(range.lowest.seen, now) + ", max " + highest + " at " +
         WhenSeen(range.highest.seen, now);
}

nlohmann::json RangeJson(const engine::SensorStats::Range& range) {
  return {{"min", {{"value", range.lowest.value}, {"time", IsoTime(range.lowest.seen)}}},
          {"max", {{"value", range.highest.value}, {"time", IsoTime(range.highest.seen)}}}};
}

}  // namespace rq::cli
