// Runs the fuzz target without libFuzzer over files and folders of inputs (the seed corpus under
// CTest, or one input a fuzzing run kept): every file once, in name order.  A broken invariant
// ends the process with its report, right after the name of the input that broke it.
//   tarvex_fuzz_replay [--trace] <input file or folder>...
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace tarvex::fuzz {
extern bool gTrace;
}

int main(int argc, char** argv) {
    std::vector<std::filesystem::path> inputs;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--trace") {
            tarvex::fuzz::gTrace = true;  // every call of every input, with its outcome
            continue;
        }
        const std::filesystem::path path = argv[i];
        if (std::filesystem::is_directory(path)) {
            for (const auto& entry : std::filesystem::directory_iterator(path))
                if (entry.is_regular_file()) inputs.push_back(entry.path());
        } else {
            inputs.push_back(path);
        }
    }
    std::sort(inputs.begin(), inputs.end());
    if (inputs.empty()) {
        std::fprintf(stderr, "usage: %s <input file or folder>...\n", argv[0]);
        return 2;
    }
    for (const auto& path : inputs) {
        std::ifstream file(path, std::ios::binary);
        const std::vector<std::uint8_t> data{std::istreambuf_iterator<char>(file), {}};
        std::fprintf(stderr, "replaying %s (%zu bytes)\n", path.string().c_str(), data.size());
        LLVMFuzzerTestOneInput(data.data(), data.size());
    }
    std::printf("%zu inputs replayed, no finding\n", inputs.size());
    return 0;
}
