#pragma once

namespace rq::devices {

// Rounds as formatting with a fixed-decimals pattern ("0", "0.0", "00.00") and
// reading the text back does: halves go away from zero, judged on the decimal
// digits a double reliably holds (15 significant), so 2.675 becomes 2.68 and
// 0.15 becomes 0.2 although neither is exact in binary. NaN and infinities pass
// through unchanged.
double RoundTo(double value, int decimals);

}  // namespace rq::devices
