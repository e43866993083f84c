#include "engine/DevicePaths.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "devices/monitor/KernelMonitor.h"
#include "engine/MSupport.h"
#include "hw/I2CIo.h"

namespace rq::engine {
namespace {

// The daemon names its blocks by what they are; a family is reached through any
// block whose name holds one of its words.
struct RowBlock {
  DeviceRow row;
  const char* word;
};
constexpr RowBlock kRowBlocks[] = {
    {DeviceRow::HardwareMonitor, "hardware monitor"}, {DeviceRow::HardwareMonitor, "Super I/O"},
    {DeviceRow::ClockGenerator, "SMBus host"},        {DeviceRow::ClockGenerator, "clock generator"},
    {DeviceRow::VoltageControl, "SMBus host"},        {DeviceRow::VoltageControl, "GPIO"},
};

bool ServesRow(const hw::KernelOwnedBlock& block, DeviceRow row) {
  return std::any_of(std::begin(kRowBlocks), std::end(kRowBlocks), [&](const RowBlock& entry) {
    return entry.row == row && block.what.find(entry.word) != std::string::npos;
  });
}

std::vector<std::string> HostSensorDrivers(const MSupport& system) {
  std::vector<std::string> drivers;
  for (const devices::HwmonChannel& channel : system.hostSensors)
    if (std::find(drivers.begin(), drivers.end(), channel.chip) == drivers.end())
      drivers.push_back(channel.chip);
  return drivers;
}

}  // namespace

const hw::KernelOwnedBlock* BlockLeftToKernel(const MSupport& system, DeviceRow row) {
  for (const hw::KernelOwnedBlock& block : system.kernelOwnedBlocks)
    if (ServesRow(block, row)) return &block;
  return nullptr;
}

std::string LeftToKernelAdvice(const hw::KernelOwnedBlock& block) {
  char ports[32];
  std::snprintf(ports, sizeof ports, "0x%04X-0x%04X", block.first, block.last);
  return "The daemon leaves the " + block.what + " (ports " + ports + ") to the kernel's " + block.driver +
         " driver. To use it here, unbind that driver, or start the daemon with --allow-owned-ports "
         "(unsafe: both then drive the same chip).";
}

std::string MonitorKernelDriver(const MSupport& system) {
  const auto* kernel = dynamic_cast<const devices::KernelHwMonitorIo*>(system.hardwareMonitor.get());
  return kernel != nullptr ? kernel->DriverName() : std::string();
}

std::string SmbusKernelDriver(const MSupport& system) {
  if (!hw::ProcessSmbusHost().kernelAdapter) return {};
  for (const hw::KernelOwnedBlock& block : system.kernelOwnedBlocks)
    if (block.what.find("SMBus host") != std::string::npos && !block.driver.empty()) return block.driver;
  return "kernel";
}

std::string DescribeHostSensors(const MSupport& system) {
  std::string drivers;
  for (const std::string& driver : HostSensorDrivers(system))
    drivers += (drivers.empty() ? "" : ", ") + driver;
  return "the host's own " + std::to_string(system.hostSensors.size()) + " sensors (" + drivers + ")";
}

}  // namespace rq::engine
