// Seeds of the random tests. Every random test asks TestSeed for its seed and keeps the
// returned SeedNote in a SCOPED_TRACE, so the seed is printed when the test starts and
// again with every failure. INKROW_SEED in the environment replaces the default seed of
// every random test, which replays a failure:
//   INKROW_SEED=<seed> <test program> --gtest_filter=<suite.test>
#pragma once

#include <cstdint>
#include <string>

namespace testseed {

// The seed from INKROW_SEED (decimal or 0x hex) when it is set, else defaultSeed. An
// INKROW_SEED that is no number fails the test rather than running on the default.
std::uint32_t TestSeed(std::uint32_t defaultSeed);

// "seed N (replay with INKROW_SEED=N)".
std::string SeedNote(std::uint32_t seed);

}  // namespace testseed
