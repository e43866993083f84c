#include "devices/monitor/MonitorChips.h"

namespace rq::devices {

CandidateList<ISAHwMonitorIo> HardwareMonitorCandidates() {
  return {Make<W83627HFIo>, Make<W83697HFIo>, Make<IT8712FIo>, Make<IT8705FIo>, Make<IT8722FIo>};
}

}  // namespace rq::devices
