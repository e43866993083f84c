#include "sim/monitor/MonitorChips.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>

#include "sim/Board.h"

namespace rq::sim {

namespace {

// Both makes digitise 0 to 4.08 V in 256 steps of 16 mV.
constexpr double kAdcStepVolts = 0.016;
constexpr int kAdcMax = 255;
// Fan inputs count a 22.5 kHz clock over two pulses (one turn): count = 1,350,000 / (RPM x divisor).
constexpr double kFanClockPerMinute = 1'350'000.0;
constexpr std::uint8_t kFanStopped = 255;
constexpr std::uint8_t kUnclaimedBus = 0xFF;

// An external divider: r1 from the rail to the pin, r2 from the pin to ground; for
// a negative rail r1 runs to the chip's reference instead of to ground.
struct Divider {
  int r1;
  int r2;
};

std::uint8_t Digitise(double pinVolts) {
  const double steps = std::round(pinVolts / kAdcStepVolts);
  return static_cast<std::uint8_t>(std::clamp(steps, 0.0, static_cast<double>(kAdcMax)));
}

std::uint8_t PositiveRail(double volts, Divider divider) {
  if (divider.r2 == 0) return Digitise(volts);
  return Digitise(volts * divider.r2 / (divider.r1 + divider.r2));
}

// The negative rail and the reference pull the pin from either end of the divider.
std::uint8_t NegativeRail(double volts, Divider divider, double referenceVolts) {
  return Digitise((volts * divider.r2 + referenceVolts * divider.r1) / (divider.r1 + divider.r2));
}

// Whole degrees, two's complement.
std::uint8_t Degrees(double celsius) {
  constexpr double kMin = -128.0;
  constexpr double kMax = 127.0;
  return static_cast<std::uint8_t>(static_cast<int>(std::clamp(std::round(celsius), kMin, kMax)) & 0xFF);
}

// Half degrees, 9-bit two's complement.
int HalfDegrees(double celsius) {
  constexpr double kMin = -256.0;
  constexpr double kMax = 255.0;
  return static_cast<int>(std::clamp(std::round(celsius * 2.0), kMin, kMax)) & 0x1FF;
}

std::uint8_t FanCount(double rpm, int divisor) {
  if (!(rpm > 0.0)) return kFanStopped;
  const double count = std::round(kFanClockPerMinute / (rpm * divisor));
  if (count >= kFanStopped) return kFanStopped;
  return static_cast<std::uint8_t>(std::max(1.0, count));
}

nlohmann::json Hex(std::uint8_t value) {
  constexpr char kDigits[] = "0123456789ABCDEF";
  return std::string("0x") + kDigits[value >> 4] + kDigits[value & 0xF];
}

// The kernel drivers' conversions: an ADC step of 16 mV at the pin, whole degrees
// in a signed byte, a fan count of 255 (or 0) as a stopped fan.
constexpr long kPinMilliVoltsPerStep = 16;
constexpr long kMilliPerUnit = 1000;

long PinMilliVolts(std::uint8_t reg) { return reg * kPinMilliVoltsPerStep; }
long MilliDegrees(std::uint8_t reg) { return static_cast<std::int8_t>(reg) * kMilliPerUnit; }
long FanRpm(std::uint8_t count, int divisor) {
  if (count == 0 || count == kFanStopped) return 0;
  return std::lround(kFanClockPerMinute / (count * divisor));
}
std::string Channel(const char* kind, int number) { return kind + std::to_string(number) + "_input"; }

// ---------------------------------------------------------------------------
// Winbond W83627HF / W83697HF

namespace winbond {
constexpr std::uint8_t kVCoreA = 0x20;
constexpr std::uint8_t kVinR0 = 0x21;
constexpr std::uint8_t kV33 = 0x22;
constexpr std::uint8_t kV5 = 0x23;
constexpr std::uint8_t kV12 = 0x24;
constexpr std::uint8_t kVN12 = 0x25;
constexpr std::uint8_t kVN5 = 0x26;
constexpr std::uint8_t kTemp1 = 0x27;
constexpr std::uint8_t kFan1 = 0x28;
constexpr std::uint8_t kFan2 = 0x29;
constexpr std::uint8_t kFan3 = 0x2A;
constexpr std::uint8_t kFanDivisor = 0x47;
constexpr std::uint8_t kFan3Divisor = 0x4B;
constexpr std::uint8_t kBankSelect = 0x4E;
constexpr std::uint8_t kVendorId = 0x4F;
constexpr std::uint8_t kChipId = 0x58;
constexpr std::uint8_t kFanDivisorBit2 = 0x5D;
constexpr std::uint8_t kBankedFirst = 0x50;
constexpr std::uint8_t kBankedLast = 0x5F;
constexpr std::uint8_t kBankMask = 0x07;
constexpr std::uint8_t kHighByteAccess = 0x80;
constexpr std::uint8_t kVendorHigh = 0x5C;
constexpr std::uint8_t kVendorLow = 0xA3;
// Bank 1 / 2: temperatures 2 and 3 (whole degrees at 0x50, half degree in bit 7 of 0x51).
constexpr std::uint8_t kTempHigh = 0x50;
constexpr std::uint8_t kTempLow = 0x51;
constexpr std::uint8_t kHalfDegree = 0x80;
// Bank 5: 5 V standby at 0x50, battery at 0x51.
constexpr std::uint8_t kBankTemp2 = 1;
constexpr std::uint8_t kBankTemp3 = 2;
constexpr std::uint8_t kBankSupplies = 5;
constexpr std::uint8_t k5VSb = 0x50;
constexpr std::uint8_t kVBat = 0x51;
// Fan divisor bits: 0x47 bits 5..4 (fan 1) and 7..6 (fan 2), 0x4B bits 7..6 (fan 3),
// bit 2 of each code in 0x5D bits 5, 6 and 7.
constexpr std::uint8_t kDivisorBitsWritable = 0xF0;
constexpr std::uint8_t kFan3DivisorBits = 0xC0;
constexpr std::uint8_t kDivisorHighBits = 0xE0;
// As the BIOS leaves them: fan 1 / 4 (code 2), fans 2 and 3 / 8 (code 3); VID 0101.
constexpr std::uint8_t kPowerOnFanDivisor = 0xE5;
constexpr std::uint8_t kPowerOnFan3Divisor = 0xC0;
constexpr std::uint8_t kPowerOnBankSelect = 0x80;
// Dividers on the board, the way the reference design wires the inputs.
constexpr Divider kDirect{0, 0};
constexpr Divider k5V{68, 100};
constexpr Divider k12V{28, 10};
constexpr Divider kNeg12V{232, 56};
constexpr Divider kNeg5V{120, 56};
constexpr Divider k5VSbDivider{17, 33};
// The negative inputs are referred to the chip's 3.6 V reference.
constexpr double kReference = 3.6;
// Super I/O configuration: 0x87 twice enters, 0xAA leaves; 0x20 holds the device ID.
constexpr std::uint8_t kEnterKey = 0x87;
constexpr std::uint8_t kExitKey = 0xAA;
constexpr std::uint8_t kDeviceIdReg = 0x20;
constexpr std::uint8_t kRevisionReg = 0x21;
}  // namespace winbond

class WinbondMonitor final : public SuperIoMonitor {
 public:
  struct Model {
    const char* name;
    std::uint8_t monitorChipId;  // register 0x58
    std::uint8_t deviceId;       // Super I/O configuration register 0x20
    std::uint8_t revision;
    bool hasVinR0;
    int channels;  // temperatures and fans
  };

  WinbondMonitor(Board& board, std::uint16_t base, const Model& model)
      : SuperIoMonitor(board, model.name, base), model_(model) {}

  std::uint8_t ReadRegister(std::uint8_t reg) const override {
    using namespace winbond;
    const Analog& side = board_.Analogue();
    if (reg >= kBankedFirst && reg <= kBankedLast) return ReadBanked(Bank(), reg);
    switch (reg) {
      case kVCoreA:
        return PositiveRail(side.Volts(Supply::VCore), kDirect);
      case kVinR0:
        return model_.hasVinR0 ? PositiveRail(side.Volts(Supply::VMem), kDirect) : 0;
      case kV33:
        return PositiveRail(side.Volts(Supply::V33), kDirect);
      case kV5:
        return PositiveRail(side.Volts(Supply::V5), k5V);
      case kV12:
        return PositiveRail(side.Volts(Supply::V12), k12V);
      case kVN12:
        return NegativeRail(side.Volts(Supply::VN12), kNeg12V, kReference);
      case kVN5:
        return NegativeRail(side.Volts(Supply::VN5), kNeg5V, kReference);
      case kTemp1:
        return Degrees(side.BoardTempC());
      case kFan1:
        return FanCount(side.FanRpm(Fan::Cpu), FanDivisor(0));
      case kFan2:
        return FanCount(side.FanRpm(Fan::System), FanDivisor(1));
      case kFan3:
        return FanCount(side.FanRpm(Fan::Aux), FanDivisor(2));
      case kFanDivisor:
        return fanDivisor_;
      case kFan3Divisor:
        return fan3Divisor_;
      case kBankSelect:
        return bankSelect_;
      case kVendorId:
        return (bankSelect_ & kHighByteAccess) != 0 ? kVendorHigh : kVendorLow;
      default:
        return 0;
    }
  }

  // As the kernel's w83627hf driver gives it (its hwmon name is the chip's): in0-in6
  // from the unbanked inputs (the W83697HF has no in1), 5 V standby and the battery as
  // in7 and in8 from bank 5, temperatures 2 and 3 from banks 1 and 2 in half degrees.
  KernelHwmonView KernelView() const override {
    using namespace winbond;
    KernelHwmonView view{"w83627hf", model_.name, {}};
    constexpr std::array<std::uint8_t, 7> kInputs = {kVCoreA, kVinR0, kV33, kV5, kV12, kVN12, kVN5};
    for (int in = 0; in < static_cast<int>(kInputs.size()); ++in) {
      if (kInputs[in] == kVinR0 && !model_.hasVinR0) continue;
      view.attributes.emplace_back(Channel("in", in), PinMilliVolts(ReadRegister(kInputs[in])));
    }
    view.attributes.emplace_back(Channel("in", 7), PinMilliVolts(ReadBanked(kBankSupplies, k5VSb)));
    view.attributes.emplace_back(Channel("in", 8), PinMilliVolts(ReadBanked(kBankSupplies, kVBat)));
    view.attributes.emplace_back(Channel("temp", 1), MilliDegrees(ReadRegister(kTemp1)));
    for (const std::uint8_t bank : {kBankTemp2, kBankTemp3}) {
      if (bank > model_.channels - 1) break;
      const long half = (ReadBanked(bank, kTempLow) & kHalfDegree) != 0 ? kMilliPerUnit / 2 : 0;
      view.attributes.emplace_back(Channel("temp", bank + 1), MilliDegrees(ReadBanked(bank, kTempHigh)) + half);
    }
    constexpr std::array<std::uint8_t, 3> kFans = {kFan1, kFan2, kFan3};
    for (int fan = 0; fan < model_.channels; ++fan) {
      view.attributes.emplace_back(Channel("fan", fan + 1), FanRpm(ReadRegister(kFans[fan]), FanDivisor(fan)));
    }
    return view;
  }

  void WriteRegister(std::uint8_t reg, std::uint8_t value) override {
    using namespace winbond;
    switch (reg) {
      case kBankSelect:
        bankSelect_ = value;
        break;
      case kFanDivisor:
        fanDivisor_ =
            static_cast<std::uint8_t>((value & kDivisorBitsWritable) | (fanDivisor_ & ~kDivisorBitsWritable));
        break;
      case kFan3Divisor:
        fan3Divisor_ =
            static_cast<std::uint8_t>((value & kFan3DivisorBits) | (fan3Divisor_ & ~kFan3DivisorBits));
        break;
      default:
        if (reg == kFanDivisorBit2 && Bank() == 0) {
          divisorHighBits_ = static_cast<std::uint8_t>(value & kDivisorHighBits);
        }
        break;
    }
  }

 protected:
  void ResetRegisters() override {
    using namespace winbond;
    bankSelect_ = kPowerOnBankSelect;
    fanDivisor_ = kPowerOnFanDivisor;
    fan3Divisor_ = kPowerOnFan3Divisor;
    divisorHighBits_ = 0;
    enterKeys_ = 0;
    configMode_ = false;
    configIndex_ = 0;
  }

  void ConfigIndexWrite(std::uint8_t value) override {
    using namespace winbond;
    if (configMode_) {
      if (value == kExitKey) {
        configMode_ = false;
      } else {
        configIndex_ = value;
      }
      return;
    }
    enterKeys_ = value == kEnterKey ? enterKeys_ + 1 : 0;
    if (enterKeys_ == 2) {
      configMode_ = true;
      enterKeys_ = 0;
    }
  }

  std::uint8_t ConfigDataRead() override {
    using namespace winbond;
    if (!configMode_) return kUnclaimedBus;
    if (configIndex_ == kDeviceIdReg) return model_.deviceId;
    if (configIndex_ == kRevisionReg) return model_.revision;
    return 0;
  }

  void ConfigDataWrite(std::uint8_t) override {}

  std::vector<std::uint8_t> SensorRegisters() const override {
    using namespace winbond;
    return {kVCoreA, kVinR0, kV33, kV5, kV12, kVN12, kVN5, kTemp1, kFan1, kFan2, kFan3};
  }

  nlohmann::json InspectRegisters() const override {
    return {{"bank", Bank()},
            {"fanDivisor47", Hex(fanDivisor_)},
            {"fanDivisor5D", Hex(divisorHighBits_)},
            {"superIoConfigMode", configMode_}};
  }

 private:
  std::uint8_t Bank() const { return bankSelect_ & winbond::kBankMask; }

  int FanDivisor(int fan) const {
    constexpr std::array<int, 3> kLowShift = {4, 6, 6};
    constexpr std::array<int, 3> kHighBit = {5, 6, 7};
    const std::uint8_t low = fan == 2 ? fan3Divisor_ : fanDivisor_;
    const int code = ((low >> kLowShift[fan]) & 0x3) | (((divisorHighBits_ >> kHighBit[fan]) & 1) << 2);
    return 1 << code;
  }

  std::uint8_t ReadBanked(std::uint8_t bank, std::uint8_t reg) const {
    using namespace winbond;
    const Analog& side = board_.Analogue();
    switch (bank) {
      case 0:
        if (reg == kChipId) return model_.monitorChipId;
        if (reg == kFanDivisorBit2) return divisorHighBits_;
        return 0;
      case kBankTemp2:
      case kBankTemp3: {
        const double celsius = bank == kBankTemp2 ? side.CpuTempC() : side.BoardTempC();
        const int half = HalfDegrees(celsius);
        if (reg == kTempHigh) return static_cast<std::uint8_t>(half >> 1);
        if (reg == kTempLow) return (half & 1) != 0 ? kHalfDegree : 0;
        return 0;
      }
      case kBankSupplies:
        if (reg == k5VSb) return PositiveRail(side.Volts(Supply::V5Sb), k5VSbDivider);
        if (reg == kVBat) return PositiveRail(side.Volts(Supply::VBat), kDirect);
        return 0;
      default:
        return 0;
    }
  }

  Model model_;
  std::uint8_t bankSelect_ = 0;
  std::uint8_t fanDivisor_ = 0;
  std::uint8_t fan3Divisor_ = 0;
  std::uint8_t divisorHighBits_ = 0;
  int enterKeys_ = 0;
  bool configMode_ = false;
  std::uint8_t configIndex_ = 0;
};

// ---------------------------------------------------------------------------
// ITE IT8705F / IT8712F / IT8722F

namespace ite {
constexpr std::uint8_t kConfiguration = 0x00;
constexpr std::uint8_t kMeasureBattery = 0x40;
constexpr std::uint8_t kStart = 0x01;
constexpr std::uint8_t kFanDivisor = 0x0B;
constexpr std::uint8_t kFan1 = 0x0D;
constexpr std::uint8_t kFan2 = 0x0E;
constexpr std::uint8_t kFan3 = 0x0F;
constexpr std::uint8_t kVin0 = 0x20;
constexpr std::uint8_t kVin1 = 0x21;
constexpr std::uint8_t kVin2 = 0x22;
constexpr std::uint8_t kVin3 = 0x23;
constexpr std::uint8_t kVin4 = 0x24;
constexpr std::uint8_t kVin5 = 0x25;
constexpr std::uint8_t kVin6 = 0x26;
constexpr std::uint8_t kVin7 = 0x27;
constexpr std::uint8_t kVBat = 0x28;
constexpr std::uint8_t kTemp1 = 0x29;
constexpr std::uint8_t kTemp2 = 0x2A;
constexpr std::uint8_t kTemp3 = 0x2B;
constexpr std::uint8_t kVendorId = 0x58;
constexpr std::uint8_t kVendor = 0x90;
// Fan 1 divisor code in bits 2..0, fan 2 in bits 5..3, fan 3 / 8 when bit 6 is set
// (else / 2). As the BIOS leaves them: fan 1 / 4, fans 2 and 3 / 8.
constexpr std::uint8_t kPowerOnFanDivisor = 0x5A;
constexpr int kFan2Shift = 3;
constexpr std::uint8_t kCodeMask = 0x07;
constexpr std::uint8_t kFan3Slow = 0x40;
constexpr Divider kDirect{0, 0};
constexpr Divider kHalved{10, 10};
constexpr Divider k5V{68, 100};
constexpr Divider k12V{30, 10};
constexpr Divider kNeg12V{232, 56};
constexpr Divider kNeg5V{121, 56};
// The negative inputs are referred to the chip's 4.096 V reference.
constexpr double kReference = 4.096;
// A sensor a little away from the others (near the chipset) reads a few degrees warmer.
constexpr double kTemp3OffsetC = 4.0;
// Super I/O configuration: the key 87 01 55 55 on 0x2E enters; bit 1 of register
// 0x02 leaves; 0x20/0x21 hold the chip ID (0x87, then the model byte).
constexpr std::array<std::uint8_t, 4> kEnterKey = {0x87, 0x01, 0x55, 0x55};
constexpr std::uint8_t kConfigControl = 0x02;
constexpr std::uint8_t kWaitForKey = 0x02;
constexpr std::uint8_t kChipIdHighReg = 0x20;
constexpr std::uint8_t kChipIdLowReg = 0x21;
constexpr std::uint8_t kChipVersionReg = 0x22;
constexpr std::uint8_t kChipIdHigh = 0x87;
}  // namespace ite

class IteMonitor final : public SuperIoMonitor {
 public:
  // `hwmonName`: the name the kernel's it87 driver gives the chip's hwmon device, empty
  // for a chip it does not know.
  IteMonitor(Board& board, std::uint16_t base, const char* name, std::uint8_t chipIdLow, bool v33Halved,
             const char* hwmonName)
      : SuperIoMonitor(board, name, base), chipIdLow_(chipIdLow), v33Halved_(v33Halved), hwmonName_(hwmonName) {}

  // As the kernel's it87 driver gives it: in0-in7 and the battery as in8 in their
  // register order, three temperatures, three fans.
  KernelHwmonView KernelView() const override {
    using namespace ite;
    if (hwmonName_.empty()) return {};
    KernelHwmonView view{"it87", hwmonName_, {}};
    for (int in = 0; in <= kVBat - kVin0; ++in) {
      view.attributes.emplace_back(Channel("in", in), PinMilliVolts(ReadRegister(static_cast<std::uint8_t>(kVin0 + in))));
    }
    for (int temp = 0; temp < 3; ++temp) {
      view.attributes.emplace_back(Channel("temp", temp + 1), MilliDegrees(ReadRegister(static_cast<std::uint8_t>(kTemp1 + temp))));
    }
    const std::array<int, 3> divisors = {1 << (fanDivisor_ & kCodeMask), 1 << ((fanDivisor_ >> kFan2Shift) & kCodeMask),
                                         (fanDivisor_ & kFan3Slow) != 0 ? 8 : 2};
    for (int fan = 0; fan < 3; ++fan) {
      view.attributes.emplace_back(Channel("fan", fan + 1), FanRpm(ReadRegister(static_cast<std::uint8_t>(kFan1 + fan)), divisors[fan]));
    }
    return view;
  }

  std::uint8_t ReadRegister(std::uint8_t reg) const override {
    using namespace ite;
    const Analog& side = board_.Analogue();
    switch (reg) {
      case kConfiguration:
        return configuration_;
      case kFanDivisor:
        return fanDivisor_;
      case kFan1:
        return FanCount(side.FanRpm(Fan::Cpu), 1 << (fanDivisor_ & kCodeMask));
      case kFan2:
        return FanCount(side.FanRpm(Fan::System), 1 << ((fanDivisor_ >> kFan2Shift) & kCodeMask));
      case kFan3:
        return FanCount(side.FanRpm(Fan::Aux), (fanDivisor_ & kFan3Slow) != 0 ? 8 : 2);
      case kVin0:
        return PositiveRail(side.Volts(Supply::VCore), kDirect);
      case kVin1:
        return PositiveRail(side.Volts(Supply::VMem), kDirect);
      case kVin2:
        return PositiveRail(side.Volts(Supply::V33), v33Halved_ ? kHalved : kDirect);
      case kVin3:
        return PositiveRail(side.Volts(Supply::V5), k5V);
      case kVin4:
        return PositiveRail(side.Volts(Supply::V12), k12V);
      case kVin5:
        return NegativeRail(side.Volts(Supply::VN12), kNeg12V, kReference);
      case kVin6:
        return NegativeRail(side.Volts(Supply::VN5), kNeg5V, kReference);
      case kVin7:
        return PositiveRail(side.Volts(Supply::V5Sb), k5V);
      case kVBat:
        return battery_;
      case kTemp1:
        return Degrees(side.BoardTempC());
      case kTemp2:
        return Degrees(side.CpuTempC());
      case kTemp3:
        return Degrees(side.BoardTempC() + kTemp3OffsetC);
      case kVendorId:
        return kVendor;
      default:
        return 0;
    }
  }

  void WriteRegister(std::uint8_t reg, std::uint8_t value) override {
    using namespace ite;
    if (reg == kConfiguration) {
      // The battery is measured only on request; the bit clears when done.
      if ((value & kMeasureBattery) != 0) MeasureBattery();
      configuration_ = static_cast<std::uint8_t>(value & ~kMeasureBattery);
    } else if (reg == kFanDivisor) {
      fanDivisor_ = value;
    }
  }

  std::uint32_t BatteryMeasurements() const { return batteryMeasurements_; }

 protected:
  void ResetRegisters() override {
    using namespace ite;
    configuration_ = kStart;
    fanDivisor_ = kPowerOnFanDivisor;
    keyProgress_ = 0;
    configMode_ = false;
    configIndex_ = 0;
    MeasureBattery();
  }

  void ConfigIndexWrite(std::uint8_t value) override {
    using namespace ite;
    if (configMode_) {
      configIndex_ = value;
      return;
    }
    if (value == kEnterKey[keyProgress_]) {
      ++keyProgress_;
    } else {
      keyProgress_ = value == kEnterKey[0] ? 1 : 0;
    }
    if (keyProgress_ == kEnterKey.size()) {
      configMode_ = true;
      keyProgress_ = 0;
    }
  }

  std::uint8_t ConfigDataRead() override {
    using namespace ite;
    if (!configMode_) return kUnclaimedBus;
    switch (configIndex_) {
      case kChipIdHighReg:
        return kChipIdHigh;
      case kChipIdLowReg:
        return chipIdLow_;
      case kChipVersionReg:
        return 0x01;
      default:
        return 0;
    }
  }

  void ConfigDataWrite(std::uint8_t value) override {
    using namespace ite;
    if (configMode_ && configIndex_ == kConfigControl && (value & kWaitForKey) != 0) configMode_ = false;
  }

  std::vector<std::uint8_t> SensorRegisters() const override {
    using namespace ite;
    return {kFan1, kFan2, kFan3, kVin0, kVin1,  kVin2,  kVin3, kVin4,
            kVin5, kVin6, kVin7, kVBat, kTemp1, kTemp2, kTemp3};
  }

  nlohmann::json InspectRegisters() const override {
    return {{"fanDivisor0B", Hex(fanDivisor_)},
            {"batteryRaw", battery_},
            {"batteryMeasurements", batteryMeasurements_},
            {"superIoConfigMode", configMode_}};
  }

 private:
  void MeasureBattery() {
    battery_ = PositiveRail(board_.Analogue().Volts(Supply::VBat), ite::kDirect);
    ++batteryMeasurements_;
  }

  std::uint8_t chipIdLow_;
  bool v33Halved_;
  std::string hwmonName_;
  std::uint8_t configuration_ = 0;
  std::uint8_t fanDivisor_ = 0;
  std::uint8_t battery_ = 0;
  std::uint32_t batteryMeasurements_ = 0;
  std::size_t keyProgress_ = 0;
  bool configMode_ = false;
  std::uint8_t configIndex_ = 0;
};

std::uint16_t Base(const ChipConfig& config) {
  // The monitor's pair sits at base + 5/6 and must stay inside the 16-bit I/O space.
  constexpr std::int64_t kMaxBase = 0xFFF8;
  return static_cast<std::uint16_t>(config.Integer("base", 0x100, kMaxBase));
}

template <typename Monitor, typename... Args>
void Place(Board& board, std::uint16_t base, Args&&... args) {
  auto& chip = board.Own(std::make_unique<Monitor>(board, base, std::forward<Args>(args)...));
  board.Ports().Claim(chip.IndexPort(), chip.DataPort(), chip);
  board.Ports().Claim(SuperIoMonitor::kConfigIndex, SuperIoMonitor::kConfigData, chip);
}

void BuildWinbond(const ChipConfig& config, Board& board, const WinbondMonitor::Model& model) {
  Place<WinbondMonitor>(board, Base(config), model);
}

void BuildIte(const ChipConfig& config, Board& board, const char* name, std::uint8_t chipIdLow,
              const char* hwmonName) {
  const std::uint16_t base = Base(config);
  const bool v33Halved = config.Boolean("v33_divider", false);
  Place<IteMonitor>(board, base, name, chipIdLow, v33Halved, hwmonName);
}

}  // namespace

SuperIoMonitor::SuperIoMonitor(Board& board, std::string name, std::uint16_t base)
    : board_(board), name_(std::move(name)), base_(base) {}

SuperIoMonitor::~SuperIoMonitor() { board_.Ports().Release(*this); }

std::uint8_t SuperIoMonitor::In(std::uint16_t port) {
  if (port == IndexPort()) return index_;
  if (port == DataPort()) return ReadRegister(index_);
  if (port == kConfigData) return ConfigDataRead();
  // The configuration index port reads back nothing useful outside configuration.
  return kUnclaimedBus;
}

void SuperIoMonitor::Out(std::uint16_t port, std::uint8_t value) {
  if (port == IndexPort()) {
    index_ = value;
  } else if (port == DataPort()) {
    WriteRegister(index_, value);
  } else if (port == kConfigIndex) {
    ConfigIndexWrite(value);
  } else if (port == kConfigData) {
    ConfigDataWrite(value);
  }
}

void SuperIoMonitor::PowerOnReset() {
  index_ = 0;
  ResetRegisters();
}

nlohmann::json SuperIoMonitor::Inspect() const {
  nlohmann::json state = InspectRegisters();
  nlohmann::json sensors = nlohmann::json::object();
  for (const std::uint8_t reg : SensorRegisters()) {
    sensors[Hex(reg).get<std::string>()] = Hex(ReadRegister(reg));
  }
  state["sensorRegisters"] = std::move(sensors);
  state["indexPort"] = IndexPort();
  state["dataPort"] = DataPort();
  return state;
}

RQ_SIM_CHIP("w83627hf", [](const ChipConfig& config, Board& board) {
  BuildWinbond(config, board, {"w83627hf", 0x21, 0x52, 0x41, true, 3});
});
RQ_SIM_CHIP("w83697hf", [](const ChipConfig& config, Board& board) {
  BuildWinbond(config, board, {"w83697hf", 0x60, 0x60, 0x10, false, 2});
});
RQ_SIM_CHIP("it8712f",
            [](const ChipConfig& config, Board& board) { BuildIte(config, board, "it8712f", 0x12, "it8712"); });
RQ_SIM_CHIP("it8705f",
            [](const ChipConfig& config, Board& board) { BuildIte(config, board, "it8705f", 0x05, "it87"); });
RQ_SIM_CHIP("it8722f",
            [](const ChipConfig& config, Board& board) { BuildIte(config, board, "it8722f", 0x22, ""); });

}  // namespace rq::sim
