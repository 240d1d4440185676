#include "stream/buffer_chain.h"

#include <cstring>

namespace inkrow {

void FreeBufferChain(BufferNode* first) {
    ReleaseBlock(&first->dataHandle);
    first->base = nullptr;
    first->cursor = nullptr;
    first->capacity = 0;
    first->usedLength = 0;
    Handle nodeHandle = first->nextHandle;
    first->nextHandle = nullptr;
    first->next = nullptr;
    while (nodeHandle != nullptr) {
        auto* node = reinterpret_cast<BufferNode*>(LockBlock(nodeHandle));
        Handle following = node->nextHandle;
        ReleaseBlock(&node->dataHandle);
        node->base = nullptr;
        ReleaseBlock(&nodeHandle);
        nodeHandle = following;
    }
}

BufferNode* AppendBufferNode(BufferNode* last, std::uint32_t size) {
    last->nextHandle = AllocateBlock(sizeof(BufferNode));
    auto* node = reinterpret_cast<BufferNode*>(LockBlock(last->nextHandle));
    last->next = node;
    if (node == nullptr) return nullptr;
    node->dataHandle = AllocateBlock(size);
    if (node->dataHandle == nullptr) return nullptr;
    node->capacity = size;
    node->base = LockBlock(node->dataHandle);
    node->cursor = node->base;
    node->next = nullptr;
    node->usedLength = 0;
    return node;
}

BufferNode* FindEmptyControlNode(OutputContext* context) {
    BufferNode* node = &context->controlChain;
    while (node->cursor != node->base) {
        if (node->nextHandle == nullptr) return AppendBufferNode(node, kControlNodeSize);
        node = node->next;
    }
    return node;
}

bool ReserveControlNodes(OutputContext* context, int count) {
    BufferNode* node = &context->controlChain;
    while (node->cursor != node->base && node->next != nullptr)
        node = node->next;
    // node is the first empty node, or the last node if every node is in use.
    int available = node->cursor == node->base ? 1 : 0;
    BufferNode* last = node;
    while (last->next != nullptr) {
        last = last->next;
        ++available;
    }
    BufferNode* keptLast = last;
    while (available < count) {
        BufferNode* added = AppendBufferNode(last, kControlNodeSize);
        if (added == nullptr) {
            // Give back what this call appended: the chain is as it was before.
            BufferNode dropped = *keptLast;
            keptLast->next = nullptr;
            keptLast->nextHandle = nullptr;
            dropped.dataHandle = nullptr;
            dropped.base = nullptr;
            FreeBufferChain(&dropped);
            return false;
        }
        last = added;
        ++available;
    }
    return true;
}

void TrimControlChain(OutputContext* context) {
    BufferNode* first = &context->controlChain;
    Handle nodeHandle = first->nextHandle;
    while (nodeHandle != nullptr) {
        auto* node = reinterpret_cast<BufferNode*>(LockBlock(nodeHandle));
        Handle following = node->nextHandle;
        ReleaseBlock(&node->dataHandle);
        ReleaseBlock(&nodeHandle);
        nodeHandle = following;
    }
    first->next = nullptr;
    first->nextHandle = nullptr;
    first->usedLength = 0;
    first->cursor = first->base;
}

void ReleaseListedControlNodes(OutputContext* context) {
    // Between calls a chain's handles and used lengths are its whole state
    // (UnlockBufferChain records them), so a chain of one node that holds nothing, as
    // after a band that wrote no command, is exactly what the trim would leave: it is
    // neither locked nor trimmed.
    BufferNode& control = context->controlChain;
    if (control.nextHandle == nullptr && control.usedLength == 0) return;
    LockBufferChain(&control);
    TrimControlChain(context);
}

void WriteControlCommand(OutputContext* context, const std::uint8_t* bytes, std::size_t length) {
    BufferNode* node = FindEmptyControlNode(context);
    // Reserved up front, so never missing; a command is never written into a node that
    // is not there.
    if (node == nullptr || node->base == nullptr) return;
    std::memcpy(node->cursor, bytes, length);
    node->cursor += length;
    AddSegment(context->segmentList, node);
}

void AddSegment(SegmentList* list, const BufferNode* node) {
    Segment& entry = list->items[list->count];
    entry.data = static_cast<std::uint8_t*>(node->dataHandle);
    entry.length = static_cast<std::uint16_t>(node->cursor - node->base);
    ++list->count;
}

void ResetPacket(BufferNode* node) {
    node->base[3] = 0;
    node->base[4] = 0;
    node->cursor = node->base + kPacketHeaderSize;
}

void WritePacketHeader(BufferNode* node) {
    static constexpr std::uint8_t kHeader[kPacketHeaderSize] = {0x1B, 0x28, 0x46, 0x00, 0x00};
    for (std::uint8_t byte : kHeader)
        *node->cursor++ = byte;
}

void LockBufferChain(BufferNode* first) {
    for (BufferNode* node = first; node != nullptr;) {
        node->base = LockBlock(node->dataHandle);
        node->cursor = node->base == nullptr ? nullptr : node->base + node->usedLength;
        if (node->nextHandle == nullptr) {
            node->next = nullptr;
            break;
        }
        node->next = reinterpret_cast<BufferNode*>(LockBlock(node->nextHandle));
        node = node->next;
    }
}

void LockPackets(OutputContext* context) {
    for (int plane = 0; plane < context->planeCount; ++plane)
        LockBufferChain(&context->planes[plane].packetChain);
}

void UnlockPackets(OutputContext* context) {
    for (int plane = 0; plane < context->planeCount; ++plane)
        UnlockBufferChain(&context->planes[plane].packetChain);
}

void UnlockBufferChain(BufferNode* first) {
    for (BufferNode* node = first; node != nullptr; node = node->next) {
        node->usedLength = static_cast<std::int32_t>(node->cursor - node->base);
        UnlockBlock(node->dataHandle);
        if (node->nextHandle != nullptr) UnlockBlock(node->nextHandle);
    }
}

}  // namespace inkrow
