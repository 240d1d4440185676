// What inkrow-page counts of the stream it writes: every command of every segment,
// framed by the decoder's parser, and the time each part took.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "arguments.h"

namespace inkrow::page {

using Clock = std::chrono::steady_clock;

// "1 page header", "2 page headers".
std::string Count(std::uint64_t count, const char* noun);

double SecondsSince(Clock::time_point started);

struct StreamCounts {
    std::uint64_t bytes = 0;
    std::uint64_t segments = 0;
    std::uint64_t pageHeaders = 0;
    std::uint64_t packets = 0;
    std::uint64_t emptyPackets = 0;
    std::uint64_t payloadBytes = 0;
    std::uint64_t skips = 0;
    std::uint64_t skippedRows = 0;
    std::uint64_t selections = 0;
    std::uint64_t formFeeds = 0;
};

// Where the produced bytes go: the file, and a copy in memory when the stream is to be
// read back.
struct Sink {
    std::FILE* file = nullptr;
    std::vector<std::uint8_t>* memory = nullptr;
    StreamCounts counts;
    double seconds = 0;
};

// Counts, writes and keeps the segments of one producing call's list; false, with a
// message, when a segment does not hold whole commands or cannot be written.
bool SendSegments(void* listHandle, Sink* sink);

// What the module's side of a job took.
struct JobResult {
    double moduleSeconds = 0;
    double renderSeconds = 0;
    std::uint64_t lines = 0;
    std::uint64_t rasterBytes = 0;   // bytes of the lines handed in (null lines excluded)
    std::vector<int> lastInkedLine;  // per page, -1 for a page without ink
};

void PrintSummary(const Options& options, const Sink& sink, const JobResult& result,
                  double totalSeconds);

}  // namespace inkrow::page
