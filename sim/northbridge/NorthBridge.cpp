#include "sim/northbridge/NorthBridge.h"

#include <algorithm>
#include <charconv>
#include <memory>
#include <numeric>
#include <stdexcept>

#include "sim/Board.h"

namespace rq::sim {
namespace {

constexpr std::uint8_t kHostFunction = 0;
constexpr std::uint8_t kNvidiaMemoryFunction = 3;

constexpr std::uint8_t kVendorId = 0x00;
constexpr std::uint8_t kDeviceId = 0x02;
constexpr std::uint8_t kRevision = 0x08;
constexpr std::uint8_t kSubClass = 0x0A;
constexpr std::uint8_t kBaseClass = 0x0B;
constexpr std::uint8_t kHeaderType = 0x0E;
constexpr std::uint8_t kMultiFunction = 0x80;
constexpr std::uint8_t kBridgeClass = 0x06;
constexpr std::uint8_t kMemoryControllerClass = 0x05;
constexpr std::uint8_t kSubsystemVendor = 0x2C;
constexpr std::uint8_t kSubsystem = 0x2E;
constexpr std::uint8_t kCapabilityE7 = 0xE7;
constexpr std::uint8_t kCapabilityE8 = 0xE8;

// Intel: the ratio word at 0xC6; its high byte holds the numerator and
// denominator bits (11:10 and 12, or 11 and 12 on the 845), its low byte the
// 865 family's selector (bits 1:0).
constexpr std::uint8_t kIntelRatioLow = 0xC6;
constexpr std::uint8_t kIntelRatioHigh = 0xC7;
// VIA: A in bits 7:6 of 0x69, B in bits 7:6 of 0x54, R in bit 7 of 0x67.
constexpr std::uint8_t kViaDramClock = 0x69;
constexpr std::uint8_t kViaHostClock = 0x54;
constexpr std::uint8_t kViaRatioBit = 0x67;
// nVidia: numerator in bits 7:4, denominator in bits 3:0 of 0x70 of function 3.
constexpr std::uint8_t kNvidiaRatio = 0x70;
// SiS 648: bit 5 of 0x76 synchronous, else bits 4:2 select the ratio.
constexpr std::uint8_t kSis648Ratio = 0x76;

struct FieldWrite {
  std::uint8_t function;
  std::uint8_t offset;
  std::uint8_t mask;
  std::uint8_t value;
};

struct RatioSetting {
  unsigned numerator;
  unsigned denominator;
  std::vector<FieldWrite> writes;
};
using SettingList = std::vector<RatioSetting>;

enum class Family {
  Intel845,
  Intel845G,
  Intel865SDG,
  Intel865,
  ViaKT,
  ViaP4X400,
  ViaKM400,
  Via266,
  Nvidia,
  SisSynchronous,
  SisReferenceClock,
  Sis648,
};

struct Model {
  const char* name;
  std::uint16_t vendor;
  std::uint16_t device;
  std::uint8_t revision;
  std::uint8_t e7;
  std::uint8_t e8;
  Family family;
};

constexpr std::uint16_t kIntel = 0x8086;
constexpr std::uint16_t kVia = 0x1106;
constexpr std::uint16_t kNvidia = 0x10DE;
constexpr std::uint16_t kSis = 0x1039;
// The function beside an nVidia host bridge that holds the memory ratio.
constexpr std::uint16_t kNvidiaMemoryDevice = 0x01ED;

const std::string kMemoryRatioKey = "memory_ratio";

// Revisions and capability bytes are those each market variant reports; the
// 845GE and 845PE are later steppings (not revision 1).
constexpr std::array kModels{
    Model{"i845e", kIntel, 0x1A30, 0x11, 0x00, 0x00, Family::Intel845},
    Model{"i845", kIntel, 0x1A30, 0x04, 0x00, 0x00, Family::Intel845},
    Model{"i845g", kIntel, 0x2560, 0x01, 0x00, 0x00, Family::Intel845G},
    Model{"i845gl", kIntel, 0x2560, 0x01, 0x11, 0x0E, Family::Intel845G},
    Model{"i845ge", kIntel, 0x2560, 0x03, 0x41, 0x21, Family::Intel845G},
    Model{"i845gv", kIntel, 0x2560, 0x01, 0x11, 0x0B, Family::Intel845G},
    Model{"i845pe", kIntel, 0x2560, 0x03, 0x61, 0x21, Family::Intel845G},
    Model{"i865sdg", kIntel, 0x2570, 0x02, 0x01, 0x00, Family::Intel865SDG},
    Model{"i865pe", kIntel, 0x2570, 0x02, 0x21, 0x00, Family::Intel865},
    Model{"i865p", kIntel, 0x2570, 0x02, 0xA1, 0x00, Family::Intel865},
    Model{"i875p", kIntel, 0x2578, 0x02, 0x00, 0x00, Family::Intel865},
    Model{"via-kt266", kVia, 0x3099, 0x00, 0x00, 0x00, Family::ViaKT},
    Model{"via-kt400", kVia, 0x3189, 0x00, 0x00, 0x00, Family::ViaKT},
    Model{"via-p4x266e", kVia, 0x3128, 0x01, 0x00, 0x00, Family::Via266},
    Model{"via-p4m266", kVia, 0x3148, 0x00, 0x00, 0x00, Family::Via266},
    Model{"via-km266", kVia, 0x3116, 0x00, 0x00, 0x00, Family::Via266},
    Model{"via-p4x400", kVia, 0x3168, 0x00, 0x00, 0x00, Family::ViaP4X400},
    Model{"via-km400", kVia, 0x3205, 0x00, 0x00, 0x00, Family::ViaKM400},
    Model{"nvidia-c18", kNvidia, 0x01E0, 0x00, 0x00, 0x00, Family::Nvidia},
    Model{"sis650", kSis, 0x0650, 0x00, 0x00, 0x00, Family::SisSynchronous},
    Model{"sis651", kSis, 0x0651, 0x00, 0x00, 0x00, Family::SisReferenceClock},
    Model{"sis740", kSis, 0x0740, 0x00, 0x00, 0x00, Family::SisSynchronous},
    Model{"sis648", kSis, 0x0648, 0x00, 0x00, 0x00, Family::Sis648},
};

// ---- Ratio settings, the first of each list being the power-on one ----

RatioSetting Intel845(unsigned n, unsigned d) {
  const std::uint8_t bits = (n == 133 ? 0x08 : 0x00) | (d == 133 ? 0x10 : 0x00);
  return {n, d, {{kHostFunction, kIntelRatioHigh, 0x18, bits}}};
}

RatioSetting Intel845G(unsigned n, unsigned d) {
  const std::uint8_t numeratorBits = n == 166 ? 0x01 : n == 133 ? 0x02 : 0x00;
  const std::uint8_t bits = static_cast<std::uint8_t>(numeratorBits << 2) | (d == 133 ? 0x10 : 0x00);
  return {n, d, {{kHostFunction, kIntelRatioHigh, 0x1C, bits}}};
}

RatioSetting Intel865(unsigned n, unsigned d, std::uint8_t select, std::uint8_t numeratorBits) {
  return {n,
          d,
          {{kHostFunction, kIntelRatioLow, 0x03, select},
           {kHostFunction, kIntelRatioHigh, 0x0C, static_cast<std::uint8_t>(numeratorBits << 2)}}};
}

RatioSetting ViaIndex(unsigned n, unsigned d, unsigned index, bool ratioBit) {
  RatioSetting setting{n,
                       d,
                       {{kHostFunction, kViaDramClock, 0xC0, static_cast<std::uint8_t>((index & 3) << 6)},
                        {kHostFunction, kViaHostClock, 0xC0, static_cast<std::uint8_t>((index >> 2) << 6)}}};
  if (ratioBit) setting.writes.push_back({kHostFunction, kViaRatioBit, 0x80, 0x80});
  return setting;
}

RatioSetting Sis648(unsigned n, unsigned d, std::uint8_t value) {
  return {n, d, {{kHostFunction, kSis648Ratio, 0x3C, value}}};
}

const SettingList& Settings(Family family) {
  static const SettingList intel845{Intel845(100, 100), Intel845(133, 100), Intel845(100, 133),
                                    Intel845(133, 133)};
  static const SettingList intel845G{Intel845G(100, 100), Intel845G(166, 100), Intel845G(133, 100),
                                     Intel845G(100, 133), Intel845G(166, 133), Intel845G(133, 133)};
  static const SettingList intel865SDG{Intel865(133, 100, 0, 0), Intel865(133, 133, 1, 0),
                                       Intel865(166, 133, 1, 1), Intel865(133, 200, 2, 0),
                                       Intel865(166, 200, 2, 1), Intel865(200, 200, 2, 2)};
  static const SettingList intel865{Intel865(133, 100, 0, 0), Intel865(133, 133, 1, 0),
                                    Intel865(166, 133, 1, 1), Intel865(166, 200, 2, 0),
                                    Intel865(200, 200, 2, 2)};
  static const SettingList viaKT{ViaIndex(100, 100, 0, false), ViaIndex(133, 100, 1, false),
                                 ViaIndex(200, 100, 2, false), ViaIndex(166, 100, 3, false),
                                 ViaIndex(166, 133, 5, false), ViaIndex(200, 133, 6, false),
                                 ViaIndex(166, 200, 8, true),  ViaIndex(133, 200, 10, false),
                                 ViaIndex(133, 166, 12, true), ViaIndex(200, 166, 13, false)};
  static const SettingList viaP4X400{ViaIndex(100, 100, 0, false), ViaIndex(133, 100, 1, false),
                                     ViaIndex(200, 100, 2, false), ViaIndex(166, 100, 3, false),
                                     ViaIndex(166, 133, 5, false), ViaIndex(200, 133, 6, false)};
  static const SettingList viaKM400 = [] {
    SettingList list = viaP4X400;
    list.push_back(ViaIndex(133, 166, 11, false));
    return list;
  }();
  static const SettingList via266{{100, 100, {{kHostFunction, kViaDramClock, 0x40, 0x00}}},
                                  {133, 100, {{kHostFunction, kViaDramClock, 0x40, 0x40}}}};
  static const SettingList synchronous{{1, 1, {}}};
  static const SettingList none{};
  static const SettingList sis648{Sis648(1, 1, 0x20),  Sis648(2, 1, 0x04), Sis648(3, 2, 0x08),
                                  Sis648(9, 10, 0x0C), Sis648(4, 3, 0x10), Sis648(5, 3, 0x14),
                                  Sis648(5, 4, 0x18),  Sis648(6, 5, 0x1C)};
  switch (family) {
    case Family::Intel845:
      return intel845;
    case Family::Intel845G:
      return intel845G;
    case Family::Intel865SDG:
      return intel865SDG;
    case Family::Intel865:
      return intel865;
    case Family::ViaKT:
      return viaKT;
    case Family::ViaP4X400:
      return viaP4X400;
    case Family::ViaKM400:
      return viaKM400;
    case Family::Via266:
      return via266;
    case Family::SisSynchronous:
      return synchronous;
    case Family::Sis648:
      return sis648;
    case Family::Nvidia:  // any ratio of two 4-bit fields; built on demand
    case Family::SisReferenceClock:
      return none;
  }
  return none;
}

// ---- Profile reading ----

using ConfigImage = std::array<std::uint8_t, 256>;

struct Fraction {
  unsigned numerator;
  unsigned denominator;
};

bool ParseUnsigned(std::string_view text, unsigned& value) {
  if (text.empty()) return false;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

Fraction ParseRatio(const ChipConfig& config, const std::string& text) {
  const auto slash = text.find('/');
  Fraction ratio{0, 1};
  const std::string_view view(text);
  const bool ok = slash == std::string::npos ? ParseUnsigned(view, ratio.numerator)
                                             : ParseUnsigned(view.substr(0, slash), ratio.numerator) &&
                                                   ParseUnsigned(view.substr(slash + 1), ratio.denominator);
  if (!ok || ratio.numerator == 0 || ratio.denominator == 0) {
    config.Fail(kMemoryRatioKey, "\"" + text + "\" is not a ratio such as \"133/100\"");
  }
  return ratio;
}

bool SameValue(Fraction a, unsigned n, unsigned d) {
  return static_cast<std::uint64_t>(a.numerator) * d == static_cast<std::uint64_t>(n) * a.denominator;
}

std::string RatioText(unsigned n, unsigned d) { return std::to_string(n) + "/" + std::to_string(d); }

void Apply(const FieldWrite& write, ConfigImage& host, ConfigImage& memory) {
  ConfigImage& image = write.function == kHostFunction ? host : memory;
  image[write.offset] =
      static_cast<std::uint8_t>((image[write.offset] & ~write.mask) | (write.value & write.mask));
}

void Store(ConfigImage& image, std::uint32_t offset, std::uint64_t value, unsigned width) {
  for (unsigned i = 0; i < width; ++i) image[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Picks the model's setting for the ratio (or its power-on one) and writes it.
std::string ApplyRatio(const Model& model, const ChipConfig& config, ConfigImage& host, ConfigImage& memory) {
  const bool given = config.Has(kMemoryRatioKey);
  const std::string text = config.String(kMemoryRatioKey, "");

  if (model.family == Family::Nvidia) {
    Fraction ratio = given ? ParseRatio(config, text) : Fraction{1, 1};
    const unsigned divisor = std::gcd(ratio.numerator, ratio.denominator);
    if (ratio.numerator > 15 || ratio.denominator > 15) {
      ratio = {ratio.numerator / divisor, ratio.denominator / divisor};
    }
    if (ratio.numerator > 15 || ratio.denominator > 15) {
      config.Fail(kMemoryRatioKey, "\"" + text + "\" needs a numerator and a denominator of 1 to 15");
    }
    memory[kNvidiaRatio] = static_cast<std::uint8_t>(ratio.numerator << 4 | ratio.denominator);
    return RatioText(ratio.numerator, ratio.denominator);
  }

  const SettingList& settings = Settings(model.family);
  if (settings.empty()) {
    if (given) config.Fail(kMemoryRatioKey, "this model's memory clock follows the clock generator");
    return "clock generator";
  }
  const RatioSetting* chosen = &settings.front();
  if (given) {
    const Fraction wanted = ParseRatio(config, text);
    const auto found = std::find_if(settings.begin(), settings.end(), [&](const RatioSetting& s) {
      return SameValue(wanted, s.numerator, s.denominator);
    });
    if (found == settings.end()) {
      std::string known;
      for (const RatioSetting& s : settings) {
        known += (known.empty() ? "" : ", ") + RatioText(s.numerator, s.denominator);
      }
      config.Fail(kMemoryRatioKey,
                  "\"" + text + "\" is not a setting of " + model.name + "; it has " + known);
    }
    chosen = &*found;
  }
  for (const FieldWrite& write : chosen->writes) Apply(write, host, memory);
  return RatioText(chosen->numerator, chosen->denominator);
}

// Raw configuration values go in last, bytes before words, like a generic PCI function's.
bool ApplyRawTables(const ChipConfig& config, const std::string& bytesKey, const std::string& wordsKey,
                    ConfigImage& image) {
  bool any = false;
  for (const auto& [offset, value] : config.RegisterTable(bytesKey, 0xFF, 0xFF)) {
    Store(image, offset, value, 1);
    any = true;
  }
  for (const auto& [offset, value] : config.RegisterTable(wordsKey, 0xFE, 0xFFFF)) {
    Store(image, offset, value, 2);
    any = true;
  }
  return any;
}

}  // namespace

NorthBridgeFunction::NorthBridgeFunction(PciLocation location, const std::array<std::uint8_t, 256>& powerOn,
                                         std::string model, std::string memoryRatio)
    : PciFunction(location, powerOn), model_(std::move(model)), memoryRatio_(std::move(memoryRatio)) {}

std::string NorthBridgeFunction::Name() const { return "northbridge " + model_ + " " + PciFunction::Name(); }

nlohmann::json NorthBridgeFunction::Inspect() const {
  nlohmann::json state = PciFunction::Inspect();
  state["model"] = model_;
  state["memoryRatio"] = memoryRatio_;
  return state;
}

std::vector<std::string> NorthBridgeModelNames() {
  std::vector<std::string> names;
  for (const Model& model : kModels) names.emplace_back(model.name);
  return names;
}

void BuildNorthBridge(const ChipConfig& config, Board& board) {
  const std::string name = config.String("model");
  const auto model =
      std::find_if(kModels.begin(), kModels.end(), [&](const Model& m) { return name == m.name; });
  if (model == kModels.end()) {
    std::string known;
    for (const Model& m : kModels) known += (known.empty() ? "" : ", ") + std::string(m.name);
    config.Fail("model", "unknown north bridge \"" + name + "\"; known: " + known);
  }

  const bool hasMemoryFunction = model->family == Family::Nvidia;
  ConfigImage host{};
  Store(host, kVendorId, model->vendor, 2);
  Store(host, kDeviceId, model->device, 2);
  host[kRevision] = static_cast<std::uint8_t>(config.Integer("revision", 0, 0xFF, model->revision));
  host[kSubClass] = 0x00;
  host[kBaseClass] = kBridgeClass;
  host[kHeaderType] = hasMemoryFunction ? kMultiFunction : 0x00;
  Store(host, kSubsystemVendor, static_cast<std::uint64_t>(config.Integer("subsystem_vendor", 0, 0xFFFF, 0)),
        2);
  Store(host, kSubsystem, static_cast<std::uint64_t>(config.Integer("subsystem", 0, 0xFFFF, 0)), 2);
  host[kCapabilityE7] = model->e7;
  host[kCapabilityE8] = model->e8;
  ConfigImage memory{};
  Store(memory, kVendorId, model->vendor, 2);
  Store(memory, kDeviceId, kNvidiaMemoryDevice, 2);
  memory[kRevision] = host[kRevision];
  memory[kBaseClass] = kMemoryControllerClass;

  std::string ratio = ApplyRatio(*model, config, host, memory);
  bool raw = ApplyRawTables(config, "bytes", "words", host);
  if (hasMemoryFunction) {
    raw = ApplyRawTables(config, "memory_bytes", "memory_words", memory) || raw;
  } else if (config.Has("memory_bytes") || config.Has("memory_words")) {
    config.Fail("memory_bytes", "only a north bridge with a separate memory function (nvidia-c18) has these");
  }
  if (raw) ratio += " (registers set by the profile)";

  board.Pci().Add(
      board.Own(std::make_unique<NorthBridgeFunction>(PciLocation{0, 0, kHostFunction}, host, name, ratio)));
  if (hasMemoryFunction) {
    board.Pci().Add(board.Own(std::make_unique<NorthBridgeFunction>(PciLocation{0, 0, kNvidiaMemoryFunction},
                                                                    memory, name, ratio)));
  }
}

RQ_SIM_CHIP("northbridge", BuildNorthBridge);

}  // namespace rq::sim
