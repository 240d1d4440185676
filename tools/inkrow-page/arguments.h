// inkrow-page's command line: its options, their defaults and the print mode they ask
// for.
#pragma once

#include <cstdint>
#include <string>

#include "cli.h"
#include "inkrow/render.h"

namespace inkrow::page {

struct Options {
    inkrow::cli::ModeFlags mode{.quality = 10};
    int resolution = 600;
    bool formFeed = false;
    int pages = 1;
    std::string output = "inkrow-page.prn";
    std::string png;
    bool verify = false;
    bool modes = false;
};

// 0 to go on, -1 to exit successfully (help), otherwise the exit status.
int ParseArguments(int argc, char** argv, Options* options);

// 1 for a set page flag, else 0.
std::int16_t PageFlag(bool flag);

// The render stage's request for a quality and media pair with the options' page flags.
RenderModeRequest MakeRequest(int quality, int media, const Options& options);

// False when the quality and media pair is no print mode.
bool DescribeMode(const RenderModeRequest& request, RenderMode* mode);

}  // namespace inkrow::page
