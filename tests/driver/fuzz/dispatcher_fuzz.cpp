// libFuzzer entry for the request decoder.
#include <cstddef>
#include <cstdint>

#include "driver/FuzzRequest.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static rq::driver::testing::FakeBackend backend;
  static rq::driver::Dispatcher dispatcher(backend);
  backend.SetLogging(false);
  rq::driver::testing::FuzzOneRequest(dispatcher, data, size);
  return 0;
}
