// The heap that the tests link in place of the platform heap: it counts live blocks and
// can fail chosen allocations.
#pragma once

#include <cstddef>
#include <cstdint>

namespace testheap {

// Live blocks right now, and allocations made since the last Reset.
std::int64_t LiveBlocks();
std::int64_t Allocations();
// Forgets the allocation count and stops failing (live blocks are not touched).
void Reset();
// The n-th allocation from now on (1 = the next one) fails; 0 fails none.
void FailAllocation(std::int64_t n);
// Every allocation from now on fails while `on`.
void FailAll(bool on);

}  // namespace testheap
