// The comparison of two context records, field by field, for the call-sequence fuzzer:
// a call that fails must leave the record as it found it.
//
// Every record is taken apart with a structured binding that names each of its fields.
// A structured binding must name exactly as many fields as the record has, so a field
// added to any of these records later stops this file from compiling until it is
// compared here, or named with the reason it is left out. (A check of sizeof against
// the compared fields would miss a field that fits into padding, and comparing whole
// records as bytes would compare the pointers every call rebuilds.)
#pragma once

#include "core/call_state.h"
#include "core/context.h"

namespace callseq {

// The pointers of a node (base, next, cursor) lead into locked blocks; every call
// rebuilds them from the handles, which are compared.
inline bool SameNode(const inkrow::BufferNode& a, const inkrow::BufferNode& b) {
    [[maybe_unused]] const auto& [base, next, cursor, capacity, dataHandle, nextHandle,
                                  usedLength] = a;
    return dataHandle == b.dataHandle && nextHandle == b.nextHandle && usedLength == b.usedLength &&
           capacity == b.capacity;
}

inline bool SameLine(const inkrow::LineState& a, const inkrow::LineState& b) {
    const auto& [firstInkByte, lastInkByte, subLine, lineNumber, rowNumber, blankFlag] = a;
    return firstInkByte == b.firstInkByte && lastInkByte == b.lastInkByte && subLine == b.subLine &&
           lineNumber == b.lineNumber && rowNumber == b.rowNumber && blankFlag == b.blankFlag;
}

// The first difference between two planes' records, or null.
inline const char* FirstPlaneDifference(const inkrow::PlaneState& a, const inkrow::PlaneState& b) {
    const auto& [packetChain, previousLine, currentLine, pixelShift, codeConversion, twoBitSplit] =
        a;
    if (!SameNode(packetChain, b.packetChain)) return "a packet chain";
    if (!SameLine(previousLine, b.previousLine)) return "a previousLine";
    if (!SameLine(currentLine, b.currentLine)) return "a currentLine";
    if (pixelShift != b.pixelShift || codeConversion != b.codeConversion ||
        twoBitSplit != b.twoBitSplit)
        return "a plane's format";
    return nullptr;
}

inline bool SameRow(const inkrow::RowDescriptor& a, const inkrow::RowDescriptor& b) {
    const auto& [rowData, rowEnd, rowStart, rowTrail] = a;
    return rowData == b.rowData && rowEnd == b.rowEnd && rowStart == b.rowStart &&
           rowTrail == b.rowTrail;
}

// The first field in which two context records differ, or null. segmentList is left
// out: it points into the locked segment block, which every call locks anew from
// segmentListHandle.
inline const char* FirstDifference(const inkrow::OutputContext& a, const inkrow::OutputContext& b) {
    [[maybe_unused]] const auto& [segmentListHandle, segmentList, ringDepth, planes, stagingChains,
                                  controlChain, rows, linesPerRow, pendingCompletion,
                                  pageHeaderState, lastInkSelection, formFeedMode,
                                  formFeedLineLimit, pendingBlankRows, inkSetId, planeCount,
                                  qualityCode, mediaCode, pixelWidth, stateHandle, rowBufferHandles,
                                  segmentItemsHandle, lastLineNumber] = a;
    if (segmentListHandle != b.segmentListHandle) return "segmentListHandle";
    if (ringDepth != b.ringDepth) return "ringDepth";
    for (int i = 0; i < inkrow::kMaxPlanes; ++i) {
        if (const char* field = FirstPlaneDifference(planes[i], b.planes[i])) return field;
        if (!SameNode(stagingChains[i], b.stagingChains[i])) return "a staging buffer";
        if (!SameRow(rows[i], b.rows[i])) return "a row descriptor";
        if (rowBufferHandles[i] != b.rowBufferHandles[i]) return "a row buffer";
    }
    if (!SameNode(controlChain, b.controlChain)) return "controlChain";
    if (linesPerRow != b.linesPerRow) return "linesPerRow";
    if (pendingCompletion != b.pendingCompletion) return "pendingCompletion";
    if (pageHeaderState != b.pageHeaderState) return "pageHeaderState";
    if (lastInkSelection != b.lastInkSelection) return "lastInkSelection";
    if (formFeedMode != b.formFeedMode) return "formFeedMode";
    if (formFeedLineLimit != b.formFeedLineLimit) return "formFeedLineLimit";
    if (pendingBlankRows != b.pendingBlankRows) return "pendingBlankRows";
    if (inkSetId != b.inkSetId) return "inkSetId";
    if (planeCount != b.planeCount) return "planeCount";
    if (qualityCode != b.qualityCode || mediaCode != b.mediaCode || pixelWidth != b.pixelWidth)
        return "the job's print mode";
    if (stateHandle != b.stateHandle) return "stateHandle";
    if (segmentItemsHandle != b.segmentItemsHandle) return "segmentItemsHandle";
    if (lastLineNumber != b.lastLineNumber) return "lastLineNumber";
    return nullptr;
}

// The call state record: both of its fields decide which call may come next.
inline bool SameCallState(const inkrow::CallState& a, const inkrow::CallState& b) {
    const auto& [state, mode] = a;
    return state == b.state && mode == b.mode;
}

}  // namespace callseq
