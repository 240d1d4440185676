// The output context: all state of one print job, reached through the handle that
// OutputOpen returns. Internal; the caller never sees it.
#pragma once

#include <cstdint>

#include "catalog/ink_sets.h"
#include "core/block.h"
#include "core/result.h"
#include "inkrow/output.h"

namespace inkrow {

// One node of a growable chained byte buffer. The first node of a chain is embedded in
// its owner; further nodes are blocks of their own. Between calls only the handles and
// usedLength are authoritative: LockBufferChain rebuilds the pointers from them.
struct BufferNode {
    std::uint8_t* base;
    BufferNode* next;
    std::uint8_t* cursor;
    std::uint32_t capacity;
    Handle dataHandle;
    Handle nextHandle;
    std::int32_t usedLength;
};

// Whether a LineState's line holds ink. The values are the stored ones.
enum BlankFlag : std::int16_t {
    kLineIsBlank = 1,
    kLineIsInked = -2,
};

// What the next OutputComplete finishes, as recorded by the call that produced the
// list the caller is sending.
enum CompletionKind : std::int16_t {
    kCompletionNone = 0,       // nothing produced (a page set up, or OutputProduce)
    kCompletionSameRow = 1,    // a band whose line joined the row being built
    kCompletionFirstRow = 2,   // the first band of a page
    kCompletionRowChange = 3,  // a band that started a later row: its line is staged
    kCompletionPageEnd = 4,    // OutputFlush: the page's buffers go
    kCompletionFormFeed = 5,   // OutputFormFeed: the rows up to its limit go
};

// Whether the page header has gone out on this page. 1 is never stored.
enum PageHeaderState : std::int16_t {
    kPageHeaderOwed = 0,
    kPageHeaderSent = 2,
};

// Summary of one raster line of one plane.
struct LineState {
    std::int32_t firstInkByte;  // 0 when blank
    std::int32_t lastInkByte;   // 0 when blank
    std::int16_t subLine;       // lineNumber mod linesPerRow; -1 in previousLine: none yet
    std::int32_t lineNumber;
    std::int32_t rowNumber;  // lineNumber / linesPerRow
    BlankFlag blankFlag;
};

struct PlaneState {
    BufferNode packetChain;       // the plane's "ESC ( F" packet for the row being built
    LineState previousLine;       // the last line emitted into the packet
    LineState currentLine;        // the line of the band being produced
    std::int16_t pixelShift;      // log2 pixels per byte: 3, 2 or 1
    std::int16_t codeConversion;  // non-zero: five-pixels-per-byte conversion
    std::int16_t twoBitSplit;     // 1: filled by the two-bit split (plane 0 decides)
};

// Where the current line's pixels of one plane are. The span runs from rowStart to
// rowEnd - rowTrail - 1.
struct RowDescriptor {
    std::uint8_t* rowData;
    std::int16_t rowEnd;
    std::int16_t rowStart;
    std::int16_t rowTrail;
};

struct OutputContext {
    Handle segmentListHandle;
    ::SegmentList* segmentList;
    std::int16_t ringDepth;  // packet buffers per plane: 0 before the first page, then 1
    PlaneState planes[kMaxPlanes];
    BufferNode stagingChains[kMaxPlanes];
    BufferNode controlChain;
    RowDescriptor rows[kMaxPlanes];
    std::int16_t linesPerRow;          // 1, 8 or 16; 0 before the first page setup
    CompletionKind pendingCompletion;  // what the next OutputComplete finishes
    PageHeaderState pageHeaderState;
    std::int16_t lastInkSelection;  // class last sent with "ESC ( L"; 0 none yet
    // 1 when the job or the page asked for form feeds. The job's kind is decided by the
    // call state's mode (CallMode), which OutputInitTwo sets and which picks the table
    // every call is checked against; this copy follows it for form-feed jobs and also
    // records a normal job's page flag. Only OutputFormFeed reads it, as a second guard.
    std::int16_t formFeedMode;
    std::int32_t formFeedLineLimit;
    std::int32_t pendingBlankRows;  // committed blank rows not yet sent as "ESC ( e"
    std::int16_t inkSetId;
    std::int16_t planeCount;
    std::int16_t qualityCode;
    std::int16_t mediaCode;
    std::int16_t pixelWidth;
    Handle stateHandle;
    Handle rowBufferHandles[kMaxPlanes];
    Handle segmentItemsHandle;
    // The last line number taken in on this page, -1 before the first; bands must come
    // in strictly increasing line order, or the packets would get the wrong line count.
    std::int32_t lastLineNumber;
};

// Size of the segment entry array: its count field is 16-bit, and no producing call may
// list more than this many entries.
inline constexpr int kSegmentCapacity = 126;

// Resolves the caller's handle variable to the locked context, or null.
inline OutputContext* LockContext(Handle* handleAddress) {
    if (handleAddress == nullptr) return nullptr;
    return reinterpret_cast<OutputContext*>(LockBlock(*handleAddress));
}
inline void UnlockContext(Handle* handleAddress) {
    if (handleAddress != nullptr) UnlockBlock(*handleAddress);
}

}  // namespace inkrow
