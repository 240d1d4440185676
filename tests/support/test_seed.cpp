#include "test_seed.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace testseed {

std::uint32_t TestSeed(std::uint32_t defaultSeed) {
    std::uint32_t seed = defaultSeed;
    if (const char* text = std::getenv("INKROW_SEED"); text != nullptr && *text != '\0') {
        char* end = nullptr;
        errno = 0;
        const unsigned long long value = std::strtoull(text, &end, 0);
        if (errno != 0 || *end != '\0' || value > UINT32_MAX)
            ADD_FAILURE() << "INKROW_SEED=" << text << " is no 32-bit number";
        else
            seed = static_cast<std::uint32_t>(value);
    }
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    std::printf("[     SEED ] %s.%s: %s\n", test != nullptr ? test->test_suite_name() : "?",
                test != nullptr ? test->name() : "?", SeedNote(seed).c_str());
    std::fflush(stdout);
    testing::Test::RecordProperty("seed", std::to_string(seed));
    return seed;
}

std::string SeedNote(std::uint32_t seed) {
    return "seed " + std::to_string(seed) + " (replay with INKROW_SEED=" + std::to_string(seed) +
           ")";
}

}  // namespace testseed
