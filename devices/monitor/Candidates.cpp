#include "devices/monitor/ISAHwMonitorIo.h"

namespace rq::devices {

CandidateList<ISAHwMonitorIo> HardwareMonitorCandidates() { return {}; }

}  // namespace rq::devices
