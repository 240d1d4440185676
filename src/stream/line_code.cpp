// The raster line code. The input is taken as maximal runs of equal bytes: runs of three
// or more always become repeat runs, single bytes gather in a literal, and a pair joins
// an open literal while that literal stays within 127 bytes (a literal is a run of
// different bytes, so a pair inside it costs nothing extra, while a repeat run of two
// would cost a control byte and break the literal). Any valid code prints the same, but
// the stream is meant to stay byte-identical across driver versions, so the choices are
// part of the format.
//
// How it is fast: while a literal is open, every single and every pair up to the next
// run of three joins it, so the coder looks for the next three equal bytes (sixteen
// starting positions a step in SSE2 registers, eight in 64-bit words) and copies the
// whole stretch before it at once, as far as the literal has room. Only the bytes at a
// literal's end and the runs of three or more are taken one at a time. The SSE2 coder
// (and its AVX2 form, where the processor has it) finds both from bit masks of 64
// positions (RunBlock) up to the line's end, which keeps loads out of the chain from one
// literal to the next.
#include "stream/line_code.h"

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#define INKROW_LINE_CODE_SSE2 1
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#include "platform/cpu.h"
#define INKROW_LINE_CODE_AVX2 1
#endif
#endif

namespace inkrow {
namespace {

constexpr std::uint32_t kMaxRepeat = 128;           // copies one repeat control byte can say
constexpr std::uint32_t kMaxLiteral = 128;          // bytes one literal control byte can say
constexpr std::uint32_t kMaxLiteralWithPair = 127;  // a folded pair may fill a literal this far
constexpr std::uint8_t kLongestRepeat = 0x81;

// The byte 1 - n, modulo 256: the control byte of a repeat run of n copies (2..128).
constexpr std::uint8_t RepeatControl(std::uint32_t n) {
    return static_cast<std::uint8_t>(1u - n);
}

inline std::uint64_t LoadWord(const std::uint8_t* bytes) {
    std::uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

// 0x80 in every byte of x that is zero and 0 in every other byte. Exact: no carry
// crosses from one byte into the next, so bytes after the first zero are right too.
inline std::uint64_t MarkZeroBytes(std::uint64_t x) {
    constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
    return ~(((x & kLow7) + kLow7) | x | kLow7);
}

// Offset in memory order (0..7) of the first nonzero byte of a loaded word; 8 for zero.
inline std::uint32_t FirstNonzeroByte(std::uint64_t word) {
    if constexpr (std::endian::native == std::endian::little) {
        return static_cast<std::uint32_t>(std::countr_zero(word)) / 8;
    } else {
        return static_cast<std::uint32_t>(std::countl_zero(word)) / 8;
    }
}

// Copies n bytes that do not overlap. Short stretches, the common case between runs,
// are two overlapping word copies instead of a call.
inline void CopyBytes(std::uint8_t* dest, const std::uint8_t* src, std::uint32_t n) {
    if (n > 16) {
        // Sixteen bytes a step, the last step overlapping the one before: stretches are
        // at most 127 bytes, too short to be worth a call.
        for (std::uint32_t k = 0; k + 16 < n; k += 16)
            std::memcpy(dest + k, src + k, 16);
        std::memcpy(dest + n - 16, src + n - 16, 16);
    } else if (n >= 8) {
        std::memcpy(dest, src, 8);
        std::memcpy(dest + n - 8, src + n - 8, 8);
    } else if (n >= 4) {
        std::memcpy(dest, src, 4);
        std::memcpy(dest + n - 4, src + n - 4, 4);
    } else if (n > 0) {
        dest[0] = src[0];
        dest[n / 2] = src[n / 2];
        dest[n - 1] = src[n - 1];
    }
}

// The two searches of the coder, over src[0 .. n-1], never loading past src[n - 1]:
//   FindTriple(src, from, to, n): the first k in [from, to) where three equal bytes
//     start (src[k] == src[k + 1] == src[k + 2]), or `to` when there is none;
//   FindRunEnd(src, from, n, v): the first k in [from, n) with src[k] != v, or n.
struct WordSearch {
    static constexpr std::uint32_t kStep = 8;
    static constexpr bool kBlocks = false;

    // The first of the eight starting positions p[0..7] where three equal bytes start,
    // or 8; loads p[0..9].
    static std::uint32_t FindTripleInStep(const std::uint8_t* p) {
        // A byte of (a ^ b) | (b ^ c) is zero where the byte, the next and the one after
        // agree.
        const std::uint64_t a = LoadWord(p);
        const std::uint64_t b = LoadWord(p + 1);
        const std::uint64_t c = LoadWord(p + 2);
        return FirstNonzeroByte(MarkZeroBytes((a ^ b) | (b ^ c)));
    }

    // The length of the run at p if it is at most 8, else 9; loads p[0..8].
    static std::uint32_t MeasureShortRun(const std::uint8_t* p) {
        return FirstNonzeroByte(LoadWord(p) ^ LoadWord(p + 1)) + 1;
    }

    static std::uint32_t FindTriple(const std::uint8_t* src, std::uint32_t k, std::uint32_t to,
                                    std::uint32_t n) {
        // Eight starting positions a step, from three overlapping words: a byte of
        // (a ^ b) | (b ^ c) is zero where the byte, the next and the one after agree.
        while (k < to && k + 10 <= n) {
            const std::uint64_t a = LoadWord(src + k);
            const std::uint64_t b = LoadWord(src + k + 1);
            const std::uint64_t c = LoadWord(src + k + 2);
            const std::uint64_t marks = MarkZeroBytes((a ^ b) | (b ^ c));
            if (marks != 0) return std::min(to, k + FirstNonzeroByte(marks));
            k += 8;
        }
        for (; k < to && k + 2 < n; ++k) {
            if (src[k] == src[k + 1] && src[k] == src[k + 2]) return k;
        }
        return to;
    }

    static std::uint32_t FindRunEnd(const std::uint8_t* src, std::uint32_t k, std::uint32_t n,
                                    std::uint8_t v) {
        const std::uint64_t pattern = v * 0x0101010101010101ull;
        for (; k + 8 <= n; k += 8) {
            const std::uint64_t differ = LoadWord(src + k) ^ pattern;
            if (differ != 0) return k + FirstNonzeroByte(differ);
        }
        while (k < n && src[k] == v)
            ++k;
        return k;
    }

    static std::uint32_t RunLength(const std::uint8_t* src, std::uint32_t i, std::uint32_t n) {
        if (i + kStep + 1 <= n) {
            const std::uint32_t run = MeasureShortRun(src + i);
            if (run <= kStep) return run;
            return FindRunEnd(src, i + kStep + 1, n, src[i]) - i;
        }
        return FindRunEnd(src, i + 1, n, src[i]) - i;
    }
};

#if defined(INKROW_LINE_CODE_SSE2)
// SSE2 is part of x86-64 itself, so this needs no check at run time; the bit masks
// of _mm_movemask_epi8 are in memory order whatever the word order.
struct VectorSearch {
    static constexpr std::uint32_t kStep = 16;
    static constexpr bool kBlocks = true;

    // Bit j of the result is set where p[j] == p[j + 1], for j = 0..63; loads p[0..64].
    static std::uint64_t EqualNextMask(const std::uint8_t* p) {
        std::uint64_t equal = 0;
        for (int q = 0; q < 4; ++q) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * q));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * q + 1));
            const auto same = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(a, b)));
            equal |= std::uint64_t{same} << (16 * q);
        }
        return equal;
    }

    // The first of the sixteen starting positions p[0..15] where three equal bytes
    // start, or 16; loads p[0..17].
    static std::uint32_t FindTripleInStep(const std::uint8_t* p) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2));
        const auto marks = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, b), _mm_cmpeq_epi8(b, c))));
        return static_cast<std::uint32_t>(std::countr_zero(marks | 0x10000u));
    }

    // The length of the run at p if it is at most 16, else 17: one compare of sixteen
    // bytes with the sixteen after their first; loads p[0..16].
    static std::uint32_t MeasureShortRun(const std::uint8_t* p) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
        const auto same = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(a, b)));
        return static_cast<std::uint32_t>(std::countr_one(same)) + 1;
    }

    static std::uint32_t FindTriple(const std::uint8_t* src, std::uint32_t k, std::uint32_t to,
                                    std::uint32_t n) {
        while (k < to && k + 18 <= n) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + k));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + k + 1));
            const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + k + 2));
            const auto marks = static_cast<unsigned>(
                _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, b), _mm_cmpeq_epi8(b, c))));
            if (marks != 0) {
                return std::min(to, k + static_cast<std::uint32_t>(std::countr_zero(marks)));
            }
            k += 16;
        }
        return WordSearch::FindTriple(src, k, to, n);
    }

    static std::uint32_t FindRunEnd(const std::uint8_t* src, std::uint32_t k, std::uint32_t n,
                                    std::uint8_t v) {
        const __m128i pattern = _mm_set1_epi8(static_cast<char>(v));
        // Long runs (blank stretches above all) go 64 bytes a step once they are longer
        // than the first 16.
        if (k + 16 <= n) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + k));
            const auto same =
                static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, pattern)));
            if (same != 0xFFFFu) return k + static_cast<std::uint32_t>(std::countr_one(same));
            k += 16;
        }
        for (; k + 64 <= n; k += 64) {
            const auto* at = reinterpret_cast<const __m128i*>(src + k);
            const __m128i all =
                _mm_and_si128(_mm_and_si128(_mm_cmpeq_epi8(_mm_loadu_si128(at), pattern),
                                            _mm_cmpeq_epi8(_mm_loadu_si128(at + 1), pattern)),
                              _mm_and_si128(_mm_cmpeq_epi8(_mm_loadu_si128(at + 2), pattern),
                                            _mm_cmpeq_epi8(_mm_loadu_si128(at + 3), pattern)));
            if (_mm_movemask_epi8(all) != 0xFFFF) break;
        }
        for (; k + 16 <= n; k += 16) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + k));
            const auto same =
                static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, pattern)));
            if (same != 0xFFFFu) return k + static_cast<std::uint32_t>(std::countr_one(same));
        }
        return WordSearch::FindRunEnd(src, k, n, v);
    }

    static std::uint32_t RunLength(const std::uint8_t* src, std::uint32_t i, std::uint32_t n) {
        if (i + kStep + 1 <= n) {
            const std::uint32_t run = MeasureShortRun(src + i);
            if (run <= kStep) return run;
            return FindRunEnd(src, i + kStep + 1, n, src[i]) - i;
        }
        return WordSearch::RunLength(src, i, n);
    }
};
#else
using VectorSearch = WordSearch;
#endif

#if defined(INKROW_LINE_CODE_AVX2)
// The SSE2 search with the 64-position masks taken 32 positions at a time. Only ever
// compiled into the coder of EncodeRunsWide, which runs where the processor has AVX2,
// BMI1 and BMI2 (the masks' shifts and bit counts then take one instruction each).
struct WideSearch : VectorSearch {
    __attribute__((target("avx2"))) static std::uint64_t EqualNextMask(const std::uint8_t* p) {
        const auto* at = reinterpret_cast<const __m256i*>(p);
        const auto* next = reinterpret_cast<const __m256i*>(p + 1);
        const auto low = static_cast<std::uint32_t>(_mm256_movemask_epi8(
            _mm256_cmpeq_epi8(_mm256_loadu_si256(at), _mm256_loadu_si256(next))));
        const auto high = static_cast<std::uint32_t>(_mm256_movemask_epi8(
            _mm256_cmpeq_epi8(_mm256_loadu_si256(at + 1), _mm256_loadu_si256(next + 1))));
        return low | (std::uint64_t{high} << 32);
    }
};
#endif

// The coder's state between runs: the output so far and the open literal, tracked by its
// length (0: none open) and the position of its control byte, which is rewritten as the
// literal grows.
struct CodeState {
    std::uint32_t out = 0;
    std::uint32_t literalAt = 0;
    std::uint32_t literalLength = 0;
};

// The runs of 64 input positions, base .. base + 63, as two bit masks: bit j of equal
// where src[base + j] == src[base + j + 1], of triple where three equal bytes start at
// base + j. Far from the input's end the coder reads runs and finds the next triple from
// these with shifts and bit counts instead of loading and comparing at each position it
// reaches: a literal's search then waits on no load, which is what bounded the coder on
// dithered lines, where a run of three or more ends a literal every 20 to 30 bytes.
struct RunBlock {
    std::uint32_t base = 0;
    std::uint32_t end = 0;  // base + 64
    std::uint64_t equal = 0;
    std::uint64_t triple = 0;
};

// A block loads src[base .. base + 65].
constexpr std::uint32_t kBlockLoads = 66;

// The block at base, which holds fewer than kBlockLoads input bytes from there on: its
// masks from a zero-padded copy of what is left, without the positions whose next byte
// is past the input's end.
template <class Search>
void LoadLastRunBlock(const std::uint8_t* src, std::uint32_t base, std::uint32_t n,
                      RunBlock& block) {
    std::uint8_t copy[kBlockLoads] = {};
    const std::uint32_t left = n - base;  // 1 .. kBlockLoads - 1
    std::memcpy(copy, src + base, left);
    const std::uint64_t inside =
        left > 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << (left - 1)) - 1;
    const std::uint64_t equal = Search::EqualNextMask(copy) & inside;
    block.base = base;
    block.end = base + 64;
    block.equal = equal;
    block.triple = equal & (equal >> 1);
}

// Loads the block at base < n. Near the input's end the masks stop at its last byte, so
// that the coder works from blocks up to the end of every line.
template <class Search>
inline void LoadRunBlock(const std::uint8_t* src, std::uint32_t base, std::uint32_t n,
                         RunBlock& block) {
    if (base + kBlockLoads > n) [[unlikely]] {
        LoadLastRunBlock<Search>(src, base, n, block);
        return;
    }
    const std::uint64_t equal = Search::EqualNextMask(src + base);
    const std::uint64_t last = src[base + 64] == src[base + 65] ? 1 : 0;
    block.base = base;
    block.end = base + 64;
    block.equal = equal;
    block.triple = equal & ((equal >> 1) | (last << 63));
}

// The length of the run at position p of the block if the block shows its end, else 0
// (the run reaches the block's last position and may go on).
inline std::uint32_t RunInBlock(const RunBlock& block, std::uint32_t p) {
    const std::uint32_t shift = p - block.base;
    const auto same = static_cast<std::uint32_t>(std::countr_one(block.equal >> shift));
    return same < 64 - shift ? same + 1 : 0;
}

// Writes a run of b >= 2 copies of v, or of one after a longer run: repeat runs of up to
// 128 copies, and a last single copy as a literal of one, left open for what follows.
// Either way no literal is open before the run's last code.
template <bool Write>
inline void EmitRun(std::uint8_t* dest, CodeState& state, std::uint32_t b, std::uint8_t v) {
    state.literalLength = 0;
    if (b > kMaxRepeat) [[unlikely]] {
        do {
            if constexpr (Write) {
                dest[state.out] = kLongestRepeat;
                dest[state.out + 1] = v;
            }
            state.out += 2;
            b -= kMaxRepeat;
        } while (b > kMaxRepeat);
        if (b == 1) {
            state.literalAt = state.out;
            state.literalLength = 1;
        }
    }
    if constexpr (Write) {
        // 1 - b is 0x00 for b == 1: the control of a literal of one.
        dest[state.out] = RepeatControl(b);
        dest[state.out + 1] = v;
    }
    state.out += 2;
}

// Appends src[0 .. stretch-1] to the open literal.
template <bool Write>
inline void EmitStretch(std::uint8_t* dest, CodeState& state, const std::uint8_t* src,
                        std::uint32_t stretch) {
    state.literalLength += stretch;
    if constexpr (Write) {
        CopyBytes(dest + state.out, src, stretch);
        dest[state.literalAt] = static_cast<std::uint8_t>(state.literalLength - 1);
    }
    state.out += stretch;
}

// Far enough from the end of the input that a literal's whole room and the steps of the
// searches over it can be loaded without looking at n.
constexpr std::uint32_t kFarFromEnd = kMaxLiteralWithPair + kBlockLoads + 2;

// Copies a stretch of n <= 16 bytes that a run's two code bytes follow, without a branch
// on n, by two 8-byte copies that may write up to 8 - n - 2 bytes past those two. That
// is safe, and those bytes are written again later, when more than kSlackInput bytes of
// input follow the run: every code byte pair stands for at most 128 input bytes, so
// their code is at least 2 * 3 bytes long and the code ends at least 8 bytes after the
// stretch's start. Reads up to 8 bytes past the stretch, which the caller keeps in the
// input.
constexpr std::uint32_t kSlackInput = 2 * kMaxRepeat;
inline void CopyShortWithSlack(std::uint8_t* dest, const std::uint8_t* src, std::uint32_t n) {
    const std::uint32_t back = std::max(n, 8u) - 8;
    std::memcpy(dest, src, 8);
    std::memcpy(dest + back, src + back, 8);
}

// The first k in [from, to) where three equal bytes start, or `to`; loads up to
// src[to + kStep] (callers keep that below n).
template <class Search>
inline std::uint32_t FindTripleFar(const std::uint8_t* src, std::uint32_t k, std::uint32_t to) {
    for (;;) {
        const std::uint32_t at = Search::FindTripleInStep(src + k);
        if (at < Search::kStep) return std::min(to, k + at);
        k += Search::kStep;
        if (k >= to) return to;
    }
}

// One step of the encoder with i in the loaded block: a run when no literal is open, or
// the stretch up to the next run of three and that run. Moves i and returns true, or
// returns false and changes nothing where the stretch fills the literal's room or
// reaches the input's end: the general steps take those cases.
template <bool Write, class Search>
inline bool EncodeFromBlock(std::uint8_t* dest, CodeState& state, RunBlock& block,
                            const std::uint8_t* src, std::uint32_t& i, std::uint32_t n) {
    bool opened = false;
    if (state.literalLength == 0) {
        if (((block.equal >> (i - block.base)) & 1) != 0) {
            std::uint32_t run = RunInBlock(block, i);
            if (run != 0) {
                // At most 64 copies: one repeat run, and no literal left open.
                if constexpr (Write) {
                    dest[state.out] = RepeatControl(run);
                    dest[state.out + 1] = src[i];
                }
                state.out += 2;
            } else {
                run = Search::RunLength(src, i, n);
                EmitRun<Write>(dest, state, run, src[i]);
            }
            i += run;
            return true;
        }
        state.literalAt = state.out++;
        opened = true;
    }
    // The first triple at or after i, block by block, up to the literal's room or the
    // input's end.
    const std::uint32_t limit = std::min(n, i + (kMaxLiteralWithPair - state.literalLength));
    std::uint32_t k = i;
    std::uint32_t end = limit;
    for (;;) {
        const std::uint64_t ahead = block.triple >> (k - block.base);
        if (ahead != 0) {
            end = k + static_cast<std::uint32_t>(__builtin_ctzll(ahead));
            break;
        }
        k = block.end;
        if (k >= limit) break;
        LoadRunBlock<Search>(src, k, n, block);
    }
    if (end >= limit) {
        if (opened) --state.out;
        return false;
    }
    std::uint32_t run = RunInBlock(block, end);
    const std::uint32_t stretch = end - i;
    if (run != 0 && stretch <= 16 && n - (end + run) > kSlackInput) {
        // The common case on dithered lines: a short stretch and a closing run of at
        // most 64 copies, written without the checks for longer ones.
        if constexpr (Write) {
            CopyShortWithSlack(dest + state.out, src + i, stretch);
            dest[state.literalAt] = static_cast<std::uint8_t>(state.literalLength + stretch - 1);
            dest[state.out + stretch] = RepeatControl(run);
            dest[state.out + stretch + 1] = src[end];
        }
        state.out += stretch + 2;
        state.literalLength = 0;
        i = end + run;
        return true;
    }
    if (run == 0) run = Search::RunLength(src, end, n);
    if (stretch <= 16 && n - (end + run) > kSlackInput) {
        state.literalLength += stretch;
        if constexpr (Write) {
            CopyShortWithSlack(dest + state.out, src + i, stretch);
            dest[state.literalAt] = static_cast<std::uint8_t>(state.literalLength - 1);
        }
        state.out += stretch;
    } else {
        EmitStretch<Write>(dest, state, src + i, stretch);
    }
    EmitRun<Write>(dest, state, run, src[end]);
    i = end + run;
    return true;
}

// One pass of the encoder. With Write false nothing is stored and dest is not used, so
// the same walk gives the size of the code before anything is committed to a buffer.
// Position i always starts a maximal run.
template <bool Write, class Search>
std::uint32_t EncodeRuns(std::uint8_t* dest, const std::uint8_t* src, std::uint32_t n) {
    CodeState state;
    [[maybe_unused]] RunBlock block;
    if constexpr (Search::kBlocks) {
        if (n > 0) LoadRunBlock<Search>(src, 0, n, block);
    }
    std::uint32_t i = 0;
    while (i < n) {
        if constexpr (Search::kBlocks) {
            // Unsigned: a position before the block (where the general steps went on
            // from an earlier one) reloads too.
            if (i - block.base >= 64) LoadRunBlock<Search>(src, i, n, block);
            if (EncodeFromBlock<Write, Search>(dest, state, block, src, i, n)) continue;
        }
        if (state.literalLength == 0) {
            // No literal open: a run of two or more is a repeat run, and a single opens
            // a literal (still empty here: its byte is the first of the stretch below).
            if (i + 1 < n && src[i + 1] == src[i]) {
                const std::uint32_t run = Search::RunLength(src, i, n);
                EmitRun<Write>(dest, state, run, src[i]);
                i += run;
                continue;
            }
            state.literalAt = state.out++;
        }
        // Every single and pair before the next run of three joins the open literal as
        // long as it stays within 127 bytes; such a stretch is copied as it is.
        const std::uint32_t room = kMaxLiteralWithPair - state.literalLength;
        std::uint32_t end;
        std::uint32_t limit;
        if (i + kFarFromEnd <= n) {
            limit = i + room;
            end = FindTripleFar<Search>(src, i, limit);
            if (end < limit) {
                // The same as below, with a run of up to one step measured in one.
                const std::uint32_t run = Search::MeasureShortRun(src + end);
                if (run <= Search::kStep) {
                    const std::uint32_t stretch = end - i;
                    if (stretch <= 16 && n - (end + run) > kSlackInput) {
                        state.literalLength += stretch;
                        if constexpr (Write) {
                            CopyShortWithSlack(dest + state.out, src + i, stretch);
                            dest[state.literalAt] =
                                static_cast<std::uint8_t>(state.literalLength - 1);
                        }
                        state.out += stretch;
                    } else {
                        EmitStretch<Write>(dest, state, src + i, stretch);
                    }
                    if constexpr (Write) {
                        dest[state.out] = RepeatControl(run);
                        dest[state.out + 1] = src[end];
                    }
                    state.out += 2;
                    state.literalLength = 0;
                    i = end + run;
                    continue;
                }
            }
        } else {
            limit = std::min(n, i + room);
            end = Search::FindTriple(src, i, limit, n);
        }
        if (end < limit) {
            // Three or more at end: straight to the repeat run, which closes the literal.
            EmitStretch<Write>(dest, state, src + i, end - i);
            const std::uint32_t run = Search::RunLength(src, end, n);
            EmitRun<Write>(dest, state, run, src[end]);
            i = end + run;
            continue;
        }
        // Cut short by the literal's room, the stretch must not end inside a pair: the
        // pair is then left to the steps below.
        if (end < n && end > i && src[end - 1] == src[end]) --end;
        if (end > i) {
            EmitStretch<Write>(dest, state, src + i, end - i);
            i = end;
            if (i == n) break;
        }

        // The literal is full up to a pair or up to its last byte: the run at i is taken
        // alone.
        const std::uint8_t v = src[i];
        if (i + 1 == n || src[i + 1] != v) {
            // A single joins the open literal, closing it when full.
            ++state.literalLength;
            if constexpr (Write) {
                dest[state.out] = v;
                dest[state.literalAt] = static_cast<std::uint8_t>(state.literalLength - 1);
            }
            ++state.out;
            ++i;
            if (state.literalLength == kMaxLiteral) state.literalLength = 0;
            continue;
        }
        if (i + 2 == n || src[i + 2] != v) {
            i += 2;
            if (state.literalLength + 2 <= kMaxLiteralWithPair) {
                state.literalLength += 2;
                if constexpr (Write) {
                    dest[state.literalAt] = static_cast<std::uint8_t>(state.literalLength - 1);
                    dest[state.out] = v;
                    dest[state.out + 1] = v;
                }
                state.out += 2;
            } else {
                // The pair starts a literal of its own, which stays open.
                state.literalAt = state.out;
                state.literalLength = 2;
                if constexpr (Write) {
                    dest[state.out] = 0x01;
                    dest[state.out + 1] = v;
                    dest[state.out + 2] = v;
                }
                state.out += 3;
            }
            continue;
        }
        // Three or more: a repeat run, which closes the open literal.
        const std::uint32_t run = Search::RunLength(src, i, n);
        EmitRun<Write>(dest, state, run, v);
        i += run;
    }
    return state.out;
}

#if defined(INKROW_LINE_CODE_AVX2)
// The whole coder compiled for AVX2 with BMI1 and BMI2: flatten pulls every step of it,
// the wide masks included, into this one function, so that none of it runs as a call.
template <bool Write>
__attribute__((target("avx2,bmi,bmi2"), flatten)) std::uint32_t EncodeRunsWide(
    std::uint8_t* dest, const std::uint8_t* src, std::uint32_t n) {
    return EncodeRuns<Write, WideSearch>(dest, src, n);
}
#endif

template <bool Write>
std::uint32_t Encode(RunSearch search, std::uint8_t* dest, const std::uint8_t* src,
                     std::uint32_t n) {
#if defined(INKROW_LINE_CODE_AVX2)
    if (search == RunSearch::kWide && HasAvx2Bmi()) return EncodeRunsWide<Write>(dest, src, n);
#endif
    if (search == RunSearch::kWords) return EncodeRuns<Write, WordSearch>(dest, src, n);
    return EncodeRuns<Write, VectorSearch>(dest, src, n);
}

}  // namespace

std::uint16_t PackBytes(std::uint8_t* dest, const std::uint8_t* src, std::uint16_t n) {
    return static_cast<std::uint16_t>(Encode<true>(RunSearch::kWide, dest, src, n));
}

std::uint16_t PackZeroRun(std::uint8_t* dest, std::uint16_t n) {
    // There is no code for zero bytes; writing "1 - 0" would make a two-byte literal
    // with nothing behind it.
    if (n == 0) return 0;
    std::uint32_t left = n;
    std::uint32_t out = 0;
    while (left > kMaxRepeat) {
        dest[out++] = kLongestRepeat;
        dest[out++] = 0x00;
        left -= kMaxRepeat;
    }
    // A single zero is a one-byte literal (control 00), which reads the same as "1 - 1".
    dest[out++] = RepeatControl(left);
    dest[out++] = 0x00;
    return static_cast<std::uint16_t>(out);
}

std::uint32_t MeasurePackedBytes(const std::uint8_t* src, std::uint16_t n) {
    return Encode<false>(RunSearch::kWide, nullptr, src, n);
}

bool HasRunSearch(RunSearch search) {
    switch (search) {
        case RunSearch::kWords:
            return true;
        case RunSearch::kVector:
#if defined(INKROW_LINE_CODE_SSE2)
            return true;
#else
            return false;
#endif
        case RunSearch::kWide:
#if defined(INKROW_LINE_CODE_AVX2)
            return HasAvx2Bmi();
#else
            return false;
#endif
    }
    return false;
}

std::uint16_t PackBytesWith(RunSearch search, std::uint8_t* dest, const std::uint8_t* src,
                            std::uint16_t n) {
    return static_cast<std::uint16_t>(Encode<true>(search, dest, src, n));
}

std::uint32_t MeasurePackedBytesWith(RunSearch search, const std::uint8_t* src, std::uint16_t n) {
    return Encode<false>(search, nullptr, src, n);
}

}  // namespace inkrow
