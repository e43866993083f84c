#include "sim/Board.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <map>
#include <sstream>

#include "sim/ProfileLimits.h"

namespace rq::sim {

constexpr char kDefaultBoard[] = "default";

// Generated at build time from sim/profiles/*.toml.
const std::vector<std::pair<std::string, std::string>>& ShippedProfileTexts();

// ---------------------------------------------------------------------------
// BIOS ROM

namespace {

constexpr std::uint32_t kResetVector = 0xFFFF0;
constexpr std::uint32_t kDateAddress = 0xFFFF5;
constexpr std::uint32_t kModelByteAddress = 0xFFFFE;
constexpr std::size_t kDateLength = 8;
// jmp far F000:E05B, the classic entry point of the power-on self test.
constexpr std::array<std::uint8_t, 5> kResetJump = {0xEA, 0x5B, 0xE0, 0x00, 0xF0};
constexpr std::uint8_t kAtModelByte = 0xFC;
// Erased flash reads all ones; the text blocks make a dump look like a real image.
constexpr std::uint8_t kErasedFlash = 0xFF;
constexpr std::uint32_t kBannerAddress = 0xF0000;
constexpr char kBanner[] = "Virtual Mainboard BIOS v6.00PG, An Energy Star Ally";
constexpr std::uint32_t kSetupTextAddress = 0xFE000;
constexpr char kSetupText[] = "Press DEL to enter SETUP";

}  // namespace

BiosRom::BiosRom(const std::string& modelString, const std::string& date)
    : image_(kSize, kErasedFlash), modelString_(modelString), date_(date) {
  if (modelString.size() > kMaxModelStringLength) {
    throw std::invalid_argument("the BIOS model string is longer than " +
                                std::to_string(kMaxModelStringLength) + " characters");
  }
  if (modelString.find('\0') != std::string::npos) {
    throw std::invalid_argument("the BIOS model string holds a zero byte");
  }
  if (date.size() != kDateLength) {
    throw std::invalid_argument("the BIOS date must have 8 characters (MM/DD/YY)");
  }
  auto place = [this](std::uint32_t address, std::string_view bytes) {
    std::copy(bytes.begin(), bytes.end(), image_.begin() + (address - kBase));
  };
  place(kBannerAddress, {kBanner, sizeof kBanner});
  place(kSetupTextAddress, {kSetupText, sizeof kSetupText});
  place(kModelStringAddress, {modelString.c_str(), modelString.size() + 1});
  place(kResetVector, {reinterpret_cast<const char*>(kResetJump.data()), kResetJump.size()});
  place(kDateAddress, date);
  image_[kModelByteAddress - kBase] = kAtModelByte;
}

nlohmann::json BiosRom::Inspect() const { return {{"modelString", modelString_}, {"date", date_}}; }

bool BiosRom::Read(std::uint32_t address, std::span<std::uint8_t> out) const {
  if (address < kBase || address - kBase > kSize || out.size() > kSize - (address - kBase)) {
    return false;
  }
  std::copy_n(image_.begin() + (address - kBase), out.size(), out.begin());
  return true;
}

// ---------------------------------------------------------------------------
// Chip registry

namespace {

struct Factory {
  ChipFactory raw;
  CheckedChipFactory checked;
};

std::map<std::string, Factory>& Registry() {
  static std::map<std::string, Factory> registry;
  return registry;
}

void Register(const char* type, Factory factory) {
  if (!Registry().emplace(type, std::move(factory)).second) {
    // Two chips claiming one type is a build mistake; fail at start-up, loudly.
    throw std::logic_error(std::string("chip type registered twice: ") + type);
  }
}

// Families whose simulated chips do not exist yet; see PlannedChipTypes.
constexpr std::array<const char*, 1> kPlannedTypes = {
    // sensors fed by clocks, voltages and load
    "sensors"};

bool IsPlanned(const std::string& type) {
  return std::find(kPlannedTypes.begin(), kPlannedTypes.end(), type) != kPlannedTypes.end();
}

nlohmann::json ToJson(const toml::value& value) {
  switch (value.type()) {
    case toml::value_t::boolean:
      return value.as_boolean();
    case toml::value_t::integer:
      return value.as_integer();
    case toml::value_t::floating:
      return value.as_floating();
    case toml::value_t::string:
      return value.as_string().str;
    case toml::value_t::array: {
      nlohmann::json array = nlohmann::json::array();
      for (const auto& item : value.as_array()) {
        array.push_back(ToJson(item));
      }
      return array;
    }
    case toml::value_t::table: {
      nlohmann::json object = nlohmann::json::object();
      for (const auto& [key, item] : value.as_table()) {
        object[key] = ToJson(item);
      }
      return object;
    }
    default: {
      std::ostringstream text;
      text << value;
      return text.str();
    }
  }
}

}  // namespace

ChipRegistrar::ChipRegistrar(const char* type, ChipFactory factory) {
  Register(type, {std::move(factory), {}});
}

ChipRegistrar::ChipRegistrar(const char* type, CheckedChipFactory factory) {
  Register(type, {{}, std::move(factory)});
}

std::vector<std::string> RegisteredChipTypes() {
  std::vector<std::string> types;
  for (const auto& [type, factory] : Registry()) {
    types.push_back(type);
  }
  return types;
}

std::span<const char* const> PlannedChipTypes() { return kPlannedTypes; }

// ---------------------------------------------------------------------------
// Profile loading

class BoardBuilder {
 public:
  BoardBuilder(std::string origin, TimeSource& time) : origin_(std::move(origin)), time_(time) {}

  std::unique_ptr<Board> Build(const std::string& text) {
    CheckProfileLimits(text, origin_);
    toml::value root;
    try {
      std::istringstream in(text);
      root = toml::parse(in, origin_);
    } catch (const std::exception& error) {
      throw ProfileError(origin_ + ": not valid TOML: " + error.what());
    }
    const ChipConfig top(root, origin_);
    auto board = std::unique_ptr<Board>(new Board(top.String("name"), time_));
    board->description_ = top.String("description", "");

    const ChipConfig bios(Section(top, "bios"), origin_ + ": [bios]");
    try {
      board->bios_ =
          &board->Own(std::make_unique<BiosRom>(bios.String("model"), bios.String("date", "08/15/03")));
    } catch (const std::invalid_argument& error) {
      bios.Fail(error.what());
    }
    RejectUnread(bios);

    const ChipConfig cpu(Section(top, "cpu"), origin_ + ": [cpu]");
    constexpr double kMaxMultiplier = 64.0;
    constexpr double kMaxFsb = 1000.0;
    const double multiplier = cpu.Number("multiplier", 1.0, kMaxMultiplier);
    const double maxStable = cpu.Number("max_stable_fsb", 1.0, kMaxFsb);
    board->powerOnFsb_ = cpu.Number("power_on_fsb", 1.0, kMaxFsb);
    RejectUnread(cpu);
    board->cpu_ = std::make_unique<Cpu>(*board, multiplier, maxStable);
    board->watchdog_ = std::make_unique<Watchdog>(*board);
    board->pci_.Attach(board->ports_);

    if (top.Has("chip")) {
      const toml::value& chips = top.Value("chip");
      if (!chips.is_array()) {
        throw ProfileError(origin_ + ": 'chip' must be a list of [[chip]] tables");
      }
      std::size_t index = 0;
      for (const auto& chip : chips.as_array()) {
        AddChip(*board, chip, ++index);
      }
    }
    RejectUnread(top);

    board->ResetParts();
    if (board->hung_) {
      std::ostringstream problem;
      problem << origin_ << ": the board hangs at power-on: FSB " << board->cpu_->Fsb()
              << " MHz is above the CPU's highest stable FSB " << maxStable << " MHz";
      throw ProfileError(problem.str());
    }
    return board;
  }

 private:
  const toml::value& Section(const ChipConfig& top, const std::string& key) {
    const toml::value& section = top.Value(key);
    if (!section.is_table()) {
      throw ProfileError(origin_ + ": [" + key + "] must be a table");
    }
    return section;
  }

  void RejectUnread(const ChipConfig& config) {
    const auto unread = config.UnreadKeys();
    if (!unread.empty()) {
      std::string keys;
      for (const auto& key : unread) {
        keys += (keys.empty() ? "'" : ", '") + key + "'";
      }
      config.Fail(std::string(unread.size() == 1 ? "unknown key " : "unknown keys ") + keys);
    }
  }

  void AddChip(Board& board, const toml::value& table, std::size_t index) {
    std::string context = origin_ + ": chip " + std::to_string(index);
    if (!table.is_table()) {
      throw ProfileError(context + ": is not a table");
    }
    const ChipConfig named(table, context);
    const std::string type = named.Type();
    context += " (" + type + ")";
    const ChipConfig config(table, context);
    config.Type();

    auto found = Registry().find(type);
    if (found == Registry().end()) {
      if (!IsPlanned(type)) {
        config.Fail("unknown chip type \"" + type + "\"");
      }
      board.planned_.push_back(ToJson(table));
      return;
    }
    try {
      if (found->second.checked) {
        found->second.checked(config, board);
        RejectUnread(config);
      } else {
        found->second.raw(table, board);
      }
    } catch (const ProfileError&) {
      throw;
    } catch (const std::exception& error) {
      throw ProfileError(context + ": " + error.what());
    }
  }

  std::string origin_;
  TimeSource& time_;
};

std::unique_ptr<Board> Board::FromProfileText(const std::string& text, TimeSource& time,
                                              const std::string& origin) {
  return BoardBuilder(origin, time).Build(text);
}

std::unique_ptr<Board> Board::FromProfileFile(const std::string& path, TimeSource& time) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    throw ProfileError(path + ": cannot open the board profile");
  }
  // One byte past the limit is enough to refuse it; the rest (a huge file, a
  // device that never ends) is never read.
  std::string text(ProfileLimits::kMaxBytes + 1, '\0');
  file.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (file.bad()) {
    throw ProfileError(path + ": cannot read the board profile");
  }
  text.resize(static_cast<std::size_t>(file.gcount()));
  return FromProfileText(text, time, path);
}

std::unique_ptr<Board> Board::Shipped(const std::string& name, TimeSource& time) {
  for (const auto& [shipped, text] : ShippedProfileTexts()) {
    if (shipped == name) {
      return FromProfileText(text, time, shipped + ".toml");
    }
  }
  std::string names;
  for (const auto& shipped : ShippedNames()) {
    names += (names.empty() ? "" : ", ") + shipped;
  }
  throw ProfileError("no shipped board named \"" + name + "\" (shipped: " + names + ")");
}

std::vector<std::string> Board::ShippedNames() {
  // The board everyone starts with leads the list; the rest follow by name.
  std::vector<std::string> names;
  for (const auto& [name, text] : ShippedProfileTexts()) {
    names.push_back(name);
  }
  std::stable_partition(names.begin(), names.end(),
                        [](const std::string& name) { return name == kDefaultBoard; });
  return names;
}

// ---------------------------------------------------------------------------
// The running board

Board::Board(std::string name, TimeSource& time)
    : name_(std::move(name)), time_(time), analog_(std::make_unique<Analog>(*this)) {}

Board::~Board() {
  // Chips may release ports or bus addresses as they go; the buses outlive them.
  chips_.clear();
}

std::vector<const Chip*> Board::Chips() const {
  std::vector<const Chip*> chips;
  for (const auto& chip : chips_) {
    chips.push_back(chip.get());
  }
  return chips;
}

void Board::Tick() {
  auto lock = Lock();
  analog_->Settle();
  watchdog_->Check();
}

void Board::Hang() {
  auto lock = Lock();
  hung_ = true;
}

void Board::ResetParts() {
  hung_ = false;
  pci_.Reset();
  watchdog_->PowerOnReset();
  // The CPU first: a clock generator's own reset then sets the FSB it powers up with.
  cpu_->PowerOnReset(powerOnFsb_);
  for (auto& chip : chips_) {
    chip->PowerOnReset();
  }
  // Last: the first power-on takes the clock the clock generator chose as reference.
  analog_->PowerOnReset();
  for (auto& chip : chips_) {
    if (auto* driver = dynamic_cast<SupplyDriver*>(chip.get())) driver->DriveSupplies();
  }
}

void Board::PowerOnReset() {
  auto lock = Lock();
  ResetParts();
  ++resets_;
  for (auto& listener : resetListeners_) {
    listener();
  }
}

nlohmann::json Board::Inspect() const {
  std::unique_lock lock(mutex_);
  nlohmann::json chips = nlohmann::json::array();
  for (const auto& chip : chips_) {
    nlohmann::json entry = chip->Inspect();
    if (!entry.is_object()) {
      entry = {{"state", entry}};
    }
    entry["name"] = chip->Name();
    chips.push_back(std::move(entry));
  }
  return {{"profile", name_},
          {"description", description_},
          {"biosModelString", bios_->ModelString()},
          {"hung", hung_},
          {"resets", resets_},
          {"cpu", cpu_->Inspect()},
          {"watchdog", watchdog_->Inspect()},
          {"analog", analog_->Inspect()},
          {"chips", std::move(chips)},
          {"planned", planned_}};
}

}  // namespace rq::sim
