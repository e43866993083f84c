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
constexpr std::uint16_t kPortCount = 0x20;

constexpr std::uint8_t kStatusBusy = 0x01;
constexpr std::uint8_t kStatusComplete = 0x02;
constexpr std::uint8_t kStatusDeviceError = 0x04;
constexpr std::uint8_t kStatusFailed = 0x10;
constexpr std::uint8_t kStatusByteDone = 0x80;

constexpr std::uint8_t kControlKill = 0x02;
constexpr std::uint8_t kControlProtocolMask = 0x1C;
constexpr std::uint8_t kControlLastByte = 0x20;
constexpr std::uint8_t kControlStart = 0x40;
constexpr std::uint8_t kProtocolByteData = 0x08;
constexpr std::uint8_t kProtocolBlock = 0x14;

constexpr std::uint8_t kReadBit = 0x01;

// The ICH host: byte-data transactions complete at once; a block moves one byte
// at a time, each handed over with byte-done, which software clears to go on.
// The last-byte bit, set while a read byte is pending, ends a block read there.
class IchSmbus final : public SmbusHostChip {
 public:
  using SmbusHostChip::SmbusHostChip;

 private:
  enum class Block { kNone, kRead, kWrite };

  std::uint8_t Read(std::uint8_t offset) override {
    switch (offset) {
      case kStatus:
        return status_;
      case kControl:
        return static_cast<std::uint8_t>(control_ & ~kControlStart);
      case kCommand:
        return command_;
      case kAddress:
        return address_;
      case kData0:
        return data0_;
      case kData1:
        return data1_;
      case kBlockData:
        return blockData_;
      default:
        return 0;
    }
  }

  void Write(std::uint8_t offset, std::uint8_t value) override {
    switch (offset) {
      case kStatus:
        WriteStatus(value);
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
        blockData_ = value;
        break;
      default:
        break;
    }
  }

  void ResetRegisters() override {
    status_ = control_ = command_ = address_ = data0_ = data1_ = blockData_ = 0;
    block_ = Block::kNone;
    bytes_.clear();
    position_ = 0;
  }

  nlohmann::json InspectRegisters() const override {
    return {{"status", status_},       {"control", control_},
            {"command", command_},     {"address", address_},
            {"data0", data0_},         {"data1", data1_},
            {"blockData", blockData_}, {"blockActive", block_ != Block::kNone}};
  }

  // Status bits other than busy are cleared by writing 1; clearing byte-done lets
  // a running block go on to its next byte.
  void WriteStatus(std::uint8_t value) {
    const bool byteHandedOver = (status_ & kStatusByteDone) != 0 && (value & kStatusByteDone) != 0;
    status_ = static_cast<std::uint8_t>(status_ & ~(value & ~kStatusBusy));
    if (byteHandedOver && block_ != Block::kNone) NextBlockByte();
  }

  void WriteControl(std::uint8_t value) {
    const bool lastByteNewlySet = (value & kControlLastByte) != 0 && (control_ & kControlLastByte) == 0;
    control_ = static_cast<std::uint8_t>(value & ~kControlStart);
    if ((value & kControlKill) != 0) {
      Kill();
    } else if ((value & kControlStart) != 0) {
      Start(static_cast<std::uint8_t>(value & kControlProtocolMask));
    } else if (lastByteNewlySet && block_ == Block::kRead && (status_ & kStatusByteDone) != 0) {
      Finish(kStatusComplete);
    }
  }

  void Kill() {
    if ((status_ & kStatusBusy) != 0) Finish(kStatusFailed);
    block_ = Block::kNone;
  }

  void Start(std::uint8_t protocol) {
    if ((status_ & kStatusBusy) != 0) return;
    const bool read = (address_ & kReadBit) != 0;
    if (protocol == kProtocolByteData) {
      Outcome outcome = Outcome::kDone;
      if (read) {
        outcome = ReadByteData(address_, command_, data0_);
      } else {
        outcome = WriteByteData(address_, command_, data0_);
      }
      Finish(outcome == Outcome::kDone ? kStatusComplete : kStatusDeviceError);
    } else if (protocol == kProtocolBlock) {
      read ? StartBlockRead() : StartBlockWrite();
    } else {
      Finish(kStatusFailed);
    }
  }

  void StartBlockRead() {
    if (BlockRead(address_, command_, bytes_) != Outcome::kDone) {
      Finish(kStatusDeviceError);
      return;
    }
    data0_ = static_cast<std::uint8_t>(bytes_.size());
    if (bytes_.empty()) {
      Finish(kStatusComplete);
      return;
    }
    block_ = Block::kRead;
    status_ |= kStatusBusy;
    position_ = 0;
    PresentReadByte();
  }

  void StartBlockWrite() {
    if (data0_ == 0 || data0_ > kMaxBlock) {
      Finish(kStatusFailed);
      return;
    }
    if (!DevicePresent(address_)) {
      Finish(kStatusDeviceError);
      return;
    }
    block_ = Block::kWrite;
    status_ |= kStatusBusy;
    bytes_.assign(1, blockData_);
    AfterWriteByte();
  }

  void NextBlockByte() {
    if (block_ == Block::kRead) {
      ++position_;
      PresentReadByte();
    } else {
      bytes_.push_back(blockData_);
      AfterWriteByte();
    }
  }

  void PresentReadByte() {
    blockData_ = bytes_[position_];
    status_ |= kStatusByteDone;
    if (position_ + 1 == bytes_.size() || (control_ & kControlLastByte) != 0) Finish(kStatusComplete);
  }

  void AfterWriteByte() {
    status_ |= kStatusByteDone;
    if (bytes_.size() < data0_) return;
    const Outcome outcome = BlockWrite(address_, command_, bytes_);
    Finish(outcome == Outcome::kDone ? kStatusComplete : kStatusDeviceError);
  }

  void Finish(std::uint8_t result) {
    status_ = static_cast<std::uint8_t>((status_ & ~kStatusBusy) | result);
    block_ = Block::kNone;
  }

  std::uint8_t status_ = 0, control_ = 0, command_ = 0, address_ = 0;
  std::uint8_t data0_ = 0, data1_ = 0, blockData_ = 0;
  Block block_ = Block::kNone;
  std::vector<std::uint8_t> bytes_;
  std::size_t position_ = 0;
};

constexpr std::array<SmbusHostChip::Model, 3> kModels = {{{101, 0x2443}, {102, 0x24C3}, {103, 0x24D3}}};

void BuildIchSmbus(const ChipConfig& config, Board& board) {
  SmbusHostChip::Identity identity;
  identity.location = {0, 31, 3};
  identity.vendorId = 0x8086;
  identity.deviceId = SmbusHostChip::DeviceIdForKind(config, kModels);
  identity.baseRegister = 0x20;
  identity.base = SmbusHostChip::ProfileBase(config, kPortCount, 0x0400);
  identity.portCount = kPortCount;
  SmbusHostChip::Build<IchSmbus>(config, board, "ich-smbus", identity);
}

}  // namespace

RQ_SIM_CHIP("ich-smbus", BuildIchSmbus);

}  // namespace rq::sim
