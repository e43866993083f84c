#pragma once
#include <cstdint>
#include <span>
#include <vector>

namespace rq::driver {

// One SMBus transaction as a kernel adapter performs it. `slave` is in 7-bit
// form; a read fills `data` (one byte, or the block the slave sent).
struct SmbusTransfer {
  enum class Kind { kReadByteData, kWriteByteData, kReadBlockData, kWriteBlockData };
  Kind kind = Kind::kReadByteData;
  std::uint8_t slave = 0;
  std::uint8_t command = 0;
  std::vector<std::uint8_t> data;
};

// What the daemon serves requests from: the virtual board or real hardware.
// Each call is one single access; the dispatcher serialises requests, so an
// indexed-pair request (two port accesses) is never split by another client.
// A hung virtual board blocks in these calls: requests stop being answered.
class Backend {
 public:
  virtual ~Backend() = default;
  virtual bool ReadPort(std::uint16_t port, std::uint8_t& value) = 0;
  virtual bool WritePort(std::uint16_t port, std::uint8_t value) = 0;
  virtual bool ReadPciConfigWord(std::uint8_t bus, std::uint8_t device, std::uint8_t function,
                                 std::uint8_t reg, std::uint16_t& value) = 0;
  virtual bool ReadPhysicalMemory(std::uint32_t address, std::span<std::uint8_t> out) = 0;
  // One index/data pair access: the index goes to `indexPort`, then the data port
  // is read or written. A backend that guards its ports overrides these to refuse
  // the pair as a whole before touching either port.
  virtual bool ReadIndexed(std::uint16_t indexPort, std::uint16_t dataPort, std::uint8_t index,
                           std::uint8_t& value) {
    return WritePort(indexPort, index) && ReadPort(dataPort, value);
  }
  virtual bool WriteIndexed(std::uint16_t indexPort, std::uint16_t dataPort, std::uint8_t index,
                            std::uint8_t value) {
    return WritePort(indexPort, index) && WritePort(dataPort, value);
  }
  virtual bool ReadTimeStampCounter(std::uint64_t& /*tsc*/) { return false; }
  // Whether a kernel adapter of the SMBus host at `hostBase` serves transactions
  // here, and one transaction through it. The caller has checked the slave.
  virtual bool HasSmbusAdapter(std::uint16_t /*hostBase*/) { return false; }
  virtual bool SmbusTransaction(std::uint16_t /*hostBase*/, SmbusTransfer& /*transfer*/) { return false; }
};

}  // namespace rq::driver
