// Chained byte buffers and the segment list. Every byte handed to the printer is built
// in place in a buffer node, and a segment always covers one whole node, from the first
// byte of its data block to its cursor. Each command group gets a control node of its
// own, so it is exactly one segment.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/context.h"

namespace inkrow {

inline constexpr std::uint32_t kControlNodeSize = 80;
inline constexpr int kPacketHeaderSize = 5;

// Releases the first node's data block and every further node with its data block;
// the first node itself (embedded in its owner) is left empty, with no successor.
void FreeBufferChain(BufferNode* first);

// Appends a node with a zero-filled data block of size bytes after last. Null when an
// allocation fails (the node may then be linked without a data block).
BufferNode* AppendBufferNode(BufferNode* last, std::uint32_t size);

// The first node of the control chain that holds nothing, appending one if none is
// left. Null when the append fails.
BufferNode* FindEmptyControlNode(OutputContext* context);

// Makes sure the control chain has at least `count` empty nodes from its first empty
// one on, so that the commands of a call can be written without allocating. On failure
// the nodes this call appended are released again and false is returned.
bool ReserveControlNodes(OutputContext* context, int count);

// Releases every control node after the first and empties the first.
void TrimControlChain(OutputContext* context);

// Writes one control command into the first empty control node and lists that node.
// The calls reserve their control nodes before they start, so a node is always there.
void WriteControlCommand(OutputContext* context, const std::uint8_t* bytes, std::size_t length);

void AddSegment(SegmentList* list, const BufferNode* node);
void AddPacketLength(std::uint8_t* packetStart, std::uint16_t n);
std::uint16_t PacketLength(const std::uint8_t* packetStart);
void ResetPacket(BufferNode* node);
// Writes the empty packet header at the node's start.
void WritePacketHeader(BufferNode* node);

void LockBufferChain(BufferNode* first);
void UnlockBufferChain(BufferNode* first);

// Locks or unlocks the packet chain of every configured plane.
void LockPackets(OutputContext* context);
void UnlockPackets(OutputContext* context);

inline std::uint32_t NodeUsed(const BufferNode* node) {
    return static_cast<std::uint32_t>(node->cursor - node->base);
}

// Room left in a packet node for `bytes` more bytes, both in its block and in its
// 16-bit length field.
bool PacketHasRoom(const BufferNode* node, std::uint32_t bytes);

}  // namespace inkrow
