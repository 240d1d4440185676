#include "stream/page_end.h"

#include "core/result.h"
#include "stream/buffer_chain.h"
#include "stream/row_commit.h"

namespace inkrow {

void ReleasePageBuffers(OutputContext* context, int planes) {
    for (int plane = 0; plane < planes; ++plane) {
        FreeBufferChain(&context->planes[plane].packetChain);
        BufferNode& staging = context->stagingChains[plane];
        ReleaseBlock(&staging.dataHandle);
        staging.base = nullptr;
        staging.cursor = nullptr;
        staging.usedLength = 0;
        ReleaseBlock(&context->rowBufferHandles[plane]);
    }
}

std::int16_t PreparePageEnd(OutputContext* context, int extraCommands, bool commitsRow) {
    std::int64_t segments = extraCommands;
    std::int64_t nodes = extraCommands;
    if (!FinishingFits(context)) return kFailed;
    if (commitsRow && context->ringDepth > 0) {
        segments += BuiltRowSegments(context);
        nodes += SkipCommandCount(context->pendingBlankRows) + 1;
    }
    if (segments > kSegmentCapacity) return kFailed;
    if (nodes > kSegmentCapacity) nodes = kSegmentCapacity;
    if (!ReserveControlNodes(context, static_cast<int>(nodes))) return kNoMemory;
    return kOk;
}

}  // namespace inkrow
