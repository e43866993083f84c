#include <array>
#include <vector>

#include "sim/smbus/SmbusHostChip.h"

namespace rq::sim {
namespace {

constexpr std::uint8_t kProtocol = 0x00;
constexpr std::uint8_t kStatus = 0x01;
constexpr std::uint8_t kAddress = 0x02;
constexpr std::uint8_t kCommand = 0x03;
constexpr std::uint8_t kDataFirst = 0x04;
constexpr std::uint8_t kByteCount = 0x24;
constexpr std::uint16_t kPortCount = 0x40;

constexpr std::uint8_t kStatusDone = 0x80;
constexpr std::uint8_t kResultNoAcknowledge = 0x10;
constexpr std::uint8_t kResultDeviceError = 0x11;
constexpr std::uint8_t kResultUnknownProtocol = 0x1F;

constexpr std::uint8_t kProtocolClear = 0x00;
constexpr std::uint8_t kProtocolReadBit = 0x01;
constexpr std::uint8_t kProtocolMask = 0x7E;
constexpr std::uint8_t kProtocolByteData = 0x06;
constexpr std::uint8_t kProtocolBlockData = 0x0A;

// The nVidia MCP host: writing the protocol register runs the transaction at once
// and leaves done (0x80) in the status, with an error code in the low bits when it
// failed; writing 0 there clears the status. The address register holds the
// device address in 8-bit form.
class NvidiaMcpSmbus final : public SmbusHostChip {
 public:
  using SmbusHostChip::SmbusHostChip;

 private:
  std::uint8_t Read(std::uint8_t offset) override {
    if (offset >= kDataFirst && offset < kDataFirst + kMaxBlock) return data_[offset - kDataFirst];
    switch (offset) {
      case kProtocol:
        return protocol_;
      case kStatus:
        return status_;
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
    if (offset >= kDataFirst && offset < kDataFirst + kMaxBlock) {
      data_[offset - kDataFirst] = value;
      return;
    }
    switch (offset) {
      case kProtocol:
        WriteProtocol(value);
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
    protocol_ = status_ = address_ = command_ = count_ = 0;
    data_.fill(0);
  }

  nlohmann::json InspectRegisters() const override {
    return {{"protocol", protocol_},
            {"status", status_},
            {"address", address_},
            {"command", command_},
            {"count", count_}};
  }

  void WriteProtocol(std::uint8_t value) {
    protocol_ = value;
    if (value == kProtocolClear) {
      status_ = 0;
      return;
    }
    const bool read = (value & kProtocolReadBit) != 0;
    Outcome outcome = Outcome::kDone;
    switch (value & kProtocolMask) {
      case kProtocolByteData:
        outcome =
            read ? ReadByteData(address_, command_, data_[0]) : WriteByteData(address_, command_, data_[0]);
        break;
      case kProtocolBlockData:
        if (read) {
          std::vector<std::uint8_t> bytes;
          outcome = BlockRead(address_, command_, bytes);
          if (outcome == Outcome::kDone) {
            std::copy(bytes.begin(), bytes.end(), data_.begin());
            count_ = static_cast<std::uint8_t>(bytes.size());
          }
        } else if (count_ == 0 || count_ > kMaxBlock) {
          status_ = kStatusDone | kResultUnknownProtocol;
          return;
        } else {
          outcome = BlockWrite(address_, command_, std::span(data_.data(), count_));
        }
        break;
      default:
        status_ = kStatusDone | kResultUnknownProtocol;
        return;
    }
    switch (outcome) {
      case Outcome::kDone:
        status_ = kStatusDone;
        break;
      case Outcome::kNoDevice:
        status_ = kStatusDone | kResultNoAcknowledge;
        break;
      case Outcome::kRefused:
        status_ = kStatusDone | kResultDeviceError;
        break;
    }
  }

  std::uint8_t protocol_ = 0, status_ = 0, address_ = 0, command_ = 0, count_ = 0;
  std::array<std::uint8_t, kMaxBlock> data_{};
};

void BuildNvidiaMcpSmbus(const ChipConfig& config, Board& board) {
  SmbusHostChip::Identity identity;
  identity.location = {0, 1, 1};
  identity.vendorId = 0x10DE;
  identity.deviceId = 0x0064;
  identity.baseRegister = 0x54;
  identity.base = SmbusHostChip::ProfileBase(config, kPortCount, 0x5000);
  identity.portCount = kPortCount;
  SmbusHostChip::Build<NvidiaMcpSmbus>(config, board, "nvidia-mcp-smbus", identity);
}

}  // namespace

RQ_SIM_CHIP("nvidia-mcp-smbus", BuildNvidiaMcpSmbus);

}  // namespace rq::sim
