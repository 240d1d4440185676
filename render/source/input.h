// The bytes of a document: a file descriptor with the first bytes read ahead, so that the
// format can be told from them and the decoder still reads the file from its start.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace inkrow::source {

// Bounds a wait for input from another process: a time limit that restarts with each
// RestartClock, and a cancel callback asked several times a second.
struct Watch {
    int seconds = 0;  // 0: no time limit
    int (*canceled)(void* context) = nullptr;
    void* context = nullptr;
};

class Input {
public:
    // `ownsFd`: the descriptor is closed with the input. `name` is used in messages.
    Input(int fd, bool ownsFd, std::string name);
    ~Input();
    Input(const Input&) = delete;
    Input& operator=(const Input&) = delete;

    // Reads up to kPrefixBytes from the start; false with *error on a read failure. An
    // empty file is not a failure here: the prefix is then empty.
    bool ReadPrefix(std::string* error);
    const std::uint8_t* prefix() const { return prefix_; }
    std::size_t prefixLength() const { return prefixLength_; }

    // Reads up to `length` bytes, the prefix first: the count, 0 at the end of the file,
    // or -1 on a read failure (see LastError).
    ssize_t Read(void* buffer, std::size_t length);
    // Reads exactly `length` bytes unless the file ends first: the count, or -1.
    ssize_t ReadFully(void* buffer, std::size_t length);
    // Words for the last failed read: "cannot read NAME: reason".
    const std::string& LastError() const { return lastError_; }

    // Copies what is left of the input (the prefix included when unread) to `fd`.
    bool CopyTo(int fd, std::string* error);

    int fd() const { return fd_; }
    const std::string& name() const { return name_; }
    // True when the descriptor is a regular file (so another process may open it by name).
    bool IsRegularFile() const;
    // Closes the descriptor early (when another process reads the file by its name).
    void Close();

    // Bounds every later read (see Watch); a read the watch stops fails with
    // watchStopped() true.
    void SetWatch(const Watch& watch);
    void RestartClock();
    bool watchStopped() const { return watchStopped_; }

    static constexpr std::size_t kPrefixBytes = 16;

private:
    int fd_;
    bool ownsFd_;
    std::string name_;
    std::uint8_t prefix_[kPrefixBytes] = {};
    std::size_t prefixLength_ = 0;
    std::size_t prefixUsed_ = 0;
    std::string lastError_;
    Watch watch_;
    long long deadline_ = 0;  // monotonic milliseconds; 0 for none
    bool watchStopped_ = false;

    // Waits until the descriptor is readable; false with lastError_ when the watch stops.
    bool WaitReadable();
};

}  // namespace inkrow::source
