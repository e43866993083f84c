#include "app/HwMonitorThread.h"

#include <QStringList>

#include "app/DesktopNotifier.h"
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
  alarms_.LoadLimits(engine::BoardAlarmSettings(), engine::LogAlarm);
  SensorAlarmRows alarmed{};
  QStringList notices;
  for (const engine::AlarmChange& change : alarms_.Update(readings)) {
    const std::string text = engine::DescribeAlarmChange(change, engine::SensorName(change.sensor));
    engine::LogAlarm(text);
    if (change.entered) notices << QString::fromStdString(text);
  }
  for (std::size_t sensor = 0; sensor < alarmed.size(); ++sensor) alarmed[sensor] = alarms_.InAlarm(sensor);
  // The window is looked up on the window thread: it may be gone by then, and a
  // closing program drops the work altogether.
  platform::Synchronize([readings = std::move(readings), alarmed, notices] {
    if (auto* form = dynamic_cast<THwMonitorForm*>(AppForms().hwMonitorForm)) {
      form->ShowAlarms(alarmed);
      form->ShowSensorValues(readings);
    }
    for (const QString& notice : notices) NotifyDesktop(QStringLiteral("Rhomboquest: sensor alarm"), notice);
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
