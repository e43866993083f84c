#include "devices/clockgen/CypressClockGens.h"
#include "devices/clockgen/IcsClockGens.h"

namespace rq::devices {

CandidateList<I2cClockGenIo> ClockGeneratorCandidates(const std::string& boardModel) {
  CandidateList<I2cClockGenIo> list = {Make<ICS950218Io>, Make<ICS950905Io>, Make<ICS950910Io>,
                                       Make<ICS94228Io>, Make<ICS9428Io>};
  if (boardModel.starts_with("QAV")) list.push_back(Make<ICS952005Io>);
  list.push_back(Make<ICS952001Io>);
  list.push_back(Make<CYPW312Io>);
  if (boardModel == "KOLGRA" || boardModel == "KOLGra" || boardModel == "VEX800") {
    list.push_back(Make<CYPCY28349Io>);
  } else {
    list.push_back(Make<CYPCY28323Io>);
  }
  list.push_back(Make<CYPCY28325Io>);
  list.push_back(Make<CYPCY28405Io>);
  list.push_back(Make<CYPCY28341Io>);
  return list;
}

}  // namespace rq::devices
