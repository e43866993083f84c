#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace rq::devices {

// The kernel's own sensors (hwmon): every machine's temperatures, fans and voltages
// as the kernel's drivers publish them under <sysfs>/class/hwmon. Plain world-readable
// files: no driver connection and no bus lock are involved.
enum class HwmonQuantity { Temperature, Fan, Voltage };

struct HwmonChannel {
  HwmonQuantity quantity;
  std::string label;      // the driver's *_label, else "<name> temp1", "<name> fan2", "<name> in0"
  std::string chip;       // the driver's name, else the hwmon folder's ("hwmon3")
  std::string inputPath;  // the *_input file read on every pass
  std::string channel;    // the driver's own name for it: "temp1", "fan2", "in0"
};

// $RQ_SYSFS_ROOT when set and not empty, else /sys.
std::string SysfsRoot();

// One hwmon device: the driver's name (else the folder's, "hwmon3") and the folder
// that holds its attributes.
struct HwmonChip {
  unsigned number;  // N of hwmonN
  std::string name;
  std::string folder;
};
// Every hwmon device under <sysfsRoot>/class/hwmon by number, at most a bounded count.
std::vector<HwmonChip> FindHwmonChips(const std::string& sysfsRoot);

// Every temperature, fan and voltage input under <sysfsRoot>/class/hwmon: the
// temperatures first, then the fans, then the voltages; within each, by hwmon number
// and then channel number. Files that are not plain files, names the kernel would not
// give and folders past a bound are passed over; nothing here can hang on a
// FIFO or a device node, or follow a link loop.
std::vector<HwmonChannel> FindHwmonChannels(const std::string& sysfsRoot);

// The channel's value now, in degrees Celsius, RPM or volts; nothing when the file
// cannot be read or does not hold a whole number (a driver answers an absent sensor
// with an error).
std::optional<double> ReadHwmonChannel(const HwmonChannel& channel);

}  // namespace rq::devices
