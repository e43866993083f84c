#include "devices/overclock/I2cOverclkIo.h"

namespace rq::devices {

CandidateList<I2cOverclkIo> OverclockControllerCandidates() { return {}; }

}  // namespace rq::devices
