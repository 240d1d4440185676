// inkrow-page --verify: the stream read back with the independent decoder and every
// pixel of every ink compared with the page as drawn.
#pragma once

#include <cstdint>
#include <vector>

#include "job.h"
#include "picture.h"

namespace inkrow::page {

// How the printer plane's level at a pixel follows from its input plane's level.
struct PrinterPlane {
    std::uint8_t code = 0;
    int input = 0;
    bool split = false;  // a plane the sixteen-ink split drives
    int printerPlane = 0;
    inkrow::decode::PixelFormat format;
};

std::vector<PrinterPlane> DescribePrinterPlanes(const Job& job);

// Reads the stream back with the decoder's defaults: a form-feed job is found by its
// form feed, like any stream of the module.
bool DecodeJob(const std::vector<std::uint8_t>& stream, inkrow::decode::Decoded* decoded);

// Compares every pixel of every printer plane with the page as drawn. A form-feed job
// reads back as one page on which each page follows the last inked row of the one before.
bool VerifyJob(const Job& job, const Options& options, const JobResult& result,
               const inkrow::decode::Decoded& decoded);

}  // namespace inkrow::page
