#include "tuning/Styles.h"

namespace harmolune::tuning {

namespace {

// Lower keys: A0 21, C1 24, A1 33, C2 36, C3 48, C4 60, A4 69, C5 72, C6 84,
// C7 96. An interval's upper key must stay at or below C8 (108).
std::vector<Style> MakeStyles() {
    return {
        // What good tunings of grands do: the low bass wider than 6:3,
        // towards 10:5 and 8:4, 6:3 from C2 to A3, and 4:2 from there to the
        // top; the twelfths and double octaves of the tenor heard too.
        {"Standard",
         {
             {12, 10, 5, 21, 36, 1.0, 4},
             {12, 8, 4, 21, 50, 1.0, 4},
             {12, 6, 3, 36, 57, 1.0, 4},
             {12, 4, 2, 57, 96, 1.0, 6},
             {19, 6, 2, 36, 53, 0.25, 4},
             {24, 8, 2, 36, 53, 0.25, 4},
         },
         1.0},
        // Pure twelfths over the keyboard, octaves a little wide of 4:2.
        {"Douzièmes pures",
         {
             {19, 6, 2, 21, 40, 2.0, 4},
             {19, 3, 1, 36, 89, 2.0, 4},
             {12, 4, 2, 21, 96, 0.25, 0},
         },
         1.0},
        // The lightest stretch of the common ones: every octave 4:2.
        {"Octaves 4:2", {{12, 4, 2, 21, 96, 1.0, 0}}, 1.0},
        // A wider one: every octave 6:3.
        {"Octaves 6:3", {{12, 6, 3, 21, 96, 1.0, 0}}, 1.0},
    };
}

}  // namespace

const std::vector<Style>& Styles() {
    static const std::vector<Style> styles = MakeStyles();
    return styles;
}

const Style* FindStyle(const std::string& name) {
    for (const Style& style : Styles()) {
        if (style.name == name) {
            return &style;
        }
    }
    return nullptr;
}

const Style& FallbackStyle() {
    static const Style fallback{"", {{12, 4, 2, 21, 96, 1.0, 0}}, 1.0};
    return fallback;
}

}  // namespace harmolune::tuning
