#include <array>
#include <vector>

#include "sim/smbus/SmbusHostChip.h"

namespace rq::sim {
namespace {

constexpr std::uint8_t kStatus = 0x00;
constexpr std::uint8_t kControl = 0x02;
constexpr std::uint8_t kCommand = 0x03;
constexpr std::uint8_t kAddress = 0x04;
constexpr std::uint8_t kData0 = 0x05;
constexpr std::uint8_t kData1 = 0x06;
constexpr std::uint8_t kBlockData = 0x07;
constexpr std::uint16_t kPortCount = 0x10;

constexpr std::uint8_t kStatusBusy = 0x01;
constexpr std::uint8_t kStatusComplete = 0x02;
constexpr std::uint8_t kStatusDeviceError = 0x04;
constexpr std::uint8_t kStatusFailed = 0x10;

constexpr std::uint8_t kControlAbort = 0x02;
constexpr std::uint8_t kControlProtocolMask = 0x1C;
constexpr std::uint8_t kControlStart = 0x40;
constexpr std::uint8_t kProtocolByteData = 0x08;
constexpr std::uint8_t kProtocolBlock = 0x14;

constexpr std::uint8_t kReadBit = 0x01;

// The VIA host: every transaction completes at once. Blocks go through a 32-byte
// buffer behind the block-data port, whose index moves on with each access and
// goes back to the start when the control register is read.
class ViaSmbus final : public SmbusHostChip {
 public:
  using SmbusHostChip::SmbusHostChip;

 private:
  std::uint8_t Read(std::uint8_t offset) override {
    switch (offset) {
      case kStatus:
        return status_;
      case kControl:
        index_ = 0;
        return static_cast<std::uint8_t>(control_ & ~kControlStart);
      case kCommand:
        return command_;
      case kAddress:
        return address_;
      case kData0:
        return data0_;
      case kData1:
        return data1_;
      case kBlockData: {
        const std::uint8_t value = buffer_[index_];
        index_ = (index_ + 1) % kMaxBlock;
        return value;
      }
      default:
        return 0;
    }
  }

  void Write(std::uint8_t offset, std::uint8_t value) override {
    switch (offset) {
      case kStatus:
        status_ = static_cast<std::uint8_t>(status_ & ~(value & ~kStatusBusy));
        break;
      case kControl:
        WriteControl(value);
        break;
      case kCommand:
        command_ = value;
        break;
      case kAddress:
        address_ = value;
        break;
      case kData0:
        data0_ = value;
        break;
      case kData1:
        data1_ = value;
        break;
      case kBlockData:
        buffer_[index_] = value;
        index_ = (index_ + 1) % kMaxBlock;
        break;
      default:
        break;
    }
  }

  void ResetRegisters() override {
    status_ = control_ = command_ = address_ = data0_ = data1_ = 0;
    buffer_.fill(0);
    index_ = 0;
  }

  nlohmann::json InspectRegisters() const override {
    return {{"status", status_}, {"control", control_}, {"command", command_}, {"address", address_},
            {"data0", data0_},   {"data1", data1_},     {"blockIndex", index_}};
  }

  void WriteControl(std::uint8_t value) {
    control_ = static_cast<std::uint8_t>(value & ~kControlStart);
    if ((value & kControlAbort) != 0) {
      if ((status_ & kStatusBusy) != 0) Finish(kStatusFailed);
      return;
    }
    if ((value & kControlStart) == 0 || (status_ & kStatusBusy) != 0) return;
    const bool read = (address_ & kReadBit) != 0;
    switch (value & kControlProtocolMask) {
      case kProtocolByteData: {
        const Outcome outcome =
            read ? ReadByteData(address_, command_, data0_) : WriteByteData(address_, command_, data0_);
        Finish(outcome == Outcome::kDone ? kStatusComplete : kStatusDeviceError);
        break;
      }
      case kProtocolBlock:
        read ? RunBlockRead() : RunBlockWrite();
        break;
      default:
        Finish(kStatusFailed);
        break;
    }
  }

  void RunBlockRead() {
    std::vector<std::uint8_t> bytes;
    if (BlockRead(address_, command_, bytes) != Outcome::kDone) {
      Finish(kStatusDeviceError);
      return;
    }
    std::copy(bytes.begin(), bytes.end(), buffer_.begin());
    data0_ = static_cast<std::uint8_t>(bytes.size());
    Finish(kStatusComplete);
  }

  void RunBlockWrite() {
    if (data0_ == 0 || data0_ > kMaxBlock) {
      Finish(kStatusFailed);
      return;
    }
    const Outcome outcome = BlockWrite(address_, command_, std::span(buffer_.data(), data0_));
    Finish(outcome == Outcome::kDone ? kStatusComplete : kStatusDeviceError);
  }

  void Finish(std::uint8_t result) { status_ = static_cast<std::uint8_t>((status_ & ~kStatusBusy) | result); }

  std::uint8_t status_ = 0, control_ = 0, command_ = 0, address_ = 0, data0_ = 0, data1_ = 0;
  std::array<std::uint8_t, kMaxBlock> buffer_{};
  std::size_t index_ = 0;
};

constexpr std::array<SmbusHostChip::Model, 3> kModels = {{{301, 0x3147}, {302, 0x3177}, {303, 0x3227}}};

void BuildViaSmbus(const ChipConfig& config, Board& board) {
  SmbusHostChip::Identity identity;
  identity.location = {0, 17, 0};
  identity.vendorId = 0x1106;
  identity.deviceId = SmbusHostChip::DeviceIdForKind(config, kModels);
  identity.baseRegister = 0xD0;
  identity.base = SmbusHostChip::ProfileBase(config, kPortCount, 0x0500);
  identity.portCount = kPortCount;
  SmbusHostChip::Build<ViaSmbus>(config, board, "via-smbus", identity);
}

}  // namespace

RQ_SIM_CHIP("via-smbus", BuildViaSmbus);

}  // namespace rq::sim
