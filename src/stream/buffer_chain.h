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
// At a completion: frees the control nodes the completed call listed, leaving the chain
// as its one empty first node.
void ReleaseListedControlNodes(OutputContext* context);

// Writes one control command into the first empty control node and lists that node.
// The calls reserve their control nodes before they start, so a node is always there.
void WriteControlCommand(OutputContext* context, const std::uint8_t* bytes, std::size_t length);

void AddSegment(SegmentList* list, const BufferNode* node);

// The 16-bit little-endian length field of the packet that starts at packetStart.
inline std::uint16_t PacketLength(const std::uint8_t* packetStart) {
    return static_cast<std::uint16_t>(packetStart[3] | (packetStart[4] << 8));
}
inline void AddPacketLength(std::uint8_t* packetStart, std::uint16_t n) {
    const auto length = static_cast<std::uint16_t>(PacketLength(packetStart) + n);
    packetStart[3] = static_cast<std::uint8_t>(length & 0xFF);
    packetStart[4] = static_cast<std::uint8_t>(length >> 8);
}
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
inline bool PacketHasRoom(const BufferNode* node, std::uint32_t bytes) {
    return NodeUsed(node) + bytes <= node->capacity && PacketLength(node->base) + bytes <= 0xFFFF;
}

}  // namespace inkrow
