/* Runs a fixed set of jobs through the module's entry points, from the public header
 * alone, and writes each job's command stream to DIR/NAME.prn. The Linux build runs it
 * against libinkrow.so, the Windows build against inkrow.dll under Wine, and the two
 * must write the very same bytes.
 *
 * Content comes from a fixed-seed xorshift generator rather than rand(), whose sequence
 * differs between C runtimes. Line spans are in pixels and every buffer is sized for
 * four bits per pixel, so the jobs need not know each mode's plane formats. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "inkrow/output.h"

typedef struct JobRecipe {
    const char* name;
    int16_t quality;
    int16_t media;
    int16_t width;
    int16_t formFeed; /* job and pages in form-feed mode */
    int16_t resolution;
    int16_t blackOnly;
    int16_t kForBlack;
    int16_t keepColor;
    int pages;
    int lines; /* per page, before gaps */
    uint32_t seed;
} JobRecipe;

static const JobRecipe kJobs[] = {
    {"cmyk-600", 20, 0, 720, 0, 600, 0, 0, 0, 2, 160, 0x1234567u},
    {"cmyk-360", 20, 0, 333, 0, 360, 0, 0, 0, 1, 70, 0x2468ACEu},
    {"cmykk-300", 10, 1, 500, 0, 300, 0, 0, 0, 2, 120, 0x13579BDu},
    {"converted", 10, 7, 500, 0, 600, 0, 0, 0, 1, 140, 0x0BADF00u},
    {"seven-ink", 5, 7, 400, 0, 600, 0, 0, 0, 1, 120, 0x5EED001u},
    {"sixteen", 0, 26, 400, 0, 300, 0, 0, 0, 1, 100, 0x5EED002u},
    {"six-ink", 0, 31, 400, 0, 600, 0, 0, 0, 1, 100, 0x5EED003u},
    {"black-only", 10, 1, 600, 0, 600, 1, 0, 0, 2, 90, 0x5EED004u},
    {"k-for-black", 10, 0, 480, 0, 300, 0, 1, 0, 1, 90, 0x5EED005u},
    {"keep-color", 10, 1, 480, 0, 600, 1, 0, 1, 1, 90, 0x5EED006u},
    {"form-feed", 20, 0, 400, 1, 300, 0, 0, 0, 3, 80, 0x5EED007u},
};

typedef struct Stream {
    FILE* file;
    uint32_t hash; /* FNV-1a of every byte, for the log */
    unsigned long bytes;
} Stream;

static uint32_t NextRandom(uint32_t* state) {
    uint32_t x = *state;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    *state = x;
    return x;
}

static int Fail(const char* job, const char* call, int16_t result) {
    fprintf(stderr, "%s: %s returned 0x%04X\n", job, call, (unsigned)(uint16_t)result);
    return 1;
}

static int SendList(const void* listHandle, Stream* stream) {
    const SegmentList* list = (const SegmentList*)listHandle;
    for (int i = 0; i < list->count; ++i) {
        const Segment* segment = &list->items[i];
        if (fwrite(segment->data, 1, segment->length, stream->file) != segment->length) return 1;
        for (unsigned j = 0; j < segment->length; ++j)
            stream->hash = (stream->hash ^ segment->data[j]) * 16777619u;
        stream->bytes += segment->length;
    }
    return 0;
}

/* One line's planes: blank, a few short spans, dense noise, or long runs. */
static void FillBand(RasterBand* band, uint8_t* buffers, int bufferBytes, int width,
                     uint32_t* random) {
    const uint32_t kind = NextRandom(random) % 8;
    for (int plane = 0; plane < OUTPUT_MAX_BAND_PLANES; ++plane) {
        BandPlane* entry = &band->bandPlanes[plane];
        uint8_t* pixels = buffers + plane * bufferBytes;
        memset(entry, 0, sizeof *entry);
        if (kind < 2 || NextRandom(random) % 4 == 0) continue;
        for (int i = 0; i < bufferBytes; ++i) {
            if (kind < 5)
                pixels[i] = (NextRandom(random) % 5 == 0) ? (uint8_t)NextRandom(random) : 0;
            else if (kind < 7)
                pixels[i] = (uint8_t)NextRandom(random);
            else
                pixels[i] = (uint8_t)(0x11u * ((unsigned)i / 37u % 16u));
        }
        const int start = (int)(NextRandom(random) % (uint32_t)(width / 3));
        const int end = start + 1 + (int)(NextRandom(random) % (uint32_t)(width - start));
        const int trail = (int)(NextRandom(random) % 4) % (end - start);
        entry->pixels = pixels;
        entry->start = (int16_t)start;
        entry->end = (int16_t)end;
        entry->trail = (int16_t)trail;
    }
}

static int RunJob(const JobRecipe* recipe, Stream* stream) {
    const char* name = recipe->name;
    const int bufferBytes = recipe->width / 2 + 1;
    uint8_t* buffers = (uint8_t*)malloc((size_t)bufferBytes * OUTPUT_MAX_BAND_PLANES);
    if (buffers == NULL) return 1;
    uint32_t random = recipe->seed;
    int failed = 0;
    void* list = NULL;
    int16_t result;

    OutputHandle handle = NULL;
    if ((result = OutputOpen(&handle)) != OUTPUT_OPENED) {
        free(buffers);
        return Fail(name, "OutputOpen", result);
    }
    JobParams job;
    memset(&job, 0, sizeof job);
    job.qualityCode = recipe->quality;
    job.mediaCode = recipe->media;
    job.pixelWidth = recipe->width;
    job.formFeedFlag = recipe->formFeed;
    if ((result = OutputInitTwo(&handle, &job, OUTPUT_JOB_PARAMS_VERSION)) != OUTPUT_OK)
        failed = Fail(name, "OutputInitTwo", result);

    for (int page = 0; page < recipe->pages && !failed; ++page) {
        PageParams params;
        memset(&params, 0, sizeof params);
        params.resolution = recipe->resolution;
        params.blackOnly = recipe->blackOnly;
        params.kForBlack = recipe->kForBlack;
        params.keepColor = recipe->keepColor;
        params.formFeedFlag = recipe->formFeed;
        if ((result = OutputInitPart(&handle, &params)) != OUTPUT_OK) {
            failed = Fail(name, "OutputInitPart", result);
            break;
        }
        int32_t lineNumber = 0;
        for (int line = 0; line < recipe->lines && !failed; ++line) {
            /* Now and then a gap of blank lines the caller does not send at all. */
            if (NextRandom(&random) % 16 == 0) lineNumber += (int32_t)(NextRandom(&random) % 40);
            RasterBand band;
            memset(&band, 0, sizeof band);
            band.lineNumber = lineNumber++;
            FillBand(&band, buffers, bufferBytes, recipe->width, &random);
            if ((result = OutputProduceTwo(&handle, &band, &list)) != OUTPUT_OK)
                failed = Fail(name, "OutputProduceTwo", result);
            else if (SendList(list, stream))
                failed = Fail(name, "writing", 0);
            else if ((result = OutputComplete(&handle)) != OUTPUT_OK)
                failed = Fail(name, "OutputComplete", result);
        }
        if (failed) break;
        if (recipe->formFeed)
            result = OutputFormFeed(&handle, &list, lineNumber - 5);
        else
            result = OutputFlush(&handle, &list);
        if (result != OUTPUT_OK)
            failed = Fail(name, "ending the page", result);
        else if (SendList(list, stream))
            failed = Fail(name, "writing", 0);
        else if ((result = OutputComplete(&handle)) != OUTPUT_OK)
            failed = Fail(name, "OutputComplete", result);
    }
    if (!failed && recipe->formFeed) {
        if ((result = OutputFlush(&handle, &list)) != OUTPUT_OK)
            failed = Fail(name, "OutputFlush", result);
        else if (SendList(list, stream))
            failed = Fail(name, "writing", 0);
        else if ((result = OutputComplete(&handle)) != OUTPUT_OK)
            failed = Fail(name, "OutputComplete", result);
    }
    OutputClose(&handle);
    free(buffers);
    if (handle != NULL) {
        fprintf(stderr, "%s: OutputClose left the handle set\n", name);
        failed = 1;
    }
    return failed;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s OUTPUT-FOLDER\n", argv[0]);
        return 2;
    }
    int failures = 0;
    for (size_t i = 0; i < sizeof kJobs / sizeof kJobs[0]; ++i) {
        char path[1024];
        snprintf(path, sizeof path, "%s/%s.prn", argv[1], kJobs[i].name);
        Stream stream = {fopen(path, "wb"), 2166136261u, 0};
        if (stream.file == NULL) {
            fprintf(stderr, "cannot write %s\n", path);
            return 1;
        }
        const int failed = RunJob(&kJobs[i], &stream);
        if (fclose(stream.file) != 0 || failed) {
            ++failures;
            continue;
        }
        printf("%-12s seed 0x%08lX  %7lu bytes  fnv1a %08lX\n", kJobs[i].name,
               (unsigned long)kJobs[i].seed, stream.bytes, (unsigned long)stream.hash);
    }
    return failures == 0 ? 0 : 1;
}
