#include "app/HwMonitorThread.h"

#include "app/Forms.h"
#include "app/THwMonitorForm.h"
#include "engine/MSupport.h"
#include "platform/WindowThread.h"

namespace rq::app {
namespace {
constexpr std::uint32_t kPeriodMs = 1000;
}  // namespace

HwMonitorThread::HwMonitorThread(engine::MSupport& system) : HwMonitorThread(system, nullptr) {}

HwMonitorThread::HwMonitorThread(engine::MSupport& system, Sleeper sleep)
    : system_(system), sleep_(std::move(sleep)) {}

HwMonitorThread::~HwMonitorThread() { Shutdown(); }

void HwMonitorThread::RefreshSensorValues() {
  if (!system_.HasSensors()) return;
  SensorReadings readings = engine::ReadSensors(system_.hardwareMonitor.get());
  // The window is looked up on the window thread: it may be gone by then, and a
  // closing program drops the work altogether.
  platform::Synchronize([readings = std::move(readings)] {
    if (auto* form = dynamic_cast<THwMonitorForm*>(AppForms().hwMonitorForm))
      form->ShowSensorValues(readings);
  });
}

void HwMonitorThread::Execute() {
  // Suspension takes effect only here and in the sleep: between passes.
  while (CheckSuspend()) {
    RefreshSensorValues();
    const bool goOn = sleep_ ? sleep_(kPeriodMs) && !Terminated() : SleepMs(kPeriodMs);
    if (!goOn) break;
  }
}

}  // namespace rq::app
