#include "stream/buffer_chain.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "core/context.h"
#include "test_heap.h"

namespace inkrow {
namespace {

// A context with just its control chain and segment list, as OutputOpen makes them.
struct ChainFixture : testing::Test {
    std::unique_ptr<OutputContext> context = std::make_unique<OutputContext>();
    Segment items[kSegmentCapacity] = {};
    SegmentList list = {};

    void SetUp() override {
        BufferNode& first = context->controlChain;
        first.dataHandle = AllocateBlock(kControlNodeSize);
        first.capacity = kControlNodeSize;
        first.base = first.cursor = LockBlock(first.dataHandle);
        list.items = items;
        context->segmentList = &list;
    }
    void TearDown() override {
        FreeBufferChain(&context->controlChain);
        EXPECT_EQ(testheap::LiveBlocks(), 0);
    }
    int ChainLength() const {
        int nodes = 0;
        for (const BufferNode* node = &context->controlChain; node; node = node->next)
            ++nodes;
        return nodes;
    }
};

TEST_F(ChainFixture, EmptyChainGivesItsFirstNodeWithoutAllocating) {
    testheap::Reset();
    EXPECT_EQ(FindEmptyControlNode(context.get()), &context->controlChain);
    EXPECT_EQ(testheap::Allocations(), 0);
}

TEST_F(ChainFixture, EachCommandGroupGetsANodeAndASegmentOfItsOwn) {
    for (int group = 0; group < 3; ++group) {
        BufferNode* node = FindEmptyControlNode(context.get());
        ASSERT_NE(node, nullptr);
        for (int i = 0; i <= group; ++i)
            *node->cursor++ = static_cast<std::uint8_t>(0x10 + group);
        AddSegment(&list, node);
    }
    EXPECT_EQ(ChainLength(), 3);
    ASSERT_EQ(list.count, 3);
    for (int group = 0; group < 3; ++group) {
        EXPECT_EQ(list.items[group].length, group + 1);
        EXPECT_EQ(list.items[group].data[0], 0x10 + group);
    }
    EXPECT_EQ(list.items[0].data, context->controlChain.dataHandle);
    TrimControlChain(context.get());
    EXPECT_EQ(ChainLength(), 1);
    EXPECT_EQ(context->controlChain.cursor, context->controlChain.base);
    EXPECT_EQ(testheap::LiveBlocks(), 1);
}

TEST_F(ChainFixture, SegmentCoversTheNodeAsFilledWhenAdded) {
    BufferNode* node = FindEmptyControlNode(context.get());
    *node->cursor++ = 1;
    AddSegment(&list, node);
    *node->cursor++ = 2;
    EXPECT_EQ(list.items[0].length, 1);
}

TEST_F(ChainFixture, ReserveAppendsWhatIsMissingAndUndoesAFailedReserve) {
    EXPECT_TRUE(ReserveControlNodes(context.get(), 3));
    EXPECT_EQ(ChainLength(), 3);
    EXPECT_TRUE(ReserveControlNodes(context.get(), 2));  // enough already
    EXPECT_EQ(ChainLength(), 3);
    const std::int64_t live = testheap::LiveBlocks();
    testheap::FailAllocation(3);  // the second node block of the next reserve
    EXPECT_FALSE(ReserveControlNodes(context.get(), 5));
    testheap::Reset();
    EXPECT_EQ(ChainLength(), 3);
    EXPECT_EQ(testheap::LiveBlocks(), live);
    // With a failed data block the node is linked; releasing the chain frees it too.
    testheap::FailAllocation(2);
    BufferNode* last = context->controlChain.next->next;
    EXPECT_EQ(AppendBufferNode(last, kControlNodeSize), nullptr);
    testheap::Reset();
    EXPECT_NE(last->nextHandle, nullptr);
    EXPECT_EQ(last->next->capacity, 0u);
}

TEST(PacketHeader, LengthCarriesAndResetEmpties) {
    std::uint8_t block[16] = {};
    BufferNode node{};
    node.base = node.cursor = block;
    node.capacity = sizeof block;
    WritePacketHeader(&node);
    EXPECT_EQ(NodeUsed(&node), 5u);
    const std::uint8_t header[] = {0x1B, 0x28, 0x46, 0x00, 0x00};
    EXPECT_EQ(std::memcmp(block, header, 5), 0);
    AddPacketLength(block, 0xFF);
    AddPacketLength(block, 1);
    EXPECT_EQ(block[3], 0x00);
    EXPECT_EQ(block[4], 0x01);
    EXPECT_EQ(PacketLength(block), 0x100);
    AddPacketLength(block, 0xFF00);  // wraps modulo 65536
    EXPECT_EQ(PacketLength(block), 0);
    *node.cursor++ = 0x80;
    ResetPacket(&node);
    EXPECT_EQ(NodeUsed(&node), 5u);
    EXPECT_EQ(PacketLength(block), 0);
}

TEST(BufferChain, LockRebuildsPointersFromHandlesAndLengths) {
    BufferNode first{};
    first.dataHandle = AllocateBlock(8);
    first.capacity = 8;
    first.base = first.cursor = LockBlock(first.dataHandle);
    BufferNode* second = AppendBufferNode(&first, 8);
    ASSERT_NE(second, nullptr);
    first.cursor += 3;
    second->cursor += 5;
    UnlockBufferChain(&first);
    EXPECT_EQ(first.usedLength, 3);
    EXPECT_EQ(second->usedLength, 5);
    first.base = first.cursor = nullptr;
    first.next = nullptr;
    LockBufferChain(&first);
    ASSERT_EQ(first.next, second);
    EXPECT_EQ(NodeUsed(&first), 3u);
    EXPECT_EQ(NodeUsed(second), 5u);
    FreeBufferChain(&first);
    EXPECT_EQ(first.base, nullptr);
    EXPECT_EQ(first.dataHandle, nullptr);
    EXPECT_EQ(first.nextHandle, nullptr);
    EXPECT_EQ(testheap::LiveBlocks(), 0);
}

}  // namespace
}  // namespace inkrow
