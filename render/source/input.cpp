#include "input.h"

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <utility>

namespace inkrow::source {

Input::Input(int fd, bool ownsFd, std::string name)
    : fd_(fd), ownsFd_(ownsFd), name_(std::move(name)) {}

Input::~Input() {
    Close();
}

void Input::Close() {
    if (ownsFd_ && fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

namespace {

long long NowMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
}

}  // namespace

void Input::SetWatch(const Watch& watch) {
    watch_ = watch;
    RestartClock();
}

void Input::RestartClock() {
    deadline_ = watch_.seconds > 0 ? NowMilliseconds() + watch_.seconds * 1000LL : 0;
}

bool Input::WaitReadable() {
    if (watch_.seconds <= 0 && watch_.canceled == nullptr) return true;
    for (;;) {
        if (watch_.canceled != nullptr && watch_.canceled(watch_.context) != 0) {
            lastError_ = "canceled while " + name_ + " was awaited";
            watchStopped_ = true;
            return false;
        }
        if (deadline_ != 0 && NowMilliseconds() >= deadline_) {
            lastError_ = "no page within the time limit of " + std::to_string(watch_.seconds) +
                         " s (" + name_ + ")";
            watchStopped_ = true;
            return false;
        }
        pollfd ready{fd_, POLLIN, 0};
        const int got = ::poll(&ready, 1, 100);
        if (got > 0) return true;
        if (got < 0 && errno != EINTR) return true;  // the read itself reports the fault
    }
}

bool Input::IsRegularFile() const {
    struct stat info {};
    return fd_ >= 0 && ::fstat(fd_, &info) == 0 && S_ISREG(info.st_mode);
}

bool Input::ReadPrefix(std::string* error) {
    prefixLength_ = 0;
    prefixUsed_ = 0;
    // Read straight from the descriptor: the prefix is what the file starts with.
    while (prefixLength_ < kPrefixBytes) {
        if (!WaitReadable()) {
            *error = lastError_;
            return false;
        }
        const ssize_t got = ::read(fd_, prefix_ + prefixLength_, kPrefixBytes - prefixLength_);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            *error = "cannot read " + name_ + ": " + std::strerror(errno);
            return false;
        }
        if (got == 0) break;
        prefixLength_ += static_cast<std::size_t>(got);
    }
    return true;
}

ssize_t Input::Read(void* buffer, std::size_t length) {
    if (length == 0) return 0;
    if (prefixUsed_ < prefixLength_) {
        const std::size_t count = std::min(length, prefixLength_ - prefixUsed_);
        std::memcpy(buffer, prefix_ + prefixUsed_, count);
        prefixUsed_ += count;
        return static_cast<ssize_t>(count);
    }
    if (fd_ < 0) {
        lastError_ = "cannot read " + name_ + ": already closed";
        return -1;
    }
    for (;;) {
        if (!WaitReadable()) return -1;
        const ssize_t got = ::read(fd_, buffer, length);
        if (got >= 0) return got;
        if (errno == EINTR) continue;
        lastError_ = "cannot read " + name_ + ": " + std::strerror(errno);
        return -1;
    }
}

ssize_t Input::ReadFully(void* buffer, std::size_t length) {
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    std::size_t total = 0;
    while (total < length) {
        const ssize_t got = Read(bytes + total, length - total);
        if (got < 0) return -1;
        if (got == 0) break;
        total += static_cast<std::size_t>(got);
    }
    return static_cast<ssize_t>(total);
}

bool Input::CopyTo(int fd, std::string* error) {
    std::uint8_t buffer[65536];
    for (;;) {
        const ssize_t got = Read(buffer, sizeof buffer);
        if (got < 0) {
            *error = lastError_;
            return false;
        }
        if (got == 0) return true;
        std::size_t written = 0;
        while (written < static_cast<std::size_t>(got)) {
            const ssize_t put =
                ::write(fd, buffer + written, static_cast<std::size_t>(got) - written);
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) {
                *error = std::string("cannot write a temporary copy of ") + name_ + ": " +
                         std::strerror(put < 0 ? errno : EIO);
                return false;
            }
            written += static_cast<std::size_t>(put);
        }
    }
}

}  // namespace inkrow::source
