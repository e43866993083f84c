#include <algorithm>
#include <stdexcept>

#include "ClockGenBench.h"
#include "protocol/Protocol.h"

namespace rq::devices::testing {

unsigned DirectI2CIo::ReadBlock(std::int32_t* buffer, std::uint8_t start, unsigned count) {
  ++transfers;
  std::vector<std::uint8_t> data;
  if (device_ == nullptr || !device_->BlockRead(start, data)) return 0;
  const unsigned wanted = count == 0 ? static_cast<unsigned>(data.size()) : count;
  unsigned stored = 0;
  for (; stored < wanted && stored < data.size() && start + stored < 32; ++stored) {
    buffer[start + stored] = data[stored];
  }
  return stored;
}

unsigned DirectI2CIo::WriteBlock(const std::int32_t* buffer, std::uint8_t start, unsigned count) {
  ++transfers;
  std::vector<std::uint8_t> data;
  for (unsigned k = 0; k < count && start + k < 32; ++k)
    data.push_back(static_cast<std::uint8_t>(buffer[start + k]));
  if (device_ == nullptr || !device_->BlockWrite(start, data)) return 0;
  return static_cast<unsigned>(data.size());
}

bool DirectI2CIo::ReadByte(std::uint32_t* value, std::uint8_t command) {
  ++transfers;
  std::uint8_t byte = 0;
  if (device_ == nullptr || !device_->ReadByteData(command, byte)) return false;
  *value = byte;
  return true;
}

void DirectI2CIo::WriteByte(std::uint8_t value, std::uint8_t command) {
  ++transfers;
  if (device_ != nullptr) device_->WriteByteData(command, value);
}

bool PortHandle::DeviceIoControl(std::uint32_t code, std::uint8_t* buffer, std::uint32_t length) {
  namespace proto = rq::protocol;
  if (code != proto::kIoctlWritePortByte || length < proto::port_request::kLength) return false;
  const auto port = static_cast<std::uint16_t>(buffer[proto::port_request::kPort] |
                                               (buffer[proto::port_request::kPort + 1] << 8));
  const std::uint8_t value = buffer[proto::port_request::kValueToWrite];
  writes.emplace_back(port, value);
  if (ports_ != nullptr && port >= sim::ClockGenChip::kWatchdogFirstPort &&
      port <= sim::ClockGenChip::kWatchdogLastPort) {
    ports_->Out(port, value);
  }
  return true;
}

Bench::Bench(const std::string& simType, sim::ClockGenStrap strap, const Platform& p)
    : platform(p), northBridge_(p.k7), saved_(CurrentSystem()) {
  chip = sim::MakeClockGenChip(simType, strap, outputs);
  if (!chip) throw std::invalid_argument("no simulated part " + simType);
  outputs.fsb = chip->BusClock();
  ports_ = std::make_unique<PortHandle>(chip->WatchdogPorts());
  driver_ = std::make_unique<hw::ScopedDriverHandle>(ports_.get());
  SystemFacts& facts = CurrentSystem();
  facts.busSemaphore = &semaphore_;
  facts.northBridge = p.northBridge ? &northBridge_ : nullptr;
  facts.boardModel = p.boardModel;
}

Bench::~Bench() { CurrentSystem() = saved_; }

ClockGenBus Bench::Bus() {
  auto controller = std::make_unique<DirectI2CIo>(chip.get());
  lastController = controller.get();
  return ClockGenBus{std::move(controller), platform.hostKind};
}

void Bench::Poke(std::uint8_t reg, std::uint8_t value) {
  const std::uint8_t bytes[] = {value};
  // Cypress parts take byte writes; the ICS parts only block writes.
  if (!chip->WriteByteData(static_cast<std::uint8_t>(0x80 | reg), value)) chip->BlockWrite(reg, bytes);
}

}  // namespace rq::devices::testing
