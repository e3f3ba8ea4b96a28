#include "core/Block.h"

namespace harmolune {

int BlockLevel(const Block& samples) {
    int level = 0;
    for (const std::uint8_t sample : samples) {
        int d = static_cast<int>(sample) - 128;
        if (d < 0) {
            d = -d;
        }
        if (d > level) {
            level = d;
        }
    }
    return level;
}

}  // namespace harmolune
