#include "job_preview.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <mutex>
#include <span>
#include <thread>

#include "auth.h"
#include "job_preview_image.h"
#include "picture.h"

namespace inkrow::app {

namespace {

// Pictures served are ours, but a bound keeps a damaged file from being streamed.
constexpr off_t kMaxServedBytes = off_t{64} << 20;
constexpr int kJobsListed = 20;

// Never destroyed: the drawing thread may use it while the process exits.
std::string& PreviewDirectory() {
    static auto* directory = new std::string;
    return *directory;
}

std::string PreviewPath(int printerId, int jobId, const char* what) {
    return PreviewDirectory() + "/p" + std::to_string(printerId) + "-j" + std::to_string(jobId) +
           "-" + what;
}

std::string PreviewPath(pappl_job_t* job, const char* what) {
    return PreviewPath(papplPrinterGetID(papplJobGetPrinter(job)), papplJobGetID(job), what);
}

// Writes `text` to `path` through a new file renamed into place, so a reader never sees
// half of it.
bool WriteWhole(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".new";
    const int fd =
        open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    if (!written || rename(temporary.c_str(), path.c_str()) != 0) {
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

bool WritePicture(const std::string& path, const RgbPicture& picture, std::string* message) {
    const std::string temporary = path + ".new";
    if (!decode::WritePng(temporary, picture.width, picture.height, 3, picture.pixels.data(),
                          message))
        return false;
    if (rename(temporary.c_str(), path.c_str()) != 0) {
        *message = std::string("cannot store the picture: ") + std::strerror(errno);
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

std::string ReadSmallFile(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return "";
    char text[1024];
    const ssize_t got = read(fd, text, sizeof text);
    close(fd);
    return got > 0 ? std::string(text, static_cast<std::size_t>(got)) : "";
}

// A PNG's size, from its header; false when the file is missing or no PNG.
bool ReadPngSize(const std::string& path, unsigned* width, unsigned* height) {
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    unsigned char header[24];
    const bool read24 = read(fd, header, sizeof header) == static_cast<ssize_t>(sizeof header);
    close(fd);
    static const unsigned char kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (!read24 || std::memcmp(header, kSignature, sizeof kSignature) != 0 ||
        std::memcmp(header + 12, "IHDR", 4) != 0)
        return false;
    auto word = [&](int at) {
        return (unsigned{header[at]} << 24) | (unsigned{header[at + 1]} << 16) |
               (unsigned{header[at + 2]} << 8) | unsigned{header[at + 3]};
    };
    *width = word(16);
    *height = word(20);
    return true;
}

// ---- The sweep -----------------------------------------------------------------------

// Removes the pictures of jobs PAPPL no longer keeps: it forgets completed jobs beyond
// its history, and files may outlive a state file that was removed.
bool SweepPreviews(pappl_system_t* system, void* data) {
    (void)data;
    DIR* directory = opendir(PreviewDirectory().c_str());
    if (directory == nullptr) return true;
    const int fd = dirfd(directory);
    while (const dirent* entry = readdir(directory)) {
        int printerId = 0;
        int jobId = 0;
        int used = 0;
        if (std::sscanf(entry->d_name, "p%d-j%d-%n", &printerId, &jobId, &used) != 2 || used == 0)
            continue;
        pappl_printer_t* printer = papplSystemFindPrinter(system, nullptr, printerId, nullptr);
        if (printer != nullptr && papplPrinterFindJob(printer, jobId) != nullptr) continue;
        unlinkat(fd, entry->d_name, 0);
    }
    closedir(directory);
    return true;
}

// ---- Who may look --------------------------------------------------------------------

struct Viewer {
    bool admin = false;
    std::string user;  // a loopback client's local user, else ""
};

Viewer IdentifyViewer(pappl_client_t* client) {
    Viewer viewer;
    viewer.admin = papplClientIsAuthorized(client) == HTTP_STATUS_CONTINUE;
    if (!viewer.admin) viewer.user = FindLoopbackUser(client);
    return viewer;
}

bool MaySee(const Viewer& viewer, pappl_job_t* job) {
    if (viewer.admin) return true;
    const char* owner = papplJobGetUsername(job);
    return !viewer.user.empty() && owner != nullptr && viewer.user == owner;
}

// Someone unknown is asked for the administrator password; a known local user who is
// not the job's owner is refused.
bool Refuse(pappl_client_t* client, const Viewer& viewer) {
    return papplClientRespond(
        client, viewer.user.empty() ? HTTP_STATUS_UNAUTHORIZED : HTTP_STATUS_FORBIDDEN, nullptr,
        nullptr, 0, 0);
}

// ---- Requests ------------------------------------------------------------------------

struct PrinterSearch {
    std::string path;
    pappl_printer_t* found = nullptr;
};

void MatchPrinterPath(pappl_printer_t* printer, void* data) {
    auto* search = static_cast<PrinterSearch*>(data);
    char path[256];
    if (papplPrinterGetPath(printer, nullptr, path, sizeof path) != nullptr && search->path == path)
        search->found = printer;
}

// The printer whose pages the request is for: "/NAME/job..." belongs to "/NAME".
pappl_printer_t* RequestedPrinter(pappl_client_t* client) {
    const std::string uri = papplClientGetURI(client);
    const std::size_t slash = uri.find('/', 1);
    if (uri.empty() || uri[0] != '/' || slash == std::string::npos) return nullptr;
    PrinterSearch search;
    search.path = uri.substr(0, slash);
    papplSystemIteratePrinters(papplClientGetSystem(client), MatchPrinterPath, &search);
    return search.found;
}

// The "id" of the request's query: 0 when there is none, -1 when it is no job number.
int RequestedJobId(pappl_client_t* client) {
    cups_option_t* form = nullptr;
    const int count = papplClientGetForm(client, &form);
    const char* value = cupsGetOption("id", count, form);
    int id = 0;
    if (value != nullptr) {
        char* end = nullptr;
        errno = 0;
        const long number = std::strtol(value, &end, 10);
        id = (errno != 0 || end == value || *end != '\0' || number < 1 || number > INT32_MAX)
                 ? -1
                 : static_cast<int>(number);
    }
    cupsFreeOptions(count, form);
    return id;
}

bool SendFile(pappl_client_t* client, const std::string& path, const char* type) {
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    struct stat info {};
    if (fd < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_size > kMaxServedBytes) {
        if (fd >= 0) close(fd);
        return papplClientRespond(client, HTTP_STATUS_NOT_FOUND, nullptr, nullptr, 0, 0);
    }
    if (!papplClientRespond(client, HTTP_STATUS_OK, nullptr, type, info.st_mtime,
                            static_cast<std::size_t>(info.st_size))) {
        close(fd);
        return false;
    }
    http_t* http = papplClientGetHTTP(client);
    char buffer[65536];
    ssize_t got = 0;
    bool sent = true;
    while (sent && (got = read(fd, buffer, sizeof buffer)) > 0)
        sent = httpWrite2(http, buffer, static_cast<std::size_t>(got)) == got;
    close(fd);
    return sent && got == 0;
}

// /NAME/job/thumbnail.png and /NAME/job/page.png; `data` names the file.
bool PictureResource(pappl_client_t* client, void* data) {
    pappl_printer_t* printer = RequestedPrinter(client);
    const int id = RequestedJobId(client);
    pappl_job_t* job = printer != nullptr && id > 0 ? papplPrinterFindJob(printer, id) : nullptr;
    if (job == nullptr)
        return papplClientRespond(client, HTTP_STATUS_NOT_FOUND, nullptr, nullptr, 0, 0);
    const Viewer viewer = IdentifyViewer(client);
    if (!MaySee(viewer, job)) return Refuse(client, viewer);
    return SendFile(client, PreviewPath(job, static_cast<const char*>(data)), "image/png");
}

const char* StateText(ipp_jstate_t state) {
    switch (state) {
        case IPP_JSTATE_PENDING:
            return "Pending";
        case IPP_JSTATE_HELD:
            return "Held";
        case IPP_JSTATE_PROCESSING:
            return "Printing";
        case IPP_JSTATE_STOPPED:
            return "Stopped";
        case IPP_JSTATE_CANCELED:
            return "Canceled";
        case IPP_JSTATE_ABORTED:
            return "Aborted";
        default:
            return "Completed";
    }
}

std::string TimeText(time_t when) {
    if (when <= 0) return "-";
    tm local{};
    char text[64];
    localtime_r(&when, &local);
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

// Whether an ended job's preview is still to come.
bool PreviewPending(pappl_job_t* job) {
    struct stat info {};
    return papplJobGetTimeProcessed(job) != 0 &&
           stat(PreviewPath(job, "thumbnail.png").c_str(), &info) != 0 &&
           stat(PreviewPath(job, "none.txt").c_str(), &info) != 0;
}

// The thumbnail linked to the job's page (in the list) or to the whole picture (on the
// job's page), or why there is none.
void PutPreview(pappl_client_t* client, const std::string& printerPath, pappl_job_t* job,
                bool onJobPage) {
    const int id = papplJobGetID(job);
    unsigned width = 0;
    unsigned height = 0;
    if (ReadPngSize(PreviewPath(job, "thumbnail.png"), &width, &height)) {
        const unsigned shown = onJobPage ? 1 : 2;  // the list shows them at half size
        papplClientHTMLPuts(client, "<a href=\"");
        papplClientHTMLEscape(client, printerPath.c_str(), 0);
        papplClientHTMLPrintf(client, onJobPage ? "/job/page.png?id=%d\">" : "/job?id=%d\">", id);
        papplClientHTMLPuts(client, "<img class=\"job-preview\" src=\"");
        papplClientHTMLEscape(client, printerPath.c_str(), 0);
        papplClientHTMLPrintf(client,
                              "/job/thumbnail.png?id=%d\" width=\"%u\" height=\"%u\" "
                              "alt=\"Preview of the first page of job %d\" "
                              "style=\"border: 1px solid #888; background: white;\"></a>",
                              id, width / shown, height / shown, id);
        return;
    }
    const std::string reason = ReadSmallFile(PreviewPath(job, "none.txt"));
    if (!reason.empty()) {
        papplClientHTMLPuts(client, "No preview: ");
        papplClientHTMLEscape(client, reason.c_str(), 0);
    } else if (papplJobGetState(job) < IPP_JSTATE_STOPPED) {
        papplClientHTMLPuts(client, "The preview is drawn when the job ends.");
    } else if (papplJobGetTimeProcessed(job) == 0) {
        papplClientHTMLPuts(client, "No preview: the job never printed.");
    } else {
        papplClientHTMLPuts(client, "The preview is being drawn.");
    }
}

struct Listing {
    pappl_client_t* client;
    const Viewer* viewer;
    std::string printerPath;
};

void PutJobRow(pappl_job_t* job, void* data) {
    const auto* listing = static_cast<const Listing*>(data);
    pappl_client_t* client = listing->client;
    const int id = papplJobGetID(job);
    papplClientHTMLPuts(client, "              <tr><td><a href=\"");
    papplClientHTMLEscape(client, listing->printerPath.c_str(), 0);
    papplClientHTMLPrintf(client, "/job?id=%d\">%d</a></td><td>", id, id);
    papplClientHTMLEscape(client, papplJobGetName(job) != nullptr ? papplJobGetName(job) : "", 0);
    papplClientHTMLPuts(client, "</td><td>");
    papplClientHTMLEscape(client,
                          papplJobGetUsername(job) != nullptr ? papplJobGetUsername(job) : "", 0);
    papplClientHTMLPrintf(client, "</td><td>%s</td><td>", StateText(papplJobGetState(job)));
    if (MaySee(*listing->viewer, job))
        PutPreview(client, listing->printerPath, job, false);
    else
        papplClientHTMLPuts(client, "Only its owner and administrators see the preview.");
    papplClientHTMLPuts(client, "</td></tr>\n");
}

void PutJobPage(pappl_client_t* client, const std::string& printerPath, pappl_job_t* job) {
    papplClientHTMLPuts(client,
                        "      <div class=\"row\">\n        <div class=\"col-12\">\n"
                        "          <table class=\"form\">\n            <tbody>\n"
                        "              <tr><th>Name:</th><td>");
    papplClientHTMLEscape(client, papplJobGetName(job) != nullptr ? papplJobGetName(job) : "", 0);
    papplClientHTMLPuts(client, "</td></tr>\n              <tr><th>Owner:</th><td>");
    papplClientHTMLEscape(client,
                          papplJobGetUsername(job) != nullptr ? papplJobGetUsername(job) : "", 0);
    papplClientHTMLPrintf(client, "</td></tr>\n              <tr><th>Status:</th><td>%s",
                          StateText(papplJobGetState(job)));
    const char* message = papplJobGetMessage(job);
    if (message != nullptr && message[0] != '\0') {
        papplClientHTMLPuts(client, ": ");
        papplClientHTMLEscape(client, message, 0);
    }
    papplClientHTMLPrintf(client,
                          "</td></tr>\n              <tr><th>Pages:</th><td>%d</td></tr>\n"
                          "              <tr><th>Submitted:</th><td>%s</td></tr>\n"
                          "              <tr><th>Ended:</th><td>%s</td></tr>\n"
                          "            </tbody>\n          </table>\n"
                          "          <h2 class=\"title\">Preview</h2>\n          <p>",
                          papplJobGetImpressionsCompleted(job),
                          TimeText(papplJobGetTimeCreated(job)).c_str(),
                          TimeText(papplJobGetTimeCompleted(job)).c_str());
    PutPreview(client, printerPath, job, true);
    papplClientHTMLPuts(client,
                        "</p>\n          <p>The first page as the printer was told to print "
                        "it, drawn from the job's command stream; the picture links to the "
                        "whole page at about 150 dpi.</p>\n        </div>\n      </div>\n");
}

// /NAME/job: the printer's jobs with their thumbnails, or with ?id=N one job's page.
bool JobPageResource(pappl_client_t* client, void* data) {
    (void)data;
    pappl_printer_t* printer = RequestedPrinter(client);
    const int id = RequestedJobId(client);
    pappl_job_t* job = printer != nullptr && id > 0 ? papplPrinterFindJob(printer, id) : nullptr;
    if (printer == nullptr || id < 0 || (id > 0 && job == nullptr))
        return papplClientRespond(client, HTTP_STATUS_NOT_FOUND, nullptr, nullptr, 0, 0);
    const Viewer viewer = IdentifyViewer(client);
    if (job != nullptr ? !MaySee(viewer, job) : (!viewer.admin && viewer.user.empty()))
        return Refuse(client, viewer);
    char path[256];
    papplPrinterGetPath(printer, nullptr, path, sizeof path);
    const std::string printerPath = path;
    // The page comes back while the job prints or its preview is being drawn.
    const bool active = job != nullptr
                            ? papplJobGetState(job) < IPP_JSTATE_STOPPED || PreviewPending(job)
                            : papplPrinterGetState(printer) == IPP_PSTATE_PROCESSING;
    // The header answers 200 itself.
    const std::string title = job != nullptr ? "Job " + std::to_string(id) : "Previews";
    papplClientHTMLPrinterHeader(client, printer, title.c_str(), active ? 10 : 0, nullptr, nullptr);
    if (job != nullptr) {
        PutJobPage(client, printerPath, job);
    } else {
        papplClientHTMLPrintf(client,
                              "      <div class=\"row\">\n        <div class=\"col-12\">\n"
                              "          <p>The last %d jobs; a job's number leads to its "
                              "page.</p>\n"
                              "          <table class=\"list\" summary=\"Previews\">\n"
                              "            <thead>\n              <tr><th>Job #</th>"
                              "<th>Name</th><th>Owner</th><th>Status</th><th>Preview</th></tr>\n"
                              "            </thead>\n            <tbody>\n",
                              kJobsListed);
        Listing listing{client, &viewer, printerPath};
        papplPrinterIterateAllJobs(printer, PutJobRow, &listing, 1, kJobsListed);
        papplClientHTMLPuts(client,
                            "            </tbody>\n          </table>\n        </div>\n"
                            "      </div>\n");
    }
    papplClientHTMLPrinterFooter(client);
    return true;
}

// ---- Drawing, in a thread of its own -------------------------------------------------

// A job's first page waiting to be drawn. The job itself may be gone by then (PAPPL
// drops old jobs): the task names it by its ids.
struct PreviewTask {
    int printerId = 0;
    int jobId = 0;
    int fd = -1;  // the copy of the first page's stream
    std::uint64_t bytes = 0;
    PreviewPage page;
};

// Previews waiting beyond this many are not drawn: a busy server prints first.
constexpr std::size_t kMaxWaiting = 4;

struct PreviewQueue {
    std::mutex lock;
    std::condition_variable ready;
    std::deque<PreviewTask> tasks;
    bool started = false;
};

// Never destroyed: the drawing thread may still wait on it while the process exits.
PreviewQueue& Queue() {
    static auto* queue = new PreviewQueue;
    return *queue;
}

// The drawing thread writes no log: PAPPL may have deleted the system (and the job)
// by the time it is done. The job's page says what became of its preview.
void RecordNoPreview(const PreviewTask& task, const std::string& why) {
    unlink(PreviewPath(task.printerId, task.jobId, "page.png").c_str());
    WriteWhole(PreviewPath(task.printerId, task.jobId, "none.txt"), why);
}

void Draw(const PreviewTask& task) {
    std::string why;
    RgbPicture picture;
    RgbPicture thumbnail;
    void* map = mmap(nullptr, task.bytes, PROT_READ, MAP_PRIVATE, task.fd, 0);
    if (map == MAP_FAILED) {
        why = std::string("cannot read the copy of the stream: ") + std::strerror(errno);
    } else {
        DrawFirstPage(std::span<const std::uint8_t>(static_cast<const std::uint8_t*>(map),
                                                    static_cast<std::size_t>(task.bytes)),
                      task.page, PreviewLimits{}, &picture, &thumbnail, &why);
        munmap(map, task.bytes);
    }
    if (why.empty() &&
        WritePicture(PreviewPath(task.printerId, task.jobId, "page.png"), picture, &why) &&
        WritePicture(PreviewPath(task.printerId, task.jobId, "thumbnail.png"), thumbnail, &why)) {
        return;
    }
    RecordNoPreview(task, why);
}

void DrawPreviews() {
    // Below the jobs: a preview may wait, a printer should not.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10);
    PreviewQueue& queue = Queue();
    for (;;) {
        PreviewTask task;
        {
            std::unique_lock<std::mutex> hold(queue.lock);
            queue.ready.wait(hold, [&] { return !queue.tasks.empty(); });
            task = queue.tasks.front();
        }
        Draw(task);
        close(task.fd);
        // Off the queue only now, so that the queue's length counts the one drawn.
        const std::lock_guard<std::mutex> hold(queue.lock);
        queue.tasks.pop_front();
    }
}

bool QueuePreview(const PreviewTask& task) {
    PreviewQueue& queue = Queue();
    const std::lock_guard<std::mutex> hold(queue.lock);
    if (queue.tasks.size() >= kMaxWaiting) return false;
    if (!queue.started) {
        std::thread(DrawPreviews).detach();
        queue.started = true;
    }
    queue.tasks.push_back(task);
    queue.ready.notify_one();
    return true;
}

}  // namespace

bool InstallJobPreviews(pappl_system_t* system, const std::string& spoolDirectory,
                        std::string* error) {
    const std::string directory = spoolDirectory + "/previews";
    struct stat info {};
    if (mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) {
        *error = "cannot create " + directory + ": " + std::strerror(errno);
        return false;
    }
    if (lstat(directory.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != getuid()) {
        *error = directory + " is not a directory of this user";
        return false;
    }
    PreviewDirectory() = directory;
    papplSystemAddTimerCallback(system, time(nullptr), 60, SweepPreviews, nullptr);
    return true;
}

void AddJobPreviewPages(pappl_printer_t* printer) {
    pappl_system_t* system = papplPrinterGetSystem(printer);
    char path[256];
    papplPrinterGetPath(printer, "job", path, sizeof path);
    papplSystemAddResourceCallback(system, path, "text/html", JobPageResource, nullptr);
    papplPrinterAddLink(
        printer, "Previews", path,
        static_cast<pappl_loptions_t>(PAPPL_LOPTIONS_NAVIGATION | PAPPL_LOPTIONS_JOB));
    papplPrinterGetPath(printer, "job/thumbnail.png", path, sizeof path);
    papplSystemAddResourceCallback(system, path, "image/png", PictureResource,
                                   const_cast<char*>("thumbnail.png"));
    papplPrinterGetPath(printer, "job/page.png", path, sizeof path);
    papplSystemAddResourceCallback(system, path, "image/png", PictureResource,
                                   const_cast<char*>("page.png"));
}

JobPreview::JobPreview(pappl_job_t* job) : job_(job) {
    if (PreviewDirectory().empty()) failure_ = "previews are off";
}

JobPreview::~JobPreview() {
    if (fd_ >= 0) close(fd_);
}

void JobPreview::NoteProgress(const PrintProgress& progress) {
    if (progress.event == PRINT_NEW_MODE && !pageKnown_ && progress.mode != nullptr) {
        pageKnown_ = true;
        width_ = progress.width;
        height_ = progress.height;
        resolution_ = progress.resolution;
        mode_ = *progress.mode;
    }
    if (progress.event == PRINT_PAGE_DONE && pageKnown_ && progress.pagesPrinted >= 1)
        firstPageDone_ = true;
}

void JobPreview::Keep(const std::uint8_t* bytes, std::size_t length) {
    // The print layer reports a page's mode before it writes a byte of it: bytes before
    // that are a document already in the printer's language.
    if (!pageKnown_) {
        readyMade_ = true;
        return;
    }
    if (firstPageDone_ || overflow_ || !failure_.empty()) return;
    if (fd_ < 0) {
        // An unnamed file: it goes away with the descriptor, however the job ends.
        fd_ = open(PreviewDirectory().c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (fd_ < 0) {
            std::string name = PreviewDirectory() + "/stream-XXXXXX";
            fd_ = mkostemp(name.data(), O_CLOEXEC);
            if (fd_ >= 0) unlink(name.c_str());
        }
        if (fd_ < 0) {
            failure_ = std::string("cannot keep a copy of the stream: ") + std::strerror(errno);
            return;
        }
    }
    if (kept_ + length > kMaxCopyBytes) {
        overflow_ = true;
        return;
    }
    while (length > 0) {
        const ssize_t written = write(fd_, bytes, length);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            failure_ = std::string("cannot keep a copy of the stream: ") +
                       std::strerror(written < 0 ? errno : ENOSPC);
            return;
        }
        bytes += written;
        length -= static_cast<std::size_t>(written);
        kept_ += static_cast<std::uint64_t>(written);
    }
}

void JobPreview::Finish() {
    if (finished_) return;
    finished_ = true;
    std::string why = failure_;
    if (why.empty() && !pageKnown_)
        why = readyMade_ ? "the document came in the printer's language, with no print mode to "
                           "read it by"
                         : "nothing was printed";
    else if (why.empty() && overflow_)
        why =
            "the first page's stream is larger than " + std::to_string(kMaxCopyBytes >> 20) + " MB";
    else if (why.empty() && (!firstPageDone_ || kept_ == 0))
        why = "the job ended before its first page was whole";
    if (PreviewDirectory().empty()) return;
    PreviewTask task;
    task.printerId = papplPrinterGetID(papplJobGetPrinter(job_));
    task.jobId = papplJobGetID(job_);
    if (why.empty()) {
        task.fd = fd_;
        task.bytes = kept_;
        task.page.width = width_;
        task.page.height = height_;
        task.page.resolution = resolution_;
        task.page.mode = mode_;
        if (QueuePreview(task)) {
            fd_ = -1;  // the drawing thread's now
            papplLogJob(job_, PAPPL_LOGLEVEL_INFO,
                        "The first page's preview (%llu bytes of stream) is to be drawn.",
                        static_cast<unsigned long long>(kept_));
            return;
        }
        why = "the server was busy drawing the previews of other jobs";
    }
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    papplLogJob(job_, PAPPL_LOGLEVEL_INFO, "No preview: %s.", why.c_str());
    RecordNoPreview(task, why);
}

}  // namespace inkrow::app
