#include "devices/monitor/MonitorChips.h"

namespace rq::devices {

namespace {

constexpr char kDescription[] = "Winbond Super I/O( including H/W Monitor )";
constexpr ISAHwMonitorIo::ResistorTable kResistors = {{
    {0, 0},     // VCoreA
    {0, 0},     // VCoreB
    {0, 0},     // +3.3 V
    {68, 100},  // +5 V
    {28, 10},   // +12 V
    {232, 56},  // -12 V
    {120, 56},  // -5 V
    {0, 0},     // battery
    {17, 33},   // 5 V standby
}};

constexpr std::uint8_t kRegVCoreA = 0x20;
constexpr std::uint8_t kRegVCoreB = 0x21;
constexpr std::uint8_t kRegV33 = 0x22;
constexpr std::uint8_t kRegV5 = 0x23;
constexpr std::uint8_t kRegV12 = 0x24;
constexpr std::uint8_t kRegVN12 = 0x25;
constexpr std::uint8_t kRegVN5 = 0x26;
constexpr std::uint8_t kTemp1 = 0x27;
constexpr std::uint8_t kFan1Count = 0x28;
constexpr std::uint8_t kFan2Count = 0x29;
constexpr std::uint8_t kFanDivisor = 0x47;
constexpr std::uint8_t kBankSelect = 0x4E;
constexpr std::uint8_t kVendorId = 0x4F;
constexpr std::uint8_t kChipId = 0x58;
constexpr std::uint8_t kFanDivisorBit2 = 0x5D;
// Bank select keeps bits 7..3 (bit 7 picks the vendor ID's high byte at 0x4F).
constexpr std::uint8_t kBankKeep = 0xF8;
constexpr std::uint8_t kVendorHighByte = 0x80;
constexpr std::uint8_t kVendorLowByte = 0x00;
constexpr unsigned kVendor = 0x5CA3;
// The banks the chips decode (there is no bank 3).
constexpr std::uint8_t kDumpBanks[] = {0, 1, 2, 4, 5};
// Bank 1: temperature 2, whole degrees at 0x50, the half degree in bit 7 of 0x51.
constexpr std::uint8_t kTempBank = 1;
constexpr std::uint8_t kTempHigh = 0x50;
constexpr std::uint8_t kTempLow = 0x51;
constexpr int kHalfDegreeShift = 7;
constexpr int kNineBitSign = 0x100;
constexpr int kNineBitRange = 0x200;
// Bank 5: 5 V standby and the battery.
constexpr std::uint8_t kSupplyBank = 5;
constexpr std::uint8_t kReg5VSb = 0x50;
constexpr std::uint8_t kRegVBat = 0x51;
// Divisor code: two low bits in 0x47, bit 2 in 0x5D.
constexpr int kFan1LowShift = 4;
constexpr int kFan2LowShift = 6;
constexpr int kFan1HighBit = 5;
constexpr int kFan2HighBit = 6;
constexpr unsigned kLowCodeMask = 0x3;
// The negative inputs are referred to the chip's 3.6 V reference.
constexpr double kNegativeReference = 3.6;

}  // namespace

WinbondHwMonitorIo::WinbondHwMonitorIo(std::string modelName, std::uint8_t chipId)
    : ISAHwMonitorIo(std::move(modelName), kDescription, kResistors), chipId_(chipId) {}

W83627HFIo::W83627HFIo() : WinbondHwMonitorIo("W83627HF", 0x21) {}
W83697HFIo::W83697HFIo() : WinbondHwMonitorIo("W83697HF", 0x60) {}
bool W83697HFIo::ReadVCoreB(double&) { return false; }

bool WinbondHwMonitorIo::Probe() {
  const auto hold = HoldChip();
  if (!WriteRegister(kBankSelect, kVendorHighByte)) return false;
  const auto chip = ReadRegister(kChipId);
  if (!chip) return false;
  const auto high = ReadRegister(kVendorId);
  if (!high || !WriteRegister(kBankSelect, kVendorLowByte)) return false;
  const auto low = ReadRegister(kVendorId);
  if (!low) return false;
  return (*high * 256U + *low) == kVendor && *chip == chipId_;
}

bool WinbondHwMonitorIo::SelectBank(std::uint8_t bank) const {
  const auto select = ReadRegister(kBankSelect);
  if (!select) return false;
  return WriteRegister(kBankSelect, static_cast<std::uint8_t>((*select & kBankKeep) | bank));
}

std::vector<ISAHwMonitorIo::RegisterBank> WinbondHwMonitorIo::ReadRegisterBanks() const {
  // One sequence: another reader must not move the bank select under the dump.
  const auto hold = HoldChip();
  const auto select = ReadRegister(kBankSelect);
  if (!select) return ISAHwMonitorIo::ReadRegisterBanks();
  std::vector<RegisterBank> banks;
  for (std::uint8_t bank : kDumpBanks) {
    if (!SelectBank(bank)) continue;
    RegisterBank dump{bank, {}};
    for (std::size_t reg = 0; reg < dump.bytes.size(); ++reg)
      dump.bytes[reg] = ReadRegister(static_cast<std::uint8_t>(reg));
    banks.push_back(dump);
  }
  WriteRegister(kBankSelect, *select);
  return banks;
}

std::optional<std::uint8_t> WinbondHwMonitorIo::ReadBanked(std::uint8_t bank, std::uint8_t reg) const {
  const auto hold = HoldChip();
  if (!SelectBank(bank)) return std::nullopt;
  return ReadRegister(reg);
}

bool WinbondHwMonitorIo::ReadTempSensor1(double& value) {
  return ReadTemperature8("TempSensor1", kTemp1, value);
}

bool WinbondHwMonitorIo::ReadTempSensor2(double& value) {
  if (!TemperatureOn("TempSensor2")) return false;
  const auto hold = HoldChip();
  const auto high = ReadBanked(kTempBank, kTempHigh);
  if (!high) return false;
  const auto low = ReadRegister(kTempLow);
  if (!low) return false;
  int halfDegrees = *high * 2 + (*low >> kHalfDegreeShift);
  // Bit 8 set: below freezing, two's complement over nine bits.
  if ((halfDegrees & kNineBitSign) != 0) halfDegrees -= kNineBitRange;
  // Whole degrees only, the half dropped toward zero.
  value = TwoDecimals(halfDegrees / 2);
  return true;
}

bool WinbondHwMonitorIo::ReadTempSensor3(double&) { return false; }

std::optional<unsigned> WinbondHwMonitorIo::FanDivisorCode(int lowShift, int highBit) const {
  const auto hold = HoldChip();
  const auto low = ReadBanked(0, kFanDivisor);
  if (!low) return std::nullopt;
  const auto high = ReadRegister(kFanDivisorBit2);
  if (!high) return std::nullopt;
  return ((*low >> lowShift) & kLowCodeMask) + 4 * ((*high >> highBit) & 1U);
}

bool WinbondHwMonitorIo::ReadFan1(std::int32_t& rpm) {
  return ReadFan("Fan1", kFan1Count, rpm, [this] { return FanDivisorCode(kFan1LowShift, kFan1HighBit); });
}

bool WinbondHwMonitorIo::ReadFan2(std::int32_t& rpm) {
  return ReadFan("Fan2", kFan2Count, rpm, [this] { return FanDivisorCode(kFan2LowShift, kFan2HighBit); });
}

bool WinbondHwMonitorIo::ReadFan3(std::int32_t&) { return false; }

bool WinbondHwMonitorIo::ReadVCoreA(double& value) {
  return ReadPositive("VCoreA", kVCoreA, kRegVCoreA, value);
}
bool WinbondHwMonitorIo::ReadVCoreB(double& value) {
  return ReadPositive("VCoreB", kVCoreB, kRegVCoreB, value);
}
bool WinbondHwMonitorIo::ReadV33(double& value) { return ReadPositive("V33", kV33, kRegV33, value); }
bool WinbondHwMonitorIo::ReadV5(double& value) { return ReadPositive("V5", kV5, kRegV5, value); }
bool WinbondHwMonitorIo::ReadV12(double& value) { return ReadPositive("V12", kV12, kRegV12, value); }

bool WinbondHwMonitorIo::ReadNegative(const char* key, Rail rail, std::uint8_t reg, double& value) const {
  if (!VoltageOn(key)) return false;
  const auto raw = ReadRegister(reg);
  if (!raw) return false;
  value = TwoDecimals(*RailVolts(rail, AdcVolts(*raw)));
  return true;
}

std::optional<double> WinbondHwMonitorIo::RailVolts(Rail rail, double pinVolts) const {
  if (rail != kVN12 && rail != kVN5) return PositiveRailVolts(rail, pinVolts);
  const ResistorPair& pair = Resistors(rail);
  if (pair.r1 == 0 || pair.r2 == 0) return pinVolts;
  const double k = static_cast<double>(pair.r1) / (pair.r1 + pair.r2);
  return (pinVolts - kNegativeReference * k) / (1 - k);
}

bool WinbondHwMonitorIo::ReadVN12(double& value) { return ReadNegative("VN12", kVN12, kRegVN12, value); }
bool WinbondHwMonitorIo::ReadVN5(double& value) { return ReadNegative("VN5", kVN5, kRegVN5, value); }

bool WinbondHwMonitorIo::ReadBankedVoltage(const char* key, Rail rail, std::uint8_t reg,
                                           double& value) const {
  if (!VoltageOn(key)) return false;
  const auto hold = HoldChip();
  const auto raw = ReadBanked(kSupplyBank, reg);
  if (!raw) return false;
  value = TwoDecimals(ScalePositive(rail, *raw));
  return true;
}

bool WinbondHwMonitorIo::ReadVBAT(double& value) { return ReadBankedVoltage("VBAT", kVBat, kRegVBat, value); }
bool WinbondHwMonitorIo::Read5VSB(double& value) { return ReadBankedVoltage("5VSB", k5VSb, kReg5VSb, value); }

}  // namespace rq::devices
