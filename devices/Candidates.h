#pragma once
#include <functional>
#include <memory>
#include <vector>

namespace rq::devices {

// A family's detection order: each entry constructs one candidate chip object.
template <typename Family>
using CandidateList = std::vector<std::function<std::unique_ptr<Family>()>>;

// Tries each candidate in order with `present` as the presence probe and keeps the
// first that answers; every other candidate is destroyed at once.
template <typename Family, typename Probe>
std::unique_ptr<Family> DetectFirst(const CandidateList<Family>& candidates, Probe present) {
  for (const auto& make : candidates) {
    std::unique_ptr<Family> candidate = make();
    if (candidate && present(*candidate)) return candidate;
  }
  return nullptr;
}

template <typename T>
std::unique_ptr<T> Make() {
  return std::make_unique<T>();
}

}  // namespace rq::devices
