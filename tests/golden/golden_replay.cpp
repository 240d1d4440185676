// Compares a freshly written command stream with its golden stream (gzip-compressed on
// disk) byte for byte. On a difference it keeps both streams side by side, names the
// first differing byte and the command it falls in on either side, and prints the
// decoder command that lists both streams so the first difference shows in context.
//
//   inkrow_golden_replay [--regenerate] --decoder PATH CASE GOLDEN.prn.gz NEW.prn
//
// With --regenerate it writes NEW.prn into GOLDEN.prn.gz instead (only when the bytes
// differ, so that an unchanged stream leaves the file alone), after checking that the
// strict reader takes the new stream. Exit status: 0 equal (or regenerated), 1 the
// streams differ or the new one does not decode, 2 a usage or file error.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "decode.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
namespace decode = inkrow::decode;

std::optional<Bytes> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out.flush());
}

std::optional<Bytes> ReadGzip(const std::string& path) {
    gzFile file = gzopen(path.c_str(), "rb");
    if (file == nullptr) return std::nullopt;
    Bytes bytes;
    std::uint8_t chunk[1 << 16];
    int got = 0;
    while ((got = gzread(file, chunk, sizeof chunk)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + got);
    const bool ok = got == 0 && gzclose(file) == Z_OK;
    if (!ok) return std::nullopt;
    return bytes;
}

// Written beside the golden file under another name and renamed over it, so that a
// failed write never leaves half a golden stream behind. zlib's header carries no time,
// so the same stream always compresses to the same file.
bool WriteGzip(const std::string& path, const Bytes& bytes) {
    const std::string partial = path + ".partial";
    gzFile file = gzopen(partial.c_str(), "wb9");
    if (file == nullptr) return false;
    const bool written =
        bytes.empty() || gzwrite(file, bytes.data(), static_cast<unsigned>(bytes.size())) ==
                             static_cast<int>(bytes.size());
    const bool closed = gzclose(file) == Z_OK;
    std::error_code error;
    if (written && closed) std::filesystem::rename(partial, path, error);
    if (!written || !closed || error) {
        std::filesystem::remove(partial, error);
        return false;
    }
    return true;
}

// The listing line of the command that holds byte `offset`, or the reader's error when
// the stream breaks off before it.
std::string DescribeOffset(const Bytes& stream, std::size_t offset) {
    decode::DecodeOptions options;
    options.keepRasters = false;
    decode::Decoded decoded;
    const decode::Error error = decode::DecodeStream(stream, options, &decoded);
    if (offset >= stream.size()) return "(past the stream's end)";
    if (error.code != decode::ErrorCode::kNone && offset >= error.offset) {
        return "does not decode: byte " + std::to_string(error.offset) + ": " + error.message;
    }
    const auto after =
        std::upper_bound(decoded.commands.begin(), decoded.commands.end(), offset,
                         [](std::size_t at, const decode::Command& c) { return at < c.offset; });
    if (after == decoded.commands.begin()) return "(before the first command)";
    return decode::FormatCommand(*std::prev(after));
}

int Regenerate(const std::string& name, const std::string& goldenPath, const Bytes& fresh) {
    decode::DecodeOptions options;
    options.keepRasters = false;
    options.keepListing = false;
    decode::Decoded decoded;
    const decode::Error error = decode::DecodeStream(fresh, options, &decoded);
    if (error.code != decode::ErrorCode::kNone) {
        std::fprintf(stderr, "%s: the new stream does not decode (byte %zu: %s); not written\n",
                     name.c_str(), error.offset, error.message.c_str());
        return 1;
    }
    const std::optional<Bytes> old = ReadGzip(goldenPath);
    if (old && *old == fresh) {
        std::printf("%s: unchanged (%zu bytes)\n", name.c_str(), fresh.size());
        return 0;
    }
    if (!WriteGzip(goldenPath, fresh)) {
        std::fprintf(stderr, "%s: cannot write %s\n", name.c_str(), goldenPath.c_str());
        return 2;
    }
    std::printf("%s: wrote %s (%zu bytes, %s)\n", name.c_str(), goldenPath.c_str(), fresh.size(),
                old ? "replacing a different stream" : "new");
    return 0;
}

int Compare(const std::string& name, const std::string& goldenPath, const std::string& freshPath,
            const std::string& decoder, const Bytes& fresh) {
    const std::optional<Bytes> golden = ReadGzip(goldenPath);
    if (!golden) {
        std::fprintf(
            stderr,
            "%s: no readable golden stream %s\n"
            "  a new case is made with INKROW_REGENERATE_GOLDEN=1 (tests/golden/README.md)\n",
            name.c_str(), goldenPath.c_str());
        return 2;
    }
    if (*golden == fresh) {
        std::printf("%s: %zu bytes, equal to the golden stream\n", name.c_str(), fresh.size());
        return 0;
    }

    // The golden stream, expanded beside the new one, so that both can be read as they are.
    const std::filesystem::path freshFile(freshPath);
    const std::string expanded =
        (freshFile.parent_path() / (freshFile.stem().string() + ".prn")).string();
    if (!WriteFile(expanded, *golden)) {
        std::fprintf(stderr, "%s: cannot write %s\n", name.c_str(), expanded.c_str());
        return 2;
    }
    const auto mismatch = std::mismatch(golden->begin(), golden->end(), fresh.begin(), fresh.end());
    const auto offset = static_cast<std::size_t>(mismatch.first - golden->begin());
    std::fprintf(stderr,
                 "%s: the stream differs from the golden stream %s\n"
                 "  golden %zu bytes, new %zu bytes; first difference at byte %zu\n"
                 "  golden: %s\n"
                 "  new:    %s\n"
                 "  golden stream: %s\n"
                 "  new stream:    %s\n"
                 "  the decoder's listings of both, the first difference on top (bash):\n"
                 "    diff <(%s %s) <(%s %s) | head -20\n"
                 "  Only a deliberate change of the stream format may replace the golden "
                 "stream (tests/golden/README.md).\n",
                 name.c_str(), goldenPath.c_str(), golden->size(), fresh.size(), offset,
                 DescribeOffset(*golden, offset).c_str(), DescribeOffset(fresh, offset).c_str(),
                 expanded.c_str(), freshPath.c_str(), decoder.c_str(), expanded.c_str(),
                 decoder.c_str(), freshPath.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    bool regenerate = false;
    std::string decoder = "inkrow-decode";
    std::vector<std::string> positional;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == "--regenerate") {
            regenerate = true;
        } else if (arguments[i] == "--decoder" && i + 1 < arguments.size()) {
            decoder = arguments[++i];
        } else {
            positional.push_back(arguments[i]);
        }
    }
    if (positional.size() != 3) {
        std::fprintf(stderr,
                     "usage: inkrow_golden_replay [--regenerate] [--decoder PATH] CASE "
                     "GOLDEN.prn.gz NEW.prn\n");
        return 2;
    }
    const std::string& name = positional[0];
    const std::string& goldenPath = positional[1];
    const std::string& freshPath = positional[2];
    const std::optional<Bytes> fresh = ReadFile(freshPath);
    if (!fresh) {
        std::fprintf(stderr, "%s: cannot read %s\n", name.c_str(), freshPath.c_str());
        return 2;
    }
    if (regenerate) return Regenerate(name, goldenPath, *fresh);
    return Compare(name, goldenPath, freshPath, decoder, *fresh);
}
