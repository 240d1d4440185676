// The entry points that frame a context: OutputOpen, OutputInit and OutputClose.
#include "core/call_state.h"
#include "core/context.h"
#include "inkrow/output.h"
#include "stream/buffer_chain.h"
#include "stream/page_end.h"

using namespace inkrow;

namespace {

// Releases every block the context records. Safe on a partly built context: released
// handles are null, and releasing null does nothing.
void ReleaseContextBlocks(OutputContext* context) {
    ReleaseCallState(&context->stateHandle);
    // All sixteen entries, not just planeCount: a page setup that failed part-way may
    // have recorded nothing, but a later one could have fewer planes than an earlier one.
    ReleasePageBuffers(context, kMaxPlanes);
    FreeBufferChain(&context->controlChain);
    ReleaseBlock(&context->segmentItemsHandle);
    ReleaseBlock(&context->segmentListHandle);
}

}  // namespace

extern "C" int16_t OutputOpen(OutputHandle* out) {
    if (out == nullptr) return kOpenFailed;
    *out = nullptr;
    Handle contextHandle = AllocateBlock(sizeof(OutputContext));
    auto* context = reinterpret_cast<OutputContext*>(LockBlock(contextHandle));
    if (context == nullptr) return kOpenFailed;

    context->segmentListHandle = AllocateBlock(sizeof(SegmentList));
    context->segmentList = reinterpret_cast<SegmentList*>(LockBlock(context->segmentListHandle));
    context->segmentItemsHandle = AllocateBlock(kSegmentCapacity * sizeof(Segment));
    context->controlChain.capacity = kControlNodeSize;
    context->controlChain.dataHandle = AllocateBlock(kControlNodeSize);
    context->controlChain.base = LockBlock(context->controlChain.dataHandle);
    context->controlChain.cursor = context->controlChain.base;
    const bool allocated = context->segmentList != nullptr &&
                           context->segmentItemsHandle != nullptr &&
                           context->controlChain.dataHandle != nullptr &&
                           CreateCallState(&context->stateHandle) == kOk;
    if (!allocated) {
        ReleaseContextBlocks(context);
        ReleaseBlock(&contextHandle);
        return kOpenFailed;
    }
    context->lastLineNumber = -1;
    UnlockBlock(contextHandle);
    *out = contextHandle;
    return kOpened;
}

extern "C" int16_t OutputInit(void) {
    return kFailed;
}

extern "C" void OutputClose(OutputHandle* handle) {
    if (handle == nullptr) return;
    OutputContext* context = LockContext(handle);
    if (context != nullptr) ReleaseContextBlocks(context);
    ReleaseBlock(handle);
}
