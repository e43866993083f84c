#include "engine/BoardSections.h"

#include <strings.h>

#include <algorithm>
#include <initializer_list>
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

std::vector<BoardKey> Joined(const std::vector<BoardKey>& sensors, std::initializer_list<BoardKey> gpio) {
  std::vector<BoardKey> keys = sensors;
  keys.insert(keys.end(), gpio);
  return keys;
}

// Boards without an overclock controller raise their voltages through south-bridge
// GPIO pins. Each list gives, by pin level, the core step in percent above the
// board's own core voltage and the memory voltage; the boards' wiring decides them.
const std::vector<BoardKey> kUbx45Gra = Joined(kWinbondTwoCores, {{"GPIOOverVolt", "1"},
                                                                  {"GPIOOverVcore", "1"},
                                                                  {"GPIOOverVdimm", "1"},
                                                                  {"GPIOOverVcoreList", "10,5,2.5,0"},
                                                                  {"GPIOOverVdimmList", "2.8,2.7,2.6,2.55"}});
const std::vector<BoardKey> kKolGra = Joined(kWinbondTwoCores, {{"GPIOOverVolt", "1"},
                                                                {"GPIOOverVcore", "1"},
                                                                {"GPIOOverVdimm", "1"},
                                                                {"GPIOOverVcoreList", "8,4,4,0"},
                                                                {"GPIOOverVdimmList", "2.5,2.6,2.7,2.8"}});
const std::vector<BoardKey> kSkPro = Joined(kWinbondOneCore, {{"GPIOOverVolt", "1"},
                                                              {"GPIOOverVcore", "1"},
                                                              {"GPIOOverVdimm", "1"},
                                                              {"GPIOOverVcoreList", "5,5,5,0"},
                                                              {"GPIOOverVdimmList", "2.5,2.6,2.7,2.8"}});
// The memory supply of this board is fixed: the window hides its voltage.
const std::vector<BoardKey> kMkt6Eli = Joined(kWinbondOneCore, {{"GPIOOverVolt", "1"},
                                                                {"GPIOOverVcore", "1"},
                                                                {"GPIOOverVdimm", "0"},
                                                                {"GPIOOverVcoreList", "6,4,2,0"}});
const std::vector<BoardKey> kQav84 = Joined(kIteTwoFans, {{"GPIOOverVolt", "1"},
                                                          {"GPIOOverVcore", "1"},
                                                          {"GPIOOverVdimm", "1"},
                                                          {"GPIOOverVcoreList", "10,7.5,5,0"},
                                                          {"GPIOOverVdimmList", "2.5,2.6,2.7,2.8"}});
const std::vector<BoardKey> kUkt40D = Joined(kIteTwoFans, {{"GPIOOverVolt", "1"},
                                                           {"GPIOOverVcore", "1"},
                                                           {"GPIOOverVdimm", "1"},
                                                           {"GPIOOverVcoreList", "6,4,2,0"},
                                                           {"GPIOOverVdimmList", "2.5,2.6,2.7,2.8"}});

const std::vector<std::pair<const char*, const std::vector<BoardKey>*>>& Sections() {
  static const std::vector<std::pair<const char*, const std::vector<BoardKey>*>> sections = {
      {"ZR865", &kWinbondTwoCores}, {"UBX45Gra", &kUbx45Gra},  {"KOLGRA", &kKolGra}, {"SK-PRO", &kSkPro},
      {"MKT6-ELI", &kMkt6Eli},      {"N2CR1", &kIteThreeFans}, {"QAV84", &kQav84},   {"UKT40D", &kUkt40D},
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

bool InstallBoardSection(const std::string& boardModel, const std::string& settingsFile) {
  const std::vector<BoardKey>& keys = ShippedBoardSection(boardModel);
  // A marker no real value holds tells a missing key from an empty one.
  constexpr const char* kAbsent = "\x01";
  const bool userHasSection = std::any_of(keys.begin(), keys.end(), [&](const BoardKey& k) {
    return platform::GetPrivateProfileString(boardModel, k.key, kAbsent, settingsFile) != kAbsent;
  });
  if (userHasSection) return true;
  // One write: a close or a crash halfway must not leave half a section, which
  // would count as the user's own and never be completed.
  std::vector<platform::ProfileEntry> entries;
  entries.reserve(keys.size());
  for (const BoardKey& k : keys) entries.emplace_back(k.key, std::string(k.value));
  return platform::WritePrivateProfileStrings(boardModel, entries, settingsFile);
}

}  // namespace rq::engine
