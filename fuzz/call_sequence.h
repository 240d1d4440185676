// Random call sequences against the module: the body of the two call fuzz targets, whose
// entry points the corpus replay (replay_main.cpp) also runs, so that every saved input
// runs in the plain test suite as well.
//
// An input is read as a list of calls with their records, band extents and line
// content, against one or two contexts. The list runs once as it is, and (see Runs) once
// with chosen allocations failing, where every call that runs out of memory must leave
// its context as it was and is retried. Both runs must give the same results and the
// same command streams, every result must be one a caller can be told to expect, every
// refused call must leave its context untouched, every stream must decode, and the
// pixels of every finished page must come back out of its stream.
#pragma once

#include <cstddef>
#include <cstdint>

namespace callseq {

// Called for every broken expectation. The fuzz target's handler aborts; a test's
// handler records the failure and lets the run go on.
using FailureHandler = void (*)(const char* message);
void SetFailureHandler(FailureHandler handler);

// What one input runs. The list as it is, with every check but those of failed
// allocations, is the fast target; the run with failing allocations and the clean run
// it is compared with, both as far as the last failing call, are the slow one, kept
// apart so that their cost does not hold back the search for call sequences. Together
// the two targets check everything an input asks for.
enum class Runs : std::uint8_t {
    kCalls,               // the list once; the marks of failing allocations are ignored
    kAllocationFailures,  // both runs as far as the last failing allocation; nothing without
};

// Runs one input. Leaves no context open and no block allocated.
void RunCallSequence(const std::uint8_t* data, std::size_t size, Runs runs);

}  // namespace callseq
