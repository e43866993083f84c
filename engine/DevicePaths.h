#pragma once
#include <string>

#include "hw/DaemonControl.h"

namespace rq::engine {

class MSupport;

// Which path serves each device family: the daemon's ports, a kernel driver's
// files, or nothing because a kernel driver keeps the ports the device sits behind.
enum class DeviceRow { HardwareMonitor, ClockGenerator, VoltageControl };

// The first block a device of `row` would be reached through that the daemon leaves
// to a kernel driver; null when there is none.
const hw::KernelOwnedBlock* BlockLeftToKernel(const MSupport& system, DeviceRow row);

// Whose the block is and what the user can do about it, one sentence.
std::string LeftToKernelAdvice(const hw::KernelOwnedBlock& block);

// The kernel hwmon driver the monitor chip is read through; "" when the program
// reads the chip's ports itself, or there is no chip.
std::string MonitorKernelDriver(const MSupport& system);

// The kernel driver whose adapter reaches the SMBus chips (clock generator, overclock
// controller); "kernel" when the daemon does not name it, "" when the program drives
// the host's ports itself.
std::string SmbusKernelDriver(const MSupport& system);

// The host's own sensors in use, with their drivers each once in the order they are
// shown: "the host's own 14 sensors (coretemp, nct6775)".
std::string DescribeHostSensors(const MSupport& system);

}  // namespace rq::engine
