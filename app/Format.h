#pragma once
#include <QString>

namespace rq::app {

// The number forms the windows show: the shortest general form (up to 15
// significant digits, no trailing zeros: 133.3, 200) and one fixed decimal.
QString FormatGeneral(double value);
QString FormatFixed1(double value);

}  // namespace rq::app
