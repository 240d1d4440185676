// PWG and CUPS raster, read with libcups: from a file, or from a Ghostscript process's
// output, whose end is then checked against the process's exit status.
#pragma once

#include <memory>
#include <string>

#include "ghostscript.h"
#include "reader.h"

namespace inkrow::source {

// True when the bytes start with a sync word libcups reads (any raster version, either
// byte order, or the Apple variant).
bool IsRasterSync(const std::uint8_t* bytes, std::size_t length);

// Pages of Ghostscript's output: every page must be width x height pixels; the end of
// the output is the end of the document only when Ghostscript exits cleanly.
std::unique_ptr<Reader> OpenGhostscriptRaster(std::unique_ptr<Input> output,
                                              std::unique_ptr<GhostscriptProcess> process,
                                              int width, int height, std::string* error,
                                              int* status);

}  // namespace inkrow::source
