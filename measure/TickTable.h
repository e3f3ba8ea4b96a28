#pragma once
// The per-block table that harmolune-measure prints, and that the sound tests
// print when a measurement goes wrong.

#include <iosfwd>

#include "measure/MeasuringCycle.h"

namespace harmolune {

// The header of the per-block table, and one line of it: the block's number,
// level, band, peak bin, estimate (or "-") and the sampling state after it.
extern const char* const kTickTableHeader;
void WriteTickRow(std::ostream& out, long long index, const TickReport& report,
                  long long samplingState);

}  // namespace harmolune
