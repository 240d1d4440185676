// inkrow-page's job: the test page driven through the module's ten entry points one
// raster line at a time, exactly as a driver's rendering stage would.
#pragma once

#include <string>

#include "arguments.h"
#include "inkrow/render.h"
#include "statistics.h"
#include "testpage.h"

namespace inkrow::page {

struct Job {
    int width = 0;
    int height = 0;
    int linesPerRow = 0;
    RenderMode mode{};
    testpage::PlaneSetup setup;
    std::string subtitle;
};

// The drawing of one page of the job.
testpage::Page BuildJobPage(const Job& job, const Options& options, int page);

// Runs the whole job into the sink; false, with a message, on any failure.
bool RunJob(const Job& job, const Options& options, Sink* sink, JobResult* result);

// The job's print mode and page, on standard output.
void PrintConfiguration(const Job& job, const Options& options);

}  // namespace inkrow::page
