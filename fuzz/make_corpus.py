#!/usr/bin/env python3
"""Writes the seed corpus of the call-sequence fuzzer into fuzz/corpus/.

Each seed is a short job in the input language that fuzz/call_sequence.cpp reads: one
head byte per call (low four bits the call, bit 4 the context; bits 5-7 all set and one
more byte choose an allocation of the call to fail), followed by that call's parameters. The seeds cover every print mode, both page
ends, both contexts and the refusals, so that the fuzzer starts from whole jobs.
"""
import os
import struct

OPEN, INIT_TWO, INIT_PART, PRODUCE_TWO, SEND, PRODUCE, COMPLETE = 0, 1, 2, 3, 4, 6, 7
FLUSH, END_PAGE, FORM_FEED, FEED_PAGE, CLOSE, NULL_ARG, INIT, BURST = 8, 9, 10, 11, 12, 13, 14, 15

# Indexes of the runner's tables.
MODES = {(20, 3): 0, (10, 7): 1, (0, 26): 2, (10, 1): 3, (5, 7): 4, (15, 27): 5, (10, 18): 6,
         (15, 29): 7, (0, 31): 8, (10, 37): 9, (5, 0): 10, (10, 0): 11, (30, 2): 12, (5, 1): 13}
WIDTHS = [0, 1, 5, 7, 8, 9, 13, 16, 17, 31, 33, 64, 100, 127, 333, 32767]
RESOLUTION = {300: 0, 600: 1, 360: 2, 0: 3}
ZERO, FULL, RANDOM, SPARSE, RUNS, PAIRS, SINGLE, LEVELS = range(8)


def head(call, slot=0, fail=0):
    if fail:
        return bytes([call | (slot << 4) | 0xE0, fail - 1])
    return bytes([call | (slot << 4)])


def job(mode, width, form_feed=0, version_shift=None):
    width_byte = 239 if width == 32767 else WIDTHS.index(width)
    flags = 1 if form_feed == 1 else (0x80 if form_feed == 2 else 0)
    if version_shift is not None:
        flags |= 0x70 | version_shift
    return bytes([MODES[mode], width_byte, flags])


def page(resolution=300, black_only=0, k_for_black=0, keep_color=0, form_feed=0):
    return bytes([RESOLUTION[resolution] | black_only << 2 | k_for_black << 3 | keep_color << 4 |
                  form_feed << 5])


def plane(pattern, span="full", seed=1, a=0, b=255, c=0, raw=(0, 0, 0)):
    kind = {"full": 0, "inside": 3, "empty": 5, "none": 6, "raw": 7}[span]
    out = bytes([kind | pattern << 3])
    if span == "inside":
        out += bytes([a, b, c])
    elif span == "empty":
        out += bytes([a, c])
    elif span == "raw":
        out += struct.pack("<hhh", *raw)
    return out + bytes([seed])


def band(planes, step=None, jump=None, absolute=None):
    if absolute is not None:
        out = bytes([250]) + struct.pack("<i", absolute)
    elif jump is not None:
        out = bytes([230]) + struct.pack("<I", jump)
    elif step is not None:
        out = bytes([170]) + struct.pack("<I", step)  # last line + step (0 repeats)
    else:
        out = bytes([0])
    out += bytes([len(planes) - 1])
    for p in planes:
        out += p
    return out


def burst(count, planes, slot=0):
    return head(BURST, slot) + bytes([count - 2]) + band(planes)


def start_job(mode, width, resolution=300, slot=0, form_feed=0, **page_flags):
    return (head(OPEN, slot) + head(INIT_TWO, slot) + job(mode, width, form_feed) +
            head(INIT_PART, slot) + page(resolution, **page_flags))


def end_page(slot=0):
    return head(END_PAGE, slot) + b"\0"


def feed_page(limit, slot=0):
    return head(FEED_PAGE, slot) + bytes([limit // 4])


SEEDS = {}

# Every print mode, one page of mixed lines.
for (quality, media), index in MODES.items():
    planes = [plane(RANDOM, seed=3), plane(SPARSE, seed=5), plane(RUNS, seed=7), plane(PAIRS),
              plane(ZERO), plane(LEVELS), plane(SINGLE)]
    SEEDS[f"mode-q{quality}-m{media}"] = (
        start_job((quality, media), 33, 300) + burst(12, planes) + end_page() + head(CLOSE))

# Resolutions and page flags.
SEEDS["one-line-rows"] = start_job((20, 3), 64, 360) + burst(5, [plane(RANDOM)]) + end_page()
SEEDS["sixteen-line-rows"] = (start_job((10, 7), 100, 600) + burst(20, [plane(SPARSE)] * 5) +
                              end_page())
SEEDS["black-only"] = start_job((20, 3), 17, 300, black_only=1) + burst(9, [plane(FULL)]) + end_page()
SEEDS["k-for-black"] = (start_job((5, 7), 31, 300, k_for_black=1) + burst(9, [plane(RANDOM)] * 6) +
                        end_page())
SEEDS["page-form-feed-flag"] = (start_job((20, 3), 64, 600, form_feed=1) +
                                burst(10, [plane(RANDOM)] * 4) + end_page() +
                                head(INIT_PART) + page(600) + burst(3, [plane(RUNS)] * 4) +
                                end_page())

# Two pages, blank rows between and above.
SEEDS["two-pages-skips"] = (start_job((10, 1), 64, 300) + head(SEND) +
                            band([plane(RANDOM)] * 5, absolute=37) +
                            head(SEND) + band([plane(SPARSE)] * 5, jump=300) + end_page() +
                            head(INIT_PART) + page(300) + burst(4, [plane(ZERO)] * 5) +
                            head(SEND) + band([plane(RANDOM)] * 5, step=9) + end_page())

# Form-feed jobs: pages ended by OutputFormFeed, the job by OutputFlush.
SEEDS["form-feed-job"] = (start_job((20, 3), 64, 300, form_feed=1) + burst(12, [plane(RANDOM)] * 4) +
                          feed_page(40) + head(INIT_PART) + page() + burst(20, [plane(RUNS)] * 4) +
                          feed_page(8) + head(INIT_PART) + page() + burst(3, [plane(PAIRS)] * 4) +
                          end_page() + head(CLOSE))
SEEDS["form-feed-job-no-page"] = (head(OPEN) + head(INIT_TWO) + job((10, 7), 16, 1) + end_page())
SEEDS["form-feed-sixteen"] = (start_job((0, 26), 33, 300, form_feed=1) +
                              burst(9, [plane(LEVELS)] * 6) + feed_page(200) + head(INIT_PART) +
                              page() + burst(4, [plane(LEVELS)] * 6) + end_page())

# Refusals: wrong order, bad records, bad bands, null addresses.
SEEDS["wrong-order"] = (head(OPEN) + head(PRODUCE) + head(COMPLETE) + head(FLUSH) + b"\0" +
                        head(FORM_FEED) + b"\1" + head(INIT_PART) + page() +
                        head(INIT_TWO) + job((20, 3), 16) + head(INIT_TWO) + job((20, 3), 16) +
                        head(INIT_PART) + page() + head(INIT_PART) + page() + head(COMPLETE) +
                        head(FORM_FEED) + b"\2" + head(INIT))
SEEDS["bad-version"] = (head(OPEN) + head(INIT_TWO) + job((20, 3), 16, 1, version_shift=1) +
                        head(INIT_TWO) + job((20, 3), 16, 0) + head(INIT_PART) + page() +
                        end_page())
SEEDS["bad-bands"] = (start_job((20, 3), 64, 300) + head(SEND) + band([plane(RANDOM)] * 4) +
                      head(SEND) + band([plane(RANDOM)] * 4, step=0) +
                      head(SEND) + band([plane(RANDOM)] * 4, absolute=-3) +
                      head(SEND) + band([plane(RANDOM, "raw", raw=(80, 0, 0))] * 4) +
                      head(SEND) + band([plane(RANDOM, "raw", raw=(10, -1, 0))] * 4) +
                      head(SEND) + band([plane(RANDOM, "raw", raw=(10, 5, 6))] * 4) +
                      head(SEND) + band([plane(RANDOM, "inside", a=20, b=100, c=3)] * 4) +
                      end_page())
SEEDS["null-addresses"] = b"".join(head(NULL_ARG) + bytes([v]) for v in range(15)) + (
    start_job((20, 3), 16, 300) + b"".join(head(NULL_ARG) + bytes([v]) for v in range(15)) +
    head(FLUSH) + b"\xff")
SEEDS["empty-spans"] = (start_job((10, 7), 33, 300) +
                        burst(6, [plane(FULL, "empty", a=40, c=2), plane(FULL, "none"),
                                  plane(FULL, "inside", a=0, b=0, c=3)] + [plane(RANDOM)] * 2) +
                        end_page())

# Limits: a row too long for its packet, skips past the segment list.
SEEDS["wide-incompressible"] = (start_job((20, 3), 32767, 600) + burst(16, [plane(RANDOM)] * 4) +
                                end_page())
SEEDS["far-below"] = (start_job((20, 3), 16, 360) + head(SEND) + band([plane(FULL)] * 4) +
                      head(SEND) + band([plane(FULL)] * 4, jump=127 * 32767) +
                      head(SEND) + band([plane(FULL)] * 4, jump=100 * 32767) + end_page())
SEEDS["produce-after-row-change"] = (start_job((20, 3), 16, 300) + burst(9, [plane(RANDOM)] * 4) +
                                     head(PRODUCE) + head(COMPLETE) +
                                     burst(3, [plane(RANDOM)] * 4) + end_page())

# Out of memory at every stage, and two contexts side by side.
SEEDS["out-of-memory"] = (head(OPEN, fail=3) + head(INIT_TWO) + job((0, 26), 16) +
                          head(INIT_PART, fail=7) + page(300) +
                          head(SEND, fail=1) + band([plane(RANDOM)] * 6, absolute=20) +
                          head(SEND, fail=2) + band([plane(RANDOM)] * 6, jump=40000) +
                          head(END_PAGE, fail=2) + b"\0" + head(CLOSE))
SEEDS["out-of-memory-form-feed"] = (head(OPEN) + head(INIT_TWO) + job((10, 7), 16, 1) +
                                    head(INIT_PART, fail=5) + page() + burst(10, [plane(SPARSE)] * 5) +
                                    head(FEED_PAGE, fail=1) + b"\x10" + head(INIT_PART, fail=1) +
                                    page() + head(END_PAGE, fail=1) + b"\0")
SEEDS["out-of-memory-deep-setup"] = (head(OPEN) + head(INIT_TWO) + job((0, 26), 16) +
                                    head(INIT_PART, fail=48) + page(600) +
                                    burst(3, [plane(LEVELS)] * 6) + head(END_PAGE, fail=1) + b"\0" +
                                    head(INIT_PART, fail=30) + page(300) + end_page())
SEEDS["two-contexts"] = (start_job((20, 3), 33, 300, slot=0) + start_job((0, 26), 17, 600, slot=1) +
                         burst(5, [plane(RANDOM)] * 4, slot=0) + burst(5, [plane(LEVELS)] * 6, slot=1) +
                         end_page(1) + end_page(0) + head(CLOSE, 1) +
                         head(INIT_PART) + page(360) + burst(3, [plane(RUNS)] * 4) + end_page())

here = os.path.dirname(os.path.abspath(__file__))
corpus = os.path.join(here, "corpus")
os.makedirs(corpus, exist_ok=True)
for name in os.listdir(corpus):
    os.remove(os.path.join(corpus, name))
for name, data in sorted(SEEDS.items()):
    with open(os.path.join(corpus, name), "wb") as f:
        f.write(data)
print(f"{len(SEEDS)} seeds in {corpus}")
