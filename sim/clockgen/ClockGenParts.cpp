// The thirteen clock generators of the virtual board. Each part's PLL runs at what
// its registers say; the frequency-select strap decides the power-on registers.
#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <stdexcept>

#include "sim/clockgen/ClockGenChip.h"
#include "sim/clockgen/ClockGenDataSheets.h"

namespace rq::sim {

namespace sheet = rq::sim::datasheet;
using std::chrono::milliseconds;

namespace {

using Registers = ClockGenChip::Registers;
using WatchdogSetting = ClockGenChip::WatchdogSetting;

std::uint32_t Bit(std::size_t reg) { return 1U << reg; }

std::uint8_t Byte(long value) { return static_cast<std::uint8_t>(std::clamp(value, 0L, 255L)); }

// ---- ICS parts -------------------------------------------------------------

constexpr std::size_t kIcsSelect = 0;
constexpr std::size_t kIcsSelectHigh = 1;
constexpr std::size_t kIcsStrap = 4;
constexpr std::size_t kIcsByteCount = 8;
constexpr std::size_t kIcsWatchdogTime = 9;
constexpr std::size_t kIcsControl = 10;
constexpr std::size_t kIcsPllM = 11;
constexpr std::size_t kIcsPllN = 12;
constexpr std::size_t kIcsCpuDivider = 15;
constexpr std::size_t kIcsAgpDivider = 16;
constexpr std::size_t kIcsPciDivider = 17;
constexpr std::size_t kK7Pll = 9;       // ICS94228: M, N bit 0
constexpr std::size_t kK7PllHigh = 10;  // ICS94228: N bits 1-8
constexpr std::size_t kK7Watchdog = 4;  // ICS94228: bit 7 enable, bits 0-6 time
constexpr std::uint8_t kIcsPowerOnByteCount = 0x0F;
constexpr unsigned kIcsPowerOnMFirst = 6;
constexpr unsigned kIcsPowerOnMLast = 12;
constexpr int kIcsWatchdogUnitMs = 290;

enum class IcsLayout { kHub, kK7System };
enum class IcsWatchdog { kBit6, kBits5And6, kRegister4, kPorts };

struct IcsDescription {
  const char* type;
  IcsLayout layout;
  IcsWatchdog watchdog;
  std::vector<std::pair<std::size_t, std::uint8_t>> identity;  // read-only registers
  // Places the strap index into the select registers; null for parts without a table.
  void (*placeSelect)(Registers&, int);
  const sheet::SelectTable* table;
};

class IcsPart : public ClockGenChip, private PortDevice {
 public:
  IcsPart(const IcsDescription& d, double powerOnFsb, int select, ClockGenOutputs& outputs)
      : ClockGenChip(d.type, Access::kIcsBlock, outputs), d_(d) {
    Registers r{};
    r[kIcsByteCount] = kIcsPowerOnByteCount;
    std::uint32_t readOnly = 0;
    for (auto [reg, value] : d.identity) {
      r[reg] = value;
      readOnly |= Bit(reg);
    }
    // Outputs: CPU divider 2 (Table A[0]), AGP and PCI dividers for the bus class.
    const bool fast = powerOnFsb >= 120;
    const std::uint8_t agpIndex = fast ? 4 : 1;  // Table A: 4 or 3
    const std::uint8_t pciIndex = fast ? 4 : 5;  // Table B: 8 or 6
    r[kIcsCpuDivider] = 0;
    r[kIcsAgpDivider] = static_cast<std::uint8_t>(agpIndex | (agpIndex << 4));
    r[kIcsPciDivider] = pciIndex;
    // The strap's M and N: the pair that comes closest to the selected clock while
    // leaving N room to reach well past it.
    unsigned m = kIcsPowerOnMFirst;
    unsigned nn = 0;
    double error = 1e300;
    for (unsigned tryM = kIcsPowerOnMFirst; tryM <= kIcsPowerOnMLast; ++tryM) {
      const long n =
          std::clamp(std::lround(powerOnFsb * 2 * (tryM + 2) / sheet::kIcsCrystalMhz - 8), 0L, 511L);
      const double made = sheet::kIcsCrystalMhz * static_cast<double>(n + 8) / (2.0 * (tryM + 2));
      if (std::fabs(made - powerOnFsb) < error) {
        error = std::fabs(made - powerOnFsb);
        m = tryM;
        nn = static_cast<unsigned>(n);
      }
    }
    if (d.layout == IcsLayout::kHub) {
      r[kIcsPllM] = static_cast<std::uint8_t>(m | ((nn & 0x100) >> 1));
      r[kIcsPllN] = static_cast<std::uint8_t>(nn & 0xFF);
    } else {
      r[kK7Pll] = static_cast<std::uint8_t>(m | ((nn & 1) << 7));
      r[kK7PllHigh] = static_cast<std::uint8_t>(nn >> 1);
      r[kK7Watchdog] = 0x44;
    }
    if (d.placeSelect != nullptr) d.placeSelect(r, select);
    SetPowerOn(r, readOnly);
  }

  PortDevice* WatchdogPorts() override { return d_.watchdog == IcsWatchdog::kPorts ? this : nullptr; }

  void PowerOnReset() override {
    portTime_ = 0;
    portEnable_ = 0;
    ClockGenChip::PowerOnReset();
  }

 protected:
  double PllOutput(const Registers& r) const override {
    unsigned divider = 0;
    unsigned m = 0;
    unsigned n = 0;
    if (d_.layout == IcsLayout::kHub) {
      divider = sheet::kIcsCpuDividers[r[kIcsCpuDivider] & 0x0F];
      m = r[kIcsPllM] & 0x7F;
      n = ((r[kIcsPllM] & 0x80U) << 1) | r[kIcsPllN];
    } else {
      divider = 2;
      m = r[kK7Pll] & 0x7F;
      n = (static_cast<unsigned>(r[kK7PllHigh]) << 1) | (r[kK7Pll] >> 7);
    }
    return sheet::kIcsCrystalMhz * (n + 8) / (divider * (m + 2));
  }

  WatchdogSetting WatchdogFrom(const Registers& r) const override {
    switch (d_.watchdog) {
      case IcsWatchdog::kBit6:
        return {milliseconds(r[kIcsWatchdogTime] * kIcsWatchdogUnitMs), (r[kIcsControl] & 0x40) != 0};
      case IcsWatchdog::kBits5And6:
        return {milliseconds(r[kIcsWatchdogTime] * kIcsWatchdogUnitMs), (r[kIcsControl] & 0x60) == 0x60};
      case IcsWatchdog::kRegister4:
        return {milliseconds((r[kK7Watchdog] & 0x7F) * kIcsWatchdogUnitMs), (r[kK7Watchdog] & 0x80) != 0};
      case IcsWatchdog::kPorts:
        return {milliseconds(portTime_ * 1000), (portEnable_ & 0x80) != 0};
    }
    return {};
  }

 private:
  std::uint8_t In(std::uint16_t port) override {
    return port == kWatchdogFirstPort ? portTime_ : portEnable_;
  }
  void Out(std::uint16_t port, std::uint8_t value) override {
    (port == kWatchdogFirstPort ? portTime_ : portEnable_) = value;
    Settle();
  }

  const IcsDescription& d_;
  std::uint8_t portTime_ = 0;
  std::uint8_t portEnable_ = 0;
};

// Frequency-select encodings.
void SelectLatched(Registers& r, int index) { r[kIcsSelectHigh] = static_cast<std::uint8_t>(index); }
void SelectStrapNibble(Registers& r, int index) {
  r[kIcsStrap] = static_cast<std::uint8_t>((index & 0x0F) << 4);
  if (index >= 16) r[kIcsSelectHigh] |= 0x04;
}
void SelectStrapNibbleLocal(Registers& r, int index) {
  r[kIcsStrap] = static_cast<std::uint8_t>(((index & 0x0F) << 4) | (index >= 16 ? 0x04 : 0));
}

const IcsDescription kIcs950218{"ics950218", IcsLayout::kHub, IcsWatchdog::kBit6,
                                {{7, 0x28}}, SelectLatched,   &sheet::kIcs950218};
const IcsDescription kIcs950905{"ics950905", IcsLayout::kHub,   IcsWatchdog::kBits5And6,
                                {{7, 0xFF}}, SelectStrapNibble, &sheet::kIcs950905};
const IcsDescription kIcs950910{"ics950910", IcsLayout::kHub,   IcsWatchdog::kBits5And6,
                                {{6, 0x01}}, SelectStrapNibble, &sheet::kIcs950910};
const IcsDescription kIcs94228{
    "ics94228", IcsLayout::kK7System, IcsWatchdog::kRegister4, {{6, 0x11}}, nullptr, nullptr};
const IcsDescription kIcs9428{"ics9428", IcsLayout::kHub,   IcsWatchdog::kBits5And6,
                              {},        SelectStrapNibble, &sheet::kIcs9428};
const IcsDescription kIcs952005{"ics952005", IcsLayout::kHub,        IcsWatchdog::kPorts,
                                {},          SelectStrapNibbleLocal, &sheet::kIcs952005};
const IcsDescription kIcs952001{"ics952001", IcsLayout::kHub, IcsWatchdog::kPorts, {}, nullptr, nullptr};

// ---- Cypress byte-mode parts -----------------------------------------------

constexpr std::size_t kCyWatchdogEnable = 9;  // bit 4: enable
constexpr std::size_t kCyPllN = 13;
constexpr std::size_t kCyPllM = 14;

struct CypressDescription {
  const char* type;
  std::size_t idRegister;
  std::size_t watchdogRegister;  // bits 1-5 count, bit 0: 2.5 s units (else 150 ms)
  std::size_t selectRegister;
  int selectShift;
  const sheet::SelectTable* table;
};

WatchdogSetting CypressWatchdog(std::uint8_t field, std::uint8_t enable) {
  const int count = (field >> 1) & 0x1F;
  return {milliseconds(count * ((field & 1) ? 2500 : 150)), (enable & 0x10) != 0};
}

class CypressBytePart : public ClockGenChip {
 public:
  CypressBytePart(const CypressDescription& d, int select, ClockGenOutputs& outputs)
      : ClockGenChip(d.type, Access::kCypress, outputs), d_(d) {
    Registers r{};
    r[d.idRegister] = 0x08;
    r[kCyWatchdogEnable] = 0x04;
    r[d.selectRegister] = static_cast<std::uint8_t>(select << d.selectShift);
    const double f = (*d.table)[static_cast<std::size_t>(select)];
    const unsigned m = f > 129 ? 45 : 93;
    r[kCyPllM] = static_cast<std::uint8_t>(m);  // frequency-select mode: bit 7 clear
    r[kCyPllN] = Byte(std::lround(f * (m + 3) / sheet::kCypressReferenceMhz - 3));
    SetPowerOn(r, Bit(d.idRegister));
  }

 protected:
  double PllOutput(const Registers& r) const override {
    return sheet::kCypressReferenceMhz * (r[kCyPllN] + 3) / ((r[kCyPllM] & 0x7F) + 3);
  }
  WatchdogSetting WatchdogFrom(const Registers& r) const override {
    return CypressWatchdog(r[d_.watchdogRegister], r[kCyWatchdogEnable]);
  }

 private:
  const CypressDescription& d_;
};

const CypressDescription kW312{"w312", 8, 4, 5, 3, &sheet::kW312};
const CypressDescription kCy28323{"cy28323", 6, 8, 5, 3, &sheet::kCy28323};
const CypressDescription kCy28325{"cy28325", 8, 4, 15, 3, &sheet::kCy28325};
const CypressDescription kCy28349{"cy28349", 6, 8, 0, 0, &sheet::kCy28349};

// ---- CY28405 ---------------------------------------------------------------

constexpr std::size_t kCy405Select = 0;
constexpr std::size_t kCy405Id = 7;
constexpr std::size_t kCy405Watchdog = 11;  // bit 6 enable, bits 0-5 count of 640 ms
constexpr std::size_t kCy405PllN = 12;
constexpr std::size_t kCy405PllM = 13;
constexpr int kCy405WatchdogUnitMs = 640;

class Cy28405Part : public ClockGenChip {
 public:
  Cy28405Part(int select, ClockGenOutputs& outputs)
      : ClockGenChip("cy28405", Access::kCypress, outputs),
        strapMhz_(sheet::kCy28405[static_cast<std::size_t>(select)]),
        scale_(sheet::Cy28405Unit(strapMhz_)) {
    Registers r{};
    r[kCy405Select] = static_cast<std::uint8_t>(select);
    r[kCy405Id] = 0x48;
    const unsigned n = static_cast<unsigned>(std::clamp(std::lround(strapMhz_ * 48 / scale_), 1L, 511L));
    r[kCy405PllN] = static_cast<std::uint8_t>(n >> 1);
    r[kCy405PllM] = static_cast<std::uint8_t>(48 | ((n & 1) << 7));
    SetPowerOn(r, Bit(kCy405Id));
  }

 protected:
  double PllOutput(const Registers& r) const override {
    const unsigned m = r[kCy405PllM] & 0x7F;
    const unsigned n = (static_cast<unsigned>(r[kCy405PllN]) << 1) | (r[kCy405PllM] >> 7);
    if (m == 0 || n == 0) return strapMhz_;
    return n * scale_ / m;
  }
  WatchdogSetting WatchdogFrom(const Registers& r) const override {
    return {milliseconds((r[kCy405Watchdog] & 0x3F) * kCy405WatchdogUnitMs), (r[kCy405Watchdog] & 0x40) != 0};
  }

 private:
  double strapMhz_;
  double scale_;
};

// ---- CY28341 ---------------------------------------------------------------

constexpr std::size_t kCy341Select = 0;
constexpr std::size_t kCy341Watchdog = 6;  // bits 0-3 count of 2.5 s, bit 7 holds it off
constexpr std::size_t kCy341PllN = 7;
constexpr std::size_t kCy341Id = 8;
constexpr std::size_t kCy341PllM = 9;  // bits 1-6

class Cy28341Part : public ClockGenChip {
 public:
  Cy28341Part(int select, ClockGenOutputs& outputs)
      : ClockGenChip("cy28341", Access::kCypress, outputs),
        strapMhz_(sheet::kCy28341[static_cast<std::size_t>(select)]) {
    Registers r{};
    r[kCy341Select] = static_cast<std::uint8_t>(select << 4);
    r[kCy341Watchdog] = 0x80;
    r[kCy341Id] = 0x18;
    r[kCy341PllN] = Byte(std::clamp(std::lround(strapMhz_ * 48 / sheet::kCy28341ReferenceMhz), 1L, 127L));
    r[kCy341PllM] = 48 << 1;
    SetPowerOn(r, Bit(kCy341Id));
  }

 protected:
  double PllOutput(const Registers& r) const override {
    const unsigned n = r[kCy341PllN] & 0x7F;
    const unsigned m = (r[kCy341PllM] >> 1) & 0x3F;
    if (m == 0 || n == 0) return strapMhz_;
    return sheet::kCy28341ReferenceMhz * n / m;
  }
  WatchdogSetting WatchdogFrom(const Registers& r) const override {
    const std::uint8_t w = r[kCy341Watchdog];
    return {milliseconds((w & 0x0F) * 2500), !(w & 0x80) && (w & 0x0F) != 0};
  }

 private:
  double strapMhz_;
};

// ---- factory -----------------------------------------------------------------

int TableIndex(const std::string& type, const ClockGenStrap& strap, std::size_t size, const double* entries) {
  const int index = strap.frequencySelect;
  if (index < 0 || static_cast<std::size_t>(index) >= size) {
    throw std::invalid_argument(type + ": frequency-select must be 0 to " + std::to_string(size - 1));
  }
  if (entries[index] <= 0) {
    throw std::invalid_argument(type + ": frequency-select " + std::to_string(index) + " names no clock");
  }
  return index;
}

std::unique_ptr<ClockGenChip> MakeIcs(const IcsDescription& d, const ClockGenStrap& strap,
                                      ClockGenOutputs& outputs) {
  if (d.table == nullptr) {
    if (!(strap.fsb > 0)) throw std::invalid_argument(std::string(d.type) + ": needs a power-on fsb in MHz");
    return std::make_unique<IcsPart>(d, strap.fsb, 0, outputs);
  }
  const int index = TableIndex(d.type, strap, d.table->size(), d.table->data());
  return std::make_unique<IcsPart>(d, (*d.table)[static_cast<std::size_t>(index)], index, outputs);
}

std::unique_ptr<ClockGenChip> MakeCypress(const CypressDescription& d, const ClockGenStrap& strap,
                                          ClockGenOutputs& outputs) {
  return std::make_unique<CypressBytePart>(d, TableIndex(d.type, strap, d.table->size(), d.table->data()),
                                           outputs);
}

// The frequency table of each part that has one.
const std::map<std::string, std::vector<double>>& Tables() {
  static const std::map<std::string, std::vector<double>> tables = [] {
    std::map<std::string, std::vector<double>> t;
    auto put = [&t](const char* type, const auto& table) { t[type] = {table.begin(), table.end()}; };
    put("ics950218", sheet::kIcs950218);
    put("ics950905", sheet::kIcs950905);
    put("ics950910", sheet::kIcs950910);
    put("ics9428", sheet::kIcs9428);
    put("ics952005", sheet::kIcs952005);
    put("w312", sheet::kW312);
    put("cy28323", sheet::kCy28323);
    put("cy28325", sheet::kCy28325);
    put("cy28349", sheet::kCy28349);
    put("cy28405", sheet::kCy28405);
    put("cy28341", sheet::kCy28341);
    return t;
  }();
  return tables;
}

using Maker = std::function<std::unique_ptr<ClockGenChip>(const ClockGenStrap&, ClockGenOutputs&)>;

const std::map<std::string, Maker>& Makers() {
  static const std::map<std::string, Maker> makers = {
      {"ics950218", [](const ClockGenStrap& s, ClockGenOutputs& o) { return MakeIcs(kIcs950218, s, o); }},
      {"ics950905", [](const ClockGenStrap& s, ClockGenOutputs& o) { return MakeIcs(kIcs950905, s, o); }},
      {"ics950910", [](const ClockGenStrap& s, ClockGenOutputs& o) { return MakeIcs(kIcs950910, s, o); }},
      {"ics94228", [](const ClockGenStrap& s, ClockGenOutputs& o) { return MakeIcs(kIcs94228, s, o); }},
      {"ics9428", [](const ClockGenStrap& s, ClockGenOutputs& o) { return MakeIcs(kIcs9428, s, o); }},
      {"ics952005", [](const ClockGenStrap& s, ClockGenOutputs& o) { return MakeIcs(kIcs952005, s, o); }},
      {"ics952001", [](const ClockGenStrap& s, ClockGenOutputs& o) { return MakeIcs(kIcs952001, s, o); }},
      {"w312", [](const ClockGenStrap& s, ClockGenOutputs& o) { return MakeCypress(kW312, s, o); }},
      {"cy28323", [](const ClockGenStrap& s, ClockGenOutputs& o) { return MakeCypress(kCy28323, s, o); }},
      {"cy28325", [](const ClockGenStrap& s, ClockGenOutputs& o) { return MakeCypress(kCy28325, s, o); }},
      {"cy28349", [](const ClockGenStrap& s, ClockGenOutputs& o) { return MakeCypress(kCy28349, s, o); }},
      {"cy28405",
       [](const ClockGenStrap& s, ClockGenOutputs& o) -> std::unique_ptr<ClockGenChip> {
         return std::make_unique<Cy28405Part>(
             TableIndex("cy28405", s, sheet::kCy28405.size(), sheet::kCy28405.data()), o);
       }},
      {"cy28341",
       [](const ClockGenStrap& s, ClockGenOutputs& o) -> std::unique_ptr<ClockGenChip> {
         return std::make_unique<Cy28341Part>(
             TableIndex("cy28341", s, sheet::kCy28341.size(), sheet::kCy28341.data()), o);
       }},
  };
  return makers;
}

}  // namespace

std::unique_ptr<ClockGenChip> MakeClockGenChip(const std::string& type, const ClockGenStrap& strap,
                                               ClockGenOutputs& outputs) {
  const auto it = Makers().find(type);
  if (it == Makers().end()) return nullptr;
  return it->second(strap, outputs);
}

ClockGenStrap StrapNearest(const std::string& type, double powerOnFsb) {
  const auto found = Tables().find(type);
  if (found == Tables().end()) return {-1, powerOnFsb};
  int best = 0;
  for (std::size_t i = 0; i < found->second.size(); ++i) {
    if (std::fabs(found->second[i] - powerOnFsb) <
        std::fabs(found->second[static_cast<std::size_t>(best)] - powerOnFsb)) {
      best = static_cast<int>(i);
    }
  }
  return {best, 0.0};
}

std::size_t FrequencySelectEntries(const std::string& type) {
  const auto found = Tables().find(type);
  return found == Tables().end() ? 0 : found->second.size();
}

std::vector<std::string> ClockGenChipTypes() {
  std::vector<std::string> types;
  for (const auto& [type, maker] : Makers()) types.push_back(type);
  return types;
}

}  // namespace rq::sim
