#include "devices/gpiovolt/GpioVoltIo.h"

namespace rq::devices {

CandidateList<GpioVoltIo> GpioVoltageCandidates() { return {}; }

}  // namespace rq::devices
