// inkrow-page --png: a colour preview of each printed page, read back from the stream.
#pragma once

#include <string>
#include <vector>

#include "job.h"
#include "picture.h"

namespace inkrow::page {

// Opens every preview file before anything is drawn, so that a bad path fails at once:
// one per page, or one for a form-feed job, whose pages run down a single sheet.
bool OpenPreviews(const Options& options, std::vector<inkrow::decode::PngFile*>* files);

void DiscardPreviews(std::vector<inkrow::decode::PngFile*>* files);

// Writes each page's preview row by row into the files opened before the job ran.
bool WritePreviews(const Job& job, const Options& options, const inkrow::decode::Decoded& decoded,
                   std::vector<inkrow::decode::PngFile*>* files);

}  // namespace inkrow::page
