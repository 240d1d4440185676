// OutputInitPart: configures a page's planes and allocates their buffers.
#include "mode/page_setup.h"

#include "catalog/print_modes.h"
#include "core/call_state.h"
#include "core/context.h"
#include "inkrow/output.h"
#include "stream/buffer_chain.h"
#include "stream/page_end.h"
#include "stream/row_commit.h"

namespace inkrow {

void SetInitialLineState(LineState* line) {
    *line = LineState{};
    line->subLine = -1;
    line->blankFlag = kLineIsBlank;
}

std::int32_t RowBufferSize(std::int16_t pixelShift, std::int16_t pixelWidth) {
    const std::int32_t rowBytes =
        ((8 >> pixelShift) * static_cast<std::int32_t>(pixelWidth) + 7) / 8;
    return rowBytes + 1;
}

namespace {

// The blocks of one page, gathered before any of them is recorded in the context so
// that a failed allocation leaves the context untouched.
struct PageBlocks {
    Handle rowBuffers[kMaxPlanes];
    Handle packets[kMaxPlanes];
    Handle staging[kMaxPlanes];
};

void ReleasePageBlocks(PageBlocks* blocks) {
    for (int plane = 0; plane < kMaxPlanes; ++plane) {
        ReleaseBlock(&blocks->rowBuffers[plane]);
        ReleaseBlock(&blocks->packets[plane]);
        ReleaseBlock(&blocks->staging[plane]);
    }
}

bool AllocatePageBlocks(const PageConfiguration& configuration, std::int16_t pixelWidth,
                        PageBlocks* blocks) {
    *blocks = PageBlocks{};
    for (int plane = 0; plane < configuration.planeCount; ++plane) {
        blocks->rowBuffers[plane] =
            AllocateBlock(RowBufferSize(configuration.pixelShift[plane], pixelWidth));
        if (blocks->rowBuffers[plane] == nullptr) return false;
    }
    for (int plane = 0; plane < configuration.planeCount; ++plane) {
        blocks->packets[plane] = AllocateBlock(kPacketCapacity);
        if (blocks->packets[plane] == nullptr) return false;
        blocks->staging[plane] = AllocateBlock(kPacketCapacity);
        if (blocks->staging[plane] == nullptr) return false;
    }
    return true;
}

// A node holding just the empty packet header.
void InstallPacketNode(BufferNode* node, Handle block) {
    *node = BufferNode{};
    node->dataHandle = block;
    node->capacity = kPacketCapacity;
    node->base = LockBlock(block);
    node->cursor = node->base;
    WritePacketHeader(node);
    node->usedLength = kPacketHeaderSize;
    UnlockBlock(block);
}

// Brings every plane of the page back to the state of a freshly set-up page: no line
// taken in and empty packets. Used between the pages of a form-feed job.
void RearmPage(OutputContext* context) {
    for (int plane = 0; plane < context->planeCount; ++plane) {
        PlaneState& state = context->planes[plane];
        SetInitialLineState(&state.previousLine);
        SetInitialLineState(&state.currentLine);
        LockBufferChain(&state.packetChain);
        ResetPacket(&state.packetChain);
        UnlockBufferChain(&state.packetChain);
        LockBufferChain(&context->stagingChains[plane]);
        ResetPacket(&context->stagingChains[plane]);
        UnlockBufferChain(&context->stagingChains[plane]);
    }
    context->pendingBlankRows = 0;
    context->lastLineNumber = -1;
}

std::int16_t SetUpPage(OutputContext* context, const PageParams* page, bool formFeedJob) {
    PageConfiguration configuration;
    if (!ChoosePageConfiguration(context->qualityCode, context->mediaCode, page->blackOnly,
                                 page->kForBlack, page->keepColor, &configuration))
        return kFailed;
    PageBlocks blocks;
    if (!AllocatePageBlocks(configuration, context->pixelWidth, &blocks)) {
        ReleasePageBlocks(&blocks);
        return kNoMemory;
    }

    // From here nothing can fail. Blocks of an earlier page are normally gone by now
    // (its end released them); release anything left so that nothing leaks.
    ReleasePageBuffers(context, kMaxPlanes);
    context->inkSetId = configuration.inkSetId;
    context->planeCount = configuration.planeCount;
    context->ringDepth = 1;
    for (int plane = 0; plane < configuration.planeCount; ++plane) {
        PlaneState& state = context->planes[plane];
        state.pixelShift = configuration.pixelShift[plane];
        state.codeConversion = configuration.codeConversion[plane];
        state.twoBitSplit = configuration.twoBitSplit;
        context->rowBufferHandles[plane] = blocks.rowBuffers[plane];
        InstallPacketNode(&state.packetChain, blocks.packets[plane]);
        InstallPacketNode(&context->stagingChains[plane], blocks.staging[plane]);
        SetInitialLineState(&state.previousLine);
        SetInitialLineState(&state.currentLine);
    }
    if (formFeedJob) {
        context->linesPerRow = 8;
        context->formFeedMode = 1;
    } else {
        context->linesPerRow = ChooseLinesPerRow(page->resolution, page->formFeedFlag);
        context->formFeedMode = page->formFeedFlag == 1 ? 1 : 0;
    }
    context->pendingCompletion = kCompletionNone;
    context->pageHeaderState = kPageHeaderOwed;
    context->lastInkSelection = kClassBlank;
    context->pendingBlankRows = 0;
    context->lastLineNumber = -1;
    return kOk;
}

}  // namespace
}  // namespace inkrow

using namespace inkrow;

extern "C" int16_t OutputInitPart(OutputHandle* handle, const PageParams* page) {
    OutputContext* context = LockContext(handle);
    if (context == nullptr || page == nullptr) return kFailed;
    std::int16_t result = CheckCall(context->stateHandle, kCallPageSetup);
    if (result == kOk) {
        const bool formFeedJob = CallMode(context->stateHandle) != kModeNormal;
        if (formFeedJob && context->ringDepth == 1) {
            // Later pages of a form-feed job keep the first page's configuration and
            // buffers; they only start over.
            RearmPage(context);
        } else {
            result = SetUpPage(context, page, formFeedJob);
        }
    }
    if (result == kOk) result = CommitCall(context->stateHandle, kCallPageSetup);
    UnlockContext(handle);
    return result;
}
