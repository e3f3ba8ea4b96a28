// harmolune-measure: measures a recording, or the default input, as the window
// measures the instrument.
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <memory>
#include <streambuf>
#include <string>
#include <vector>

#include "cli/MeasureTexts.h"
#include "cli/MeasureTool.h"
#include "sound/CaptureDevice.h"
#ifdef HARMOLUNE_HAVE_PULSE
#include "sound/pulse/PulseCapture.h"
#include "sound/pulse/PulseClient.h"
#include "sound/pulse/PulseSources.h"
#endif

namespace {

// Standard output that keeps the reason of the first write that failed (a
// full disk, a closed pipe), so that the tool can say it once and end with
// status 2. Nothing is written after a failure.
class StandardOutput final : public std::streambuf {
  public:
    StandardOutput() { setp(buffer_.data(), buffer_.data() + buffer_.size()); }

    // Writes what is buffered; 0, or the errno of the first failure.
    int Flush() {
        Drain();
        return error_;
    }

  protected:
    int overflow(int c) override {
        if (!Drain()) {
            return traits_type::eof();
        }
        if (c != traits_type::eof()) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }
    int sync() override { return Drain() ? 0 : -1; }

  private:
    bool Drain() {
        const char* next = pbase();
        while (next < pptr() && error_ == 0) {
            const ssize_t n = write(STDOUT_FILENO, next, static_cast<std::size_t>(pptr() - next));
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                error_ = n < 0 ? errno : EIO;
                break;
            }
            next += n;
        }
        setp(buffer_.data(), buffer_.data() + buffer_.size());
        return error_ == 0;
    }

    std::array<char, 8192> buffer_{};
    int error_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::unique_ptr<harmolune::CaptureDevice> recorder;
    harmolune::SoundInput input;
#ifdef HARMOLUNE_HAVE_PULSE
    // The sound layer's lines name this program, not the window's.
    harmolune::PulseClient::SetLineTag(harmolune::measure_texts::kTag);
    input.capture = [&recorder](const std::string& source) {
        recorder = harmolune::MakePulseCapture(source);
        return recorder.get();
    };
    input.listSources = &harmolune::ListPulseSources;
#endif
    StandardOutput buffer;
    std::ostream out(&buffer);
    // On a terminal each line shows as it comes, --record's rows included.
    if (isatty(STDOUT_FILENO) == 1) {
        out.setf(std::ios::unitbuf);
    }
    const int status = harmolune::MeasureMain(args, out, std::cerr, input);
    if (const int error = buffer.Flush(); error != 0) {
        std::cerr << harmolune::measure_texts::kTag << harmolune::measure_texts::kCannotWrite
                  << std::strerror(error) << '\n';
        return 2;
    }
    return status;
}
