// Every saved input of the call-sequence fuzzer, run as a plain test: the seeds and any
// input that once found a fault stay checked without the fuzzer's runtime.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// The fuzz target's body, compiled into this test program as well.
#include "../../fuzz/call_sequence.cpp"

namespace {

std::filesystem::path CorpusFolder() {
    return std::filesystem::path(__FILE__).parent_path() / ".." / ".." / "fuzz" / "corpus";
}

TEST(FuzzCorpus, EveryInputRunsClean) {
    callseq::SetFailureHandler([](const char* message) { ADD_FAILURE() << message; });
    std::vector<std::filesystem::path> inputs;
    for (const auto& entry : std::filesystem::directory_iterator(CorpusFolder()))
        if (entry.is_regular_file()) inputs.push_back(entry.path());
    ASSERT_GE(inputs.size(), 20u) << "the seed corpus is missing from " << CorpusFolder();
    std::sort(inputs.begin(), inputs.end());
    for (const auto& path : inputs) {
        SCOPED_TRACE(path.filename().string());
        std::ifstream file(path, std::ios::binary);
        const std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(file)),
                                             std::istreambuf_iterator<char>());
        callseq::RunCallSequence(data.data(), data.size());
    }
    callseq::SetFailureHandler(nullptr);
}

}  // namespace
