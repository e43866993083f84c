#pragma once
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "driver/Dispatcher.h"
#include "driver/FakeBackend.h"
#include "protocol/Protocol.h"

namespace rq::driver::testing {

// One fuzzed request: the first byte picks a served code (or, when odd, the next
// four bytes give any code), the rest is the buffer. Checks what every request
// must keep whatever its bytes: a failure leaves the buffer exactly as it was, and
// a success writes nothing but the request's out fields. Aborts on a violation.
inline void FuzzOneRequest(Dispatcher& dispatcher, const std::uint8_t* data, std::size_t size) {
  static constexpr std::uint32_t kCodes[] = {
      protocol::kIoctlReadIndexedByte,     protocol::kIoctlWriteIndexedByte,
      protocol::kIoctlReadPhysicalMemory,  protocol::kIoctlReadPciConfigWord,
      protocol::kIoctlReadPortByte,        protocol::kIoctlWritePortByte,
      protocol::kIoctlReadTimeStampCounter};
  if (size == 0) return;
  std::uint32_t code = kCodes[(data[0] >> 1) % (sizeof kCodes / sizeof kCodes[0])];
  std::size_t at = 1;
  if ((data[0] & 1) != 0 && size >= 5) {
    code = protocol::LoadU32(data, 1);
    at = 5;
  }
  std::vector<std::uint8_t> buffer(data + at, data + size);
  const std::vector<std::uint8_t> before = buffer;
  const bool ok = dispatcher.Dispatch(code, buffer);
  if (!ok) {
    if (buffer != before) std::abort();
    return;
  }
  // Which bytes a successful request may change.
  std::size_t outFirst = 0, outEnd = 0;
  switch (code) {
    case protocol::kIoctlReadPortByte:
      if (buffer.size() != protocol::port_request::kLength) std::abort();
      outFirst = protocol::port_request::kValueRead, outEnd = outFirst + 4;
      break;
    case protocol::kIoctlReadIndexedByte:
      if (buffer.size() != protocol::indexed_request::kLength) std::abort();
      outFirst = protocol::indexed_request::kValueRead, outEnd = outFirst + 4;
      break;
    case protocol::kIoctlReadPciConfigWord:
      if (buffer.size() != protocol::pci_request::kLength) std::abort();
      outFirst = protocol::pci_request::kValueRead, outEnd = outFirst + 2;
      break;
    case protocol::kIoctlReadPhysicalMemory:
      if (buffer.size() < protocol::memory_request::kHeaderLength ||
          protocol::LoadU16(before.data(), protocol::memory_request::kLengthField) >
              buffer.size() - protocol::memory_request::kHeaderLength) {
        std::abort();
      }
      outFirst = protocol::memory_request::kData,
      outEnd = outFirst + protocol::LoadU16(before.data(), protocol::memory_request::kLengthField);
      break;
    case protocol::kIoctlReadTimeStampCounter:
      if (buffer.size() != protocol::tsc_request::kLength) std::abort();
      outFirst = 0, outEnd = protocol::tsc_request::kLength;
      break;
    case protocol::kIoctlWritePortByte:
      if (buffer.size() != protocol::port_request::kLength) std::abort();
      break;
    case protocol::kIoctlWriteIndexedByte:
      if (buffer.size() != protocol::indexed_request::kLength) std::abort();
      break;
    case protocol::kIoctlBusLock:  // no out field
      if (buffer.size() != protocol::bus_lock_request::kLength) std::abort();
      break;
    default:
      std::abort();  // an unknown code must never succeed
  }
  for (std::size_t i = 0; i < buffer.size(); ++i) {
    if ((i < outFirst || i >= outEnd) && buffer[i] != before[i]) std::abort();
  }
}

}  // namespace rq::driver::testing
