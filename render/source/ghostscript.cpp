#include "ghostscript.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "inkrow/render.h"
#include "raster.h"

extern char** environ;

namespace inkrow::source {
namespace {

std::string TemporaryDirectory() {
    const char* directory = std::getenv("TMPDIR");
    return directory != nullptr && directory[0] != '\0' ? directory : "/tmp";
}

// Creates a temporary file (close-on-exec); with `keepName` false it is unlinked at once.
int MakeTemporaryFile(bool keepName, std::string* path, std::string* error) {
    std::string name = TemporaryDirectory() + "/inkrow-XXXXXX";
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        *error = "cannot create a temporary file in " + TemporaryDirectory() + ": " +
                 std::strerror(errno);
        return -1;
    }
    if (!keepName) {
        ::unlink(name.c_str());
        name.clear();
    }
    if (path != nullptr) *path = name;
    return fd;
}

std::string Trim(const std::string& text) {
    const std::size_t start = text.find_first_not_of(" \t\r*");
    if (start == std::string::npos) return "";
    const std::size_t end = text.find_last_not_of(" \t\r");
    return text.substr(start, end - start + 1);
}

bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

// Finds the program as the shell would (its own path when it has a slash, else the
// first executable of that name on the PATH). Looking first gives "not found" in words
// everywhere: where the spawn cannot report a failed exec, it would only show as an exit
// status of 127.
bool FindProgram(const std::string& program, std::string* path, std::string* error) {
    // 0 when the candidate is an executable file, else the reason it is not.
    auto check = [](const std::string& candidate) {
        struct stat info {};
        if (::stat(candidate.c_str(), &info) != 0) return errno;
        if (!S_ISREG(info.st_mode)) return EACCES;
        return ::access(candidate.c_str(), X_OK) == 0 ? 0 : errno;
    };
    if (program.find('/') != std::string::npos) {
        const int reason = check(program);
        if (reason == 0) {
            *path = program;
            return true;
        }
        *error = "Ghostscript not found: cannot run " + program + ": " + std::strerror(reason);
        return false;
    }
    const char* variable = std::getenv("PATH");
    const std::string directories = variable != nullptr ? variable : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= directories.size()) {
        std::size_t end = directories.find(':', start);
        if (end == std::string::npos) end = directories.size();
        const std::string directory = end > start ? directories.substr(start, end - start) : ".";
        const std::string candidate = directory + "/" + program;
        if (check(candidate) == 0) {
            *path = candidate;
            return true;
        }
        start = end + 1;
    }
    *error = "Ghostscript not found: no " + program + " on the PATH";
    return false;
}

}  // namespace

std::vector<std::string> MakeGhostscriptArguments(const std::string& inputPath, int width,
                                                  int height, int resolution, int colorSpace) {
    // 6: device CMYK; 18: sGray (0 black, 255 white); 19: sRGB.
    const int cupsColorSpace = colorSpace == RENDER_GRAY8 ? 18 : colorSpace == RENDER_RGB8 ? 19 : 6;
    // A name starting with '-' or '@' would be read as an option or an argument file.
    std::string input = inputPath;
    if (!input.empty() && (input[0] == '-' || input[0] == '@')) input = "./" + input;
    return {
        "-q",
        "-dSAFER",
        "-dBATCH",
        "-dNOPAUSE",
        // PostScript's own output (print, ==) must not mix with the raster on stdout.
        "-sstdout=%stderr",
        "-sDEVICE=cups",
        "-dcupsColorSpace=" + std::to_string(cupsColorSpace),
        "-dcupsBitsPerColor=8",
        "-r" + std::to_string(resolution),
        "-g" + std::to_string(width) + "x" + std::to_string(height),
        "-dFIXEDMEDIA",
        "-dPDFFitPage",
        "-dPSFitPage",
        "-sOutputFile=%stdout",
        input,
    };
}

std::string FindFirstErrorLine(const std::string& messages) {
    std::string fallback;
    std::size_t start = 0;
    while (start < messages.size()) {
        std::size_t end = messages.find('\n', start);
        if (end == std::string::npos) end = messages.size();
        std::string line = Trim(messages.substr(start, end - start));
        start = end + 1;
        // The raster device reports its progress on standard error.
        if (line.empty() || StartsWith(line, "INFO:") || StartsWith(line, "DEBUG")) continue;
        if (line.find("Error") != std::string::npos) {
            if (StartsWith(line, "Error: ")) line.erase(0, 7);
            return line;
        }
        if (fallback.empty()) fallback = line;
    }
    return fallback;
}

std::string FindReportedError(const std::string& messages) {
    const std::string line = FindFirstErrorLine(messages);
    return line.empty() || messages.find("Error") == std::string::npos ? "" : line;
}

GhostscriptProcess::~GhostscriptProcess() {
    Stop();
    if (messages_ >= 0) ::close(messages_);
    RemoveTemporaryInput();
}

void GhostscriptProcess::RemoveTemporaryInput() {
    if (!temporaryInput_.empty()) ::unlink(temporaryInput_.c_str());
    temporaryInput_.clear();
}

bool GhostscriptProcess::Start(const std::string& program,
                               const std::vector<std::string>& arguments, int* output,
                               std::string* error) {
    std::string path;
    if (!FindProgram(program, &path, error)) return false;
    messages_ = MakeTemporaryFile(false, nullptr, error);
    if (messages_ < 0) return false;
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        *error = std::string("cannot create a pipe for Ghostscript: ") + std::strerror(errno);
        return false;
    }

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, messages_, 2);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    // Nothing else of ours (other jobs' files, sockets) leaks into the renderer.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#endif
    // A caller that ignores SIGPIPE must not make Ghostscript outlive a closed pipe.
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGINT);
    sigset_t noMask;
    sigemptyset(&noMask);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setsigmask(&attributes, &noMask);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    pid_t pid = -1;
    const int failure =
        ::posix_spawn(&pid, path.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(pipeEnds[1]);
    if (failure != 0) {
        ::close(pipeEnds[0]);
        if (failure == ENOENT) {
            *error = "Ghostscript not found: cannot run " + program + ": " +
                     std::strerror(failure) + " (install Ghostscript or name the program to run)";
        } else {
            *error = "cannot run Ghostscript " + program + ": " + std::strerror(failure);
        }
        return false;
    }
    pid_ = pid;
    *output = pipeEnds[0];
    return true;
}

bool GhostscriptProcess::Reap(bool block, int* status) {
    for (;;) {
        const pid_t done = ::waitpid(pid_, status, block ? 0 : WNOHANG);
        if (done == pid_) {
            pid_ = -1;
            RemoveTemporaryInput();
            return true;
        }
        if (done < 0 && errno == EINTR) continue;
        if (done < 0) {  // not our child any more (someone else reaped it)
            pid_ = -1;
            *status = 0;
            RemoveTemporaryInput();
            return true;
        }
        return false;
    }
}

bool GhostscriptProcess::Wait(int seconds, std::string* error) {
    if (pid_ <= 0) return true;
    int status = 0;
    bool ended = false;
    const long steps = seconds * 100L;
    for (long step = 0; step <= steps && !(ended = Reap(false, &status)); ++step) {
        const timespec pause{0, 10'000'000};
        ::nanosleep(&pause, nullptr);
    }
    if (!ended) {
        Stop();
        *error = "Ghostscript did not end within " + std::to_string(seconds) + " s and was stopped";
        return false;
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        const std::string reported = ReportedError();
        if (reported.empty()) return true;
        *error = "Ghostscript failed: " + reported;
        return false;
    }
    const std::string message = FirstErrorLine();
    if (WIFSIGNALED(status)) {
        *error = "Ghostscript was killed by signal " + std::to_string(WTERMSIG(status)) + " (" +
                 strsignal(WTERMSIG(status)) + ")" + (message.empty() ? "" : ": " + message);
    } else if (!message.empty()) {
        *error = "Ghostscript failed: " + message;
    } else if (WEXITSTATUS(status) == 127) {
        *error = "Ghostscript could not be run (exit status 127)";
    } else {
        *error = "Ghostscript failed with exit status " + std::to_string(WEXITSTATUS(status));
    }
    return false;
}

void GhostscriptProcess::LimitMemory(int megabytes) {
    if (pid_ <= 0 || megabytes <= 0) return;
    const rlimit limit{static_cast<rlim_t>(megabytes) << 20, static_cast<rlim_t>(megabytes) << 20};
    ::prlimit(pid_, RLIMIT_AS, &limit, nullptr);
}

void GhostscriptProcess::Stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    for (int step = 0; step < 200; ++step) {
        if (Reap(false, &status)) return;
        const timespec pause{0, 10'000'000};
        ::nanosleep(&pause, nullptr);
    }
    ::kill(pid_, SIGKILL);
    Reap(true, &status);
}

namespace {

std::string ReadMessages(int fd) {
    if (fd < 0) return "";
    std::string text(65536, '\0');
    const ssize_t got = ::pread(fd, text.data(), text.size(), 0);
    text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return text;
}

}  // namespace

std::string GhostscriptProcess::FirstErrorLine() const {
    return FindFirstErrorLine(ReadMessages(messages_));
}

std::string GhostscriptProcess::ReportedError() const {
    return FindReportedError(ReadMessages(messages_));
}

std::unique_ptr<Reader> OpenGhostscript(std::unique_ptr<Input> input, const std::string& path,
                                        const Request& request, std::string* error, int* status) {
    *status = RENDER_BAD_ARGUMENT;
    if (request.pageWidth <= 0 || request.pageHeight <= 0 || request.resolution <= 0) {
        *error = "a PDF or PostScript document needs a page size and a resolution";
        return nullptr;
    }
    auto process = std::make_unique<GhostscriptProcess>();
    std::string inputPath = path;
    if (inputPath.empty()) {
        // Ghostscript reads PDF by seeking, so a pipe or standard input goes to a file.
        std::string temporary;
        const int fd = MakeTemporaryFile(true, &temporary, error);
        if (fd < 0) return nullptr;
        process->RemoveWhenDone(temporary);
        const bool copied = input->CopyTo(fd, error);
        if (::close(fd) != 0 && copied) {
            *error =
                "cannot write a temporary copy of " + input->name() + ": " + std::strerror(errno);
            return nullptr;
        }
        if (!copied) return nullptr;
        inputPath = temporary;
    }
    input->Close();

    const std::string program = request.ghostscript.empty() ? "gs" : request.ghostscript;
    int output = -1;
    if (!process->Start(program,
                        MakeGhostscriptArguments(inputPath, request.pageWidth, request.pageHeight,
                                                 request.resolution, request.colorSpace),
                        &output, error)) {
        return nullptr;
    }
    process->LimitMemory(request.memoryMegabytes);
    auto raster = std::make_unique<Input>(output, true, "Ghostscript's output");
    raster->SetWatch(request.watch);
    return OpenGhostscriptRaster(std::move(raster), std::move(process), request.pageWidth,
                                 request.pageHeight, error, status);
}

}  // namespace inkrow::source
