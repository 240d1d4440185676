/* The render stage's header is usable from C: a C caller describes a mode and prints
 * a small page, and the C++ test checks what it got. */
#include <string.h>

#include "inkrow/render.h"

static int CountBytes(void* context, const uint8_t* bytes, size_t length) {
    (void)bytes;
    *(size_t*)context += length;
    return 0;
}

int PrintSmallPageFromC(size_t* streamBytes, int* planeCount) {
    RenderJobOptions options;
    RenderJobOptionsInit(&options);
    options.raster.width = 32;
    options.raster.colorSpace = RENDER_GRAY8;
    options.write = CountBytes;
    options.writeContext = streamBytes;
    RenderMode mode;
    int status = RenderDescribeMode(&options.raster.mode, &mode);
    if (status != RENDER_OK) return status;
    *planeCount = mode.planeCount;
    RenderJob* job = NULL;
    status = RenderJobOpen(&options, &job);
    if (status != RENDER_OK) return status;
    uint8_t line[32];
    memset(line, 0, sizeof line);
    status = RenderJobStartPage(job);
    for (int y = 0; y < 16 && status == RENDER_OK; ++y)
        status = RenderJobWriteLine(job, line, sizeof line);
    const int closed = RenderJobClose(job);
    return status != RENDER_OK ? status : closed;
}
