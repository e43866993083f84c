#include <array>
#include <vector>

#include "sim/smbus/SmbusHostChip.h"

namespace rq::sim {
namespace {

constexpr std::uint8_t kStatus = 0x00;
constexpr std::uint8_t kHostControl = 0x03;
constexpr std::uint8_t kAddress = 0x04;
constexpr std::uint8_t kCommand = 0x05;
constexpr std::uint8_t kByteCount = 0x07;
constexpr std::uint8_t kDataFirst = 0x08;
constexpr std::uint16_t kPortCount = kDataFirst + 32;
constexpr std::uint16_t kFixedBase = 0x10C0;

constexpr std::uint8_t kStatusBusy = 0x01;
constexpr std::uint8_t kStatusFailed = 0x02;
constexpr std::uint8_t kStatusComplete = 0x08;
constexpr std::uint8_t kStatusByteDone = 0x10;

constexpr std::uint8_t kHostControlProtocolMask = 0x0F;
constexpr std::uint8_t kHostControlStart = 0x10;
constexpr std::uint8_t kHostControlKill = 0x20;
constexpr std::uint8_t kProtocolByteData = 0x02;
constexpr std::uint8_t kProtocolBlock = 0x05;

constexpr std::uint8_t kReadBit = 0x01;

// The SiS 962/963 host: the byte count and one port per data byte; a transaction
// completes at once and reports completion together with byte-done (the data
// ports hold the result). A device that does not answer fails the transaction.
class Sis962Smbus final : public SmbusHostChip {
 public:
  using SmbusHostChip::SmbusHostChip;

 private:
  std::uint8_t Read(std::uint8_t offset) override {
    if (offset >= kDataFirst) return data_[offset - kDataFirst];
    switch (offset) {
      case kStatus:
        return status_;
      case kHostControl:
        return static_cast<std::uint8_t>(hostControl_ & ~kHostControlStart);
      case kAddress:
        return address_;
      case kCommand:
        return command_;
      case kByteCount:
        return count_;
      default:
        return 0;
    }
  }

  void Write(std::uint8_t offset, std::uint8_t value) override {
    if (offset >= kDataFirst) {
      data_[offset - kDataFirst] = value;
      return;
    }
    switch (offset) {
      case kStatus:
        status_ = static_cast<std::uint8_t>(status_ & ~(value & ~kStatusBusy));
        break;
      case kHostControl:
        WriteHostControl(value);
        break;
      case kAddress:
        address_ = value;
        break;
      case kCommand:
        command_ = value;
        break;
      case kByteCount:
        count_ = value;
        break;
      default:
        break;
    }
  }

  void ResetRegisters() override {
    status_ = hostControl_ = address_ = command_ = count_ = 0;
    data_.fill(0);
  }

  nlohmann::json InspectRegisters() const override {
    return {{"status", status_},
            {"hostControl", hostControl_},
            {"address", address_},
            {"command", command_},
            {"count", count_}};
  }

  void WriteHostControl(std::uint8_t value) {
    hostControl_ = static_cast<std::uint8_t>(value & ~kHostControlStart);
    if ((value & kHostControlKill) != 0) {
      if ((status_ & kStatusBusy) != 0) Finish(kStatusFailed);
      return;
    }
    if ((value & kHostControlStart) == 0 || (status_ & kStatusBusy) != 0) return;
    const bool read = (address_ & kReadBit) != 0;
    Outcome outcome = Outcome::kDone;
    switch (value & kHostControlProtocolMask) {
      case kProtocolByteData:
        outcome =
            read ? ReadByteData(address_, command_, data_[0]) : WriteByteData(address_, command_, data_[0]);
        break;
      case kProtocolBlock:
        if (read) {
          std::vector<std::uint8_t> bytes;
          outcome = BlockRead(address_, command_, bytes);
          if (outcome == Outcome::kDone) {
            std::copy(bytes.begin(), bytes.end(), data_.begin());
            count_ = static_cast<std::uint8_t>(bytes.size());
          }
        } else if (count_ == 0 || count_ > kMaxBlock) {
          outcome = Outcome::kRefused;
        } else {
          outcome = BlockWrite(address_, command_, std::span(data_.data(), count_));
        }
        break;
      default:
        outcome = Outcome::kRefused;
        break;
    }
    Finish(outcome == Outcome::kDone ? static_cast<std::uint8_t>(kStatusComplete | kStatusByteDone)
                                     : kStatusFailed);
  }

  void Finish(std::uint8_t result) { status_ = static_cast<std::uint8_t>((status_ & ~kStatusBusy) | result); }

  std::uint8_t status_ = 0, hostControl_ = 0, address_ = 0, command_ = 0, count_ = 0;
  std::array<std::uint8_t, kMaxBlock> data_{};
};

void BuildSis962Smbus(const ChipConfig& config, Board& board) {
  // The SMBus host sits behind the south bridge's LPC function, which has no base
  // register for it: the base is fixed, and a `base` key is refused as unknown.
  SmbusHostChip::Identity identity;
  identity.location = {0, 2, 0};
  identity.vendorId = 0x1039;
  identity.deviceId = 0x0008;
  identity.baseRegister = 0;
  identity.base = kFixedBase;
  identity.portCount = kPortCount;
  SmbusHostChip::Build<Sis962Smbus>(config, board, "sis962-smbus", identity);
}

}  // namespace

RQ_SIM_CHIP("sis962-smbus", BuildSis962Smbus);

}  // namespace rq::sim
