// Runs saved fuzz inputs through a fuzz target's entry point without the fuzzer's
// runtime, so that the seed corpus and every input that once found a fault stay checked
// by the ordinary test suite, with any compiler.
//
//   replay [--min-inputs N] PATH...    PATH: a file, or a folder of files (not recursed)
//
// The target aborts on a broken expectation; the name printed before each input tells
// which one it was. Exits 1 when a path cannot be read or fewer than N inputs were found
// (a corpus that went missing must not pass as an empty one).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

bool ReadFile(const std::filesystem::path& path, std::vector<std::uint8_t>* bytes) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    bytes->assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return !file.bad();
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t minInputs = 1;
    std::vector<std::filesystem::path> inputs;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--min-inputs") == 0 && i + 1 < argc) {
            minInputs = std::strtoul(argv[++i], nullptr, 10);
            continue;
        }
        const std::filesystem::path path(argv[i]);
        std::error_code error;
        if (std::filesystem::is_directory(path, error)) {
            std::vector<std::filesystem::path> files;
            for (const auto& entry : std::filesystem::directory_iterator(path, error))
                if (entry.is_regular_file()) files.push_back(entry.path());
            std::sort(files.begin(), files.end());
            inputs.insert(inputs.end(), files.begin(), files.end());
        } else if (std::filesystem::is_regular_file(path, error)) {
            inputs.push_back(path);
        } else {
            std::fprintf(stderr, "replay: %s is neither a file nor a folder\n", argv[i]);
            return 1;
        }
    }
    if (inputs.size() < minInputs) {
        std::fprintf(stderr, "replay: %zu inputs found, at least %zu expected\n", inputs.size(),
                     minInputs);
        return 1;
    }
    std::vector<std::uint8_t> bytes;
    for (const auto& path : inputs) {
        if (!ReadFile(path, &bytes)) {
            std::fprintf(stderr, "replay: cannot read %s\n", path.c_str());
            return 1;
        }
        std::printf("%s (%zu bytes)\n", path.filename().c_str(), bytes.size());
        std::fflush(stdout);
        // A copy of exactly the input's size, so that a read past its end is caught by
        // the sanitizers as it is under the fuzzer.
        const std::unique_ptr<std::uint8_t[]> input(new std::uint8_t[bytes.size()]);
        std::copy(bytes.begin(), bytes.end(), input.get());
        LLVMFuzzerTestOneInput(input.get(), bytes.size());
    }
    std::printf("%zu inputs ran clean\n", inputs.size());
    return 0;
}
