#include "devices/monitor/HwmonSensors.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <tuple>

namespace rq::devices {
namespace {

namespace fs = std::filesystem;

constexpr const char* kDefaultSysfsRoot = "/sys";
constexpr const char* kHwmonFolder = "class/hwmon";
// A value is a few digits and a line break; a label or a name a short line. Anything
// longer is not what a driver writes, and a hostile tree may offer gigabytes.
constexpr std::size_t kMaxValueBytes = 32;
constexpr std::size_t kMaxTextBytes = 64;
// Folders and entries looked at: far beyond any real machine, short of a tree made
// to keep the program scanning.
constexpr std::size_t kMaxEntriesPerFolder = 4096;
constexpr std::size_t kMaxChips = 64;
constexpr std::size_t kMaxChannels = 512;
constexpr std::size_t kMaxNumberDigits = 6;
// Millidegrees and millivolts.
constexpr double kMilliUnitsPerUnit = 1000.0;

struct Kind {
  HwmonQuantity quantity;
  const char* prefix;
  double divisor;
};
// In the order the channels are listed.
constexpr std::array<Kind, 3> kKinds = {{
    {HwmonQuantity::Temperature, "temp", kMilliUnitsPerUnit},
    {HwmonQuantity::Fan, "fan", 1.0},
    {HwmonQuantity::Voltage, "in", kMilliUnitsPerUnit},
}};

// At most `limit` bytes of a plain file, never blocking on a FIFO or a device and
// never following a link in the last step; nothing when it cannot be read or holds
// more than `limit` bytes.
std::optional<std::string> ReadBoundedFile(const fs::path& path, std::size_t limit) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return std::nullopt;
  struct stat info {};
  std::optional<std::string> text;
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    std::string bytes(limit + 1, '\0');
    std::size_t got = 0;
    for (;;) {
      const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
      if (n < 0) break;
      got += static_cast<std::size_t>(n);
      if (n == 0 || got == bytes.size()) {
        if (got <= limit) text = bytes.substr(0, got);
        break;
      }
    }
  }
  ::close(fd);
  return text;
}

// The first line, trimmed, with anything but printable ASCII replaced: the text goes
// to terminals, JSON and CSV, where a control byte or a broken UTF-8 sequence would
// do harm.
std::string CleanLine(const std::string& text) {
  std::string line = text.substr(0, text.find('\n'));
  for (char& c : line) {
    if (c < 0x20 || c > 0x7E) c = '?';
  }
  const auto first = line.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return line.substr(first, line.find_last_not_of(' ') - first + 1);
}

std::optional<std::string> ReadLine(const fs::path& path) {
  const auto text = ReadBoundedFile(path, kMaxTextBytes);
  if (!text) return std::nullopt;
  std::string line = CleanLine(*text);
  if (line.empty()) return std::nullopt;
  return line;
}

// The number after `prefix` in `name` when nothing but `suffix` follows it.
std::optional<unsigned> NumberBetween(const std::string& name, const std::string& prefix,
                                      const std::string& suffix) {
  if (name.size() <= prefix.size() + suffix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
      name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
    return std::nullopt;
  const std::string digits = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
  if (digits.size() > kMaxNumberDigits) return std::nullopt;
  unsigned number = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
  if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return number;
}

// The entries of a folder, at most kMaxEntriesPerFolder; none when it cannot be
// listed (gone, unreadable, a link loop).
std::vector<std::string> FolderEntries(const fs::path& folder) {
  std::vector<std::string> names;
  std::error_code error;
  fs::directory_iterator it(folder, error);
  for (; !error && it != fs::directory_iterator() && names.size() < kMaxEntriesPerFolder; it.increment(error))
    names.push_back(it->path().filename().string());
  return names;
}

bool IsPlainFile(const fs::path& path) {
  std::error_code error;
  return fs::is_regular_file(fs::symlink_status(path, error));
}

// Drivers of the current kernels publish their attributes in hwmonN itself; older
// ones in the device hwmonN stands for.
fs::path AttributeFolder(const fs::path& hwmon) {
  if (IsPlainFile(hwmon / "name")) return hwmon;
  if (IsPlainFile(hwmon / "device" / "name")) return hwmon / "device";
  return hwmon;
}

struct Found {
  std::size_t kind;
  unsigned chipNumber;
  unsigned channel;
  HwmonChannel channelInfo;
};

void AddChipChannels(const HwmonChip& hwmon, std::vector<Found>& found) {
  const fs::path attributes = hwmon.folder;
  const std::string& chip = hwmon.name;
  const unsigned chipNumber = hwmon.number;
  for (const std::string& entry : FolderEntries(attributes)) {
    for (std::size_t kind = 0; kind < kKinds.size(); ++kind) {
      const std::string prefix = kKinds[kind].prefix;
      const auto channel = NumberBetween(entry, prefix, "_input");
      if (!channel || !IsPlainFile(attributes / entry)) continue;
      const std::string own = prefix + std::to_string(*channel);
      const std::string label = ReadLine(attributes / (own + "_label")).value_or(chip + " " + own);
      found.push_back(
          {kind, chipNumber, *channel, {kKinds[kind].quantity, label, chip, (attributes / entry).string(), own}});
    }
  }
}

}  // namespace

std::string SysfsRoot() {
  const char* root = std::getenv("RQ_SYSFS_ROOT");
  return root != nullptr && *root != '\0' ? root : kDefaultSysfsRoot;
}

std::vector<HwmonChip> FindHwmonChips(const std::string& sysfsRoot) {
  const fs::path folder = fs::path(sysfsRoot) / kHwmonFolder;
  std::vector<unsigned> numbers;
  for (const std::string& entry : FolderEntries(folder)) {
    if (const auto number = NumberBetween(entry, "hwmon", "")) numbers.push_back(*number);
  }
  std::sort(numbers.begin(), numbers.end());
  if (numbers.size() > kMaxChips) numbers.resize(kMaxChips);
  std::vector<HwmonChip> chips;
  for (unsigned number : numbers) {
    const std::string own = "hwmon" + std::to_string(number);
    const fs::path attributes = AttributeFolder(folder / own);
    chips.push_back({number, ReadLine(attributes / "name").value_or(own), attributes.string()});
  }
  return chips;
}

std::vector<HwmonChannel> FindHwmonChannels(const std::string& sysfsRoot) {
  std::vector<Found> found;
  for (const HwmonChip& chip : FindHwmonChips(sysfsRoot)) AddChipChannels(chip, found);
  std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
    return std::tie(a.kind, a.chipNumber, a.channel) < std::tie(b.kind, b.chipNumber, b.channel);
  });
  std::vector<HwmonChannel> channels;
  for (std::size_t i = 0; i < found.size() && i < kMaxChannels; ++i) channels.push_back(found[i].channelInfo);
  return channels;
}

std::optional<double> ReadHwmonChannel(const HwmonChannel& channel) {
  const auto text = ReadBoundedFile(channel.inputPath, kMaxValueBytes);
  if (!text) return std::nullopt;
  std::string digits = *text;
  while (!digits.empty() && (digits.back() == '\n' || digits.back() == ' ')) digits.pop_back();
  long long raw = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), raw);
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  for (const Kind& kind : kKinds) {
    if (kind.quantity == channel.quantity) return static_cast<double>(raw) / kind.divisor;
  }
  return std::nullopt;
}

}  // namespace rq::devices
