#pragma once
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "devices/clockgen/I2cClockGenIo.h"
#include "devices/gpiovolt/GpioVoltIo.h"
#include "devices/monitor/HwmonSensors.h"
#include "devices/monitor/ISAHwMonitorIo.h"
#include "devices/northbridge/PciMchIo.h"
#include "devices/overclock/I2cOverclkIo.h"
#include "engine/DisableWDThread.h"
#include "engine/SettingsStore.h"
#include "engine/Timing.h"
#include "hw/DaemonControl.h"
#include "hw/DriverHandle.h"
#include "platform/Event.h"
#include "platform/InstanceLock.h"
#include "platform/ProfileFile.h"
#include "platform/Semaphore.h"
#include "platform/WorkerThread.h"

namespace rq::engine {

class MSupport;

inline constexpr const char* kSettingsFile = "torvane.ini";  // where: engine/SettingsStore.h
inline constexpr const char* kOverclockSection = "Overclock";
inline constexpr const char* kInstanceMutexName = "Torvane";

// What the program plugs into the system object: how the driver is reached and
// the threads that belong to the windows. Tests plug in an in-process board.
struct MSupportOptions {
  // Sets up and opens the driver; null when set-up fails. Default: the driver
  // service set-up of the driver channel.
  std::function<std::unique_ptr<hw::DriverHandle>()> openDriver;
  // The port blocks the daemon leaves to kernel drivers, asked once at detection.
  // Default (with the default driver only): the daemon's own inspection.
  std::function<std::vector<hw::KernelOwnedBlock>()> kernelOwnedBlocks;
  // Threads created at the end of construction (step 15); either may be empty.
  std::function<std::unique_ptr<platform::WorkerThread>(MSupport&)> makeCpuSpeedThread;
  std::function<std::unique_ptr<platform::WorkerThread>(MSupport&)> makeHwMonitorThread;
  std::string settingsFile = kSettingsFile;
  // The waits of frequency control and the watchdog thread; null means real time.
  std::shared_ptr<Timing> timing;
  // Detection orders; an empty function means the family's own list. Tests plug in
  // their own chips here.
  std::function<devices::CandidateList<devices::PciMchIo>()> northBridgeCandidates;
  std::function<devices::CandidateList<devices::I2cClockGenIo>(const std::string& boardModel)>
      clockGeneratorCandidates;
  std::function<devices::CandidateList<devices::ISAHwMonitorIo>()> hardwareMonitorCandidates;
  std::function<devices::CandidateList<devices::I2cOverclkIo>()> overclockControllerCandidates;
  std::function<devices::CandidateList<devices::GpioVoltIo>()> gpioVoltageCandidates;
  // A look at the board that changes nothing: no single-instance lock (the caller
  // takes it when it needs it), no board section written, no voltages or clock
  // applied, no threads. Detection, the clocks, the voltages and the hardware
  // default are read as usual; a settings file without the board's section reads
  // as if the shipped section were in it. RunStartUpRestore does the rest later.
  bool lookOnly = false;
  // Without a driver no chip can be looked for, but the host's own sensors are plain
  // files: a look for them alone still lists them (rqctl's sensors with no daemon).
  bool hostSensorsWithoutDriver = false;
};

// The one system object: board identification, device detection, settings, clock
// changes, the watchdog and the restore after a hang. Windows and threads reach the
// hardware only through it.
class MSupport {
 public:
  explicit MSupport(MSupportOptions options = {});
  ~MSupport();
  MSupport(const MSupport&) = delete;
  MSupport& operator=(const MSupport&) = delete;

  // The live system object of the process, or null.
  static MSupport* Instance();

  // --- fields the windows read directly -------------------------------------
  // The clocks and voltages are written by the hardware worker, the automatic
  // search and the CPU speed thread while the windows read them every second:
  // each is atomic on its own (a read-out may mix two refreshes for one second).
  using Reading = std::atomic<double>;
  bool anotherInstance = false;
  Reading cpuSpeed{0.0};
  std::string biosModel;
  std::string boardModel;
  Reading coreVoltage{0.0};
  Reading memoryVoltage{0.0};
  Reading fsbClock{0.0};
  Reading memoryClock{0.0};
  Reading agpClock{0.0};
  Reading pciClock{0.0};
  Reading hwDefaultClock{0.0};
  platform::BusSemaphore busSemaphore;
  std::unique_ptr<devices::PciMchIo> northBridge;
  std::unique_ptr<devices::I2cClockGenIo> clockGenerator;
  std::unique_ptr<devices::I2cOverclkIo> overclockController;
  std::unique_ptr<devices::GpioVoltIo> gpioVoltage;
  std::unique_ptr<devices::ISAHwMonitorIo> hardwareMonitor;
  // Found only when no monitor chip is: the host's own sensors (engine/Sensors.h).
  std::vector<devices::HwmonChannel> hostSensors;
  // What the daemon would not grant because a kernel driver drives it (engine/DevicePaths.h).
  std::vector<hw::KernelOwnedBlock> kernelOwnedBlocks;

  bool DriverReady() const { return deviceHandle_ != nullptr; }
  // False once the driver has been taken as gone (it left a request unanswered past
  // its bound or closed the connection): nothing read since is the board's.
  bool DriverAnswers() const { return deviceHandle_ != nullptr && deviceHandle_->Connected(); }
  // The device used for the voltage operations: the overclock controller when
  // present, else the GPIO over-voltage controller; both null means none.
  // A monitor chip, or the host's own sensors in its place.
  bool HasSensors() const { return hardwareMonitor != nullptr || !hostSensors.empty(); }
  bool HasVoltageDevice() const { return overclockController != nullptr || gpioVoltage != nullptr; }
  // Closes the single-instance lock (the entry point does so after the message loop).
  void CloseInstanceLock() { instanceLocks_ = {}; }
  // True when the settings file was refused at start (RefusedSettingsFile): nothing
  // in it is used, and the user was told.
  bool SettingsRefused() const { return settingsRefused_; }
  // The program is closing: from here to the end of this object (the watchdog's
  // disarm, the threads' last requests) no request may wait longer than `bound`
  // for the driver. One that does gives the driver up, and standard error says so:
  // every request fails at once, and InWatch stays as it is, since the disarm may
  // never have reached the chip. The close's own work is not counted. Window
  // thread; once.
  void BeginClosing(std::chrono::milliseconds bound);

  // --- settings file ----------------------------------------------------------
  int ReadSettingInt(const std::string& section, const std::string& key, int defaultValue) const;
  std::string ReadSettingString(const std::string& section, const std::string& key) const;
  bool WriteSettingString(const std::string& section, const std::string& key,
                          const std::optional<std::string>& value) const;
  bool WriteSettingStrings(const std::string& section,
                           const std::vector<platform::ProfileEntry>& entries) const;
  bool GetInWatch() const;
  // Sets InWatch with this process as its holder (InWatchBy), or clears both.
  bool SetInWatch(bool on) const;
  bool GetVoltShift() const;
  // A failed write is reported to the user (ReportSettingsWriteFailure).
  bool SetVoltShift(bool on) const;
  bool GetRecoverToDef() const;
  void SetRecoverToDef(bool on) const;
  bool GetNoShowOverClkMsg() const;
  void SetNoShowOverClkMsg(bool on) const;
  const std::string& SettingsFile() const { return options_.settingsFile; }
  // Tells the user that the settings file cannot be written and where: once per
  // streak of failed writes (a successful write ends the streak). Never call it
  // while holding a lock another thread may wait for: the box waits for the user.
  void ReportSettingsWriteFailure() const;

  // --- frequency control ------------------------------------------------------
  // False when the change was refused: InWatch = 1 could not be written first, so
  // a hang would go unrecovered. The clock generator is then left untouched and
  // the user told (ReportSettingsWriteFailure).
  bool ChangeFsb(double target, bool autoDisarm);
  // Reads the clocks again. False when the clock generator's registers could not be
  // read: the clock fields then keep what they last held, never numbers computed
  // from registers that did not answer, and ClocksRead() says so.
  bool RefreshClocks();
  bool ClocksRead() const { return clocksRead_; }
  int GetOverclockPercent() const;
  void SaveSafeFreq() const;
  double GetSafeFreq(bool useDefault) const;
  // The stored safe clock when it is one to trust: a finite number above 0, not
  // absurdly far above the hardware default clock and within what the clock
  // generator can make; otherwise nothing.
  std::optional<double> StoredSafeFreq() const;
  void ClearSafeFreq() const;
  void SaveHwDefaultClock(double clock) const;
  double LoadHwDefaultClock() const;
  bool HwDefaultClockChanged() const;

  // --- watchdog -----------------------------------------------------------------
  // The watchdog thread of the last clock change (possibly finished), or null.
  DisableWDThread* WatchdogThread() const;
  // True while a watchdog thread holds the watchdog armed.
  bool WatchdogRunning() const;
  // Terminates a running watchdog thread and waits: disarms and clears InWatch.
  // The finished thread object stays until the next clock change replaces it.
  void StopWatchdogThread();
  // The start-up's voltage set-up and clock restore (after a hang: the recovery),
  // for an object built with `lookOnly` whose caller holds the single-instance lock.
  void RunStartUpRestore();
  // The overclock window's reset: the hardware default clock, recorded as the safe
  // clock, the voltages back to normal. False (nothing changed) when refused.
  bool ResetToDefaultClock();

  // --- voltages -------------------------------------------------------------------
  void ReadVoltages();
  void RaiseVoltages();
  void RestoreVoltages();
  // Raises (on) or restores the voltages together with VoltShift and reads them
  // back. The setting is written first and the hardware then follows what the file
  // holds, so a failed write (reported to the user) never leaves the file saying
  // one thing and the supplies another. Returns whether the voltages are now raised.
  bool ApplyVoltShift(bool on);

  // --- threads --------------------------------------------------------------------
  void ResumeHwMonitorThread();
  void SuspendHwMonitorThread();

 private:
  void Construct();
  void DetectDevices();
  void SetUpVoltages();
  void SetUpVoltagesAndRestoreClock();
  void RestoreClockAtStartUp();
  double ReadHwDefaultClock() const;
  std::optional<double> RecordedHwDefaultClock() const;
  void RecordHwDefaultClock() const;
  double RecoveryClock() const;
  bool WriteSafeFreq(const std::optional<std::string>& value) const;
  // InWatch as the watchdog thread writes it: the mark is kept while the driver
  // that should have disarmed the watchdog is gone.
  DisableWDThread::Mark WriteWatchMark(bool on) const;
  // Who wrote InWatch = 1 (InWatchBy), or empty.
  std::string InWatchHolder() const;
  void Shutdown();
  Timing& Clock() const;

  MSupportOptions options_;
  // Serialises every read-modify-write of the settings file: the watchdog thread
  // writes InWatch while other threads write other keys.
  mutable std::mutex settingsMutex_;
  // Set while a streak of failed writes has been reported to the user.
  mutable std::atomic<bool> writeFailureReported_{false};
  // Serialises clock changes and the hand-over of the watchdog thread.
  mutable std::mutex watchdogMutex_;
  InstanceLocks instanceLocks_;
  bool settingsRefused_ = false;
  std::unique_ptr<hw::DriverHandle> deviceHandle_;
  std::atomic<bool> clocksRead_{true};
  std::unique_ptr<DisableWDThread> watchdogThread_;
  std::unique_ptr<platform::WorkerThread> cpuSpeedThread_;
  std::unique_ptr<platform::WorkerThread> hwMonitorThread_;
  // Counts the close's bound (BeginClosing); set once the waits are over.
  platform::Event closeWaitsOver_{true};
  std::thread closeBound_;
};

// A running process as the holder of a watch mark (InWatchBy): boot, pid and the
// process's start time, so that neither a reused pid nor a reboot passes for the
// watch that wrote it. Empty for a process that does not run.
std::string WatchIdentity(long pid);
// Whether the process a holder names still runs (on this boot).
bool WatchHolderRuns(const std::string& holder);

// The board model: a short name derived from the BIOS model string.
std::string DeriveBoardModel(const std::string& biosModel);

}  // namespace rq::engine
