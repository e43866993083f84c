// Puts a clock generator on a board: on the SMBus at 0x69, its PLL driving the CPU's
// bus clock, its watchdog registers driving the board's watchdog.
#include "sim/Board.h"
#include "sim/ChipConfig.h"
#include "sim/clockgen/ClockGenChip.h"

namespace rq::sim {

namespace {

class BoardClockOutputs : public ClockGenOutputs {
 public:
  explicit BoardClockOutputs(Board& board) : board_(board) {}
  void BusClockChanged(double mhz) override { board_.Processor().SetFsb(mhz); }
  void WatchdogTimeoutChanged(std::chrono::milliseconds timeout) override {
    board_.Dog().SetTimeout(timeout);
  }
  void WatchdogEnableChanged(bool on) override { board_.Dog().Enable(on); }

 private:
  Board& board_;
};

// Profile keys: `address` (optional, must be 0x69: the parts answer nowhere else),
// `frequency_select` (the strap index into the part's frequency table) for the
// parts with a table, `power_on_fsb` (MHz) for the two without one. Either
// defaults to what matches the board's [cpu] power_on_fsb.
void BuildClockGenerator(const ChipConfig& config, Board& board) {
  const std::string type = config.Type();
  if (config.Has("address") && config.SmbusAddress() != ClockGenChip::kAddress) {
    config.Fail("address", "a clock generator answers at 0x69 only");
  }
  ClockGenStrap strap = StrapNearest(type, board.PowerOnFsb());
  if (const std::size_t entries = FrequencySelectEntries(type); entries > 0) {
    strap.frequencySelect = static_cast<int>(
        config.Integer("frequency_select", 0, static_cast<std::int64_t>(entries) - 1, strap.frequencySelect));
  } else {
    strap.fsb = config.Number("power_on_fsb", 1.0, 1000.0, strap.fsb);
  }
  auto outputs = std::make_unique<BoardClockOutputs>(board);
  std::unique_ptr<ClockGenChip> made;
  try {
    made = MakeClockGenChip(type, strap, *outputs);
  } catch (const std::invalid_argument& error) {
    config.Fail(error.what());
  }
  if (!made) config.Fail("no clock generator of this type");
  made->KeepOutputs(std::move(outputs));
  ClockGenChip& chip = board.Own(std::move(made));
  board.Smbus().Attach(chip);
  if (PortDevice* ports = chip.WatchdogPorts()) {
    board.Ports().Claim(ClockGenChip::kWatchdogFirstPort, ClockGenChip::kWatchdogLastPort, *ports);
  }
}

}  // namespace

RQ_SIM_CHIP("ics950218", BuildClockGenerator);
RQ_SIM_CHIP("ics950905", BuildClockGenerator);
RQ_SIM_CHIP("ics950910", BuildClockGenerator);
RQ_SIM_CHIP("ics94228", BuildClockGenerator);
RQ_SIM_CHIP("ics9428", BuildClockGenerator);
RQ_SIM_CHIP("ics952005", BuildClockGenerator);
RQ_SIM_CHIP("ics952001", BuildClockGenerator);
RQ_SIM_CHIP("w312", BuildClockGenerator);
RQ_SIM_CHIP("cy28323", BuildClockGenerator);
RQ_SIM_CHIP("cy28325", BuildClockGenerator);
RQ_SIM_CHIP("cy28349", BuildClockGenerator);
RQ_SIM_CHIP("cy28405", BuildClockGenerator);
RQ_SIM_CHIP("cy28341", BuildClockGenerator);

}  // namespace rq::sim
