#include "call_sequence.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "context_fields.h"
#include "core/call_state.h"
#include "core/context.h"
#include "inkrow/output.h"
#include "test_heap.h"

// The stream decoder is a separate reader of the byte formats; where it is built, every
// stream goes through it and every finished page is compared with what was sent in.
// Without it a small structural check of the stream stands in.
#if __has_include("decode.h") && !defined(CALLSEQ_NO_DECODER)
#include "decode.h"
#define CALLSEQ_HAVE_DECODER 1
#else
#define CALLSEQ_HAVE_DECODER 0
#endif

namespace callseq {
namespace {

using Bytes = std::vector<std::uint8_t>;
using inkrow::CallState;
using inkrow::OutputContext;

void AbortOnFailure(const char* message) {
    std::fprintf(stderr, "call sequence: %s\n", message);
    std::abort();
}

FailureHandler failureHandler = AbortOnFailure;

// MinGW's C++ runtime formats by the C standard's rules, not the Microsoft runtime's
// that GCC's plain "printf" check stands for there.
#if defined(__MINGW32__)
__attribute__((format(__MINGW_PRINTF_FORMAT, 1, 2)))
#elif defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void Fail(const char* format, ...) {
    char text[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    failureHandler(text);
}

// ---------------------------------------------------------------------------------------
// The input, read as a list of steps. Reading past the end gives zeros, so every input
// is a valid list.

struct Input {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;

    bool Done() const { return at >= size; }
    std::uint8_t Byte() { return at < size ? data[at++] : 0; }
    std::uint16_t U16() {
        const std::uint16_t low = Byte();
        return static_cast<std::uint16_t>(low | (Byte() << 8));
    }
    std::uint32_t U32() {
        const std::uint32_t low = U16();
        return low | (std::uint32_t{U16()} << 16);
    }
};

enum class Call : std::uint8_t {
    kOpen,
    kInitTwo,
    kInitPart,
    kProduceTwo,
    kProduce,
    kComplete,
    kFlush,
    kFormFeed,
    kClose,
    kInit,
    kNullArgument,
};

enum class SpanKind : std::uint8_t { kFull, kInside, kEmpty, kNoPixels, kRaw };

struct PlaneSpec {
    SpanKind span = SpanKind::kFull;
    std::uint8_t a = 0, b = 0, c = 0;  // positions within the line, in 256ths
    std::int16_t rawEnd = 0, rawStart = 0, rawTrail = 0;
    std::uint8_t pattern = 0;
    std::uint32_t seed = 0;
};

struct BandSpec {
    std::uint8_t lineMode = 0;
    std::uint32_t lineValue = 0;
    PlaneSpec planes[OUTPUT_MAX_BAND_PLANES];
};

struct Step {
    Call call = Call::kInit;
    int slot = 0;
    std::uint8_t failAt = 0;  // in the failing run: this allocation of the call fails
    std::uint8_t variant = 0;
    JobParams job{};
    std::int16_t version = OUTPUT_JOB_PARAMS_VERSION;
    PageParams page{};
    BandSpec band;
    std::int32_t lineLimit = 0;
};

// Print modes that exist, so that most jobs get past OutputInitTwo: quality, media.
constexpr std::int16_t kModes[][2] = {{20, 3},  {10, 7},  {0, 26},  {10, 1}, {5, 7},
                                      {15, 27}, {10, 18}, {15, 29}, {0, 31}, {10, 37},
                                      {5, 0},   {10, 0},  {30, 2},  {5, 1}};
constexpr std::int16_t kQualities[] = {0, 5, 10, 15, 20, 30, -5, 7};
constexpr std::int16_t kWidths[] = {0, 1, 5, 7, 8, 9, 13, 16, 17, 31, 33, 64, 100, 127, 333, 32767};
constexpr std::int16_t kResolutions[] = {300, 600, 360, 0};

std::int16_t ReadQualityOrMedia(Input& in, bool quality) {
    const std::uint8_t choice = in.Byte();
    if (choice < 224)
        return quality ? kQualities[choice % 8] : static_cast<std::int16_t>(choice % 40);
    return static_cast<std::int16_t>(in.U16());
}

JobParams ReadJob(Input& in, std::int16_t* version) {
    JobParams job;
    std::memset(&job, 0, sizeof job);
    const std::uint8_t mode = in.Byte();
    if (mode < 200) {
        const auto& pair = kModes[mode % std::size(kModes)];
        job.qualityCode = pair[0];
        job.mediaCode = pair[1];
    } else {
        job.qualityCode = ReadQualityOrMedia(in, true);
        job.mediaCode = ReadQualityOrMedia(in, false);
    }
    const std::uint8_t width = in.Byte();
    if (width < 240) {
        job.pixelWidth = kWidths[width % std::size(kWidths)];
        // Mostly narrow pages, which run fast; the widest one only now and then.
        if (job.pixelWidth == 32767 && width != 239) job.pixelWidth = 48;
    } else {
        job.pixelWidth = static_cast<std::int16_t>(in.U16());
    }
    const std::uint8_t flags = in.Byte();
    job.formFeedFlag = static_cast<std::int16_t>(flags & 3);
    if (job.formFeedFlag > 1) job.formFeedFlag = 0;
    if (flags & 0x80) job.formFeedFlag = 2;  // any value but 1 is the normal mode
    *version = (flags & 0x70) == 0x70 ? static_cast<std::int16_t>(218 + (flags & 3))
                                      : static_cast<std::int16_t>(OUTPUT_JOB_PARAMS_VERSION);
    return job;
}

PageParams ReadPage(Input& in) {
    PageParams page;
    std::memset(&page, 0, sizeof page);
    const std::uint8_t flags = in.Byte();
    page.resolution = kResolutions[flags & 3];
    page.blackOnly = (flags >> 2) & 1;
    page.kForBlack = (flags >> 3) & 1;
    page.keepColor = (flags >> 4) & 1;
    page.formFeedFlag = (flags >> 5) & 1;
    if (flags & 0x80) page.resolution = static_cast<std::int16_t>(in.U16());
    return page;
}

BandSpec ReadBand(Input& in) {
    BandSpec band;
    band.lineMode = in.Byte();
    if (band.lineMode >= 160) band.lineValue = in.U32();
    const std::uint8_t planes = in.Byte();
    // The entries that follow the count reuse the last recipe read, with other content.
    const int described = 1 + planes % OUTPUT_MAX_BAND_PLANES;
    for (int i = 0; i < OUTPUT_MAX_BAND_PLANES; ++i) {
        PlaneSpec& recipe = band.planes[i];
        if (i >= described) {
            recipe = band.planes[i - 1];
            recipe.seed = recipe.seed * 2654435761u + 1;
            continue;
        }
        const std::uint8_t kind = in.Byte();
        switch (kind % 8) {
            case 0:
            case 1:
            case 2:
                recipe.span = SpanKind::kFull;
                break;
            case 3:
            case 4:
                recipe.span = SpanKind::kInside;
                recipe.a = in.Byte();
                recipe.b = in.Byte();
                recipe.c = in.Byte();
                break;
            case 5:
                recipe.span = SpanKind::kEmpty;
                recipe.a = in.Byte();
                recipe.c = in.Byte();
                break;
            case 6:
                recipe.span = SpanKind::kNoPixels;
                break;
            default:
                recipe.span = SpanKind::kRaw;
                recipe.rawEnd = static_cast<std::int16_t>(in.U16());
                recipe.rawStart = static_cast<std::int16_t>(in.U16());
                recipe.rawTrail = static_cast<std::int16_t>(in.U16());
                break;
        }
        recipe.pattern = static_cast<std::uint8_t>(kind >> 3);
        recipe.seed = in.Byte();
    }
    return band;
}

std::vector<Step> ReadSteps(Input& in) {
    std::vector<Step> steps;
    // A bound on the work one input can ask for; longer inputs only repeat themselves.
    constexpr std::size_t kMaxSteps = 4000;
    while (!in.Done() && steps.size() < kMaxSteps) {
        const std::uint8_t head = in.Byte();
        Step step;
        step.slot = (head >> 4) & 1;
        // Bits 5-7 all set: one allocation of this call fails, the next byte says which.
        if ((head >> 5) == 7) step.failAt = static_cast<std::uint8_t>(1 + in.Byte() % 64);
        switch (head & 0x0F) {
            case 0:
                step.call = Call::kOpen;
                break;
            case 1:
                step.call = Call::kInitTwo;
                step.job = ReadJob(in, &step.version);
                break;
            case 2:
                step.call = Call::kInitPart;
                step.page = ReadPage(in);
                break;
            case 3:
                step.call = Call::kProduceTwo;
                step.band = ReadBand(in);
                break;
            case 4:
            case 5:
            case 15: {
                // Lines sent and completed, as a caller does: one, or a burst.
                const int count = (head & 0x0F) == 15 ? 2 + in.Byte() % 18 : 1;
                step.call = Call::kProduceTwo;
                step.band = ReadBand(in);
                for (int i = 0; i < count; ++i) {
                    Step complete;
                    complete.call = Call::kComplete;
                    complete.slot = step.slot;
                    steps.push_back(step);
                    steps.push_back(complete);
                    step.failAt = 0;
                    step.band.lineMode = 0;
                    for (PlaneSpec& recipe : step.band.planes)
                        recipe.seed += 0x9E3779B9u;
                }
                continue;
            }
            case 6:
                step.call = Call::kProduce;
                break;
            case 7:
                step.call = Call::kComplete;
                break;
            case 8:
            case 9: {
                step.call = Call::kFlush;
                step.variant = in.Byte();
                if ((head & 0x0F) == 9) {
                    Step complete;
                    complete.call = Call::kComplete;
                    complete.slot = step.slot;
                    steps.push_back(step);
                    steps.push_back(complete);
                    continue;
                }
                break;
            }
            case 10:
            case 11: {
                step.call = Call::kFormFeed;
                const std::uint8_t limit = in.Byte();
                step.lineLimit = limit < 250 ? limit * 4 : static_cast<std::int32_t>(in.U32());
                if ((head & 0x0F) == 11) {
                    Step complete;
                    complete.call = Call::kComplete;
                    complete.slot = step.slot;
                    steps.push_back(step);
                    steps.push_back(complete);
                    continue;
                }
                break;
            }
            case 12:
                step.call = Call::kClose;
                break;
            case 13:
                step.call = Call::kNullArgument;
                step.variant = in.Byte();
                break;
            default:
                step.call = Call::kInit;
                break;
        }
        steps.push_back(step);
    }
    return steps;
}

// ---------------------------------------------------------------------------------------
// Running the steps.

// One page's line of one plane, as the page's stream must give it back.
struct SentLine {
    int plane;
    std::int32_t line;
    Bytes bytes;
};

struct Slot {
    OutputHandle handle = nullptr;
    Bytes stream;  // everything the job has listed since OutputOpen
    bool formFeedJob = false;
    std::int32_t lastLine = -1;  // the last line the page took in
    // A normal-mode page from its setup to its end.
    bool pageOpen = false;
    std::size_t pageStart = 0;
    bool pageCheckable = false;
    std::vector<SentLine> lines;
};

struct Trace {
    std::vector<std::int16_t> results;
    std::vector<Bytes> streams;  // of every job, in the order they ended
};

// The streams of the jobs that ended so far and of the ones still open, in slot order.
std::vector<Bytes> StreamsSoFar(const Trace& trace, const Slot (&slots)[2]) {
    std::vector<Bytes> streams = trace.streams;
    for (const Slot& slot : slots)
        streams.push_back(slot.stream);
    return streams;
}

OutputContext* ContextOf(const Slot& slot) {
    return static_cast<OutputContext*>(slot.handle);
}

const CallState* StateOf(const OutputContext* context) {
    return reinterpret_cast<const CallState*>(context->stateHandle);
}

std::int16_t ModeOf(const Slot& slot) {
    const OutputContext* context = ContextOf(slot);
    if (context == nullptr || context->stateHandle == nullptr) return inkrow::kModeNormal;
    return StateOf(context)->mode;
}

// The caller's lines of one band.
struct BandLines {
    RasterBand band;
    std::unique_ptr<std::uint8_t[]> pixels[OUTPUT_MAX_BAND_PLANES];
    std::size_t sizes[OUTPUT_MAX_BAND_PLANES] = {};
};

std::uint64_t NextRandom(std::uint64_t* state) {
    std::uint64_t z = (*state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

void FillLine(std::uint8_t* bytes, std::size_t size, std::uint8_t pattern, std::uint64_t seed) {
    std::uint64_t random = seed;
    switch (pattern % 8) {
        case 0:
            std::memset(bytes, 0, size);
            break;
        case 1:
            std::memset(bytes, 0xFF, size);
            break;
        case 2:
            for (std::size_t i = 0; i < size; ++i)
                bytes[i] = NextRandom(&random) & 0xFF;
            break;
        case 3:  // sparse
            for (std::size_t i = 0; i < size; ++i) {
                const std::uint64_t r = NextRandom(&random);
                bytes[i] = (r & 15) == 0 ? static_cast<std::uint8_t>(r >> 8) : 0;
            }
            break;
        case 4:  // runs of every length, often blank
            for (std::size_t i = 0; i < size;) {
                const std::uint64_t r = NextRandom(&random);
                const std::size_t run = std::min<std::size_t>(size - i, 1 + (r & 0xFF) % 200);
                const std::uint8_t value = (r >> 16) & 1 ? 0 : static_cast<std::uint8_t>(r >> 8);
                std::memset(bytes + i, value, run);
                i += run;
            }
            break;
        case 5:  // singles and pairs, which fold into literals
            for (std::size_t i = 0; i < size;) {
                const std::uint64_t r = NextRandom(&random);
                const std::size_t run = std::min<std::size_t>(size - i, 1 + (r & 1));
                std::memset(bytes + i, static_cast<std::uint8_t>(r >> 8), run);
                i += run;
            }
            break;
        case 6:  // one inked byte
            std::memset(bytes, 0, size);
            if (size > 0) bytes[NextRandom(&random) % size] = 0x81;
            break;
        default:  // levels: every nibble one of a few values
            for (std::size_t i = 0; i < size; ++i) {
                const std::uint64_t r = NextRandom(&random);
                bytes[i] = static_cast<std::uint8_t>(((r & 3) * 5) << 4 | ((r >> 2) & 15));
            }
            break;
    }
}

// Bits per pixel in which the configuration reads band entry `plane`; 0 for an entry
// it does not read.
int InputBitsPerPixel(const OutputContext* context, int plane) {
    if (context == nullptr || context->planeCount == 0) return 0;
    if (context->planes[0].twoBitSplit == 1) return plane < 6 ? 4 : 0;
    return plane < context->planeCount ? 8 >> context->planes[plane].pixelShift : 0;
}

// Whether a band keeps the rules on line order and extents that every band must keep,
// whatever the page's content: refused without a line touched when it does not.
bool KeepsBandRules(const OutputContext* context, const RasterBand& band, std::int32_t lastLine) {
    if (band.lineNumber < 0 || band.lineNumber <= lastLine) return false;
    const int planesRead = context->planes[0].twoBitSplit == 1 ? 6 : context->planeCount;
    for (int i = 0; i < planesRead && i < OUTPUT_MAX_BAND_PLANES; ++i) {
        const BandPlane& entry = band.bandPlanes[i];
        if (entry.pixels == nullptr || entry.end == entry.start) continue;
        const int spanEnd = entry.end - entry.trail;
        if (entry.start < 0 || entry.trail < 0 || spanEnd < entry.start ||
            spanEnd > context->pixelWidth)
            return false;
    }
    return true;
}

bool AllowsBand(const OutputContext* context) {
    const CallState* state = StateOf(context);
    return state->state == (state->mode != inkrow::kModeNormal ? inkrow::kStateFormFeedPageOpen
                                                               : inkrow::kStatePageOpen);
}

std::int32_t NextLineNumber(const Slot& slot, const BandSpec& recipe) {
    const std::int64_t last = slot.lastLine;
    std::int64_t line;
    if (recipe.lineMode < 160) {
        line = last + 1;
    } else if (recipe.lineMode < 200) {
        line = last + recipe.lineValue % 40;  // 0 repeats the last line
    } else if (recipe.lineMode < 220) {
        line = last - recipe.lineValue % 10;
    } else if (recipe.lineMode < 240) {
        line = last + 1 + recipe.lineValue % (1u << 22);  // far below: many skips
    } else {
        line = static_cast<std::int32_t>(recipe.lineValue);
    }
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(line, INT32_MIN, INT32_MAX));
}

void BuildBand(const Slot& slot, const BandSpec& recipe, int stepIndex, BandLines* lines) {
    const OutputContext* context = ContextOf(slot);
    const std::int32_t width =
        context != nullptr ? std::max<std::int16_t>(context->pixelWidth, 0) : 0;
    std::memset(&lines->band, 0, sizeof lines->band);
    lines->band.lineNumber = NextLineNumber(slot, recipe);
    for (int i = 0; i < OUTPUT_MAX_BAND_PLANES; ++i) {
        const PlaneSpec& plane = recipe.planes[i];
        BandPlane& entry = lines->band.bandPlanes[i];
        // Exactly as long as the line the configuration reads, so that any read past
        // it is caught; an entry it must not read gets a block of no bytes.
        const int bits = InputBitsPerPixel(context, i);
        const std::size_t size = (static_cast<std::size_t>(bits) * width + 7) / 8;
        lines->sizes[i] = size;
        lines->pixels[i].reset(new std::uint8_t[size]);
        FillLine(lines->pixels[i].get(), size, plane.pattern,
                 (std::uint64_t{plane.seed} << 32) ^ (static_cast<std::uint64_t>(stepIndex) << 8) ^
                     static_cast<std::uint64_t>(i));
        entry.pixels = lines->pixels[i].get();
        switch (plane.span) {
            case SpanKind::kFull:
                entry.start = 0;
                entry.end = static_cast<std::int16_t>(width);
                entry.trail = 0;
                break;
            case SpanKind::kInside: {
                const std::int32_t start = (plane.a * (width + 1)) >> 8;
                const std::int32_t spanEnd = start + ((plane.b * (width - start + 1)) >> 8);
                const std::int32_t trail = std::min<std::int32_t>(plane.c % 8, 32767 - spanEnd);
                entry.start = static_cast<std::int16_t>(start);
                entry.end = static_cast<std::int16_t>(spanEnd + trail);
                entry.trail = static_cast<std::int16_t>(trail);
                break;
            }
            case SpanKind::kEmpty:
                entry.start = static_cast<std::int16_t>((plane.a * (width + 1)) >> 8);
                entry.end = entry.start;
                entry.trail = static_cast<std::int16_t>(plane.c % 4);
                break;
            case SpanKind::kNoPixels:
                entry.pixels = nullptr;
                entry.end = static_cast<std::int16_t>(width);
                break;
            case SpanKind::kRaw:
                entry.end = plane.rawEnd;
                entry.start = plane.rawStart;
                entry.trail = plane.rawTrail;
                break;
        }
    }
}

// What a failing call must leave as it was: the context's record (its pointers into
// locked blocks aside, which every call rebuilds from the handles), the call state, the
// bytes of the packets, the caller's lines and the blocks allocated.
// Byte contents are kept as digests: packets run to tens of kilobytes, and a snapshot is
// taken before every call.
struct Snapshot {
    bool present = false;
    OutputContext context;
    CallState state;
    std::uint64_t buffers = 0;
    std::int16_t listCount = 0;
    std::uint64_t lines = 0;
    std::int64_t liveBlocks = 0;
};

std::uint64_t Digest(const std::uint8_t* bytes, std::size_t size, std::uint64_t digest) {
    digest ^= size * 0x9E3779B97F4A7C15ull;
    std::size_t at = 0;
    for (; at + 8 <= size; at += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes + at, sizeof word);
        digest = (digest ^ word) * 0xFF51AFD7ED558CCDull;
        digest ^= digest >> 32;
    }
    for (; at < size; ++at)
        digest = (digest ^ bytes[at]) * 0x100000001B3ull;
    return digest;
}

// A packet grows at its end: its header and its last bytes are what a call that must
// change nothing could have changed. (Its whole content is checked by decoding.)
void DigestUsed(const inkrow::BufferNode& node, std::uint64_t* digest) {
    if (node.dataHandle == nullptr || node.usedLength <= 0) return;
    const auto* bytes = static_cast<const std::uint8_t*>(node.dataHandle);
    const auto used = static_cast<std::size_t>(node.usedLength);
    constexpr std::size_t kEdge = 64;
    if (used <= 2 * kEdge) {
        *digest = Digest(bytes, used, *digest);
        return;
    }
    *digest = Digest(bytes, kEdge, *digest);
    *digest = Digest(bytes + used - kEdge, kEdge, *digest);
}

Snapshot TakeSnapshot(const Slot& slot, const BandLines* lines) {
    Snapshot snapshot;
    snapshot.liveBlocks = testheap::LiveBlocks();
    if (lines != nullptr) {
        for (int i = 0; i < OUTPUT_MAX_BAND_PLANES; ++i)
            snapshot.lines = Digest(lines->pixels[i].get(), lines->sizes[i], snapshot.lines);
    }
    const OutputContext* context = ContextOf(slot);
    if (context == nullptr) return snapshot;
    snapshot.present = true;
    std::memcpy(static_cast<void*>(&snapshot.context), context, sizeof *context);
    snapshot.state = *StateOf(context);
    for (int plane = 0; plane < context->planeCount; ++plane) {
        DigestUsed(context->planes[plane].packetChain, &snapshot.buffers);
        DigestUsed(context->stagingChains[plane], &snapshot.buffers);
    }
    if (context->segmentList != nullptr) snapshot.listCount = context->segmentList->count;
    return snapshot;
}

// `lines` null: the caller's lines may have been worked on (a band refused only once
// its lines were taken in, for want of room).
void CheckUnchanged(const char* what, int16_t result, const Snapshot& before, const Slot& slot,
                    const BandLines* lines) {
    const Snapshot after = TakeSnapshot(slot, lines);
    if (after.liveBlocks != before.liveBlocks)
        Fail("%s failed with %04X but live blocks went from %lld to %lld", what,
             static_cast<std::uint16_t>(result), static_cast<long long>(before.liveBlocks),
             static_cast<long long>(after.liveBlocks));
    if (lines != nullptr && before.lines != after.lines)
        Fail("%s failed with %04X but changed the caller's lines", what,
             static_cast<std::uint16_t>(result));
    if (before.present != after.present) {
        Fail("%s failed with %04X but changed the handle", what,
             static_cast<std::uint16_t>(result));
        return;
    }
    if (!before.present) return;
    if (const char* field = FirstDifference(before.context, after.context))
        Fail("%s failed with %04X but changed %s", what, static_cast<std::uint16_t>(result), field);
    if (!SameCallState(before.state, after.state))
        Fail("%s failed with %04X but moved the state from %d/%d to %d/%d", what,
             static_cast<std::uint16_t>(result), before.state.mode, before.state.state,
             after.state.mode, after.state.state);
    if (before.buffers != after.buffers)
        Fail("%s failed with %04X but changed a packet", what, static_cast<std::uint16_t>(result));
    if (before.listCount != after.listCount)
        Fail("%s failed with %04X but changed the segment list", what,
             static_cast<std::uint16_t>(result));
}

const char* NameOf(Call call) {
    switch (call) {
        case Call::kOpen:
            return "OutputOpen";
        case Call::kInitTwo:
            return "OutputInitTwo";
        case Call::kInitPart:
            return "OutputInitPart";
        case Call::kProduceTwo:
            return "OutputProduceTwo";
        case Call::kProduce:
            return "OutputProduce";
        case Call::kComplete:
            return "OutputComplete";
        case Call::kFlush:
            return "OutputFlush";
        case Call::kFormFeed:
            return "OutputFormFeed";
        case Call::kClose:
            return "OutputClose";
        case Call::kInit:
            return "OutputInit";
        case Call::kNullArgument:
            return "a call with a null address";
    }
    return "?";
}

constexpr std::int16_t kOk = OUTPUT_OK;
constexpr std::int16_t kFailed = OUTPUT_FAILED;
constexpr std::int16_t kNoMemory = OUTPUT_NO_MEMORY;
constexpr std::int16_t kNotNow = OUTPUT_NOT_NOW;
constexpr std::int16_t kNever = OUTPUT_NEVER;

// The codes each entry point may give a caller, by the mode the context was in.
bool IsDocumented(Call call, std::int16_t result, std::int16_t mode) {
    auto oneOf = [result](std::initializer_list<std::int16_t> codes) {
        return std::find(codes.begin(), codes.end(), result) != codes.end();
    };
    switch (call) {
        case Call::kOpen:
            return oneOf({OUTPUT_OPENED, OUTPUT_OPEN_FAILED});
        case Call::kInit:
            return result == kFailed;
        case Call::kInitTwo:
            return oneOf({kOk, kFailed, kNever});
        case Call::kInitPart:
        case Call::kProduceTwo:
        case Call::kFlush:
            return oneOf({kOk, kFailed, kNoMemory, kNotNow, kNever});
        case Call::kProduce:
        case Call::kComplete:
            return oneOf({kOk, kFailed, kNotNow, kNever});
        case Call::kFormFeed:
            return mode == inkrow::kModeNormal ? oneOf({kFailed, kNever})
                                               : oneOf({kOk, kFailed, kNoMemory, kNotNow});
        case Call::kClose:
        case Call::kNullArgument:
            return true;
    }
    return false;
}

// The state a successful call leaves, by mode: the call-order tables as a caller sees
// them.
bool IsStateAfterSuccess(Call call, const CallState& state) {
    using namespace inkrow;
    const bool formFeed = state.mode != kModeNormal;
    switch (call) {
        case Call::kInitTwo:
            return state.state == (formFeed ? kStateFormFeedJobReady : kStateJobReady);
        case Call::kInitPart:
            return state.state == (formFeed ? kStateFormFeedPageOpen : kStatePageOpen);
        case Call::kProduceTwo:
        case Call::kProduce:
            return state.state == (formFeed ? kStateFormFeedBandSent : kStateBandSent);
        case Call::kComplete:
            return formFeed ? (state.state == kStateFormFeedPageOpen ||
                               state.state == kStateFormFeedJobReady ||
                               state.state == kStateFormFeedJobEnded)
                            : (state.state == kStatePageOpen || state.state == kStateJobReady);
        case Call::kFlush:
            return state.state == (formFeed ? kStateFormFeedFlushSent : kStatePageEndSent);
        case Call::kFormFeed:
            return formFeed && state.state == kStateFormFeedSent;
        default:
            return true;
    }
}

#if CALLSEQ_HAVE_DECODER

std::string DescribeError(const inkrow::decode::Error& error) {
    return std::string(inkrow::decode::DescribeErrorCode(error.code)) + " at byte " +
           std::to_string(error.offset) + ": " + error.message;
}

void CheckJobStream(const Slot& slot) {
    inkrow::decode::DecodeOptions options;
    options.keepListing = false;
    options.keepRasters = false;
    // A form-feed job repeats the page header on every page and ends its pages only
    // with the form feed of the job's end.
    options.continuePageOnHeader = slot.formFeedJob;
    inkrow::decode::Decoded decoded;
    const inkrow::decode::Error error = DecodeStream(slot.stream, options, &decoded);
    if (error.code != inkrow::decode::ErrorCode::kNone)
        Fail("the stream of a %s job does not decode: %s",
             slot.formFeedJob ? "form-feed" : "normal", DescribeError(error).c_str());
}

// The stream of one finished normal-mode page must hold exactly the lines sent in.
void CheckPage(const Slot& slot, std::int16_t inkSetId, std::int16_t linesPerRow) {
    namespace decode = inkrow::decode;
    const std::span<const std::uint8_t> page(slot.stream.data() + slot.pageStart,
                                             slot.stream.size() - slot.pageStart);
    decode::DecodeOptions options;
    // Pages far below their top are checked by their counts of inked lines only.
    options.maxRasterBytes = std::uint64_t{4} << 20;
    decode::Decoded decoded;
    decode::Error error = DecodeStream(page, options, &decoded);
    if (error.code == decode::ErrorCode::kRasterTooLarge) {
        options.keepRasters = false;
        error = DecodeStream(page, options, &decoded);
    }
    if (error.code != decode::ErrorCode::kNone) {
        Fail("a page does not decode: %s", DescribeError(error).c_str());
        return;
    }
    if (decoded.pages.size() > 1) {
        Fail("one page decodes as %zu pages", decoded.pages.size());
        return;
    }
    if (!slot.pageCheckable) return;
    const std::span<const std::uint8_t> codes = decode::ListInkSetCodes(inkSetId);
    std::vector<std::uint64_t> expectedInked(codes.size(), 0);
    for (const SentLine& sent : slot.lines) {
        if (static_cast<std::size_t>(sent.plane) >= codes.size()) {
            Fail("plane %d is outside ink set %d", sent.plane, inkSetId);
            return;
        }
        if (std::all_of(sent.bytes.begin(), sent.bytes.end(),
                        [](std::uint8_t b) { return b == 0; }))
            continue;
        ++expectedInked[sent.plane];
        if (decoded.pages.empty()) {
            Fail("line %d of plane %d has ink but the page sent nothing", sent.line, sent.plane);
            return;
        }
        const decode::Page& decodedPage = decoded.pages[0];
        if (decodedPage.linesPerRow != linesPerRow) {
            Fail("the page header gives %d lines per row, the page has %d", decodedPage.linesPerRow,
                 linesPerRow);
            return;
        }
        const decode::InkRaster* raster = decode::FindInk(decodedPage, codes[sent.plane]);
        if (raster == nullptr) {
            Fail("line %d of plane %d has ink but its ink was never sent", sent.line, sent.plane);
            return;
        }
        if (!options.keepRasters) continue;
        if (static_cast<std::uint64_t>(sent.line) >= raster->lineCount) {
            Fail("line %d of plane %d lies below the %llu lines sent", sent.line, sent.plane,
                 static_cast<unsigned long long>(raster->lineCount));
            return;
        }
        const std::uint8_t* got =
            raster->bytes.data() + sent.line * std::size_t{raster->widthBytes};
        for (std::size_t b = 0; b < std::max<std::size_t>(raster->widthBytes, sent.bytes.size());
             ++b) {
            const std::uint8_t want = b < sent.bytes.size() ? sent.bytes[b] : 0;
            const std::uint8_t have = b < raster->widthBytes ? got[b] : 0;
            if (want != have) {
                Fail("line %d of plane %d comes back with %02X at byte %zu where %02X was sent",
                     sent.line, sent.plane, have, b, want);
                return;
            }
        }
    }
    // No line that was sent blank, or not sent at all, may come back with ink.
    std::vector<std::uint64_t> inked(codes.size(), 0);
    for (const decode::Command& command : decoded.commands) {
        if (command.kind != decode::CommandKind::kPacket) continue;
        const auto at = std::find(codes.begin(), codes.end(), command.ink);
        if (at == codes.end()) {
            Fail("a packet for ink %02X, which ink set %d does not have", command.ink, inkSetId);
            return;
        }
        inked[static_cast<std::size_t>(at - codes.begin())] += command.inkedLines;
    }
    for (std::size_t plane = 0; plane < codes.size(); ++plane)
        if (inked[plane] != expectedInked[plane])
            Fail("plane %zu: %llu inked lines sent, %llu came back", plane,
                 static_cast<unsigned long long>(expectedInked[plane]),
                 static_cast<unsigned long long>(inked[plane]));
}

#else

// Whether a packet payload holds exactly linesPerRow well-formed lines.
bool PayloadHoldsLines(const std::uint8_t* payload, std::size_t length, int linesPerRow) {
    if (length == 0) return true;
    std::size_t at = 0;
    for (int line = 0; line < linesPerRow; ++line) {
        for (;;) {
            if (at >= length) return false;
            const std::uint8_t control = payload[at++];
            if (control == 0x80) break;
            const std::size_t data = control < 0x80 ? control + 1u : 1u;
            if (length - at < data) return false;
            at += data;
        }
    }
    return at == length;
}

// Empty when the stream is made of known commands in a valid order.
std::string CheckStructure(const Bytes& stream) {
    std::size_t at = 0;
    bool page = false;
    int linesPerRow = 0;
    std::size_t selected = 0;
    std::size_t packets = 0;
    bool selectionUnused = false;
    while (at < stream.size()) {
        const bool betweenRows = packets == 0 && !selectionUnused;
        if (stream[at] == 0x0C) {
            if (!page || !betweenRows) return "form feed inside a row or outside a page";
            page = false;
            ++at;
            continue;
        }
        if (stream.size() - at < 5 || stream[at] != 0x1B || stream[at + 1] != 0x28)
            return "unknown or truncated command at " + std::to_string(at);
        const std::uint8_t letter = stream[at + 2];
        const std::size_t length = stream[at + 3] | (stream[at + 4] << 8);
        if (stream.size() - at - 5 < length) return "truncated command at " + std::to_string(at);
        const std::uint8_t* parameters = stream.data() + at + 5;
        const bool ready = page && linesPerRow != 0;
        switch (letter) {
            case 'I':
                if (length != 1 || parameters[0] != 1 || !betweenRows) return "bad ESC ( I";
                page = true;
                linesPerRow = 0;
                break;
            case 'J':
                if (!page || length != 1 ||
                    (parameters[0] != 1 && parameters[0] != 8 && parameters[0] != 16))
                    return "bad ESC ( J";
                linesPerRow = parameters[0];
                break;
            case 'e': {
                const unsigned rows = length == 2 ? (parameters[0] << 8) | parameters[1] : 0;
                if (!ready || !betweenRows || rows == 0 || rows > 0x7FFF) return "bad ESC ( e";
                break;
            }
            case 'L':
                if (!ready || !betweenRows || length == 0) return "bad ESC ( L";
                selected = length;
                selectionUnused = true;
                break;
            case 'F':
                if (!ready || selected == 0 || !PayloadHoldsLines(parameters, length, linesPerRow))
                    return "bad ESC ( F at " + std::to_string(at);
                selectionUnused = false;
                packets = (packets + 1) % selected;
                break;
            default:
                return "unknown command at " + std::to_string(at);
        }
        at += 5 + length;
    }
    if (packets != 0 || selectionUnused) return "stream ends inside a row";
    return {};
}

void CheckJobStream(const Slot& slot) {
    const std::string problem = CheckStructure(slot.stream);
    if (!problem.empty()) Fail("the stream of a job is malformed: %s", problem.c_str());
}

void CheckPage(const Slot& slot, std::int16_t, std::int16_t) {
    const Bytes page(slot.stream.begin() + static_cast<std::ptrdiff_t>(slot.pageStart),
                     slot.stream.end());
    const std::string problem = CheckStructure(page);
    if (!problem.empty()) Fail("a page is malformed: %s", problem.c_str());
}

#endif

void AppendList(const void* segmentList, Bytes* stream) {
    const auto* list = static_cast<const SegmentList*>(segmentList);
    if (list->count < 0 || list->count > inkrow::kSegmentCapacity) {
        Fail("a segment list of %d entries", list->count);
        return;
    }
    for (int i = 0; i < list->count; ++i) {
        const Segment& segment = list->items[i];
        if (segment.data == nullptr || segment.length == 0) {
            Fail("segment %d of %d is empty", i, list->count);
            continue;
        }
        stream->insert(stream->end(), segment.data, segment.data + segment.length);
    }
}

// Records what the stream of the page must give back for every plane of the band.
void RecordSentLines(Slot* slot, const BandLines& lines) {
    const OutputContext* context = ContextOf(*slot);
    for (int i = 0; i < context->planeCount && i < OUTPUT_MAX_BAND_PLANES; ++i) {
        const BandPlane& entry = lines.band.bandPlanes[i];
        if (entry.pixels == nullptr || entry.end == entry.start) continue;
        const int shift = context->planes[i].pixelShift;
        const std::uint8_t* pixels = entry.pixels;
        SentLine sent{i, lines.band.lineNumber, {}};
        const int spanLast = entry.end - entry.trail - 1;
        if (context->planes[i].codeConversion != 0) {
            // The line was converted in place: its first bytes are the printer's code.
            const auto length = static_cast<std::uint16_t>((spanLast >> shift) + 1);
            const std::size_t produced = 4 * (length / 5) + std::min(length % 5, 4);
            sent.bytes.assign(pixels, pixels + produced);
        } else {
            // Whole bytes of the span go out; pixels outside it that share a byte with
            // its inked ends were cleared in the caller's line.
            const int low = entry.start >> shift;
            const int high = spanLast >> shift;
            if (high >= low) {
                sent.bytes.assign(static_cast<std::size_t>(high) + 1, 0);
                std::copy(pixels + low, pixels + high + 1, sent.bytes.begin() + low);
            }
        }
        slot->lines.push_back(std::move(sent));
    }
}

struct Runner {
    bool injectFailures = false;
    Slot slots[2];
    Trace trace;
};

void EndJob(Runner* runner, Slot* slot) {
    if (slot->handle == nullptr) return;
    OutputClose(&slot->handle);
    if (slot->handle != nullptr) Fail("OutputClose left the handle set");
    CheckJobStream(*slot);
    runner->trace.streams.push_back(std::move(slot->stream));
    *slot = Slot{};
}

std::int16_t CallWithNullAddress(Slot* slot, std::uint8_t variant, const Step& step) {
    JobParams job = step.job;
    PageParams page = step.page;
    RasterBand band;
    std::memset(&band, 0, sizeof band);
    void* out = nullptr;
    OutputHandle* handle = &slot->handle;
    switch (variant % 15) {
        case 0:
            return OutputInitTwo(nullptr, &job, OUTPUT_JOB_PARAMS_VERSION);
        case 1:
            return OutputInitTwo(handle, nullptr, OUTPUT_JOB_PARAMS_VERSION);
        case 2:
            return OutputInitPart(nullptr, &page);
        case 3:
            return OutputInitPart(handle, nullptr);
        case 4:
            return OutputProduceTwo(nullptr, &band, &out);
        case 5:
            return OutputProduceTwo(handle, nullptr, &out);
        case 6:
            return OutputProduceTwo(handle, &band, nullptr);
        case 7:
            return OutputProduce(nullptr);
        case 8:
            return OutputComplete(nullptr);
        case 9:
            return OutputFlush(nullptr, &out);
        case 10:
            return OutputFlush(handle, nullptr);
        case 11:
            return OutputFormFeed(nullptr, &out, 8);
        case 12:
            return OutputFormFeed(handle, nullptr, 8);
        case 13:
            OutputClose(nullptr);
            return kFailed;
        default:
            return OutputOpen(nullptr) == OUTPUT_OPEN_FAILED ? kFailed : kOk;
    }
}

// Runs one call of a step; `list` receives the segment list of a producing call.
std::int16_t Invoke(Slot* slot, const Step& step, BandLines* lines, void** list) {
    switch (step.call) {
        case Call::kOpen:
            return OutputOpen(&slot->handle);
        case Call::kInitTwo:
            return OutputInitTwo(&slot->handle, &step.job, step.version);
        case Call::kInitPart:
            return OutputInitPart(&slot->handle, &step.page);
        case Call::kProduceTwo:
            return OutputProduceTwo(&slot->handle, &lines->band, list);
        case Call::kProduce:
            return OutputProduce(&slot->handle);
        case Call::kComplete:
            return OutputComplete(&slot->handle);
        case Call::kFlush:
            return OutputFlush(&slot->handle, list);
        case Call::kFormFeed:
            return OutputFormFeed(&slot->handle, list, step.lineLimit);
        case Call::kInit:
            return OutputInit();
        case Call::kClose:
        case Call::kNullArgument:
            return kOk;
    }
    return kOk;
}

void* const kUntouched = reinterpret_cast<void*>(std::uintptr_t{0x5A5A5A5A});

// After a successful call: the stream, the page's record of sent lines, the checks of
// a finished page.
void TakeSuccess(Slot* slot, const Step& step, const BandLines* lines, void* list,
                 std::int16_t modeBefore) {
    OutputContext* context = ContextOf(*slot);
    const bool producing =
        step.call == Call::kProduceTwo || step.call == Call::kFlush || step.call == Call::kFormFeed;
    if (producing) {
        if (list != context->segmentListHandle) {
            Fail("%s succeeded but handed out %p, not the segment list", NameOf(step.call), list);
            return;
        }
        AppendList(list, &slot->stream);
    }
    if (!IsStateAfterSuccess(step.call, *StateOf(context)))
        Fail("%s succeeded into state %d of mode %d", NameOf(step.call), StateOf(context)->state,
             StateOf(context)->mode);
    switch (step.call) {
        case Call::kInitTwo:
            slot->formFeedJob = StateOf(context)->mode != inkrow::kModeNormal;
            break;
        case Call::kInitPart:
            slot->lastLine = -1;
            slot->pageOpen = modeBefore == inkrow::kModeNormal;
            slot->pageStart = slot->stream.size();
            slot->pageCheckable = context->planes[0].twoBitSplit != 1;
            slot->lines.clear();
            break;
        case Call::kProduceTwo:
            slot->lastLine = lines->band.lineNumber;
            if (slot->pageOpen && slot->pageCheckable) RecordSentLines(slot, *lines);
            break;
        case Call::kFlush:
            if (slot->pageOpen) CheckPage(*slot, context->inkSetId, context->linesPerRow);
            slot->pageOpen = false;
            break;
        case Call::kComplete:
            if (context->controlChain.nextHandle != nullptr ||
                context->controlChain.usedLength != 0)
                Fail("OutputComplete left control commands behind");
            break;
        default:
            break;
    }
}

void RunStep(Runner* runner, const Step& step, int stepIndex) {
    Slot* slot = &runner->slots[step.slot];
    if (step.call == Call::kClose) {
        EndJob(runner, slot);
        return;
    }
    if (step.call == Call::kOpen && slot->handle != nullptr) EndJob(runner, slot);

    BandLines lines;
    const bool banded = step.call == Call::kProduceTwo;
    if (banded) BuildBand(*slot, step.band, stepIndex, &lines);
    const std::int16_t modeBefore = ModeOf(*slot);

    if (step.call == Call::kNullArgument) {
        const Snapshot before = TakeSnapshot(*slot, nullptr);
        const std::int16_t result = CallWithNullAddress(slot, step.variant, step);
        if (result != kFailed)
            Fail("a call with a null address gave %04X", static_cast<std::uint16_t>(result));
        CheckUnchanged(NameOf(step.call), result, before, *slot, nullptr);
        runner->trace.results.push_back(result);
        return;
    }

    // A band that breaks the rules on order or extents must be refused before any of
    // its lines is touched; one that keeps them may still be refused for want of room
    // once its lines are taken in.
    const OutputContext* context = ContextOf(*slot);
    const bool mustRefuse = banded && context != nullptr && AllowsBand(context) &&
                            !KeepsBandRules(context, lines.band, slot->lastLine);
    const bool mayTouchLines = banded && context != nullptr && !mustRefuse;

    const bool failing = runner->injectFailures && step.failAt != 0;
    std::int16_t result = 0;
    void* list = nullptr;
    for (int attempt = 0;; ++attempt) {
        const Snapshot before = TakeSnapshot(*slot, banded ? &lines : nullptr);
        list = kUntouched;
        if (failing && attempt == 0) testheap::FailAllocation(step.failAt);
        void** out = (step.call == Call::kFlush && step.variant == 0xFF) ? nullptr : &list;
        result = Invoke(slot, step, &lines, out);
        testheap::Reset();

        if (!IsDocumented(step.call, result, modeBefore))
            Fail("%s gave %04X, which it does not document", NameOf(step.call),
                 static_cast<std::uint16_t>(result));
        if (mustRefuse && result != kFailed)
            Fail("a band against the rules on order or extents gave %04X",
                 static_cast<std::uint16_t>(result));
        const bool outOfMemory =
            result == kNoMemory || (step.call == Call::kOpen && result == OUTPUT_OPEN_FAILED);
        if (outOfMemory && !(failing && attempt == 0))
            Fail("%s ran out of memory with no allocation failing", NameOf(step.call));
        if (step.call == Call::kOpen) {
            if (result == OUTPUT_OPEN_FAILED &&
                (slot->handle != nullptr || testheap::LiveBlocks() != before.liveBlocks))
                Fail("a failed OutputOpen left a handle or blocks behind");
        } else if (result < 0) {
            const bool linesKept = banded && !(mayTouchLines && result == kFailed);
            CheckUnchanged(NameOf(step.call), result, before, *slot, linesKept ? &lines : nullptr);
            if (list != kUntouched) Fail("a failed %s wrote the list variable", NameOf(step.call));
        }
        // A call that ran out of memory is retried, as a caller would, and must then
        // behave as if the failure had never been.
        if (outOfMemory && attempt == 0) continue;
        break;
    }
    runner->trace.results.push_back(result);
    if (result >= 0 && slot->handle != nullptr && step.call != Call::kInit)
        TakeSuccess(slot, step, banded ? &lines : nullptr, list, modeBefore);
}

// Runs steps[0 .. count) and then ends every job still open; *streams receives what the
// jobs had sent once the first `captureAt` steps had run.
Trace RunSteps(const std::vector<Step>& steps, std::size_t count, bool injectFailures,
               std::size_t captureAt, std::vector<Bytes>* streams) {
    Runner runner;
    runner.injectFailures = injectFailures;
    for (std::size_t i = 0; i < count; ++i) {
        if (i == captureAt) *streams = StreamsSoFar(runner.trace, runner.slots);
        RunStep(&runner, steps[i], static_cast<int>(i));
    }
    if (captureAt >= count) *streams = StreamsSoFar(runner.trace, runner.slots);
    for (Slot& slot : runner.slots)
        EndJob(&runner, &slot);
    return std::move(runner.trace);
}

}  // namespace

void SetFailureHandler(FailureHandler handler) {
    failureHandler = handler != nullptr ? handler : AbortOnFailure;
}

void RunCallSequence(const std::uint8_t* data, std::size_t size, Runs runs) {
    Input input{data, size};
    const std::vector<Step> steps = ReadSteps(input);
    const std::int64_t liveBefore = testheap::LiveBlocks();
    testheap::Reset();

    // The run with failing allocations needs to go only as far as the last of them:
    // from there on both runs make the same calls on the same contexts.
    std::size_t failingSteps = 0;
    for (std::size_t i = 0; i < steps.size(); ++i)
        if (steps[i].failAt != 0) failingSteps = i + 1;

    if (runs == Runs::kCalls) failingSteps = 0;
    if (runs == Runs::kAllocationFailures && failingSteps == 0) return;
    const std::size_t cleanSteps = runs == Runs::kAllocationFailures ? failingSteps : steps.size();
    std::vector<Bytes> cleanStreams;
    const Trace clean = RunSteps(steps, cleanSteps, false, failingSteps, &cleanStreams);
    if (testheap::LiveBlocks() != liveBefore)
        Fail("%lld blocks outlive their contexts",
             static_cast<long long>(testheap::LiveBlocks() - liveBefore));
    if (failingSteps == 0) return;

    std::vector<Bytes> failingStreams;
    const Trace failing = RunSteps(steps, failingSteps, true, failingSteps, &failingStreams);
    if (testheap::LiveBlocks() != liveBefore)
        Fail("%lld blocks outlive their contexts after failed allocations",
             static_cast<long long>(testheap::LiveBlocks() - liveBefore));
    const std::size_t results = std::min(clean.results.size(), failing.results.size());
    for (std::size_t i = 0; i < results; ++i) {
        if (clean.results[i] != failing.results[i]) {
            Fail("call %zu gave %04X after a failed allocation and a retry, %04X without", i,
                 static_cast<std::uint16_t>(failing.results[i]),
                 static_cast<std::uint16_t>(clean.results[i]));
            return;
        }
    }
    if (cleanStreams != failingStreams)
        Fail("failed allocations changed the command stream of a job");
}

}  // namespace callseq
