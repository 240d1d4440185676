// The stream reader against hand-made byte strings: what well-formed streams decode to,
// and the error code and offset of each kind of malformed input.
#include "decode.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace inkrow::decode {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes Header(std::uint8_t linesPerRow) {
    return {0x1B, 0x28, 0x49, 0x01, 0x00, 0x01, 0x1B, 0x28, 0x4A, 0x01, 0x00, linesPerRow};
}

Bytes Skip(std::uint32_t rows) {
    return {0x1B,
            0x28,
            0x65,
            0x02,
            0x00,
            static_cast<std::uint8_t>(rows >> 8),
            static_cast<std::uint8_t>(rows)};
}

Bytes Select(const std::string& inks) {
    Bytes bytes = {0x1B, 0x28, 0x4C, static_cast<std::uint8_t>(inks.size()), 0x00};
    bytes.insert(bytes.end(), inks.begin(), inks.end());
    return bytes;
}

Bytes Packet(const Bytes& payload) {
    Bytes bytes = {0x1B, 0x28, 0x46, static_cast<std::uint8_t>(payload.size()),
                   static_cast<std::uint8_t>(payload.size() >> 8)};
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return bytes;
}

// A payload of `lines` lines, all empty but the one given.
Bytes Lines(int lines, int inkedLine = -1, const Bytes& code = {}) {
    Bytes payload;
    for (int i = 0; i < lines; ++i) {
        if (i == inkedLine) payload.insert(payload.end(), code.begin(), code.end());
        payload.push_back(0x80);
    }
    return payload;
}

const Bytes kFormFeed = {0x0C};
const Bytes kEmptyPacket = Packet({});

Bytes LineOf(const InkRaster& ink, std::uint64_t line) {
    const auto first = ink.bytes.begin() + static_cast<std::ptrdiff_t>(line * ink.widthBytes);
    return Bytes(first, first + ink.widthBytes);
}

Decoded DecodeOk(const Bytes& stream, const DecodeOptions& options = {}) {
    Decoded decoded;
    const Error error = DecodeStream(stream, options, &decoded);
    EXPECT_EQ(error.code, ErrorCode::kNone) << error.offset << ": " << error.message;
    return decoded;
}

// A job whose pages took no line writes nothing: the parser reads that as no page (the
// decode tool refuses an empty file, which is far more likely a failed job).
TEST(DecodeStream, EmptyStreamHasNoPages) {
    const Decoded decoded = DecodeOk({});
    EXPECT_TRUE(decoded.pages.empty());
    EXPECT_EQ(decoded.totals.bytes, 0u);
}

TEST(DecodeStream, HeaderAloneIsAnEmptyPage) {
    const Decoded decoded = DecodeOk(Header(16));
    ASSERT_EQ(decoded.pages.size(), 1u);
    EXPECT_EQ(decoded.pages[0].linesPerRow, 16);
    EXPECT_EQ(decoded.pages[0].rows, 0u);
    EXPECT_TRUE(decoded.pages[0].inks.empty());
    EXPECT_EQ(decoded.pages[0].stats.bytes, 12u);
}

// Line code cases: payload of one line -> the bytes it stands for.
TEST(DecodeStream, LineCodeRebuildsBytes) {
    struct Case {
        const char* name;
        Bytes code;
        Bytes line;
    };
    const Bytes repeated130(130, 0x05);
    Bytes literal128 = {0x7F};
    Bytes alternating;
    for (int i = 0; i < 128; ++i)
        alternating.push_back(static_cast<std::uint8_t>(i & 1));
    literal128.insert(literal128.end(), alternating.begin(), alternating.end());
    const Case cases[] = {
        {"single literal", {0x00, 0x11}, {0x11}},
        {"pair as repeat", {0xFF, 0x11}, {0x11, 0x11}},
        {"folded pair", {0x03, 0x01, 0x02, 0x02, 0x03}, {0x01, 0x02, 0x02, 0x03}},
        {"leading zero run", {0xFE, 0x00, 0xFE, 0x07}, {0, 0, 0, 7, 7, 7}},
        {"longest repeat and rest", {0x81, 0x05, 0xFF, 0x05}, repeated130},
        {"longest literal", literal128, alternating},
        {"end mark as literal data", {0x01, 0x80, 0x80}, {0x80, 0x80}},
        {"end mark as repeat data", {0xFF, 0x80}, {0x80, 0x80}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Decoded decoded =
            DecodeOk(Join({Header(1), Select("K"), Packet(Lines(1, 0, c.code))}));
        ASSERT_EQ(decoded.pages.size(), 1u);
        const InkRaster* k = FindInk(decoded.pages[0], 'K');
        ASSERT_NE(k, nullptr);
        EXPECT_EQ(k->lineCount, 1u);
        EXPECT_EQ(k->bytes, c.line);
    }
}

TEST(DecodeStream, SkipsMoveRowsDown) {
    const Bytes stream = Join(
        {Header(8), Skip(3), Select("K"), Packet(Lines(8, 2, {0x01, 0xAA, 0xBB})), Skip(0x7FFF)});
    const Decoded decoded = DecodeOk(stream);
    const Page& page = decoded.pages.at(0);
    EXPECT_EQ(page.rows, 3u + 1 + 0x7FFF);
    const InkRaster& k = page.inks.at(0);
    EXPECT_EQ(k.lineCount, page.rows * 8);
    EXPECT_EQ(k.widthBytes, 2u);
    EXPECT_EQ(LineOf(k, 26), (Bytes{0xAA, 0xBB}));
    EXPECT_EQ(LineOf(k, 25), (Bytes{0, 0}));
    EXPECT_EQ(page.stats.skips, 2u);
    EXPECT_EQ(page.stats.skippedRows, 3u + 0x7FFF);
    EXPECT_EQ(page.stats.sentRows, 1u);
}

// A selection stays in force: each further group of packets is the next row, across skips.
TEST(DecodeStream, SelectionPersistsAcrossRowsAndSkips) {
    const Bytes one = Lines(1, 0, {0x00, 0x11});
    const Bytes two = Lines(1, 0, {0x00, 0x22});
    const Bytes stream = Join({Header(1), Select("Kk"), Packet(one), Packet(two), Packet(two),
                               Packet(one), Skip(2), Packet(one), kEmptyPacket});
    const Page page = DecodeOk(stream).pages.at(0);
    EXPECT_EQ(page.rows, 5u);
    ASSERT_EQ(page.inks.size(), 2u);
    EXPECT_EQ(page.inks[0].code, 'K');
    EXPECT_EQ(page.inks[1].code, 'k');
    EXPECT_EQ(page.inks[0].bytes, (Bytes{0x11, 0x22, 0, 0, 0x11}));
    EXPECT_EQ(page.inks[1].bytes, (Bytes{0x22, 0x11, 0, 0, 0}));
    EXPECT_EQ(page.stats.selections, 1u);
    EXPECT_EQ(page.stats.emptyPackets, 1u);
}

// Full selection with blank planes as empty packets, then a change to K alone; inks
// keep the order in which they were first selected.
TEST(DecodeStream, FullSelectionThenBlackOnly) {
    const Bytes c = Lines(8, 0, {0x00, 0xC1});
    const Bytes k = Lines(8, 7, {0xFF, 0x0F});
    const Bytes stream = Join({Header(8), Select("CMYK"), Packet(c), kEmptyPacket, kEmptyPacket,
                               Packet(k), Select("K"), Packet(k)});
    const Page page = DecodeOk(stream).pages.at(0);
    EXPECT_EQ(page.rows, 2u);
    ASSERT_EQ(page.inks.size(), 4u);
    const char order[] = "CMYK";
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(page.inks[i].code, order[i]);
    EXPECT_EQ(LineOf(page.inks[0], 0), (Bytes{0xC1}));
    EXPECT_EQ(page.inks[1].widthBytes, 0u);
    EXPECT_TRUE(page.inks[1].bytes.empty());
    const InkRaster& black = page.inks[3];
    EXPECT_EQ(black.lineCount, 16u);
    EXPECT_EQ(LineOf(black, 7), (Bytes{0x0F, 0x0F}));
    EXPECT_EQ(LineOf(black, 15), (Bytes{0x0F, 0x0F}));
    EXPECT_EQ(LineOf(black, 8), (Bytes{0, 0}));
    EXPECT_EQ(page.stats.packets, 5u);
    EXPECT_EQ(page.stats.selections, 2u);
}

TEST(DecodeStream, SixteenInkSelection) {
    const Bytes codes = {0x43, 0x4D, 0x59, 0x63, 0x6D, 0x6B, 0xC3, 0xCD,
                         0xD9, 0xA3, 0xAD, 0xEB, 0xE3, 0xED, 0x23, 0x2D};
    Bytes stream = Join({Header(16), {0x1B, 0x28, 0x4C, 0x10, 0x00}, codes});
    for (int i = 0; i < 15; ++i)
        stream = Join({stream, kEmptyPacket});
    stream = Join({stream, Packet(Lines(16, 3, {0x00, 0x5A}))});
    const Page page = DecodeOk(stream).pages.at(0);
    ASSERT_EQ(page.inks.size(), 16u);
    const InkRaster* last = FindInk(page, 0x2D);
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(LineOf(*last, 3), (Bytes{0x5A}));
    EXPECT_EQ(page.rows, 1u);
}

// Pages in the normal mode follow each other with a header each; a form feed ends one.
TEST(DecodeStream, PagesSplitAtHeadersAndFormFeeds) {
    const Bytes line = Lines(1, 0, {0x00, 0x01});
    const Bytes stream = Join({Header(8), Select("K"), Packet(Lines(8)), Header(1), Select("C"),
                               Packet(line), kFormFeed, Header(16), kFormFeed});
    DecodeOptions options;
    options.detectFormFeedJob = false;
    const Decoded decoded = DecodeOk(stream, options);
    ASSERT_EQ(decoded.pages.size(), 3u);
    EXPECT_EQ(decoded.pages[0].linesPerRow, 8);
    EXPECT_FALSE(decoded.pages[0].endedByFormFeed);
    EXPECT_EQ(decoded.pages[0].stats.bytes, 12u + 6 + 13);
    EXPECT_EQ(decoded.pages[1].linesPerRow, 1);
    EXPECT_TRUE(decoded.pages[1].endedByFormFeed);
    EXPECT_EQ(decoded.pages[1].inks.at(0).code, 'C');
    EXPECT_EQ(decoded.pages[2].rows, 0u);
    EXPECT_EQ(decoded.totals.pages, 3u);
    EXPECT_EQ(decoded.totals.formFeeds, 2u);
    EXPECT_EQ(decoded.totals.bytes, stream.size());
}

TEST(DecodeStream, RepeatedHeaderCanContinueThePage) {
    const Bytes line = Lines(8, 0, {0x00, 0x01});
    const Bytes stream =
        Join({Header(8), Select("K"), Packet(line), Header(8), Packet(line), kFormFeed});
    DecodeOptions options;
    options.continuePageOnHeader = true;
    const Decoded decoded = DecodeOk(stream, options);
    ASSERT_EQ(decoded.pages.size(), 1u);
    EXPECT_EQ(decoded.pages[0].rows, 2u);
}

// A form-feed job as the module writes it: between pages a repeated header, after which
// packets follow under the selection still in force; a header and the form feed end the
// job. The defaults read it as one sheet; without the form feed it cannot be told from a
// normal job, and the packet without a selection is reported.
TEST(DecodeStream, FormFeedJobDecodesWithDefaults) {
    const Bytes line = Lines(8, 0, {0x00, 0x01});
    const Bytes job = Join({Header(8), Select("K"), Packet(line), Header(8), Packet(line), Skip(2),
                            Packet(line), Header(8)});
    const Decoded decoded = DecodeOk(Join({job, kFormFeed}));
    ASSERT_EQ(decoded.pages.size(), 1u);
    EXPECT_EQ(decoded.pages[0].rows, 5u);
    EXPECT_TRUE(decoded.pages[0].endedByFormFeed);
    ASSERT_GE(decoded.commands.size(), 6u);
    EXPECT_FALSE(decoded.commands[0].repeatsHeader);
    EXPECT_TRUE(decoded.commands[4].repeatsHeader);
    EXPECT_EQ(FormatCommand(decoded.commands[4]),
              "      33  ESC ( I  page 1: header repeated at row 1 (parameter 1)");

    Decoded cut;
    const Error error = DecodeStream(job, {}, &cut);
    EXPECT_EQ(error.code, ErrorCode::kNoSelection);
    EXPECT_EQ(error.offset, 45u);
    DecodeOptions repeat;
    repeat.continuePageOnHeader = true;
    EXPECT_EQ(DecodeOk(job, repeat).pages.at(0).rows, 5u);
}

// A 0x0C inside a payload is data, not a form feed: it does not make the stream a
// form-feed job.
TEST(DecodeStream, FormFeedByteInPayloadIsNoFormFeed) {
    const Bytes line = Lines(8, 0, {0x00, 0x0C});
    const Bytes stream =
        Join({Header(8), Select("K"), Packet(line), Header(8), Select("C"), Packet(line)});
    EXPECT_EQ(DecodeOk(stream).pages.size(), 2u);
}

// Framing alone: kind, length and parameters of each command; the faults it sees.
TEST(FrameCommand, FramesEachKind) {
    struct Case {
        const char* name;
        Bytes bytes;
        CommandKind kind;
        std::size_t length;
        std::size_t parameters;
    };
    const Case cases[] = {
        {"form feed", kFormFeed, CommandKind::kFormFeed, 1, 0},
        {"page start", {0x1B, 0x28, 0x49, 0x01, 0x00, 0x01}, CommandKind::kPageStart, 6, 1},
        {"skip", Skip(5), CommandKind::kSkip, 7, 2},
        {"selection", Select("CMY"), CommandKind::kSelect, 8, 3},
        {"packet", Packet(Lines(2)), CommandKind::kPacket, 7, 2},
        {"empty packet", kEmptyPacket, CommandKind::kPacket, 5, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes bytes = {0x42};  // framing starts at the offset given
        bytes.insert(bytes.end(), c.bytes.begin(), c.bytes.end());
        RawCommand raw;
        const Error error = FrameCommand(bytes, 1, &raw);
        ASSERT_EQ(error.code, ErrorCode::kNone) << error.message;
        EXPECT_EQ(raw.kind, c.kind);
        EXPECT_EQ(raw.length, c.length);
        EXPECT_EQ(raw.parameters.size(), c.parameters);
    }
    const struct {
        Bytes bytes;
        ErrorCode code;
    } faults[] = {
        {{}, ErrorCode::kTruncatedCommand},
        {{0x1B, 0x28}, ErrorCode::kTruncatedCommand},
        {{0x1B, 0x28, 0x4A, 0x02, 0x00, 0x08, 0x08}, ErrorCode::kBadParameterLength},
        {{0x1B, 0x28, 0x46, 0x03, 0x00, 0x80}, ErrorCode::kTruncatedPacket},
        {{0x1B, 0x28, 0x5A, 0x00, 0x00}, ErrorCode::kUnknownCommand},
        {{0x00}, ErrorCode::kUnknownCommand},
    };
    for (const auto& fault : faults) {
        RawCommand raw;
        EXPECT_EQ(FrameCommand(fault.bytes, 0, &raw).code, fault.code);
    }
}

TEST(DecodeStream, OptionsFixWidthAndDropRasters) {
    const Bytes stream = Join({Header(1), Select("K"), Packet(Lines(1, 0, {0xFE, 0x07}))});
    DecodeOptions wide;
    wide.maxLineBytes = 5;
    const InkRaster k = DecodeOk(stream, wide).pages.at(0).inks.at(0);
    EXPECT_EQ(k.widthBytes, 5u);
    EXPECT_EQ(k.longestLine, 3u);
    EXPECT_EQ(k.bytes, (Bytes{7, 7, 7, 0, 0}));

    DecodeOptions lean;
    lean.keepRasters = false;
    lean.keepListing = false;
    const Decoded decoded = DecodeOk(stream, lean);
    EXPECT_TRUE(decoded.commands.empty());
    EXPECT_TRUE(decoded.pages.at(0).inks.at(0).bytes.empty());
    EXPECT_EQ(decoded.pages.at(0).inks.at(0).longestLine, 3u);
}

TEST(DecodeStream, ListingRecordsEveryCommand) {
    const Bytes stream =
        Join({Header(8), Skip(2), Select("Kk"), Packet(Lines(8, 1, {0x00, 0x10, 0xFD, 0x20})),
              kEmptyPacket, kFormFeed});
    const Decoded decoded = DecodeOk(stream);
    const std::vector<Command>& list = decoded.commands;
    ASSERT_EQ(list.size(), 7u);
    const CommandKind kinds[] = {CommandKind::kPageStart, CommandKind::kLinesPerRow,
                                 CommandKind::kSkip,      CommandKind::kSelect,
                                 CommandKind::kPacket,    CommandKind::kPacket,
                                 CommandKind::kFormFeed};
    const std::size_t offsets[] = {0, 6, 12, 19, 26, 43, 48};
    for (std::size_t i = 0; i < list.size(); ++i) {
        EXPECT_EQ(list[i].kind, kinds[i]) << i;
        EXPECT_EQ(list[i].offset, offsets[i]) << i;
    }
    EXPECT_EQ(list[1].value, 8u);
    EXPECT_EQ(list[2].value, 2u);
    EXPECT_EQ(list[3].inks, (Bytes{'K', 'k'}));
    EXPECT_EQ(list[4].row, 2u);
    EXPECT_EQ(list[4].ink, 'K');
    EXPECT_EQ(list[4].value, 12u);
    EXPECT_EQ(list[4].lineCount, 8u);
    EXPECT_EQ(list[4].inkedLines, 1u);
    EXPECT_EQ(list[4].longestLine, 5u);
    EXPECT_EQ(list[5].ink, 'k');
    EXPECT_EQ(list[5].lineCount, 0u);
    EXPECT_EQ(list[6].row, 3u);
    EXPECT_EQ(FormatCommand(list[2]), "      12  ESC ( e  skip 2 rows: rows [0, 2)");
    EXPECT_EQ(FormatCommand(list[3]), "      19  ESC ( L  select 2: K k");
}

struct BadCase {
    const char* name;
    Bytes stream;
    ErrorCode code;
    std::size_t offset;
    DecodeOptions options = {};
};

void ExpectError(const BadCase& c) {
    SCOPED_TRACE(c.name);
    Decoded decoded;
    const Error error = DecodeStream(c.stream, c.options, &decoded);
    EXPECT_EQ(error.code, c.code) << DescribeErrorCode(error.code) << ": " << error.message;
    EXPECT_EQ(error.offset, c.offset) << error.message;
    EXPECT_FALSE(error.message.empty());
}

// Offsets below: a header is 12 bytes, "ESC ( L" with one ink 6, a packet header 5.
TEST(DecodeStreamErrors, CommandFraming) {
    const BadCase cases[] = {
        {"stray byte", Join({Header(8), {0x42}}), ErrorCode::kUnknownCommand, 12},
        {"escape without paren",
         {0x1B, 0x29, 0x49, 0x01, 0x00, 0x01},
         ErrorCode::kUnknownCommand,
         0},
        {"unknown letter", Join({Header(8), {0x1B, 0x28, 0x58, 0x00, 0x00}}),
         ErrorCode::kUnknownCommand, 12},
        {"lone escape", {0x1B}, ErrorCode::kTruncatedCommand, 0},
        {"cut in length", Join({Header(8), {0x1B, 0x28, 0x65, 0x02}}), ErrorCode::kTruncatedCommand,
         12},
        {"cut in parameters", Join({Header(8), {0x1B, 0x28, 0x65, 0x02, 0x00, 0x00}}),
         ErrorCode::kTruncatedCommand, 12},
        {"cut selection", Join({Header(8), {0x1B, 0x28, 0x4C, 0x03, 0x00, 0x43}}),
         ErrorCode::kTruncatedCommand, 12},
        {"cut packet", Join({Header(1), Select("K"), {0x1B, 0x28, 0x46, 0x05, 0x00, 0x01, 0xAA}}),
         ErrorCode::kTruncatedPacket, 18},
        {"header length 2",
         {0x1B, 0x28, 0x49, 0x02, 0x00, 0x01, 0x01},
         ErrorCode::kBadParameterLength,
         0},
        {"skip length 3", Join({Header(8), {0x1B, 0x28, 0x65, 0x03, 0x00, 0x00, 0x01, 0x00}}),
         ErrorCode::kBadParameterLength, 12},
    };
    for (const BadCase& c : cases)
        ExpectError(c);
}

TEST(DecodeStreamErrors, HeaderAndParameters) {
    Bytes noJ = Header(8);
    noJ.resize(6);
    const BadCase cases[] = {
        {"header parameter 2", {0x1B, 0x28, 0x49, 0x01, 0x00, 0x02}, ErrorCode::kBadParameter, 0},
        {"4 lines per row", Header(4), ErrorCode::kBadParameter, 6},
        {"skip of 0", Join({Header(8), Skip(0)}), ErrorCode::kBadParameter, 12},
        {"skip of 32768", Join({Header(8), Skip(0x8000)}), ErrorCode::kBadParameter, 12},
        {"header without lines per row", noJ, ErrorCode::kBadHeader, 6},
        {"selection inside header", Join({noJ, Select("K")}), ErrorCode::kBadHeader, 6},
        {"two page starts", Join({noJ, noJ}), ErrorCode::kBadHeader, 6},
        {"lines per row alone", Join({Header(8), {0x1B, 0x28, 0x4A, 0x01, 0x00, 0x08}}),
         ErrorCode::kBadHeader, 12},
    };
    for (const BadCase& c : cases)
        ExpectError(c);
}

TEST(DecodeStreamErrors, Order) {
    const Bytes line = Packet(Lines(1, 0, {0x00, 0x01}));
    const BadCase cases[] = {
        {"skip before a page", Skip(1), ErrorCode::kNoPage, 0},
        {"packet before a page", line, ErrorCode::kNoPage, 0},
        {"form feed before a page", kFormFeed, ErrorCode::kNoPage, 0},
        {"selection after a form feed", Join({Header(1), kFormFeed, Select("K")}),
         ErrorCode::kNoPage, 13},
        {"packet before a selection", Join({Header(1), line}), ErrorCode::kNoSelection, 12},
        {"selection does not cross pages", Join({Header(1), Select("K"), line, Header(1), line}),
         ErrorCode::kNoSelection, 38},
        {"unknown ink", Join({Header(1), Select("KX")}), ErrorCode::kUnknownInk, 18},
        {"ink twice", Join({Header(1), Select("CMC")}), ErrorCode::kDuplicateInk, 19},
        {"empty selection", Join({Header(1), Select("")}), ErrorCode::kEmptySelection, 12},
        {"skip inside a row", Join({Header(1), Select("Kk"), line, Skip(1)}),
         ErrorCode::kIncompleteSelection, 27},
        {"selection without packets", Join({Header(1), Select("K"), Select("k")}),
         ErrorCode::kIncompleteSelection, 18},
        {"selection at the end", Join({Header(1), Select("K"), line, Select("k")}),
         ErrorCode::kIncompleteSelection, 32},
        {"stream ends inside a row", Join({Header(1), Select("CMY"), line, line}),
         ErrorCode::kIncompleteSelection, 36},
        {"form feed inside a row", Join({Header(1), Select("Kk"), line, kFormFeed}),
         ErrorCode::kIncompleteSelection, 27},
        {"header inside a row", Join({Header(1), Select("Kk"), line, Header(1)}),
         ErrorCode::kIncompleteSelection, 27},
    };
    for (const BadCase& c : cases)
        ExpectError(c);
}

TEST(DecodeStreamErrors, PacketContent) {
    // Payloads start at 23: header 12, selection 6, packet header 5.
    DecodeOptions narrow;
    narrow.maxLineBytes = 2;
    DecodeOptions small;
    small.maxRasterBytes = 10;
    const Bytes inkedRow = Packet(Lines(16, 0, {0x00, 0x01}));
    const BadCase cases[] = {
        {"literal past payload", Join({Header(1), Select("K"), Packet({0x05, 0xAA})}),
         ErrorCode::kPacketLengthMismatch, 23},
        {"repeat past payload", Join({Header(1), Select("K"), Packet({0xFE})}),
         ErrorCode::kPacketLengthMismatch, 23},
        {"line without end mark", Join({Header(1), Select("K"), Packet({0x00, 0xAA})}),
         ErrorCode::kPacketLengthMismatch, 25},
        {"payload after the lines", Join({Header(1), Select("K"), Packet({0x80, 0x80})}),
         ErrorCode::kPacketLengthMismatch, 24},
        {"too few lines", Join({Header(8), Select("K"), Packet(Lines(3))}),
         ErrorCode::kLineCountMismatch, 18},
        {"line too wide",
         Join({Header(1), Select("K"), Packet(Lines(1, 0, {0x00, 0x01, 0xFE, 0x07}))}),
         ErrorCode::kLineTooWide, 25, narrow},
        {"raster too large", Join({Header(16), Select("K"), inkedRow}), ErrorCode::kRasterTooLarge,
         12 + 6 + 5 + 18, small},
    };
    for (const BadCase& c : cases)
        ExpectError(c);
}

TEST(DecodeStreamErrors, KeepsWhatCameBefore) {
    const Bytes stream = Join({Header(8), Header(1), Select("K"), {0x42}});
    Decoded decoded;
    const Error error = DecodeStream(stream, {}, &decoded);
    EXPECT_EQ(error.code, ErrorCode::kUnknownCommand);
    EXPECT_EQ(decoded.pages.size(), 1u);
    EXPECT_EQ(decoded.commands.size(), 5u);
    EXPECT_EQ(decoded.totals.bytes, 30u);
}

// Every prefix and every single-byte corruption of a valid stream must give either a
// result or an error inside the stream, never a crash (run under the sanitizers).
TEST(DecodeStreamErrors, DamagedStreamsNeverCrash) {
    const Bytes stream = Join({Header(8), Skip(3), Select("CMYK"),
                               Packet(Lines(8, 2, {0x01, 0xAA, 0xBB, 0x81, 0x05})), kEmptyPacket,
                               kEmptyPacket, Packet(Lines(8, 7, {0x7F, 0x10})), kFormFeed});
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
        Decoded decoded;
        const Bytes prefix(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(cut));
        const Error error = DecodeStream(prefix, {}, &decoded);
        EXPECT_LE(error.offset, cut);
    }
    const std::uint8_t values[] = {0x00, 0x0C, 0x1B, 0x28, 0x7F, 0x80, 0x81, 0xFF};
    for (std::size_t at = 0; at < stream.size(); ++at) {
        for (std::uint8_t value : values) {
            Bytes damaged = stream;
            damaged[at] = value;
            Decoded decoded;
            const Error error = DecodeStream(damaged, {}, &decoded);
            EXPECT_LE(error.offset, damaged.size());
        }
    }
}

}  // namespace
}  // namespace inkrow::decode
