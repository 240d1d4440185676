// inkrow-page's command line (arguments.h).
#include "arguments.h"

#include <cstdio>

#include "cli.h"

namespace inkrow::page {

namespace {

constexpr char kUsage[] =
    "usage: inkrow-page [options]\n"
    "\n"
    "Renders the built-in test page (A4: gradients and solid patches in every ink,\n"
    "overprints, fine lines, text-like areas and blank bands), drives the output module\n"
    "through it line by line and writes the printer command stream to a file.\n"
    "\n"
    "options:\n"
    "  --quality Q        quality code of the job (default 10)\n"
    "  --media M          media code of the job (default 0, plain paper)\n"
    "  --resolution R     300, 600 or 360 dpi (default 600; 360 sends one line per row)\n"
    "  --black-only       page flag: ask for the one-plane black configuration\n"
    "  --k-for-black      page flag: prefer configurations with a k plane\n"
    "  --keep-color       page flag: never fall back to black only\n"
    "  --form-feed        run a form-feed job: each page ends with a form-feed page end\n"
    "                     and the job with a final flush; eight lines per row\n"
    "  --pages N          number of pages (default 1)\n"
    "  --output PATH      where the stream goes (default inkrow-page.prn)\n"
    "  --verify           read the stream back with the decoder and compare every pixel\n"
    "                     of every ink with the page as drawn\n"
    "  --png PATH         write a colour preview of the printed page (page N > 1 goes\n"
    "                     to PATH with -N before the extension). A form-feed job's pages\n"
    "                     run down one sheet that only its final form feed ejects, and\n"
    "                     the stream marks no page's end: its preview is that one sheet\n"
    "  --modes            list the page configuration of every supported print mode\n"
    "                     (with the page flags given) and exit\n"
    "  --help             show this text\n";

bool ParseNumber(const char* text, long low, long high, int* value) {
    long parsed = 0;
    if (!inkrow::cli::ParseNumber(text, low, high, &parsed)) return false;
    *value = static_cast<int>(parsed);
    return true;
}

}  // namespace

int ParseArguments(int argc, char** argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        auto number = [&](long low, long high, int* out) {
            if (value == nullptr || !ParseNumber(value, low, high, out)) {
                std::fprintf(stderr, "inkrow-page: %s needs a number from %ld to %ld\n",
                             argument.c_str(), low, high);
                return false;
            }
            ++i;
            return true;
        };
        auto text = [&](std::string* out) {
            if (value == nullptr) {
                std::fprintf(stderr, "inkrow-page: %s needs a path\n", argument.c_str());
                return false;
            }
            *out = value;
            ++i;
            return true;
        };
        if (argument == "--help" || argument == "-h") {
            std::fputs(kUsage, stdout);
            return -1;
        } else if (const auto taken =
                       inkrow::cli::TakeModeFlag("inkrow-page", argc, argv, &i, &options->mode);
                   taken != inkrow::cli::Taken::kNotMine) {
            if (taken == inkrow::cli::Taken::kBad) return 2;
        } else if (argument == "--resolution") {
            if (!number(1, 32767, &options->resolution)) return 2;
            if (options->resolution != 300 && options->resolution != 600 &&
                options->resolution != 360) {
                std::fputs("inkrow-page: --resolution takes 300, 600 or 360\n", stderr);
                return 2;
            }
        } else if (argument == "--form-feed") {
            options->formFeed = true;
        } else if (argument == "--pages") {
            if (!number(1, 1000, &options->pages)) return 2;
        } else if (argument == "--output") {
            if (!text(&options->output)) return 2;
        } else if (argument == "--png") {
            if (!text(&options->png)) return 2;
        } else if (argument == "--verify") {
            options->verify = true;
        } else if (argument == "--modes") {
            options->modes = true;
        } else {
            std::fprintf(stderr, "inkrow-page: unknown argument %s\n%s", argument.c_str(), kUsage);
            return 2;
        }
    }
    return 0;
}

std::int16_t PageFlag(bool flag) {
    return flag ? 1 : 0;
}

RenderModeRequest MakeRequest(int quality, int media, const Options& options) {
    RenderModeRequest request{};
    request.qualityCode = quality;
    request.mediaCode = media;
    request.blackOnly = PageFlag(options.mode.blackOnly);
    request.kForBlack = PageFlag(options.mode.kForBlack);
    request.keepColor = PageFlag(options.mode.keepColor);
    request.formFeed = PageFlag(options.formFeed);
    request.resolution = options.resolution;
    return request;
}

// False when the quality and media pair is no print mode.
bool DescribeMode(const RenderModeRequest& request, RenderMode* mode) {
    return RenderDescribeMode(&request, mode) == RENDER_OK;
}

}  // namespace inkrow::page
