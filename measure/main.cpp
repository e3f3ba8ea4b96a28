// harmolune-measure: measures a recording, or the default input, as the window
// measures the instrument.
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "capture/CaptureDevice.h"
#include "measure/MeasureTool.h"
#ifdef HARMOLUNE_HAVE_PULSE
#include "capture/PulseCapture.h"
#endif

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::unique_ptr<harmolune::CaptureDevice> recorder;
#ifdef HARMOLUNE_HAVE_PULSE
    recorder = harmolune::MakePulseCapture();
#endif
    const int status = harmolune::MeasureMain(args, std::cout, std::cerr, recorder.get());
    std::cout.flush();
    return std::cout ? status : 2;
}
