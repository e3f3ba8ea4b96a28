// Runs every file named on the command line, or found in the folders named
// there, through the target's LLVMFuzzerTestOneInput: the corpus replay that
// `make test` runs with any compiler, libFuzzer or not.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

bool Replay(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", file.c_str());
        return false;
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    // An empty vector has no data(): give the target a valid pointer anyway.
    static const std::uint8_t kNothing = 0;
    const auto* data =
        bytes.empty() ? &kNothing : reinterpret_cast<const std::uint8_t*>(bytes.data());
    LLVMFuzzerTestOneInput(data, bytes.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int replayed = 0;
    bool ok = true;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path path(argv[i]);
        std::vector<std::filesystem::path> files;
        if (std::filesystem::is_directory(path)) {
            for (const auto& entry : std::filesystem::directory_iterator(path)) {
                if (entry.is_regular_file()) {
                    files.push_back(entry.path());
                }
            }
        } else {
            files.push_back(path);
        }
        for (const auto& file : files) {
            ok = Replay(file) && ok;
            ++replayed;
        }
    }
    std::printf("replayed %d inputs\n", replayed);
    // A replay that finds nothing is a mistake in the test's set-up.
    return ok && replayed > 0 ? 0 : 1;
}
