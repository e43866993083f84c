// Random and mutated requests through the decoder, for builds without libFuzzer.
#include <gtest/gtest.h>

#include <random>

#include "driver/FuzzRequest.h"

namespace rq::driver {
namespace {

TEST(FuzzReplay, RandomAndMutatedRequestsKeepTheDecodersPromises) {
  testing::FakeBackend backend;
  backend.SetLogging(false);
  Dispatcher dispatcher(backend);
  std::mt19937 random(20031102);
  // Well-formed seeds of each kind, then bit flips, truncations and extensions of them.
  std::vector<std::vector<std::uint8_t>> seeds;
  for (std::uint8_t pick = 0; pick < 14; pick += 2) {
    for (std::size_t length : {8u, 12u, 20u, 6u, 11u}) {
      std::vector<std::uint8_t> seed(1 + length, 0);
      seed[0] = pick;
      seeds.push_back(seed);
    }
  }
  std::vector<std::uint8_t> memory = {4, 0xC1, 0xE0, 0x0F, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  seeds.push_back(memory);
  for (int round = 0; round < 40000; ++round) {
    std::vector<std::uint8_t> input = seeds[random() % seeds.size()];
    const int mutations = 1 + static_cast<int>(random() % 4);
    for (int m = 0; m < mutations; ++m) {
      switch (random() % 4) {
        case 0:
          if (!input.empty())
            input[random() % input.size()] ^= static_cast<std::uint8_t>(1u << (random() % 8));
          break;
        case 1:
          if (!input.empty()) input[random() % input.size()] = static_cast<std::uint8_t>(random());
          break;
        case 2:
          if (!input.empty()) input.resize(random() % input.size());
          break;
        default:
          input.push_back(static_cast<std::uint8_t>(random()));
          break;
      }
    }
    testing::FuzzOneRequest(dispatcher, input.data(), input.size());  // aborts on a broken promise
  }
  SUCCEED();
}

}  // namespace
}  // namespace rq::driver
