#pragma once
// What the clock generators' data sheets say, typed in for the virtual board on
// its own: the frequencies behind each frequency-select setting, the references
// the PLLs run from and the CPU output divider codes. The program's drivers keep
// their own copy; a mistake in theirs must show up as a disagreement with these
// chips, never be shared by them.
#include <array>

namespace rq::sim::datasheet {

// The ICS parts' crystal and the Cypress parts' 48 MHz reference.
inline constexpr double kIcsCrystalMhz = 14.31818;
inline constexpr double kCypressReferenceMhz = 48.00741;

// ICS CPU output divider for each code of register 15's low nibble.
inline constexpr std::array<unsigned, 16> kIcsCpuDividers = {2, 3,  5,  7,  4,  6,  10, 14,
                                                             8, 12, 20, 28, 16, 24, 40, 56};

using SelectTable = std::array<double, 32>;

inline constexpr SelectTable kIcs950218 = {
    102,  105,   108,   111,   114,  117, 120, 123,  //
    126,  130,   136,   140,   144,  148, 152, 156,  //
    160,  164,   166.6, 170,   175,  180, 185, 190,  //
    66.8, 100.2, 133.6, 200.4, 66.6, 100, 200, 133.3,
};

inline constexpr SelectTable kIcs950905 = {
    102,  105,   108,   111,   114,  117, 120, 123,  //
    126,  130,   133.9, 140,   144,  148, 152, 156,  //
    160,  164,   166.6, 170,   175,  180, 185, 190,  //
    66.8, 100.9, 133.6, 200.4, 66.6, 100, 200, 133.3,
};

inline constexpr SelectTable kIcs950910 = {
    102, 105,    108,   111,    114, 117,    120, 123,     //
    126, 130,    133.9, 140,    144, 148,    152, 156,     //
    105, 140,    210,   174.99, 80,  106.66, 160, 133.33,  //
    100, 133.33, 200,   166.66, 100, 133.33, 200, 166.66,
};

inline constexpr SelectTable kIcs9428 = {
    66.66, 100,   166.66, 133.33, 66.66,  100,    100,   133.33,  //
    112,   124,   138,    150,    66.66,  133.33, 150,   160,     //
    90,    100.9, 103,    133.9,  137.33, 137.33, 100.9, 133.9,   //
    107,   107,   142.66, 110,    110,    146.66, 166.7, 200,
};

inline constexpr SelectTable kIcs952005 = {
    100.2,  100.2,  100.2,  100.2,  133.6, 133.6, 133.6,  133.6,  //
    200.05, 200.05, 200.05, 200.05, 166.7, 166.7, 166.04, 166.7,  //
    100.2,  100.2,  100.2,  100.2,  133.6, 133.6, 133.6,  133.6,  //
    200.05, 200.05, 200.05, 200.05, 166.7, 166.7, 166.04, 166.7,
};

// Entries 16 to 18 are reserved settings: they name no clock.
inline constexpr SelectTable kW312 = {
    156, 154, 152, 147,  144, 142,   138, 136,  //
    124, 122, 117, 115,  113, 108,   105, 102,  //
    0,   0,   0,   200,  190, 180,   170, 150,  //
    140, 120, 110, 66.6, 200, 166.6, 100, 133.3,
};

// The CY28323 and CY28325 select the same clocks as the ICS950218.
inline constexpr const SelectTable& kCy28323 = kIcs950218;
inline constexpr const SelectTable& kCy28325 = kIcs950218;

inline constexpr SelectTable kCy28349 = {
    100.7, 100.9, 108,   101.2, 114,   117, 120, 123,  //
    126,   130,   133.9, 134.2, 134.5, 148, 152, 156,  //
    160,   164,   167.4, 170,   175,   180, 185, 190,  //
    166.8, 100.2, 133.6, 200.4, 166.6, 100, 200, 133.3,
};

inline constexpr SelectTable kCy28405 = {
    100.7, 100.2, 108,   101.2, 114,   117,   120, 123,  //
    125.7, 130.3, 133.6, 134.2, 134.5, 148,   152, 156,  //
    160,   164,   167.4, 170,   175,   180,   185, 190,  //
    100.9, 133.9, 200.9, 166.9, 100,   133.3, 200, 166.7,
};

inline constexpr std::array<double, 16> kCy28341 = {
    66.8, 100, 120, 133.3, 72, 105, 160, 140,  //
    77,   110, 180, 166.6, 90, 100, 200, 133.3,
};

// The CY28405's PLL output per unit of N/M for each bus class its strap names,
// and the CY28341's PLL reference.
inline constexpr double kCy28405Unit100 = 23.9992252;
inline constexpr double kCy28405Unit133 = 31.9989666;
inline constexpr double kCy28405Unit200 = 47.9984504;
inline constexpr double kCy28341ReferenceMhz = 96.016;

// The bus class is taken from the whole megahertz of the strap's clock.
constexpr double Cy28405Unit(double strapMhz) {
  const int whole = static_cast<int>(strapMhz);
  if (whole >= 100 && whole <= 125) return kCy28405Unit100;
  if (whole > 125 && whole <= 166) return kCy28405Unit133;
  return kCy28405Unit200;
}

}  // namespace rq::sim::datasheet
