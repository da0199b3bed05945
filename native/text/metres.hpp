// The metre rule: a setting's float strictly between 1e-10 and 1e-2 is taken
// for a length in metres and becomes micrometres (times 1e6).  The rule looks
// at the value alone, never at the key.
#pragma once

namespace tessel::text {

inline constexpr double kMetresLow = 1e-10, kMetresHigh = 1e-2, kMetresToMicrometres = 1e6;

// Whether the metre rule converts `value` (false for NaN).
constexpr bool taken_for_metres(double value) { return kMetresLow < value && value < kMetresHigh; }

}  // namespace tessel::text
