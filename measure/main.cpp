// harmolune-measure: measures a recording as the window measures the instrument.
#include <iostream>
#include <string>
#include <vector>

#include "measure/MeasureTool.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const int status = harmolune::MeasureMain(args, std::cout, std::cerr);
    std::cout.flush();
    return std::cout ? status : 2;
}
