// dump: register grids for bug reports. Reads only (the monitor's bank select is
// put back as it was).
#include <array>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>

#include "cli/Commands.h"
#include "devices/SystemFacts.h"
#include "devices/clockgen/I2cClockGenIo.h"
#include "hw/I2CIo.h"

namespace rq::cli {
namespace {

using nlohmann::json;
using Bytes = std::vector<std::optional<std::uint8_t>>;

constexpr unsigned kClockGenBytes = 32;
constexpr std::uint8_t kNorthBridgeBus = 0;
constexpr std::uint8_t kNorthBridgeDevice = 0;
constexpr std::uint8_t kNorthBridgeFunction = 0;
constexpr unsigned kPciConfigBytes = 256;
constexpr std::uint8_t kByteMask = 0xFF;
constexpr unsigned kBitsPerByte = 8;
constexpr unsigned kGridColumns = 16;
constexpr std::uint8_t kClockGenAddress = 0xD2;

// How many I/O ports each SMBus host family decodes from its base.
unsigned SmbusHostPorts(std::int16_t kind) {
  switch (kind) {
    case hw::kHostVIA8233A:
    case hw::kHostVIA8235:
    case hw::kHostVIA8237:
      return 16;
    case hw::kHostNVidiaMCP:
      return 64;
    case hw::kHostIntelICH2:
    case hw::kHostIntelICH4:
    case hw::kHostIntelICH5:
    case hw::kHostSis962:
      return 32;
    default:
      return 0;
  }
}

Bytes ClockGeneratorBytes() {
  Bytes bytes(kClockGenBytes);
  devices::ClockGenBus bus = devices::OpenClockGenBus();
  if (bus.controller == nullptr) return bytes;
  std::array<std::int32_t, kClockGenBytes> buffer{};
  unsigned stored = 0;
  {
    devices::SmbusLock lock;
    stored = bus.controller->ReadBlock(buffer.data(), 0, kClockGenBytes);
  }
  for (unsigned i = 0; i < stored && i < kClockGenBytes; ++i)
    bytes[i] = static_cast<std::uint8_t>(buffer[i] & kByteMask);
  return bytes;
}

Bytes NorthBridgeBytes() {
  const hw::IOInterface io;
  Bytes bytes(kPciConfigBytes);
  for (unsigned reg = 0; reg < kPciConfigBytes; reg += 2) {
    const std::uint16_t word = io.ReadPciConfigWord(kNorthBridgeBus, kNorthBridgeDevice, kNorthBridgeFunction,
                                                    static_cast<std::uint8_t>(reg));
    bytes[reg] = static_cast<std::uint8_t>(word & kByteMask);
    bytes[reg + 1] = static_cast<std::uint8_t>(word >> kBitsPerByte);
  }
  return bytes;
}

Bytes SmbusHostBytes(const hw::SmbusHostState& host) {
  const hw::IOInterface io;
  Bytes bytes(SmbusHostPorts(host.kind));
  // Reading the block data port moves the host's block pointer: not while another
  // program runs a transfer.
  devices::SmbusLock lock;
  if (!lock.Held()) return bytes;
  for (unsigned offset = 0; offset < bytes.size(); ++offset) {
    std::uint32_t value = 0;
    if (io.ReadPortByte(static_cast<std::uint16_t>(host.base + offset), value))
      bytes[offset] = static_cast<std::uint8_t>(value & kByteMask);
  }
  return bytes;
}

json BytesJson(const Bytes& bytes) {
  json list = json::array();
  for (const auto& byte : bytes) list.push_back(byte ? json(*byte) : json(nullptr));
  return list;
}

// The grid people know from i2cdump: 16 bytes a row, XX for a byte that could not
// be read, the printable characters on the right.
void PrintGrid(const std::string& title, const Bytes& bytes, std::ostream& out, std::size_t firstOffset = 0) {
  out << title << '\n' << "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f    0123456789abcdef\n";
  char cell[24];
  for (std::size_t row = 0; row < bytes.size(); row += kGridColumns) {
    std::snprintf(cell, sizeof cell, "%02zx: ", firstOffset + row);
    out << cell;
    std::string text;
    for (std::size_t col = 0; col < kGridColumns; ++col) {
      const std::size_t at = row + col;
      if (at >= bytes.size()) {
        out << "   ";
        text += ' ';
        continue;
      }
      if (bytes[at]) {
        std::snprintf(cell, sizeof cell, "%02x ", *bytes[at]);
        out << cell;
        const char c = static_cast<char>(*bytes[at]);
        text += (*bytes[at] >= 0x20 && *bytes[at] < 0x7F) ? c : '.';
      } else {
        out << "XX ";
        text += 'X';
      }
    }
    out << "   " << text << '\n';
  }
  out << '\n';
}

std::string Hex(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%02X", value);
  return text;
}

}  // namespace

int DumpCommand(CommandContext& context) {
  bool asJson = false;
  for (const std::string& arg : context.args) {
    if (arg != "--json") {
      context.err << "rqctl: dump: unexpected argument " << arg << "\n";
      return kExitBadArguments;
    }
    asJson = true;
  }
  Session session;
  if (const int code = OpenSession(session, context.settingsFile, context.environment, context.err))
    return code;
  engine::MSupport& support = *session.support;
  // Detection the driver did not answer for would list chips as missing.
  if (DriverStopped(support, "no dump was made", context.err)) return kExitNoDaemon;

  json dump = json::object();
  if (support.clockGenerator != nullptr) {
    dump["clockGenerator"] = {{"model", support.clockGenerator->GetModel()},
                              {"address", kClockGenAddress},
                              {"bytes", BytesJson(ClockGeneratorBytes())}};
  } else {
    dump["clockGenerator"] = nullptr;
  }
  dump["northBridge"] = {{"model", support.northBridge ? support.northBridge->GetModel() : std::string()},
                         {"bus", kNorthBridgeBus},
                         {"device", kNorthBridgeDevice},
                         {"function", kNorthBridgeFunction},
                         {"bytes", BytesJson(NorthBridgeBytes())}};
  const hw::SmbusHostState host = hw::ProcessSmbusHost();
  if (host.kind != hw::kHostNone) {
    // A host the kernel's driver drives is its driver's: reading its block data port
    // would move the pointer under a transfer of the kernel's.
    dump["smbusHost"] = {{"kind", host.kind},
                         {"base", host.base},
                         {"kernelAdapter", host.kernelAdapter},
                         {"bytes", host.kernelAdapter ? json(nullptr) : BytesJson(SmbusHostBytes(host))}};
  } else {
    dump["smbusHost"] = nullptr;
  }
  if (support.hardwareMonitor != nullptr) {
    json banks = json::array();
    for (const auto& bank : support.hardwareMonitor->ReadRegisterBanks()) {
      banks.push_back(
          {{"bank", bank.bank}, {"bytes", BytesJson(Bytes(bank.bytes.begin(), bank.bytes.end()))}});
    }
    dump["hardwareMonitor"] = {{"model", support.hardwareMonitor->GetModel()}, {"banks", banks}};
  } else {
    dump["hardwareMonitor"] = nullptr;
  }
  dump["gpioVoltage"] = nullptr;
  if (support.gpioVoltage != nullptr) {
    dump["gpioVoltage"] = {{"model", support.gpioVoltage->GetModel()}};
    if (const auto window = support.gpioVoltage->ReadRegisterWindow()) {
      dump["gpioVoltage"]["base"] = window->base;
      dump["gpioVoltage"]["first"] = window->first;
      dump["gpioVoltage"]["bytes"] = BytesJson(window->bytes);
    }
  }

  // The cells it did not answer for show as failed reads; the dump is still shown,
  // for the bug report to say where the driver stopped.
  const int code = DriverStopped(support, "the cells it did not answer show as XX (null)", context.err)
                       ? kExitNoDaemon
                       : kExitOk;
  if (asJson) {
    context.out << dump.dump(2) << '\n';
    return code;
  }
  auto bytesOf = [](const json& list) {
    Bytes bytes;
    for (const auto& b : list)
      bytes.push_back(b.is_null() ? std::nullopt : std::optional<std::uint8_t>(b.get<int>()));
    return bytes;
  };
  context.out << "# rqctl dump: " << support.biosModel << " (board model " << support.boardModel << ")\n\n";
  if (!dump["clockGenerator"].is_null()) {
    PrintGrid("Clock generator " + dump["clockGenerator"]["model"].get<std::string>() + ", SMBus address " +
                  Hex(kClockGenAddress) + ", block read from command 0x00:",
              bytesOf(dump["clockGenerator"]["bytes"]), context.out);
  } else {
    context.out << "Clock generator: none\n\n";
  }
  PrintGrid("North bridge " + dump["northBridge"]["model"].get<std::string>() +
                ", PCI 00:00.0 configuration space:",
            bytesOf(dump["northBridge"]["bytes"]), context.out);
  if (host.kernelAdapter) {
    context.out << "SMBus host at " << Hex(host.base)
                << ": driven by the kernel's driver, reached through its adapter; its registers are not read\n\n";
  } else if (!dump["smbusHost"].is_null()) {
    PrintGrid("SMBus host registers at " + Hex(host.base) + ":", bytesOf(dump["smbusHost"]["bytes"]),
              context.out);
  } else {
    context.out << "SMBus host: none\n\n";
  }
  if (!dump["hardwareMonitor"].is_null()) {
    for (const auto& bank : dump["hardwareMonitor"]["banks"]) {
      const int number = bank["bank"].get<int>();
      PrintGrid("Hardware monitor " + dump["hardwareMonitor"]["model"].get<std::string>() +
                    (number >= 0 ? ", bank " + std::to_string(number) : std::string()) +
                    " (ports 0x295/0x296):",
                bytesOf(bank["bytes"]), context.out);
    }
  } else {
    context.out << "Hardware monitor: none\n\n";
  }
  const json& gpio = dump["gpioVoltage"];
  if (!gpio.is_null() && gpio.contains("bytes")) {
    PrintGrid("GPIO over-voltage " + gpio["model"].get<std::string>() + ", GPIO registers at " +
                  Hex(gpio["base"].get<unsigned>()) + " + offset:",
              bytesOf(gpio["bytes"]), context.out, gpio["first"].get<std::size_t>());
  } else if (!gpio.is_null()) {
    context.out << "GPIO over-voltage " << gpio["model"].get<std::string>() << ": no GPIO base assigned\n";
  }
  return code;
}

}  // namespace rq::cli
