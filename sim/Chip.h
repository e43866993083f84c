#pragma once
#include <nlohmann/json.hpp>
#include <string>

namespace rq::sim {

// Every simulated part of the board: it can be brought back to its power-on state
// and can describe its state for inspection.
class Chip {
 public:
  virtual ~Chip() = default;
  virtual std::string Name() const = 0;
  virtual void PowerOnReset() = 0;
  virtual nlohmann::json Inspect() const { return nlohmann::json::object(); }
};

}  // namespace rq::sim
