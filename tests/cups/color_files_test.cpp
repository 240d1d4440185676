// The CUPS filter's colour files: the PPD's cupsICCProfile and inkrowCalibration chosen
// by the marked colour model, media type and resolution, and the job's options over
// them.
#include "color_files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>

#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace {

using inkrow::filter::ColorFiles;

// The project's PPD with profiles and calibrations added, its options marked for `text`.
struct MarkedPpd {
    explicit MarkedPpd(const char* text) {
        std::ifstream in(INKROW_PPD);
        std::string ppdText{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        ppdText +=
            "*cupsICCProfile CMYK.Photo.600dpi/Photo: \"photo600.icc\"\n"
            "*cupsICCProfile CMYK.Photo./Photo: \"/abs/photo.icc\"\n"
            "*cupsICCProfile ../Any: \"any.icc\"\n"
            "*inkrowCalibration Photo/Photo: \"photo.cal\"\n";
        path = "/tmp/inkrow_color_files_" + std::to_string(::getpid()) + ".ppd";
        std::ofstream(path) << ppdText;
        ppd = ppdOpenFile(path.c_str());
        count = cupsParseOptions(text, 0, &options);
        ppdMarkDefaults(ppd);
        for (int i = 0; i < count; ++i)
            ppdMarkOption(ppd, options[i].name, options[i].value);
    }
    ~MarkedPpd() {
        cupsFreeOptions(count, options);
        ppdClose(ppd);
        unlink(path.c_str());
    }
    std::string path;
    ppd_file_t* ppd = nullptr;
    cups_option_t* options = nullptr;
    int count = 0;
};

TEST(ColorFiles, ChosenByMediaAndResolutionThenTheJobsOptions) {
    setenv("CUPS_DATADIR", "/data", 1);
    struct Case {
        const char* options;
        const char* profile;
        const char* calibration;
        int intent;
        bool bpc;
        bool calibrationMode;
    };
    const Case cases[] = {
        {"", "/data/profiles/any.icc", "", RENDER_INTENT_PERCEPTUAL, true, false},
        {"MediaType=Photo", "/data/profiles/photo600.icc", "/data/profiles/photo.cal",
         RENDER_INTENT_PERCEPTUAL, true, false},
        {"MediaType=Photo Resolution=300dpi", "/abs/photo.icc", "/data/profiles/photo.cal",
         RENDER_INTENT_PERCEPTUAL, true, false},
        {"print-rendering-intent=relative inkrow-icc-profile=/x.icc", "/x.icc", "",
         RENDER_INTENT_RELATIVE, false, false},
        {"print-rendering-intent=relative-bpc inkrow-calibration=c.cal cm-calibration=true",
         "/data/profiles/any.icc", "/data/profiles/c.cal", RENDER_INTENT_RELATIVE, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        MarkedPpd marked(c.options);
        ASSERT_NE(marked.ppd, nullptr);
        ColorFiles files;
        std::string why;
        ASSERT_TRUE(inkrow::filter::ColorFilesOfJob(marked.ppd, marked.count, marked.options,
                                                    &files, &why));
        EXPECT_EQ(files.profile, c.profile);
        EXPECT_EQ(files.calibration, c.calibration);
        EXPECT_EQ(files.intent, c.intent);
        EXPECT_EQ(files.blackPointCompensation, c.bpc);
        EXPECT_EQ(files.calibrationMode, c.calibrationMode);
    }
    MarkedPpd marked("print-rendering-intent=vivid");
    ColorFiles files;
    std::string why;
    EXPECT_FALSE(
        inkrow::filter::ColorFilesOfJob(marked.ppd, marked.count, marked.options, &files, &why));
    EXPECT_NE(why.find("vivid"), std::string::npos);
    unsetenv("CUPS_DATADIR");
}

}  // namespace
