// The stream reader. It walks the stream command by command and checks every length,
// count and order rule on the way, so that an encoder fault is reported at the byte
// where it first shows instead of surfacing later as a garbled picture.
#include "decode.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace inkrow::decode {
namespace {

constexpr std::uint8_t kEscape = 0x1B;
constexpr std::uint8_t kOpenParen = 0x28;
constexpr std::uint8_t kFormFeedByte = 0x0C;
constexpr std::uint8_t kLineEnd = 0x80;
constexpr std::size_t kCommandHeaderBytes = 5;  // ESC ( letter length-low length-high
constexpr std::uint32_t kMaxSkipRows = 0x7FFF;

constexpr std::uint8_t kKnownInks[] = {'C',  'M',  'Y',  'K',  'c',  'm',  'k',  0xC3, 0xCD,
                                       0xD9, 0xA3, 0xAD, 0xEB, 0xE3, 0xED, 0x23, 0x2D};

constexpr std::uint8_t kSetK[] = {'K'};
constexpr std::uint8_t kSetCmy[] = {'C', 'M', 'Y'};
constexpr std::uint8_t kSetCmyK[] = {'C', 'M', 'Y', 'K'};
constexpr std::uint8_t kSetCmyLightK[] = {'C', 'M', 'Y', 'k'};
constexpr std::uint8_t kSetCmyKk[] = {'C', 'M', 'Y', 'K', 'k'};
constexpr std::uint8_t kSetCmyKcm[] = {'C', 'M', 'Y', 'K', 'c', 'm'};
constexpr std::uint8_t kSetCmycmk[] = {'C', 'M', 'Y', 'c', 'm', 'k'};
constexpr std::uint8_t kSetCmyKcmk[] = {'C', 'M', 'Y', 'K', 'c', 'm', 'k'};
constexpr std::uint8_t kSetSixteen[] = {'C',  'M',  'Y',  'c',  'm',  'k',  0xC3, 0xCD,
                                        0xD9, 0xA3, 0xAD, 0xEB, 0xE3, 0xED, 0x23, 0x2D};

// A decoded line kept until the page ends, when the page's height and widths are known.
struct StoredLine {
    std::uint64_t line;
    std::size_t offset;  // into InkBuild::data
    std::uint32_t length;
};

struct InkBuild {
    std::uint8_t code = 0;
    std::uint32_t longestLine = 0;
    std::vector<StoredLine> lines;
    std::vector<std::uint8_t> data;
};

struct Reader {
    std::span<const std::uint8_t> stream;
    const DecodeOptions* options = nullptr;
    Decoded* result = nullptr;

    bool pageOpen = false;
    bool awaitingLinesPerRow = false;  // between "ESC ( I" and "ESC ( J"
    bool repeatedHeader = false;       // that header repeats the open page's
    Page page;                         // header fields and statistics of the open page
    std::vector<InkBuild> inks;
    std::uint64_t row = 0;

    std::vector<std::uint8_t> selection;     // codes of the selection in force
    std::vector<std::size_t> selectionInks;  // their indexes into inks
    std::size_t packetsInRow = 0;            // packets of the current row read so far
    bool selectionUnused = false;            // a selection that no packet followed yet

    std::vector<std::uint8_t> line;  // scratch for the line being decoded
};

// MinGW's C++ runtime formats by the C standard's rules, not the Microsoft runtime's
// that GCC's plain "printf" check stands for there.
#if defined(__MINGW32__)
__attribute__((format(__MINGW_PRINTF_FORMAT, 3, 4)))
#elif defined(__GNUC__)
__attribute__((format(printf, 3, 4)))
#endif
Error MakeError(ErrorCode code, std::size_t offset, const char* format, ...) {
    char text[256];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    return Error{code, offset, text};
}

void Count(Reader* reader, std::uint64_t Statistics::*field, std::uint64_t amount) {
    reader->page.stats.*field += amount;
    reader->result->totals.*field += amount;
}

std::size_t FindOrAddInk(Reader* reader, std::uint8_t code) {
    for (std::size_t i = 0; i < reader->inks.size(); ++i) {
        if (reader->inks[i].code == code) return i;
    }
    reader->inks.push_back(InkBuild{});
    reader->inks.back().code = code;
    return reader->inks.size() - 1;
}

// Turns the stored lines of the open page into full rasters and appends the page.
Error FinishPage(Reader* reader, std::size_t endOffset) {
    Page& page = reader->page;
    page.rows = reader->row;
    page.stats.bytes = endOffset - page.offset;
    page.stats.pages = 1;
    const std::uint64_t lineCount = reader->row * page.linesPerRow;
    const std::uint32_t fixedWidth = reader->options->maxLineBytes;

    std::uint64_t budget = reader->options->maxRasterBytes;
    for (const InkBuild& ink : reader->inks) {
        const std::uint64_t width = fixedWidth != 0 ? fixedWidth : ink.longestLine;
        if (!reader->options->keepRasters || width == 0) continue;
        if (lineCount > budget / width) {
            return MakeError(ErrorCode::kRasterTooLarge, endOffset,
                             "page of %llu lines: rasters exceed the limit of %llu bytes",
                             static_cast<unsigned long long>(lineCount),
                             static_cast<unsigned long long>(reader->options->maxRasterBytes));
        }
        budget -= lineCount * width;
    }

    page.inks.clear();
    for (InkBuild& ink : reader->inks) {
        InkRaster raster;
        raster.code = ink.code;
        raster.longestLine = ink.longestLine;
        raster.widthBytes = fixedWidth != 0 ? fixedWidth : ink.longestLine;
        raster.lineCount = lineCount;
        if (reader->options->keepRasters && raster.widthBytes != 0) {
            raster.bytes.assign(lineCount * raster.widthBytes, 0);
            for (const StoredLine& stored : ink.lines) {
                std::copy_n(ink.data.begin() + static_cast<std::ptrdiff_t>(stored.offset),
                            stored.length,
                            raster.bytes.begin() +
                                static_cast<std::ptrdiff_t>(stored.line * raster.widthBytes));
            }
        }
        page.inks.push_back(std::move(raster));
    }
    reader->result->pages.push_back(std::move(page));
    reader->result->totals.pages += 1;
    reader->page = Page{};
    reader->inks.clear();
    reader->selection.clear();
    reader->selectionInks.clear();
    reader->packetsInRow = 0;
    reader->selectionUnused = false;
    reader->row = 0;
    reader->pageOpen = false;
    return Error{};
}

// The rules every command but a packet shares: it needs an open page with a complete
// header, and may not split the packets of a row.
Error CheckBetweenRows(const Reader& reader, std::size_t offset, const char* what) {
    if (!reader.pageOpen) {
        return MakeError(ErrorCode::kNoPage, offset, "%s outside a page", what);
    }
    if (reader.awaitingLinesPerRow) {
        return MakeError(ErrorCode::kBadHeader, offset, "%s where ESC ( J should follow ESC ( I",
                         what);
    }
    if (reader.packetsInRow != 0 || reader.selectionUnused) {
        return MakeError(ErrorCode::kIncompleteSelection, offset,
                         "%s after %zu of the %zu packets the selection asks for", what,
                         reader.packetsInRow, reader.selection.size());
    }
    return Error{};
}

Error ReadPageStart(Reader* reader, std::size_t offset, std::uint8_t parameter) {
    if (parameter != 1) {
        return MakeError(ErrorCode::kBadParameter, offset, "ESC ( I with parameter %u, not 1",
                         parameter);
    }
    if (reader->awaitingLinesPerRow) {
        return MakeError(ErrorCode::kBadHeader, offset, "ESC ( I where ESC ( J should follow");
    }
    if (reader->pageOpen && (reader->packetsInRow != 0 || reader->selectionUnused)) {
        return CheckBetweenRows(*reader, offset, "ESC ( I");
    }
    if (reader->pageOpen && reader->options->continuePageOnHeader) {
        reader->repeatedHeader = true;
    } else {
        if (reader->pageOpen) {
            Error error = FinishPage(reader, offset);
            if (error.code != ErrorCode::kNone) return error;
        }
        reader->pageOpen = true;
        reader->repeatedHeader = false;
        reader->page.offset = offset;
    }
    reader->awaitingLinesPerRow = true;
    return Error{};
}

Error ReadLinesPerRow(Reader* reader, std::size_t offset, std::uint8_t linesPerRow) {
    if (!reader->awaitingLinesPerRow) {
        return MakeError(ErrorCode::kBadHeader, offset, "ESC ( J without ESC ( I before it");
    }
    if (linesPerRow != 1 && linesPerRow != 8 && linesPerRow != 16) {
        return MakeError(ErrorCode::kBadParameter, offset,
                         "%u lines per row; only 1, 8 and 16 exist", linesPerRow);
    }
    if (reader->repeatedHeader && linesPerRow != reader->page.linesPerRow) {
        return MakeError(ErrorCode::kBadParameter, offset,
                         "repeated header changes lines per row from %u to %u",
                         reader->page.linesPerRow, linesPerRow);
    }
    reader->page.linesPerRow = linesPerRow;
    reader->awaitingLinesPerRow = false;
    return Error{};
}

Error ReadSkip(Reader* reader, std::size_t offset, std::uint32_t rows) {
    Error error = CheckBetweenRows(*reader, offset, "ESC ( e");
    if (error.code != ErrorCode::kNone) return error;
    if (rows == 0 || rows > kMaxSkipRows) {
        return MakeError(ErrorCode::kBadParameter, offset,
                         "skip of %u rows; the count runs from 1 to 32767", rows);
    }
    reader->row += rows;
    Count(reader, &Statistics::skips, 1);
    Count(reader, &Statistics::skippedRows, rows);
    Count(reader, &Statistics::rows, rows);
    return Error{};
}

Error ReadSelection(Reader* reader, std::size_t offset, std::span<const std::uint8_t> codes) {
    Error error = CheckBetweenRows(*reader, offset, "ESC ( L");
    if (error.code != ErrorCode::kNone) return error;
    if (codes.empty()) {
        return MakeError(ErrorCode::kEmptySelection, offset, "ESC ( L selects no ink");
    }
    const std::size_t firstCode = offset + kCommandHeaderBytes;
    for (std::size_t i = 0; i < codes.size(); ++i) {
        if (!IsKnownInk(codes[i])) {
            return MakeError(ErrorCode::kUnknownInk, firstCode + i, "unknown ink code 0x%02X",
                             codes[i]);
        }
        if (std::find(codes.begin(), codes.begin() + static_cast<std::ptrdiff_t>(i), codes[i]) !=
            codes.begin() + static_cast<std::ptrdiff_t>(i)) {
            return MakeError(ErrorCode::kDuplicateInk, firstCode + i, "ink %s selected twice",
                             FormatInkCode(codes[i]).c_str());
        }
    }
    reader->selection.assign(codes.begin(), codes.end());
    reader->selectionUnused = true;
    reader->selectionInks.clear();
    for (std::uint8_t code : codes)
        reader->selectionInks.push_back(FindOrAddInk(reader, code));
    Count(reader, &Statistics::selections, 1);
    return Error{};
}

// Decodes the lines of one payload into the ink's store, filling the packet's listing
// fields on the way.
Error ReadPayload(Reader* reader, std::size_t packetOffset, std::size_t start, std::size_t length,
                  InkBuild* ink, Command* command) {
    const std::span<const std::uint8_t> bytes = reader->stream;
    const std::uint32_t linesPerRow = reader->page.linesPerRow;
    const std::uint32_t maxLine = reader->options->maxLineBytes;
    const std::size_t end = start + length;
    std::size_t at = start;
    if (length == 0) return Error{};  // an empty packet leaves the whole row blank

    for (std::uint32_t lineIndex = 0; lineIndex < linesPerRow; ++lineIndex) {
        std::vector<std::uint8_t>& line = reader->line;
        line.clear();
        const std::size_t lineStart = at;
        for (;;) {
            if (at == end) {
                if (at == lineStart) {
                    return MakeError(ErrorCode::kLineCountMismatch, packetOffset,
                                     "packet holds %u lines; the page has %u lines per row",
                                     lineIndex, linesPerRow);
                }
                return MakeError(ErrorCode::kPacketLengthMismatch, at,
                                 "payload ends inside line %u (no 0x80 ends it)", lineIndex);
            }
            const std::uint8_t control = bytes[at];
            if (control == kLineEnd) {
                ++at;
                break;
            }
            const bool literal = control < kLineEnd;
            const std::size_t count = literal ? control + 1u : 257u - control;
            const std::size_t dataBytes = literal ? count : 1;
            if (end - at - 1 < dataBytes) {
                return MakeError(ErrorCode::kPacketLengthMismatch, at,
                                 "%s of %zu bytes runs past the payload's end",
                                 literal ? "literal run" : "repeat run", count);
            }
            if (maxLine != 0 && line.size() + count > maxLine) {
                return MakeError(ErrorCode::kLineTooWide, at,
                                 "line %u grows to %zu bytes, past the limit of %u", lineIndex,
                                 line.size() + count, maxLine);
            }
            if (literal) {
                line.insert(line.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at + 1),
                            bytes.begin() + static_cast<std::ptrdiff_t>(at + 1 + count));
            } else {
                line.insert(line.end(), count, bytes[at + 1]);
            }
            at += 1 + dataBytes;
        }

        const auto lineLength = static_cast<std::uint32_t>(line.size());
        command->lineCount += 1;
        command->longestLine = std::max(command->longestLine, lineLength);
        ink->longestLine = std::max(ink->longestLine, lineLength);
        const bool inked =
            std::any_of(line.begin(), line.end(), [](std::uint8_t b) { return b != 0; });
        if (!inked) continue;
        command->inkedLines += 1;
        if (reader->options->keepRasters) {
            ink->lines.push_back(
                StoredLine{reader->row * linesPerRow + lineIndex, ink->data.size(), lineLength});
            ink->data.insert(ink->data.end(), line.begin(), line.end());
        }
    }
    if (at != end) {
        return MakeError(ErrorCode::kPacketLengthMismatch, at,
                         "payload goes on for %zu bytes after its %u lines", end - at, linesPerRow);
    }
    return Error{};
}

Error ReadPacket(Reader* reader, std::size_t offset, std::size_t length, Command* command) {
    if (!reader->pageOpen) {
        return MakeError(ErrorCode::kNoPage, offset, "ESC ( F outside a page");
    }
    if (reader->awaitingLinesPerRow) {
        return MakeError(ErrorCode::kBadHeader, offset,
                         "ESC ( F where ESC ( J should follow ESC ( I");
    }
    if (reader->selection.empty()) {
        return MakeError(ErrorCode::kNoSelection, offset,
                         "ESC ( F before any ink selection on this page");
    }
    InkBuild& ink = reader->inks[reader->selectionInks[reader->packetsInRow]];
    command->ink = ink.code;
    Error error = ReadPayload(reader, offset, offset + kCommandHeaderBytes, length, &ink, command);
    if (error.code != ErrorCode::kNone) return error;

    Count(reader, &Statistics::packets, 1);
    Count(reader, &Statistics::payloadBytes, length);
    if (length == 0) Count(reader, &Statistics::emptyPackets, 1);
    reader->selectionUnused = false;
    if (++reader->packetsInRow == reader->selection.size()) {
        reader->packetsInRow = 0;
        reader->row += 1;
        Count(reader, &Statistics::sentRows, 1);
        Count(reader, &Statistics::rows, 1);
    }
    return Error{};
}

Error ReadFormFeed(Reader* reader, std::size_t offset) {
    Error error = CheckBetweenRows(*reader, offset, "form feed");
    if (error.code != ErrorCode::kNone) return error;
    Count(reader, &Statistics::formFeeds, 1);
    reader->page.endedByFormFeed = true;
    return FinishPage(reader, offset + 1);
}

// Reads the command at `offset`; on success stores its size in *length.
Error ReadCommand(Reader* reader, std::size_t offset, std::size_t* length) {
    RawCommand raw;
    Error error = FrameCommand(reader->stream, offset, &raw);
    if (error.code != ErrorCode::kNone) return error;
    const std::span<const std::uint8_t> parameters = raw.parameters;
    Command command;
    command.offset = offset;
    command.page = static_cast<std::uint32_t>(reader->result->pages.size());
    command.row = reader->row;
    command.kind = raw.kind;
    command.length = raw.length;
    switch (raw.kind) {
        case CommandKind::kFormFeed:
            error = ReadFormFeed(reader, offset);
            break;
        case CommandKind::kPageStart:
            command.value = parameters[0];
            error = ReadPageStart(reader, offset, parameters[0]);
            command.repeatsHeader = reader->repeatedHeader;
            command.page = static_cast<std::uint32_t>(reader->result->pages.size());
            command.row = reader->row;
            break;
        case CommandKind::kLinesPerRow:
            command.value = parameters[0];
            error = ReadLinesPerRow(reader, offset, parameters[0]);
            break;
        case CommandKind::kSkip:
            command.value = (parameters[0] << 8) | parameters[1];
            error = ReadSkip(reader, offset, command.value);
            break;
        case CommandKind::kSelect:
            command.value = static_cast<std::uint32_t>(parameters.size());
            command.inks.assign(parameters.begin(), parameters.end());
            error = ReadSelection(reader, offset, parameters);
            break;
        case CommandKind::kPacket:
            command.value = static_cast<std::uint32_t>(parameters.size());
            error = ReadPacket(reader, offset, parameters.size(), &command);
            break;
    }
    if (error.code != ErrorCode::kNone) return error;
    *length = command.length;
    if (reader->options->keepListing) reader->result->commands.push_back(std::move(command));
    return Error{};
}

// Whether the stream holds a form feed, found by framing its commands from the start
// (a 0x0C inside a payload is no form feed). Stops at the first framing fault, which the
// decoding proper will report.
bool HoldsFormFeed(std::span<const std::uint8_t> stream) {
    std::size_t offset = 0;
    while (offset < stream.size()) {
        RawCommand raw;
        if (FrameCommand(stream, offset, &raw).code != ErrorCode::kNone) return false;
        if (raw.kind == CommandKind::kFormFeed) return true;
        offset += raw.length;
    }
    return false;
}

}  // namespace

Error FrameCommand(std::span<const std::uint8_t> bytes, std::size_t offset, RawCommand* command) {
    *command = RawCommand{};
    if (offset >= bytes.size()) {
        return MakeError(ErrorCode::kTruncatedCommand, offset, "no command at the stream's end");
    }
    const std::size_t left = bytes.size() - offset;
    if (bytes[offset] == kFormFeedByte) {
        command->kind = CommandKind::kFormFeed;
        command->length = 1;
        return Error{};
    }
    if (bytes[offset] != kEscape) {
        return MakeError(ErrorCode::kUnknownCommand, offset, "byte 0x%02X starts no command",
                         bytes[offset]);
    }
    if (left >= 2 && bytes[offset + 1] != kOpenParen) {
        return MakeError(ErrorCode::kUnknownCommand, offset, "ESC followed by 0x%02X",
                         bytes[offset + 1]);
    }
    const std::uint8_t letter = left >= 3 ? bytes[offset + 2] : 0;
    if (left >= 3 && letter != 'I' && letter != 'J' && letter != 'e' && letter != 'L' &&
        letter != 'F') {
        return MakeError(ErrorCode::kUnknownCommand, offset, "unknown command ESC ( 0x%02X",
                         letter);
    }
    if (left < kCommandHeaderBytes) {
        return MakeError(ErrorCode::kTruncatedCommand, offset,
                         "stream ends %zu bytes into a command", left);
    }
    const std::size_t parameterLength = bytes[offset + 3] | (bytes[offset + 4] << 8);
    const std::size_t fixedLength = letter == 'I' || letter == 'J' ? 1 : letter == 'e' ? 2 : 0;
    if (fixedLength != 0 && parameterLength != fixedLength) {
        return MakeError(ErrorCode::kBadParameterLength, offset,
                         "ESC ( %c with parameter length %zu, not %zu", letter, parameterLength,
                         fixedLength);
    }
    if (left - kCommandHeaderBytes < parameterLength) {
        return MakeError(letter == 'F' ? ErrorCode::kTruncatedPacket : ErrorCode::kTruncatedCommand,
                         offset, "ESC ( %c announces %zu bytes; the stream holds %zu", letter,
                         parameterLength, left - kCommandHeaderBytes);
    }
    switch (letter) {
        case 'I':
            command->kind = CommandKind::kPageStart;
            break;
        case 'J':
            command->kind = CommandKind::kLinesPerRow;
            break;
        case 'e':
            command->kind = CommandKind::kSkip;
            break;
        case 'L':
            command->kind = CommandKind::kSelect;
            break;
        default:
            command->kind = CommandKind::kPacket;
            break;
    }
    command->length = kCommandHeaderBytes + parameterLength;
    command->parameters = bytes.subspan(offset + kCommandHeaderBytes, parameterLength);
    return Error{};
}

Error DecodeStream(std::span<const std::uint8_t> stream, const DecodeOptions& options,
                   Decoded* result) {
    *result = Decoded{};
    DecodeOptions effective = options;
    if (options.detectFormFeedJob && !options.continuePageOnHeader && HoldsFormFeed(stream)) {
        effective.continuePageOnHeader = true;
    }
    Reader reader;
    reader.stream = stream;
    reader.options = &effective;
    reader.result = result;

    std::size_t offset = 0;
    Error error;
    while (offset < stream.size() && error.code == ErrorCode::kNone) {
        std::size_t length = 0;
        error = ReadCommand(&reader, offset, &length);
        offset += length;
    }
    if (error.code == ErrorCode::kNone && reader.pageOpen) {
        if (reader.awaitingLinesPerRow) {
            error = MakeError(ErrorCode::kBadHeader, offset,
                              "stream ends where ESC ( J should follow ESC ( I");
        } else if (reader.packetsInRow != 0 || reader.selectionUnused) {
            error = MakeError(ErrorCode::kIncompleteSelection, offset,
                              "stream ends after %zu of the %zu packets the selection asks for",
                              reader.packetsInRow, reader.selection.size());
        } else {
            error = FinishPage(&reader, offset);
        }
    }
    result->totals.bytes = error.code == ErrorCode::kNone ? stream.size() : error.offset;
    return error;
}

const InkRaster* FindInk(const Page& page, std::uint8_t code) {
    for (const InkRaster& ink : page.inks) {
        if (ink.code == code) return &ink;
    }
    return nullptr;
}

std::span<const std::uint8_t> ListInkSetCodes(int inkSetId) {
    switch (inkSetId) {
        case 1:
            return kSetK;
        case 2:
            return kSetCmy;
        case 3:
            return kSetCmyK;
        case 4:
            return kSetCmyLightK;
        case 5:
            return kSetCmyKk;
        case 6:
            return kSetCmyKcm;
        case 7:
            return kSetCmycmk;
        case 8:
            return kSetCmyKcmk;
        case 9:
            return kSetSixteen;
        default:
            return {};
    }
}

bool IsKnownInk(std::uint8_t code) {
    return std::find(std::begin(kKnownInks), std::end(kKnownInks), code) != std::end(kKnownInks);
}

std::string FormatInkCode(std::uint8_t code) {
    if ((code >= 'A' && code <= 'Z') || (code >= 'a' && code <= 'z')) {
        return std::string(1, static_cast<char>(code));
    }
    char text[3];
    std::snprintf(text, sizeof text, "%02X", code);
    return text;
}

const char* DescribeErrorCode(ErrorCode code) {
    switch (code) {
        case ErrorCode::kNone:
            return "no error";
        case ErrorCode::kUnknownCommand:
            return "unknown command";
        case ErrorCode::kTruncatedCommand:
            return "truncated command";
        case ErrorCode::kTruncatedPacket:
            return "truncated packet";
        case ErrorCode::kBadParameterLength:
            return "bad parameter length";
        case ErrorCode::kBadParameter:
            return "bad parameter";
        case ErrorCode::kBadHeader:
            return "bad page header";
        case ErrorCode::kNoPage:
            return "command outside a page";
        case ErrorCode::kNoSelection:
            return "packet without ink selection";
        case ErrorCode::kUnknownInk:
            return "unknown ink";
        case ErrorCode::kDuplicateInk:
            return "ink selected twice";
        case ErrorCode::kEmptySelection:
            return "empty selection";
        case ErrorCode::kIncompleteSelection:
            return "too few packets for the selection";
        case ErrorCode::kPacketLengthMismatch:
            return "packet length disagrees with its lines";
        case ErrorCode::kLineCountMismatch:
            return "wrong number of lines in packet";
        case ErrorCode::kLineTooWide:
            return "line too wide";
        case ErrorCode::kRasterTooLarge:
            return "raster too large";
    }
    return "unknown error";
}

std::string FormatCommand(const Command& command) {
    char text[160];
    const auto row = static_cast<unsigned long long>(command.row);
    switch (command.kind) {
        case CommandKind::kPageStart:
            if (command.repeatsHeader) {
                std::snprintf(text, sizeof text,
                              "%8zu  ESC ( I  page %u: header repeated at row %llu (parameter %u)",
                              command.offset, command.page + 1, row, command.value);
            } else {
                std::snprintf(text, sizeof text, "%8zu  ESC ( I  page %u starts (parameter %u)",
                              command.offset, command.page + 1, command.value);
            }
            break;
        case CommandKind::kLinesPerRow:
            std::snprintf(text, sizeof text, "%8zu  ESC ( J  %u lines per row", command.offset,
                          command.value);
            break;
        case CommandKind::kSkip:
            std::snprintf(text, sizeof text, "%8zu  ESC ( e  skip %u row%s: rows [%llu, %llu)",
                          command.offset, command.value, command.value == 1 ? "" : "s", row,
                          row + command.value);
            break;
        case CommandKind::kSelect: {
            std::string inks;
            for (std::uint8_t code : command.inks) {
                inks += ' ';
                inks.append(FormatInkCode(code));
            }
            std::snprintf(text, sizeof text, "%8zu  ESC ( L  select %u:%s", command.offset,
                          command.value, inks.c_str());
            break;
        }
        case CommandKind::kPacket:
            if (command.value == 0) {
                std::snprintf(text, sizeof text, "%8zu  ESC ( F  row %llu ink %s: empty",
                              command.offset, row, FormatInkCode(command.ink).c_str());
            } else {
                std::snprintf(text, sizeof text,
                              "%8zu  ESC ( F  row %llu ink %s: %u bytes, %u lines, %u inked, "
                              "longest %u",
                              command.offset, row, FormatInkCode(command.ink).c_str(),
                              command.value, command.lineCount, command.inkedLines,
                              command.longestLine);
            }
            break;
        case CommandKind::kFormFeed:
            std::snprintf(text, sizeof text, "%8zu  FF       page %u ends at row %llu",
                          command.offset, command.page + 1, row);
            break;
    }
    return text;
}

}  // namespace inkrow::decode
