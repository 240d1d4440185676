/* A driver's smallest use of the installed library: one page of one black line, every
 * byte of the stream counted, and written to the file named by the first argument if
 * there is one. Built against an installed copy by find_package and by pkg-config, and
 * against an earlier release's header for the binary-interface check; exits 0 when the
 * library behaves. */
#include <inkrow/output.h>
#include <stdio.h>
#include <string.h>

#if INKROW_VERSION != \
    INKROW_VERSION_MAJOR * 10000 + INKROW_VERSION_MINOR * 100 + INKROW_VERSION_PATCH
#error "INKROW_VERSION disagrees with its parts"
#endif

static long SendList(void* handle, FILE* out) {
    const SegmentList* list = (const SegmentList*)handle;
    long bytes = 0;
    for (int i = 0; i < list->count; ++i) {
        bytes += list->items[i].length;
        if (out != NULL && fwrite(list->items[i].data, 1, (size_t)list->items[i].length, out) !=
                               (size_t)list->items[i].length)
            return -1;
    }
    return bytes;
}

int main(int argc, char** argv) {
    FILE* out = NULL;
    if (argc > 1 && (out = fopen(argv[1], "wb")) == NULL) return 10;
    OutputHandle h = NULL;
    if (OutputOpen(&h) != OUTPUT_OPENED) return 1;

    JobParams job;
    memset(&job, 0, sizeof job);
    job.qualityCode = 10;
    job.mediaCode = 0;
    job.pixelWidth = 64;
    PageParams page;
    memset(&page, 0, sizeof page);
    page.resolution = 300;
    page.blackOnly = 1;
    if (OutputInitTwo(&h, &job, OUTPUT_JOB_PARAMS_VERSION) != OUTPUT_OK) return 2;
    if (OutputInitPart(&h, &page) != OUTPUT_OK) return 3;

    uint8_t pixels[8];
    memset(pixels, 0xFF, sizeof pixels);
    RasterBand band;
    memset(&band, 0, sizeof band);
    band.lineNumber = 0;
    band.bandPlanes[0].pixels = pixels;
    band.bandPlanes[0].start = 0;
    band.bandPlanes[0].end = 64;
    void* list = NULL;
    long bytes = 0, sent = 0;
    if (OutputProduceTwo(&h, &band, &list) != OUTPUT_OK) return 4;
    if ((sent = SendList(list, out)) < 0) return 10;
    bytes += sent;
    if (OutputComplete(&h) != OUTPUT_OK) return 5;
    if (OutputFlush(&h, &list) != OUTPUT_OK) return 6;
    if ((sent = SendList(list, out)) < 0) return 10;
    bytes += sent;
    if (OutputComplete(&h) != OUTPUT_OK) return 7;
    /* A second complete is out of order: refused, nothing changes. */
    if (OutputComplete(&h) != OUTPUT_NOT_NOW) return 8;
    OutputClose(&h);
    if (h != NULL || bytes <= 12) return 9;
    if (out != NULL && fclose(out) != 0) return 10;
    printf("inkrow %d.%d.%d: %ld bytes\n", INKROW_VERSION_MAJOR, INKROW_VERSION_MINOR,
           INKROW_VERSION_PATCH, bytes);
    return 0;
}
