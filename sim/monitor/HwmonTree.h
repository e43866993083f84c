#pragma once
#include <filesystem>
#include <string>

namespace rq::sim {

class Board;

// The board's monitor chips as the kernel's drivers of them would publish them, for a
// program pointed at `root` as its sysfs: each chip a device folder
// devices/platform/<driver>.<base>/hwmon/hwmonN holding `name` (the chip's, as the driver calls it) and its *_input files,
// linked from class/hwmon/hwmonN. Every file is replaced whole (written beside it, then
// renamed), so a reader never meets half a value. False, with `error` saying which file,
// when something could not be written.
bool WriteHwmonTree(Board& board, const std::filesystem::path& root, std::string& error);

}  // namespace rq::sim
