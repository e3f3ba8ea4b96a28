#include "measure/TickTable.h"

#include <optional>
#include <ostream>

#include "core/Numbers.h"

namespace harmolune {

const char* const kTickTableHeader = "block\tlevel\tfirst\tlast\tpeak\testimate\tstate\n";

void WriteTickRow(std::ostream& out, long long index, const TickReport& report,
                  long long samplingState) {
    const Band band = report.band.value_or(Band{});
    out << index << '\t' << report.level << '\t' << band.first << '\t' << band.last << '\t'
        << report.peakBin << '\t'
        << (report.estimateHz ? FormatFixed(*report.estimateHz, 6, ".") : "-") << '\t'
        << samplingState << '\n';
}

}  // namespace harmolune
