// Reading ahead: a thread of the source's own decodes the document (or reads what
// Ghostscript renders) into a bounded queue of lines while the caller renders the lines
// before them, so that neither waits for the other.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>

#include "reader.h"

namespace inkrow::source {

// Lines queued ahead at most, in bytes (about 400 lines of an A4 CMYK page at 600 dpi);
// always at least one line.
inline constexpr std::size_t kReadAheadBytes = 8u << 20;

// Wraps `inner` so that its pages and lines are read on a thread of their own, up to
// `budget` bytes ahead of the caller; errors arrive in their place among the lines. On
// destruction `closing` is set before the thread is joined: a read that waits on another
// process must watch it (see Watch) so that it ends promptly. When no thread can be
// started, returns `inner` itself.
std::unique_ptr<Reader> ReadAhead(std::unique_ptr<Reader> inner, std::size_t budget,
                                  std::atomic<bool>* closing);

}  // namespace inkrow::source
