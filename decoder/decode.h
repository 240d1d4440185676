// A strict reader of the printer command stream, for tools, tests and fuzzers: the one
// reader of the stream in the project. It knows the byte formats only: it never calls
// into the module, so a fault in the encoder cannot hide in a decoder that shares its
// code. It needs nothing but the standard library; pictures (picture.h) are a library
// of their own because they need libpng.
//
// Use it with `#include "decode.h"`; the inkrow_decode target puts its own folder on the
// include path of everything that links it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace inkrow::decode {

enum class ErrorCode : std::uint8_t {
    kNone = 0,
    kUnknownCommand,        // a byte or "ESC ( x" that starts no command of the stream
    kTruncatedCommand,      // the stream ends inside a command's header or parameters
    kTruncatedPacket,       // the stream ends inside a packet's payload
    kBadParameterLength,    // a fixed-size command whose length field disagrees with it
    kBadParameter,          // a parameter out of range (lines per row, skip count, ...)
    kBadHeader,             // "ESC ( I" not followed by "ESC ( J", or "ESC ( J" alone
    kNoPage,                // a command before the first page header or after a form feed
    kNoSelection,           // a packet while no ink selection is in force on the page
    kUnknownInk,            // a selection naming an ink code the printer does not have
    kDuplicateInk,          // a selection naming one ink twice
    kEmptySelection,        // a selection of no inks
    kIncompleteSelection,   // fewer packets than selected inks before another command
    kPacketLengthMismatch,  // the payload ends inside a run or a line, or goes on after it
    kLineCountMismatch,     // a packet with fewer lines than the page's lines per row
    kLineTooWide,           // a line longer than DecodeOptions::maxLineBytes
    kRasterTooLarge,        // a page's rasters would need more than maxRasterBytes
};

struct Error {
    ErrorCode code = ErrorCode::kNone;
    std::size_t offset = 0;  // byte offset in the stream where the fault was seen
    std::string message;
};

struct DecodeOptions {
    // Longest line accepted, in bytes; 0 accepts any. When set it is also the width of
    // every raster.
    std::uint32_t maxLineBytes = 0;
    bool keepListing = true;  // fill Decoded::commands
    bool keepRasters = true;  // fill Page::inks[].bytes
    // Upper bound on the raster bytes of one page (all inks), so that a stream of large
    // skips cannot exhaust memory.
    std::uint64_t maxRasterBytes = std::uint64_t{1} << 30;
    // When set, a page header inside an open page repeats the header instead of starting
    // a new page: the selection and the position stay, and only a form feed ends the page.
    bool continuePageOnHeader = false;
    // When set, a stream that holds a form feed is read as a form-feed job: the module
    // ends such a job, and only such a job, with a form feed, and between its pages it
    // repeats the page header while the ink selection stays in force. So every stream
    // the module writes decodes with the default options; a form-feed job's pages run
    // down one sheet and read back as one page ended by the form feed.
    bool detectFormFeedJob = true;
};

enum class CommandKind : std::uint8_t {
    kPageStart,    // "ESC ( I"
    kLinesPerRow,  // "ESC ( J"
    kSkip,         // "ESC ( e"
    kSelect,       // "ESC ( L"
    kPacket,       // "ESC ( F"
    kFormFeed,     // 0x0C
};

// One command as the bytes frame it, before any rule about its place in the stream.
struct RawCommand {
    CommandKind kind = CommandKind::kPageStart;
    std::size_t length = 0;                    // bytes, header and parameters included
    std::span<const std::uint8_t> parameters;  // a packet's payload; empty for a form feed
};

// Frames the command that starts at `offset`: its kind, its length and its parameters.
// Checks what needs no context: a known command, a complete header, the fixed lengths
// of "ESC ( I", "ESC ( J" and "ESC ( e", and that the parameters are all there. The one
// place that knows how the stream's commands are framed; DecodeStream reads through it
// and so can anything that walks a stream or a segment on its own.
Error FrameCommand(std::span<const std::uint8_t> bytes, std::size_t offset, RawCommand* command);

// One command of the stream, as the listing shows it.
struct Command {
    std::size_t offset = 0;
    std::size_t length = 0;  // bytes, a packet's payload included
    CommandKind kind = CommandKind::kPageStart;
    std::uint32_t page = 0;  // index into Decoded::pages
    std::uint64_t row = 0;   // vertical position when the command was read
    // kPageStart: its parameter; kLinesPerRow: lines per row; kSkip: rows skipped;
    // kSelect: ink count; kPacket: payload length.
    std::uint32_t value = 0;
    std::vector<std::uint8_t> inks;  // kSelect: the codes in order
    std::uint8_t ink = 0;            // kPacket: the ink the packet is for
    std::uint32_t lineCount = 0;     // kPacket: lines in the payload (0 if empty)
    std::uint32_t inkedLines = 0;    // kPacket: lines holding at least one byte
    std::uint32_t longestLine = 0;   // kPacket: bytes of its longest line
    bool repeatsHeader = false;      // kPageStart: repeats the open page's header
};

struct Statistics {
    std::uint64_t bytes = 0;         // stream bytes, commands included
    std::uint64_t payloadBytes = 0;  // packet payload bytes
    std::uint64_t packets = 0;
    std::uint64_t emptyPackets = 0;  // packets of no payload: a whole row left blank
    std::uint64_t skips = 0;         // "ESC ( e" commands
    std::uint64_t skippedRows = 0;
    std::uint64_t selections = 0;
    std::uint64_t sentRows = 0;  // rows that carried packets
    std::uint64_t rows = 0;      // sentRows + skippedRows
    std::uint64_t formFeeds = 0;
    std::uint64_t pages = 0;
};

// One ink's raster of a page: lineCount lines of widthBytes bytes each, line 0 first;
// bytes a line did not reach are 0.
struct InkRaster {
    std::uint8_t code = 0;
    std::uint32_t widthBytes = 0;   // maxLineBytes, or the longest line of this ink
    std::uint32_t longestLine = 0;  // bytes of the longest line actually sent
    std::uint64_t lineCount = 0;    // page rows * lines per row
    std::vector<std::uint8_t> bytes;
};

struct Page {
    std::size_t offset = 0;  // of its header
    std::uint8_t linesPerRow = 0;
    std::uint64_t rows = 0;  // vertical position at the page's end
    bool endedByFormFeed = false;
    std::vector<InkRaster> inks;  // in the order of first selection
    Statistics stats;
};

struct Decoded {
    std::vector<Page> pages;
    std::vector<Command> commands;
    Statistics totals;
};

// Decodes a whole stream into *result. On an error, result holds the pages completed
// before it and the commands read before the faulty one; the open page is dropped.
Error DecodeStream(std::span<const std::uint8_t> stream, const DecodeOptions& options,
                   Decoded* result);

// The ink, or null when the page has none of that code.
const InkRaster* FindInk(const Page& page, std::uint8_t code);

// The codes a full selection of an ink set names, plane 0 first; empty for an unknown
// set. Set 1 is the single black plane.
std::span<const std::uint8_t> ListInkSetCodes(int inkSetId);

bool IsKnownInk(std::uint8_t code);
// "C", "k", ... for the letter inks; two hex digits ("C3") for the others.
std::string FormatInkCode(std::uint8_t code);
const char* DescribeErrorCode(ErrorCode code);
// One line of the listing, without the trailing newline.
std::string FormatCommand(const Command& command);

}  // namespace inkrow::decode
