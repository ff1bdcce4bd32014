// The constant-step resampler's reference path. TLitdat::constantstepTransform is the fast one:
// it shares logarithms, decodes each angle once, stops the nearest-point search early on sorted
// angles and reuses the solved polynomial while the nearest point stays. This one does the
// arithmetic as it reads, one Puissance per matrix entry and no shortcut; the two must agree bit
// for bit on every input, which the tests check.
#pragma once

#include "ulit_dat/records.h"

#include <cstdint>

namespace rawdat {

std::int16_t constantstepTransformPlain(std::int16_t n, const TReal48Array& Angles, double Start,
                                        double Stop, double Step, TReal48Array& Output,
                                        const TReal48Array& Input);

} // namespace rawdat
