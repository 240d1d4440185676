// Pieces of the page ends (OutputFlush, OutputFormFeed and the completion of a page
// end) and of page setup that concern a page's buffers.
#pragma once

#include <cstdint>

#include "core/context.h"

namespace inkrow {

// Releases the packet, staging and row buffers of planes 0 .. planes-1. Page end passes
// the page's plane count; page setup and OutputClose pass kMaxPlanes, as a setup that
// failed part-way or an earlier page with more planes may have left blocks anywhere.
void ReleasePageBuffers(OutputContext* context, int planes);

// Settles, before anything is written, that a page end can list all it sends: control
// nodes reserved, packets with room for their finishing lines, and no more segments
// than the list holds. `extraCommands` counts the page header and form feed;
// `commitsRow` says whether the row being built will be committed.
// kOk, kFailed or kNoMemory.
std::int16_t PreparePageEnd(OutputContext* context, int extraCommands, bool commitsRow);

}  // namespace inkrow
