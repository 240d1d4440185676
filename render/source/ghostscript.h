// A Ghostscript process: started with its page raster on a pipe and its messages in an
// unnamed temporary file, and always reaped. Ghostscript is never linked: a crash or a
// hostile document stays in its own process.
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace inkrow::source {

class GhostscriptProcess {
public:
    GhostscriptProcess() = default;
    // Stops and reaps a process still running.
    ~GhostscriptProcess();
    GhostscriptProcess(const GhostscriptProcess&) = delete;
    GhostscriptProcess& operator=(const GhostscriptProcess&) = delete;

    // Runs `program` (looked up on the PATH first when it has no slash) with `arguments` (not
    // counting argv[0]): standard input /dev/null, standard output a pipe whose reading
    // end goes to *output (close-on-exec), standard error captured. False with *error
    // when it cannot be started.
    bool Start(const std::string& program, const std::vector<std::string>& arguments, int* output,
               std::string* error);
    // Limits the process's address space (call right after Start; 0 for none).
    void LimitMemory(int megabytes);

    // Waits for the process to end, at most `seconds` (then kills it). True when it
    // exited with status 0; otherwise *error says what went wrong, with Ghostscript's
    // first error message when it printed one.
    bool Wait(int seconds, std::string* error);
    // Stops and reaps the process when it is still running: SIGTERM, then SIGKILL
    // when it has not ended within two seconds.
    void Stop();

    // Ghostscript's first error message (progress lines left out), "" when none.
    std::string FirstErrorLine() const;
    // The first line of its messages that reports an error, "" when none.
    std::string ReportedError() const;

    bool running() const { return pid_ > 0; }

    // A temporary copy of the document, removed once the process has ended.
    void RemoveWhenDone(std::string path) { temporaryInput_ = std::move(path); }

private:
    bool Reap(bool block, int* status);
    void RemoveTemporaryInput();

    pid_t pid_ = -1;
    int messages_ = -1;  // the temporary file standard error went to
    std::string temporaryInput_;
};

// Ghostscript's arguments for rendering `inputPath` to 8-bit CUPS raster of exactly
// width x height pixels at `resolution` dpi in `colorSpace` (RenderColorSpace).
std::vector<std::string> MakeGhostscriptArguments(const std::string& inputPath, int width,
                                                  int height, int resolution, int colorSpace);

// Picks the useful line out of Ghostscript's messages (exposed for tests).
std::string FindFirstErrorLine(const std::string& messages);
// The first line that reports an error ("Error" in it), "" when none (exposed for tests).
std::string FindReportedError(const std::string& messages);

}  // namespace inkrow::source
