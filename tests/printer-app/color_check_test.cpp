// How print-rendering-intent reads (which files may serve a printer is tested end to end,
// color_files.py).
#include "color_check.h"

#include <gtest/gtest.h>

namespace {

using namespace inkrow::app;

TEST(ColorCheck, RenderingIntentKeywords) {
    struct Case {
        const char* keyword;
        bool taken;
        int intent;
        int blackPointCompensation;
    };
    const Case cases[] = {
        {nullptr, true, RENDER_INTENT_PERCEPTUAL, 1},
        {"auto", true, RENDER_INTENT_PERCEPTUAL, 1},
        {"relative", true, RENDER_INTENT_RELATIVE, 0},
        {"relative-bpc", true, RENDER_INTENT_RELATIVE, 1},
        {"absolute", true, RENDER_INTENT_ABSOLUTE, 1},
        {"saturation", true, RENDER_INTENT_SATURATION, 1},
        {"vivid", false, RENDER_INTENT_PERCEPTUAL, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keyword != nullptr ? c.keyword : "(none)");
        RenderColorOptions options;
        RenderColorOptionsInit(&options);
        EXPECT_EQ(ApplyRenderingIntent(c.keyword, &options), c.taken);
        EXPECT_EQ(options.intent, c.intent);
        EXPECT_EQ(options.blackPointCompensation, c.blackPointCompensation);
    }
}

}  // namespace
