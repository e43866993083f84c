#include "engine/MSupport.h"

#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <utility>

#include "devices/Candidates.h"
#include "devices/SystemFacts.h"
#include "devices/monitor/KernelMonitor.h"
#include "engine/BoardSections.h"
#include "engine/DisableWDThread.h"
#include "hw/DriverSetup.h"
#include "hw/I2CIo.h"
#include "hw/IOInterface.h"
#include "hw/SocketDriverHandle.h"
#include "platform/MessageBox.h"
#include "platform/ProfileFile.h"

namespace rq::engine {
namespace {

// The BIOS model string sits at a fixed place in the ROM image.
constexpr std::uint32_t kBiosModelAddress = 0xFE0C1;
constexpr std::uint16_t kBiosModelBufferSize = 200;

constexpr const char* kKeyInWatch = "InWatch";
constexpr const char* kKeyInWatchBy = "InWatchBy";
constexpr const char* kKeyVoltShift = "VoltShift";
constexpr const char* kKeyRecoverToDef = "RecoverToDef";
constexpr const char* kKeyNoShowOverClkMsg = "NoShowOverClkMsg";
constexpr const char* kKeyGpioOverVolt = "GPIOOverVolt";

MSupport* g_instance = nullptr;

constexpr const char* kErrorCaption = "Error";
constexpr const char* kWriteFailedFirstLine = "Rhomboquest cannot write its settings file:\n";
constexpr const char* kWriteFailedLastLine =
    "\n\nClock changes are refused and settings are not kept until this file can be written.";

std::string ReadBiosModel() {
  std::array<std::uint8_t, kBiosModelBufferSize> buffer{};
  const hw::IOInterface io;
  io.ReadPhysicalMemory(kBiosModelAddress, buffer.data(), kBiosModelBufferSize);
  std::string text;
  for (std::uint8_t byte : buffer) {
    if (byte == 0) break;
    text += static_cast<char>(byte);
  }
  return text;
}

}  // namespace

MSupport* MSupport::Instance() { return g_instance; }

MSupport::MSupport(MSupportOptions options) : options_(std::move(options)) {
  if (!options_.openDriver) {
    options_.openDriver = [] { return hw::SetUpDriver(); };
    if (!options_.kernelOwnedBlocks)
      options_.kernelOwnedBlocks = [] {
        return hw::KernelOwnedBlocks(hw::SocketDriverHandle::DefaultPath());
      };
  }
  Construct();
}

void MSupport::Construct() {
  // 1. Both texts start empty (members are default-constructed).
  // 2. One instance per user: a second one initialises nothing at all.
  if (!options_.lookOnly) {
    bool alreadyExists = false;
    instanceLocks_ = TakeInstanceLocks(options_.settingsFile, alreadyExists);
    if (alreadyExists) {
      anotherInstance = true;
      return;
    }
    // A file someone else could have put there is not acted on: the reads give
    // defaults and the writes fail (platform/ProfileFile), and the user learns why.
    if (const auto refused = RefusedSettingsFile(options_.settingsFile)) {
      settingsRefused_ = true;
      platform::MessageBox(*refused, kErrorCaption, platform::kMbIconError);
    }
  }
  if (g_instance == nullptr) g_instance = this;

  // 3.-4. Driver mode is the only mode here; clocks and voltages start at 0.
  devices::SystemFacts& facts = devices::CurrentSystem();
  facts = devices::SystemFacts{};
  facts.busSemaphore = &busSemaphore;
  facts.settingsFile = options_.settingsFile;
  // A voltage controller's settle wait runs on the same clock as the program's other
  // waits. A look changes no supply, so there is nothing to wait for: it reads at once.
  if (options_.lookOnly) {
    facts.sleep = [](std::uint32_t) {};
  } else {
    facts.sleep = [this](std::uint32_t ms) { Clock().Sleep(ms); };
  }

  // 5. Without a driver nothing is detected and no thread starts.
  deviceHandle_ = options_.openDriver();
  if (deviceHandle_ == nullptr) {
    if (options_.hostSensorsWithoutDriver) {
      hostSensors = devices::FindHwmonChannels(devices::SysfsRoot());
      facts.hostSensors = hostSensors.empty() ? nullptr : &hostSensors;
    }
    return;
  }
  hw::ProcessDriverState() = hw::DriverState{true, deviceHandle_.get()};

  // 6.-7.
  biosModel += ReadBiosModel();
  boardModel = DeriveBoardModel(biosModel);
  facts.boardModel = boardModel;
  // The detection below and the monitor read the board's section of the settings.
  if (options_.lookOnly || settingsRefused_) {
    if (!HasBoardSection(boardModel, options_.settingsFile)) {
      for (const BoardKey& k : ShippedBoardSection(boardModel))
        facts.boardDefaults.emplace_back(k.key, k.value);
    }
  } else {
    InstallBoardSection(boardModel, options_.settingsFile);
  }

  // 8.-11.
  DetectDevices();
  if (options_.lookOnly) {
    ReadVoltages();
    if (clockGenerator != nullptr) hwDefaultClock = ReadHwDefaultClock();
    RefreshClocks();
    return;
  }
  // 12.-13.
  SetUpVoltagesAndRestoreClock();
  // 14.
  RefreshClocks();
  // 15.
  if (options_.makeCpuSpeedThread) {
    cpuSpeedThread_ = options_.makeCpuSpeedThread(*this);
    if (cpuSpeedThread_ != nullptr) cpuSpeedThread_->Start();
  }
  if (options_.makeHwMonitorThread) {
    hwMonitorThread_ = options_.makeHwMonitorThread(*this);
    if (hwMonitorThread_ != nullptr) hwMonitorThread_->Start(true);
  }
}

void MSupport::DetectDevices() {
  devices::SystemFacts& facts = devices::CurrentSystem();

  const auto bridges =
      options_.northBridgeCandidates ? options_.northBridgeCandidates() : devices::NorthBridgeCandidates();
  northBridge = devices::DetectFirst(bridges, [](devices::PciMchIo& chip) { return chip.Detect(); });
  facts.northBridge = northBridge.get();

  // Boards whose model starts with N never carry a programmable clock generator.
  if (boardModel.empty() || boardModel.front() != 'N') {
    const auto generators = options_.clockGeneratorCandidates ? options_.clockGeneratorCandidates(boardModel)
                                                              : devices::ClockGeneratorCandidates(boardModel);
    clockGenerator =
        devices::DetectFirst(generators, [](devices::I2cClockGenIo& chip) { return chip.Detect(); });
    facts.clockGenerator = clockGenerator.get();
  }

  const auto monitors = options_.hardwareMonitorCandidates ? options_.hardwareMonitorCandidates()
                                                           : devices::HardwareMonitorCandidates();
  // A chip a kernel driver owns is read through that driver, never through its ports.
  hardwareMonitor = devices::FindKernelOwnedMonitor(devices::SysfsRoot());
  if (hardwareMonitor == nullptr)
    hardwareMonitor =
        devices::DetectFirst(monitors, [](devices::ISAHwMonitorIo& chip) { return chip.Probe(); });
  facts.hardwareMonitor = hardwareMonitor.get();
  // Any machine has sensors of its own that the kernel publishes; they stand in for a
  // chip the program does not know, never beside one it drives.
  hostSensors.clear();
  if (hardwareMonitor == nullptr) hostSensors = devices::FindHwmonChannels(devices::SysfsRoot());
  facts.hostSensors = hostSensors.empty() ? nullptr : &hostSensors;
  if (options_.kernelOwnedBlocks) kernelOwnedBlocks = options_.kernelOwnedBlocks();

  const auto controllers = options_.overclockControllerCandidates ? options_.overclockControllerCandidates()
                                                                  : devices::OverclockControllerCandidates();
  overclockController =
      devices::DetectFirst(controllers, [](devices::I2cOverclkIo& chip) { return chip.Probe(); });

  // Through the board facts, so that a look at a board whose section the file lacks
  // finds the controller the shipped section names.
  if (overclockController == nullptr && devices::BoardSettingInt(kKeyGpioOverVolt, 0) != 0) {
    const auto gpios =
        options_.gpioVoltageCandidates ? options_.gpioVoltageCandidates() : devices::GpioVoltageCandidates();
    gpioVoltage = devices::DetectFirst(gpios, [](devices::GpioVoltIo& chip) { return chip.Detect(); });
  }
}

void MSupport::SetUpVoltagesAndRestoreClock() {
  SetUpVoltages();
  if (clockGenerator != nullptr) RestoreClockAtStartUp();
}

void MSupport::RunStartUpRestore() {
  if (!DriverReady()) return;
  SetUpVoltagesAndRestoreClock();
  RefreshClocks();
}

void MSupport::SetUpVoltages() {
  if (!HasVoltageDevice()) return;
  if (GetVoltShift()) {
    RaiseVoltages();
  } else {
    RestoreVoltages();
  }
  ReadVoltages();
}

MSupport::~MSupport() { Shutdown(); }

void MSupport::Shutdown() {
  if (anotherInstance) return;
  // The main window normally stopped the watchdog already; a tool or a test that
  // did not must still leave the watchdog disarmed and the mark cleared, which
  // needs the clock generator, so this comes before the devices go.
  StopWatchdogThread();
  if (cpuSpeedThread_ != nullptr) {
    cpuSpeedThread_->Shutdown();
    cpuSpeedThread_.reset();
  }
  if (hwMonitorThread_ != nullptr) {
    hwMonitorThread_->Shutdown();
    hwMonitorThread_.reset();
  }
  watchdogThread_.reset();
  // Nothing waits for the driver any more: the handle must outlive the count.
  closeWaitsOver_.Set();
  if (closeBound_.joinable()) closeBound_.join();

  devices::SystemFacts& facts = devices::CurrentSystem();
  if (facts.busSemaphore == &busSemaphore) facts = devices::SystemFacts{};
  northBridge.reset();
  clockGenerator.reset();
  overclockController.reset();
  gpioVoltage.reset();
  hardwareMonitor.reset();
  hostSensors.clear();

  // The SMBus host found goes with the connection it was found over: a later
  // system object may talk to another machine.
  if (hw::ProcessDriverState().deviceHandle == deviceHandle_.get()) {
    hw::ProcessDriverState() = hw::DriverState{};
    hw::ProcessSmbusHost() = hw::SmbusHostState{};
  }
  deviceHandle_.reset();
  if (g_instance == this) g_instance = nullptr;
}

void MSupport::BeginClosing(std::chrono::milliseconds bound) {
  if (closeBound_.joinable() || deviceHandle_ == nullptr) return;
  // The close's own work (stress programs ending, a clock going back) may take its
  // time on a loaded machine; only a request the daemon leaves unanswered past the
  // bound gives the daemon up, so a slow close still clears InWatch.
  closeBound_ = std::thread([this, bound] {
    constexpr std::uint32_t kLookEveryMs = 50;
    for (;;) {
      if (closeWaitsOver_.Wait(kLookEveryMs)) return;
      if (!deviceHandle_->Connected()) return;  // requests already fail at once
      if (deviceHandle_->Waiting() >= bound) break;
    }
    std::fprintf(stderr,
                 "rhomboquest: closing has waited %lld ms for the driver daemon; its requests are "
                 "abandoned, and InWatch stays as it is for the next start to act on\n",
                 static_cast<long long>(bound.count()));
    deviceHandle_->Abandon();
  });
}

Timing& MSupport::Clock() const { return options_.timing != nullptr ? *options_.timing : RealTiming(); }

// --- settings file ---------------------------------------------------------------

int MSupport::ReadSettingInt(const std::string& section, const std::string& key, int defaultValue) const {
  std::lock_guard lock(settingsMutex_);
  return platform::GetPrivateProfileInt(section, key, defaultValue, options_.settingsFile);
}

std::string MSupport::ReadSettingString(const std::string& section, const std::string& key) const {
  std::lock_guard lock(settingsMutex_);
  return platform::GetPrivateProfileString(section, key, "", options_.settingsFile);
}

bool MSupport::WriteSettingString(const std::string& section, const std::string& key,
                                  const std::optional<std::string>& value) const {
  return WriteSettingStrings(section, {{key, value}});
}

bool MSupport::WriteSettingStrings(const std::string& section,
                                   const std::vector<platform::ProfileEntry>& entries) const {
  bool written = false;
  {
    std::lock_guard lock(settingsMutex_);
    written = platform::WritePrivateProfileStrings(section, entries, options_.settingsFile);
  }
  // The file can be written again: a later failure is news to the user.
  if (written) writeFailureReported_ = false;
  return written;
}

void MSupport::ReportSettingsWriteFailure() const {
  if (writeFailureReported_.exchange(true)) return;
  std::error_code error;
  std::filesystem::path where = std::filesystem::absolute(options_.settingsFile, error);
  if (error) where = options_.settingsFile;
  platform::MessageBox(kWriteFailedFirstLine + where.string() + kWriteFailedLastLine, kErrorCaption,
                       platform::kMbIconError);
}

bool MSupport::GetInWatch() const { return ReadSettingInt(kOverclockSection, kKeyInWatch, 0) != 0; }
bool MSupport::SetInWatch(bool on) const {
  return WriteSettingStrings(kOverclockSection,
                             {{kKeyInWatch, on ? "1" : "0"},
                              {kKeyInWatchBy, on ? std::optional(WatchIdentity(::getpid())) : std::nullopt}});
}
std::string MSupport::InWatchHolder() const { return ReadSettingString(kOverclockSection, kKeyInWatchBy); }
bool MSupport::GetVoltShift() const { return ReadSettingInt(kOverclockSection, kKeyVoltShift, 0) != 0; }
bool MSupport::SetVoltShift(bool on) const {
  const bool written = WriteSettingString(kOverclockSection, kKeyVoltShift, on ? "1" : "0");
  if (!written) ReportSettingsWriteFailure();
  return written;
}
bool MSupport::GetRecoverToDef() const { return ReadSettingInt(kOverclockSection, kKeyRecoverToDef, 0) != 0; }
void MSupport::SetRecoverToDef(bool on) const {
  WriteSettingString(kOverclockSection, kKeyRecoverToDef, on ? "1" : "0");
}
bool MSupport::GetNoShowOverClkMsg() const {
  return ReadSettingInt(kOverclockSection, kKeyNoShowOverClkMsg, 0) != 0;
}
void MSupport::SetNoShowOverClkMsg(bool on) const {
  WriteSettingString(kOverclockSection, kKeyNoShowOverClkMsg, on ? "1" : "0");
}

// --- voltages ----------------------------------------------------------------------

void MSupport::ReadVoltages() {
  if (overclockController != nullptr) {
    coreVoltage = overclockController->ReadCoreVoltage();
    memoryVoltage = overclockController->ReadMemoryVoltage();
  } else if (gpioVoltage != nullptr) {
    coreVoltage = gpioVoltage->ReadCoreVoltage();
    memoryVoltage = gpioVoltage->ReadMemoryVoltage();
  }
}

void MSupport::RaiseVoltages() {
  if (overclockController != nullptr) {
    overclockController->RaiseCoreVoltage();
    overclockController->RaiseMemoryVoltage();
  } else if (gpioVoltage != nullptr) {
    gpioVoltage->RaiseCoreVoltage();
    gpioVoltage->RaiseMemoryVoltage();
  }
}

void MSupport::RestoreVoltages() {
  if (overclockController != nullptr) {
    overclockController->RestoreCoreVoltage();
    overclockController->RestoreMemoryVoltage();
  } else if (gpioVoltage != nullptr) {
    gpioVoltage->RestoreCoreVoltage();
    gpioVoltage->RestoreMemoryVoltage();
  }
}

bool MSupport::ApplyVoltShift(bool on) {
  // The next start applies what the file says: when it cannot take the change, the
  // supplies stay with the file (or go back to it) rather than with the request.
  const bool raised = SetVoltShift(on) ? on : GetVoltShift();
  if (raised) {
    RaiseVoltages();
  } else {
    RestoreVoltages();
  }
  ReadVoltages();
  return raised;
}

// --- threads -----------------------------------------------------------------------

void MSupport::ResumeHwMonitorThread() {
  if (hwMonitorThread_ != nullptr) hwMonitorThread_->Resume();
}

void MSupport::SuspendHwMonitorThread() {
  if (hwMonitorThread_ != nullptr) hwMonitorThread_->Suspend();
}

}  // namespace rq::engine
