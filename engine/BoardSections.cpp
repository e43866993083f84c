#include "engine/BoardSections.h"

#include <strings.h>

#include <algorithm>
#include <utility>

#include "platform/ProfileFile.h"

namespace rq::engine {
namespace {

// Sensor wiring shared by the boards: temperature 1 is the board, 2 the CPU (the
// ITE chips' 3 sits by the voltage regulator); fan 1 cools the CPU, fan 2 the case,
// fan 3 is the auxiliary header; VCoreB is the memory supply. The window has twelve
// rows, so each board leaves out the rails its makers did not print: -5 V first.
const std::vector<BoardKey> kWinbondTwoCores = {
    {"TempSensor1", "1"}, {"TempSensor1Label", "System Temp"},
    {"TempSensor2", "1"}, {"TempSensor2Label", "CPU Temp"},
    {"Fan1", "1"},        {"Fan1Label", "CPU Fan"},
    {"Fan2", "1"},        {"Fan2Label", "System Fan"},
    {"VCoreA", "1"},      {"VCoreALabel", "VCore"},
    {"VCoreB", "1"},      {"VCoreBLabel", "VDIMM"},
    {"V33", "1"},         {"V5", "1"},
    {"V12", "1"},         {"VN12", "1"},
    {"VN5", "0"},         {"VBAT", "1"},
    {"5VSB", "1"},
};

// The W83697HF has no second core input: every rail fits.
const std::vector<BoardKey> kWinbondOneCore = {
    {"TempSensor1", "1"}, {"TempSensor1Label", "System Temp"},
    {"TempSensor2", "1"}, {"TempSensor2Label", "CPU Temp"},
    {"Fan1", "1"},        {"Fan1Label", "CPU Fan"},
    {"Fan2", "1"},        {"Fan2Label", "System Fan"},
    {"VCoreA", "1"},      {"VCoreALabel", "VCore"},
    {"V33", "1"},         {"V5", "1"},
    {"V12", "1"},         {"VN12", "1"},
    {"VN5", "1"},         {"VBAT", "1"},
    {"5VSB", "1"},
};

// ITE boards with two fans.
const std::vector<BoardKey> kIteTwoFans = {
    {"TempSensor1", "1"},
    {"TempSensor1Label", "System Temp"},
    {"TempSensor2", "1"},
    {"TempSensor2Label", "CPU Temp"},
    {"TempSensor3", "1"},
    {"TempSensor3Label", "PWM Temp"},
    {"Fan1", "1"},
    {"Fan1Label", "CPU Fan"},
    {"Fan2", "1"},
    {"Fan2Label", "System Fan"},
    {"Fan3", "0"},
    {"VCoreA", "1"},
    {"VCoreALabel", "VCore"},
    {"VCoreB", "1"},
    {"VCoreBLabel", "VDIMM"},
    {"V33", "1"},
    {"V5", "1"},
    {"V12", "1"},
    {"VN12", "1"},
    {"VN5", "0"},
    {"VBAT", "1"},
    {"5VSB", "0"},
};

// The nForce2 board has a third fan and no regulator sensor.
const std::vector<BoardKey> kIteThreeFans = {
    {"TempSensor1", "1"},
    {"TempSensor1Label", "System Temp"},
    {"TempSensor2", "1"},
    {"TempSensor2Label", "CPU Temp"},
    {"TempSensor3", "0"},
    {"Fan1", "1"},
    {"Fan1Label", "CPU Fan"},
    {"Fan2", "1"},
    {"Fan2Label", "System Fan"},
    {"Fan3", "1"},
    {"Fan3Label", "Aux Fan"},
    {"VCoreA", "1"},
    {"VCoreALabel", "VCore"},
    {"VCoreB", "1"},
    {"VCoreBLabel", "VDIMM"},
    {"V33", "1"},
    {"V5", "1"},
    {"V12", "1"},
    {"VN12", "1"},
    {"VN5", "0"},
    {"VBAT", "1"},
    {"5VSB", "0"},
};

const std::vector<std::pair<const char*, const std::vector<BoardKey>*>>& Sections() {
  static const std::vector<std::pair<const char*, const std::vector<BoardKey>*>> sections = {
      {"ZR865", &kWinbondTwoCores}, {"UBX45Gra", &kWinbondTwoCores}, {"KOLGRA", &kWinbondTwoCores},
      {"SK-PRO", &kWinbondOneCore}, {"MKT6-ELI", &kWinbondOneCore},  {"N2CR1", &kIteThreeFans},
      {"QAV84", &kIteTwoFans},      {"UKT40D", &kIteTwoFans},
  };
  return sections;
}

}  // namespace

const std::vector<BoardKey>& ShippedBoardSection(const std::string& boardModel) {
  static const std::vector<BoardKey> none;
  for (const auto& [model, keys] : Sections())
    if (strcasecmp(model, boardModel.c_str()) == 0) return *keys;
  return none;
}

std::vector<std::string> ShippedBoardModels() {
  std::vector<std::string> models;
  for (const auto& [model, keys] : Sections()) models.emplace_back(model);
  return models;
}

bool HasBoardSection(const std::string& boardModel, const std::string& settingsFile) {
  const std::vector<BoardKey>& keys = ShippedBoardSection(boardModel);
  // A marker no real value holds tells a missing key from an empty one.
  constexpr const char* kAbsent = "\x01";
  return std::any_of(keys.begin(), keys.end(), [&](const BoardKey& k) {
    return platform::GetPrivateProfileString(boardModel, k.key, kAbsent, settingsFile) != kAbsent;
  });
}

bool InstallBoardSection(const std::string& boardModel, const std::string& settingsFile) {
  if (HasBoardSection(boardModel, settingsFile)) return true;
  const std::vector<BoardKey>& keys = ShippedBoardSection(boardModel);
  // One write: a close or a crash halfway must not leave half a section, which
  // would count as the user's own and never be completed.
  std::vector<platform::ProfileEntry> entries;
  entries.reserve(keys.size());
  for (const BoardKey& k : keys) entries.emplace_back(k.key, std::string(k.value));
  return platform::WritePrivateProfileStrings(boardModel, entries, settingsFile);
}

}  // namespace rq::engine
