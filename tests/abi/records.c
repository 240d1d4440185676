/* Every record of the public header, reachable from one exported function, so that the
 * binary-interface check sees them all: the library's own entry points reach the job,
 * page and band records, but hand the segment list back as an untyped pointer. Built
 * only for that check, never installed. */
#include <inkrow/output.h>

__attribute__((visibility("default"))) void InkrowAbiRecords(JobParams* job, PageParams* page,
                                                             RasterBand* band, BandPlane* plane,
                                                             SegmentList* list, Segment* segment,
                                                             OutputHandle* handle) {
    (void)job;
    (void)page;
    (void)band;
    (void)plane;
    (void)list;
    (void)segment;
    (void)handle;
}
