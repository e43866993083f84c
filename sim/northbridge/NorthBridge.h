#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/ChipConfig.h"
#include "sim/Pci.h"

namespace rq::sim {

class Board;

// The host bridge (memory controller hub) of a virtual board: bus 0, device 0,
// function 0, with the identity bytes of its model and the configuration bytes
// that hold its memory-to-FSB ratio. The program only reads these registers.
class NorthBridgeFunction : public PciFunction {
 public:
  NorthBridgeFunction(PciLocation location, const std::array<std::uint8_t, 256>& powerOn, std::string model,
                      std::string memoryRatio);
  std::string Name() const override;
  nlohmann::json Inspect() const override;

 private:
  std::string model_;
  std::string memoryRatio_;
};

// Model names a profile may give, e.g. "i845e", "via-kt400", "sis648".
std::vector<std::string> NorthBridgeModelNames();

// Builds the north bridge a profile's chip table describes and wires it into the
// board. Keys: model (required); memory_ratio ("133/100"; any fraction of the same
// value selects the same setting); revision, subsystem_vendor, subsystem; raw
// configuration tables bytes and words (host bridge) and, for nvidia-c18,
// memory_bytes and memory_words (function 3), applied last.
void BuildNorthBridge(const ChipConfig& config, Board& board);

}  // namespace rq::sim
