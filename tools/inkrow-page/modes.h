// inkrow-page --modes: the page configuration of every supported print mode, and the
// words for a mode's inks and plane formats.
#pragma once

#include <string>

#include "arguments.h"
#include "inkrow/render.h"

namespace inkrow::page {

// "CMYK"; the split adds the count of inks only it reaches: "CMYcmk+10".
std::string DescribeInks(const RenderMode& mode);

// "2c 2c 1 1": bits per pixel of each plane, c where the plane is code-converted.
std::string DescribeFormats(const RenderMode& mode);

// Lists the configuration of every supported print mode with the options' page flags.
void PrintModes(const Options& options);

}  // namespace inkrow::page
