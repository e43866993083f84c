#pragma once
#include <cstdint>

namespace rq::hw {

// An index/data register pair: the register number goes to the index port and the
// register is then read or written through the data port.
struct IndexedPair {
  std::uint32_t indexPort;
  std::uint32_t dataPort;
};

// The driver channel. It has no state of its own: every operation reads the
// process-wide driver state. Failures are reported as false (0 for the PCI word)
// and leave the caller's out values untouched.
class IOInterface {
 public:
  IOInterface() = default;
  virtual ~IOInterface() = default;

  bool ReadPortByte(std::uint16_t port, std::uint32_t& value) const;
  bool WritePortByte(std::uint16_t port, std::uint8_t value) const;
  bool ReadIndexedByte(IndexedPair pair, std::uint32_t index, std::uint32_t& value) const;
  bool WriteIndexedByte(IndexedPair pair, std::uint32_t index, std::uint8_t value) const;
  std::uint16_t ReadPciConfigWord(std::uint8_t bus, std::uint8_t device, std::uint8_t function,
                                  std::uint8_t reg) const;
  // Copies length - 1 bytes: the last destination byte is left as it was, so a
  // zero-filled destination always ends in a terminated text.
  bool ReadPhysicalMemory(std::uint32_t address, std::uint8_t* destination, std::uint16_t length) const;
  void DelayMs(std::uint32_t ms) const;

  // A further request of our driver: the CPU's time-stamp counter as the driver's
  // machine sees it (the virtual board's CPU follows its simulated clock).
  bool ReadTimeStampCounter(std::uint64_t& tsc) const;

  // Another: the driver's lock of a bus for a whole register sequence, shared with
  // every other program of the driver. `key` names the bus: the SMBus host's base
  // port, or the index port of an index/data pair. Taking waits while another
  // program holds it and fails after the driver's bound; this connection may take
  // a key it holds again, and gives it as often.
  bool TakeBusLock(std::uint32_t key) const;
  bool GiveBusLock(std::uint32_t key) const;
};

}  // namespace rq::hw
