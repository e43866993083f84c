#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "hw/DriverHandle.h"
#include "sim/Board.h"
#include "support/InProcessDriverHandle.h"
#include "support/TempDir.h"

namespace rq::devices::testing {

// One port access as the chip saw it.
struct Access {
  bool out;
  std::uint16_t port;
  std::uint8_t value;
  bool operator==(const Access&) const = default;
};
inline Access Out(std::uint16_t port, std::uint8_t value) { return {true, port, value}; }
inline Access In(std::uint16_t port, std::uint8_t value) { return {false, port, value}; }
void PrintTo(const Access& access, std::ostream* os);

// Stands on the monitor's ports (0x295/0x296 and 0x2E/0x2F), records every access
// and hands it on to the chip beneath, if any.
class PortRecorder : public sim::PortDevice {
 public:
  explicit PortRecorder(sim::PortDevice* inner) : inner_(inner) {}
  std::uint8_t In(std::uint16_t port) override;
  void Out(std::uint16_t port, std::uint8_t value) override;
  std::vector<Access> log;

 private:
  sim::PortDevice* inner_;
};

// A monitor's register file with register values the test sets: registers 0x50 to
// 0x5F are banked by the low three bits of 0x4E, as on the Winbond chips.
class FakeMonitor : public sim::PortDevice {
 public:
  void Set(std::uint8_t reg, std::uint8_t value, int bank = 0);
  std::uint8_t Get(std::uint8_t reg, int bank = 0) const;
  std::uint8_t In(std::uint16_t port) override;
  void Out(std::uint16_t port, std::uint8_t value) override;

 private:
  int Bank(std::uint8_t reg) const;
  std::map<std::pair<int, std::uint8_t>, std::uint8_t> registers_;
  std::uint8_t index_ = 0;
};

// A settings file holding one board section (`lines`), made the system's for the
// object's life, with the board model set to the section's name.
class BoardSection {
 public:
  BoardSection(const std::string& boardModel, const std::string& lines);
  BoardSection(const BoardSection&) = delete;
  BoardSection& operator=(const BoardSection&) = delete;

 private:
  test::TempDir folder_;
  std::string file_;
};

// A board whose monitor ports lead to a FakeMonitor (or, with a chip entry, to the
// virtual board's own monitor chip), with the program's driver channel, board model
// and settings file pointed at it. `settings` are lines of the board's section.
class MonitorBench {
 public:
  explicit MonitorBench(const std::string& boardModel = "TESTBD", const std::string& settings = "",
                        const std::string& chipEntry = "");
  ~MonitorBench();
  MonitorBench(const MonitorBench&) = delete;
  MonitorBench& operator=(const MonitorBench&) = delete;

  FakeMonitor fake;
  std::vector<Access>& Log() { return recorder_->log; }
  sim::Board& Board() { return *board_; }

 private:
  BoardSection section_;
  sim::ManualTimeSource time_;
  std::unique_ptr<sim::Board> board_;
  std::unique_ptr<PortRecorder> recorder_;
  std::unique_ptr<driver::InProcessDriverHandle> driver_;
  std::unique_ptr<hw::ScopedDriverHandle> handle_;
};

// Every sensor key of a board section set to `value`.
std::string AllSensors(int value);

}  // namespace rq::devices::testing
