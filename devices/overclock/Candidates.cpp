#include "devices/overclock/I2cOverclkIo.h"

namespace rq::devices {

CandidateList<I2cOverclkIo> OverclockControllerCandidates() { return {Make<ATX3PIo>, Make<ATX1PIo>}; }

}  // namespace rq::devices
