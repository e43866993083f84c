#pragma once
// The chips' own data: output divider codes and the frequencies their
// frequency-select settings name. The virtual board keeps its own copy, typed
// separately from the data sheets, so that a wrong entry here fails against it.
#include <array>

#include "devices/clockgen/ClockGenSupport.h"

namespace rq::devices::clockgen {

// Reference crystal of the ICS PLLs and the 48 MHz reference of the Cypress PLLs.
inline constexpr double kIcsReferenceMhz = 14.31818;
inline constexpr double kCypressReferenceMhz = 48.00741;

// CPU and AGP divider codes (Table A) and PCI divider codes (Table B) of the ICS
// parts that read their output dividers from registers.
inline constexpr std::array<unsigned, 16> kTableA = {2, 3, 5, 7, 4, 6, 10, 14, 8, 12, 20, 28, 16, 24, 40, 56};
inline constexpr std::array<unsigned, 16> kTableB = {4,  3,  5,  9,  8,  6,  10, 18,
                                                     16, 12, 20, 36, 32, 24, 40, 72};

inline constexpr FrequencyTable kIcs950218Table = {102,  105,   108,   111,   114,  117, 120, 123,  //
                                                   126,  130,   136,   140,   144,  148, 152, 156,  //
                                                   160,  164,   166.6, 170,   175,  180, 185, 190,  //
                                                   66.8, 100.2, 133.6, 200.4, 66.6, 100, 200, 133.3};

inline constexpr FrequencyTable kIcs950905Table = {102,  105,   108,   111,   114,  117, 120, 123,  //
                                                   126,  130,   133.9, 140,   144,  148, 152, 156,  //
                                                   160,  164,   166.6, 170,   175,  180, 185, 190,  //
                                                   66.8, 100.9, 133.6, 200.4, 66.6, 100, 200, 133.3};

inline constexpr FrequencyTable kIcs950910Table = {102, 105,    108,   111,    114, 117,    120, 123,     //
                                                   126, 130,    133.9, 140,    144, 148,    152, 156,     //
                                                   105, 140,    210,   174.99, 80,  106.66, 160, 133.33,  //
                                                   100, 133.33, 200,   166.66, 100, 133.33, 200, 166.66};

inline constexpr FrequencyTable kIcs9428Table = {
    66.66, 100,   166.66, 133.33, 66.66,  100,    100,   133.33,  //
    112,   124,   138,    150,    66.66,  133.33, 150,   160,     //
    90,    100.9, 103,    133.9,  137.33, 137.33, 100.9, 133.9,   //
    107,   107,   142.66, 110,    110,    146.66, 166.7, 200};

inline constexpr FrequencyTable kIcs952005Table = {
    100.2,  100.2,  100.2,  100.2,  133.6, 133.6, 133.6,  133.6,  //
    200.05, 200.05, 200.05, 200.05, 166.7, 166.7, 166.04, 166.7,  //
    100.2,  100.2,  100.2,  100.2,  133.6, 133.6, 133.6,  133.6,  //
    200.05, 200.05, 200.05, 200.05, 166.7, 166.7, 166.04, 166.7};

inline constexpr FrequencyTable kCypW312Table = {156, 154, 152, 147,  144, 142,   138, 136,  //
                                                 124, 122, 117, 115,  113, 108,   105, 102,  //
                                                 0,   0,   0,   200,  190, 180,   170, 150,  //
                                                 140, 120, 110, 66.6, 200, 166.6, 100, 133.3};

// The CY28323 and CY28325 select the same frequencies as the ICS950218.
inline constexpr const FrequencyTable& kCypCy28323Table = kIcs950218Table;
inline constexpr const FrequencyTable& kCypCy28325Table = kIcs950218Table;

inline constexpr FrequencyTable kCypCy28405Table = {100.7, 100.2, 108,   101.2, 114,   117,   120, 123,  //
                                                    125.7, 130.3, 133.6, 134.2, 134.5, 148,   152, 156,  //
                                                    160,   164,   167.4, 170,   175,   180,   185, 190,  //
                                                    100.9, 133.9, 200.9, 166.9, 100,   133.3, 200, 166.7};

inline constexpr FrequencyTable kCypCy28349Table = {100.7, 100.9, 108,   101.2, 114,   117, 120, 123,  //
                                                    126,   130,   133.9, 134.2, 134.5, 148, 152, 156,  //
                                                    160,   164,   167.4, 170,   175,   180, 185, 190,  //
                                                    166.8, 100.2, 133.6, 200.4, 166.6, 100, 200, 133.3};

inline constexpr std::array<double, 16> kCypCy28341Table = {66.8, 100, 120, 133.3, 72, 105, 160, 140,  //
                                                            77,   110, 180, 166.6, 90, 100, 200, 133.3};

// The CY28405's PLL output scale per bus class (its post-divider), and the
// CY28341's PLL reference.
inline constexpr double kCy28405Scale100 = 23.9992252;
inline constexpr double kCy28405Scale133 = 31.9989666;
inline constexpr double kCy28405Scale200 = 47.9984504;
inline constexpr double kCy28341ReferenceMhz = 96.016;

// The CY28405 scale for a frequency-select setting naming `nominal` MHz.
constexpr double Cy28405Scale(double nominal) {
  const int c = static_cast<int>(nominal);
  if (c >= 100 && c <= 125) return kCy28405Scale100;
  if (c > 125 && c <= 166) return kCy28405Scale133;
  return kCy28405Scale200;
}

}  // namespace rq::devices::clockgen
