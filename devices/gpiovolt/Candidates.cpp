#include "devices/gpiovolt/SouthBridgeGpios.h"

namespace rq::devices {

CandidateList<GpioVoltIo> GpioVoltageCandidates() {
  return {Make<ICH2GpioVoltIo>,   Make<ICH4GpioVoltIo>,   Make<ICH5GpioVoltIo>,
          Make<VT8235GpioVoltIo>, Make<VT8237GpioVoltIo>, Make<SIS962GpioVoltIo>};
}

}  // namespace rq::devices
