#include "job_render.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>
#include <span>

#include "color_files.h"
#include "decode.h"
#include "job_gate.h"
#include "output_dirs.h"
#include "pappl_amends.h"

namespace inkrow::app {

namespace {

Quality QualityOf(ipp_quality_t quality) {
    switch (quality) {
        case IPP_QUALITY_DRAFT:
            return Quality::kDraft;
        case IPP_QUALITY_HIGH:
            return Quality::kHigh;
        default:
            return Quality::kNormal;
    }
}

const char* ColorSpaceName(int colorSpace) {
    switch (colorSpace) {
        case RENDER_GRAY8:
            return "gray";
        case RENDER_RGB8:
            return "RGB";
        case RENDER_CMYK8:
            return "CMYK";
        default:
            return "?";
    }
}

JobRenderer* RendererOf(pappl_job_t* job) {
    return static_cast<JobRenderer*>(papplJobGetData(job));
}

std::size_t DeviceBytesWritten(pappl_device_t* device) {
    pappl_devmetrics_t metrics{};
    papplDeviceGetMetrics(device, &metrics);
    return metrics.write_bytes;
}

}  // namespace

std::string DescribeChoice(const ModeChoice& choice) {
    char text[200];
    std::snprintf(text, sizeof text, "quality %d, media %d, inks %s%s, %d dpi (%d line%s a row)%s",
                  choice.request.qualityCode, choice.request.mediaCode, choice.mode.inks,
                  choice.mode.split ? " (sixteen-ink split)" : "", choice.request.resolution,
                  choice.mode.linesPerRow, choice.mode.linesPerRow == 1 ? "" : "s",
                  choice.request.blackOnly ? ", black only"
                  : choice.grayInput       ? ", gray"
                                           : "");
    return text;
}

JobRenderer::JobRenderer(pappl_job_t* job, pappl_device_t* device)
    : job_(job), device_(device), deviceBytesAtStart_(DeviceBytesWritten(device)), preview_(job) {
    NameOutputFile(device, papplJobGetID(job), papplJobGetName(job));
    if (WasInterrupted(job))
        Fail(PAPPL_JREASON_ABORTED_BY_SYSTEM,
             "the server stopped while this job was printing; its output was left as a "
             ".partial file and the job is not printed again");
}

JobRenderer::~JobRenderer() {
    // Only failure paths get here with a job open; its result no longer matters.
    if (print_ != nullptr) PrintJobClose(print_);
}

void JobRenderer::Fail(pappl_jreason_t reason, const char* format, ...) {
    if (failed_) return;
    failed_ = true;
    char text[512];
    va_list arguments;
    va_start(arguments, format);
    RenderFormatErrorV(text, sizeof text, format, arguments);
    va_end(arguments);
    papplLogJob(job_, PAPPL_LOGLEVEL_ERROR, "Job stopped: %s", text);
    papplJobSetMessage(job_, "%s", text);
    papplJobSetReasons(job_, reason, PAPPL_JREASON_NONE);
}

void JobRenderer::FailFromPrint(int status) {
    if (status == RENDER_WRITE_FAILED) {
        Fail(PAPPL_JREASON_ABORTED_BY_SYSTEM,
             "writing to the printer failed after %llu bytes: %s (the output is incomplete)",
             static_cast<unsigned long long>(bytesToDevice_),
             std::strerror(writeErrno_ != 0 ? writeErrno_ : EIO));
        return;
    }
    pappl_jreason_t reason = PAPPL_JREASON_ABORTED_BY_SYSTEM;
    if (status == RENDER_BAD_ARGUMENT || status == RENDER_BAD_LINE || status == RENDER_BAD_WIDTH)
        reason = PAPPL_JREASON_DOCUMENT_FORMAT_ERROR;
    if (status == RENDER_UNSUPPORTED_MODE) reason = PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR;
    // The spool file's path means nothing to the user and shows the server's layout: it
    // reads "the document" instead.
    std::string text = PrintJobErrorText(print_);
    const char* spooled = papplJobGetFilename(job_);
    const std::string path = spooled != nullptr ? spooled : "";
    for (std::size_t at = text.find(path); !path.empty() && at != std::string::npos;
         at = text.find(path, at))
        text.replace(at, path.size(), "the document");
    Fail(reason, "%s", text.c_str());
}

bool JobRenderer::Check(int status) {
    if (status >= 0) return true;
    if (status == RENDER_CANCELED) {
        if (!canceled_)
            papplLogJob(job_, PAPPL_LOGLEVEL_INFO, "C%s; the stream ends there",
                        PrintJobErrorText(print_) + 1);
        canceled_ = true;
        return false;
    }
    if (!failed_) FailFromPrint(status);
    return false;
}

int JobRenderer::IsCanceled(void* context) {
    return papplJobIsCanceled(static_cast<JobRenderer*>(context)->job_) ? 1 : 0;
}

void JobRenderer::Progress(void* context, const PrintProgress* progress) {
    auto* self = static_cast<JobRenderer*>(context);
    self->preview_.NoteProgress(*progress);
    if (progress->event == PRINT_PAGE_DONE) {
        papplJobSetImpressionsCompleted(self->job_, 1);
        return;
    }
    if (progress->event != PRINT_NEW_MODE || progress->mode == nullptr) return;
    if (progress->pagesPrinted > 0 || progress->copy > 1)
        papplLogJob(self->job_, PAPPL_LOGLEVEL_INFO,
                    "Page %d changes to %d pixels, %s, %d dpi: starting a new render job",
                    progress->page, progress->width, ColorSpaceName(progress->colorSpace),
                    progress->resolution);
    // The resolution is the page's: a raster brings its own.
    self->choice_.request.resolution = progress->resolution;
    self->choice_.mode = *progress->mode;
    papplLogJob(self->job_, PAPPL_LOGLEVEL_INFO, "Print mode: %s (%s); %d pixels a line, %s input",
                DescribeChoice(self->choice_).c_str(), self->request_.c_str(), progress->width,
                ColorSpaceName(progress->colorSpace));
}

bool JobRenderer::OpenPrintJob(const pappl_pr_options_t* options) {
    if (print_ != nullptr) return true;
    if (failed_) return false;
    if (!modeChosen_) {
        Fail(PAPPL_JREASON_ABORTED_BY_SYSTEM, "a page started before the print mode was chosen");
        return false;
    }
    PrintJobOptions settings;
    PrintJobOptionsInit(&settings);
    settings.mode = choice_.request;
    settings.write = WriteToDevice;
    settings.writeContext = this;
    settings.cancel = IsCanceled;
    settings.cancelContext = this;
    settings.progress = Progress;
    settings.progressContext = this;
    if (options != nullptr) {
        // PAPPL says "to the last page" with a large number.
        settings.firstPage = static_cast<int>(options->first_page);
        settings.lastPage =
            options->last_page >= INT32_MAX ? 0 : static_cast<int>(options->last_page);
        settings.copies = options->copies < 1                  ? 1
                          : options->copies > PRINT_MAX_COPIES ? PRINT_MAX_COPIES
                                                               : options->copies;
    }
    settings.color = color_;
    settings.color.outputProfile = profile_.empty() ? nullptr : profile_.c_str();
    settings.color.calibration = calibration_.empty() ? nullptr : calibration_.c_str();
    const int opened = PrintJobOpen(&settings, &print_);
    if (opened != RENDER_OK) {
        print_ = nullptr;
        Fail(PAPPL_JREASON_ABORTED_BY_SYSTEM, "cannot start the job: %s", RenderStatusText(opened));
        return false;
    }
    return true;
}

int JobRenderer::WriteToDevice(void* context, const std::uint8_t* bytes, std::size_t length) {
    auto* self = static_cast<JobRenderer*>(context);
    errno = 0;
    const ssize_t written = papplDeviceWrite(self->device_, bytes, length);
    if (written < 0 || static_cast<std::size_t>(written) != length) {
        self->writeErrno_ = errno != 0 ? errno : EIO;
        return -1;
    }
    self->bytesToDevice_ += length;
    self->preview_.Keep(bytes, length);
    return 0;
}

bool JobRenderer::ChooseMode(const pappl_pr_options_t& options) {
    if (failed_) return false;
    pappl_printer_t* printer = papplJobGetPrinter(job_);
    const DriverInfo* driver = FindDriver(papplPrinterGetDriverName(printer));
    if (driver == nullptr) {
        Fail(PAPPL_JREASON_ABORTED_BY_SYSTEM, "the printer's driver \"%s\" is not one of ours",
             papplPrinterGetDriverName(printer));
        return false;
    }
    JobSettings settings;
    settings.driver = static_cast<DriverKind>(driver->kind);
    settings.quality = QualityOf(options.print_quality);
    bool knownMedia = false;
    settings.mediaCode = MediaCodeOf(options.media.type, &knownMedia);
    settings.monochrome = options.print_color_mode != PAPPL_COLOR_MODE_COLOR;
    settings.resolution = static_cast<int>(options.header.HWResolution[1]);
    if (!knownMedia && options.media.type[0] != '\0')
        papplLogJob(job_, PAPPL_LOGLEVEL_WARN,
                    "media-type %s is not in the map; printing as plain paper", options.media.type);
    if (!inkrow::app::ChooseMode(settings, &choice_)) {
        Fail(PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR,
             "no print mode of driver %s prints media code %d", driver->name, settings.mediaCode);
        return false;
    }
    modeChosen_ = true;
    char request[200];
    std::snprintf(request, sizeof request,
                  "driver %s, print-quality %s, media-type %s, print-color-mode %s", driver->name,
                  QualityName(settings.quality),
                  options.media.type[0] != '\0' ? options.media.type : "(none)",
                  settings.monochrome ? "monochrome" : "color");
    request_ = request;
    if (!choice_.note.empty())
        papplLogJob(job_, PAPPL_LOGLEVEL_WARN, "Print mode fallback: %s", choice_.note.c_str());
    return ChooseColor(options);
}

bool JobRenderer::ChooseColor(const pappl_pr_options_t& options) {
    RenderColorOptionsInit(&color_);
    const std::string intent = JobVendorValue(job_, options, kIntentAttribute);
    if (!ApplyRenderingIntent(intent.c_str(), &color_)) {
        Fail(PAPPL_JREASON_ABORTED_BY_SYSTEM,
             "print-rendering-intent %s is not auto, perceptual, relative, relative-bpc, "
             "saturation or absolute",
             intent.c_str());
        return false;
    }
    const std::string mode = JobVendorValue(job_, options, kCalibrationModeAttribute);
    color_.calibrationMode = mode == "true" || mode == "on" ? 1 : 0;
    if (color_.calibrationMode != 0) {
        papplLogJob(job_, PAPPL_LOGLEVEL_INFO,
                    "Colour: calibration mode, the raw inks (no profile, no calibration)");
        return true;
    }
    pappl_printer_t* printer = papplJobGetPrinter(job_);
    const char* media = options.media.type;
    profile_ = InstalledColorFile(printer, media, ColorFileKind::kProfile);
    calibration_ = InstalledColorFile(printer, media, ColorFileKind::kCalibration);
    const char* intentName = intent.empty() ? "auto" : intent.c_str();
    if (!profile_.empty())
        papplLogJob(job_, PAPPL_LOGLEVEL_INFO,
                    "Colour: the ICC profile of media-type %s, %s (%s)%s", media, intentName,
                    RenderIntentName(color_.intent),
                    calibration_.empty() ? "" : ", and its calibration");
    else if (!calibration_.empty())
        papplLogJob(job_, PAPPL_LOGLEVEL_INFO,
                    "Colour: the separation formula and the calibration of media-type %s", media);
    if (profile_.empty() && intent != "" && intent != "auto")
        papplLogJob(job_, PAPPL_LOGLEVEL_INFO,
                    "print-rendering-intent %s changes nothing: media-type %s has no ICC profile",
                    intentName, media[0] != '\0' ? media : "(none)");
    return true;
}

bool JobRenderer::StartRasterPage(const cups_page_header2_t& header) {
    oneBitWidth_ = 0;
    if (failed_ || canceled_ || !OpenPrintJob(nullptr)) return false;
    return Check(PrintJobStartRasterPage(print_, &header));
}

bool JobRenderer::StartOneBitPage(const cups_page_header2_t& client, cups_page_header2_t* widened) {
    *widened = client;
    widened->cupsBitsPerColor = 8;
    widened->cupsBitsPerPixel = 8;
    widened->cupsBytesPerLine = client.cupsWidth;
    // A set bit is ink in black, and white in gray: widened alike (bit x 255), each
    // keeps its colour space.
    if (!StartRasterPage(*widened)) return false;
    oneBitWidth_ = client.cupsWidth;
    widened_.assign(oneBitWidth_, 0);
    return true;
}

bool JobRenderer::WriteLine(const std::uint8_t* pixels, std::size_t length) {
    if (failed_ || canceled_) return false;
    if (print_ == nullptr) {
        Fail(PAPPL_JREASON_ABORTED_BY_SYSTEM, "a line arrived outside a page");
        return false;
    }
    if (oneBitWidth_ != 0) {
        for (unsigned x = 0; x < oneBitWidth_; ++x)
            widened_[x] = (pixels[x / 8] & (0x80 >> (x % 8))) != 0 ? 255 : 0;
        return Check(PrintJobPushLine(print_, widened_.data(), widened_.size()));
    }
    return Check(PrintJobPushLine(print_, pixels, length));
}

bool JobRenderer::EndPage() {
    if (failed_ || canceled_ || print_ == nullptr) return false;
    return Check(PrintJobEndPage(print_));
}

bool JobRenderer::PrintFile(const pappl_pr_options_t& options, const GhostscriptLimits& limits) {
    if (!OpenPrintJob(&options)) return false;
    RenderSourceOptions sourceOptions;
    RenderSourceOptionsInit(&sourceOptions);
    sourceOptions.pageSeconds = limits.pageSeconds;
    sourceOptions.memoryMegabytes = limits.memoryMegabytes;
    sourceOptions.pageWidth = static_cast<int>(options.header.cupsWidth);
    sourceOptions.pageHeight = static_cast<int>(options.header.cupsHeight);
    // Under a profile documents arrive in sRGB, which it transforms.
    sourceOptions.colorSpace = choice_.grayInput                                  ? RENDER_GRAY8
                               : !profile_.empty() && color_.calibrationMode == 0 ? RENDER_RGB8
                                                                                  : RENDER_CMYK8;
    papplLogJob(job_, PAPPL_LOGLEVEL_INFO, "Rendering %s at %dx%d pixels, %d dpi, %s",
                papplJobGetFormat(job_), sourceOptions.pageWidth, sourceOptions.pageHeight,
                choice_.request.resolution, ColorSpaceName(sourceOptions.colorSpace));
    return Check(PrintJobPrintFile(print_, papplJobGetFilename(job_), &sourceOptions));
}

bool JobRenderer::WriteRaw(const std::uint8_t* bytes, std::size_t length) {
    if (failed_) return false;
    if (WriteToDevice(this, bytes, length) != 0) {
        FailFromPrint(RENDER_WRITE_FAILED);
        return false;
    }
    return true;
}

bool JobRenderer::Finish() {
    // The print layer ends an open page (a cancel or a failure) and the job, so the
    // stream stays whole.
    if (print_ != nullptr) {
        const int finished = PrintJobFinish(print_);
        if (finished != RENDER_CANCELED && !failed_) Check(finished);
    }
    // The device keeps a small write buffer; its last bytes leave only now, and a
    // failure there shows only in the device's count of bytes written.
    papplDeviceFlush(device_);
    const std::size_t written = DeviceBytesWritten(device_) - deviceBytesAtStart_;
    if (!failed_ && written != bytesToDevice_)
        Fail(PAPPL_JREASON_ABORTED_BY_SYSTEM,
             "the printer took %llu of the %llu bytes of the job (the output is incomplete)",
             static_cast<unsigned long long>(written),
             static_cast<unsigned long long>(bytesToDevice_));
    // Only a whole job's file gets its real name; the rest stay NAME.partial.
    if (!failed_ && !papplJobIsCanceled(job_)) MarkOutputComplete(device_);
    preview_.Finish();
    const int pages = pagesEnded();
    if (!failed_)
        papplLogJob(job_, PAPPL_LOGLEVEL_INFO, "Sent %llu bytes to the printer, %d page%s.",
                    static_cast<unsigned long long>(bytesToDevice_), pages, pages == 1 ? "" : "s");
    return !failed_;
}

// ---- Raster callbacks --------------------------------------------------------------

bool RasterStartJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device) {
    auto* renderer = new (std::nothrow) JobRenderer(job, device);
    if (renderer == nullptr) {
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Job stopped: out of memory");
        return false;
    }
    if (!renderer->ChooseMode(*options)) {
        // PAPPL ends a job whose start failed without calling the end-of-job callback.
        renderer->Finish();
        delete renderer;
        return false;
    }
    papplJobSetData(job, renderer);
    return true;
}

bool RasterStartPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                     unsigned page) {
    (void)device;
    (void)page;
    JobRenderer* renderer = RendererOf(job);
    if (renderer == nullptr || renderer->failed()) return false;
    // PAPPL reads a 1-bit page's lines as they are but describes the page with the
    // job's own 8-bit header (its size, resolution and colours); the page's real
    // header is the one PAPPL read last on this thread. The widened header replaces
    // PAPPL's, which also bounds how many lines PAPPL reads.
    const cups_page_header2_t* client = ClientRasterHeader();
    if (client != nullptr && client->cupsBitsPerPixel == 1 && client->cupsBitsPerColor == 1) {
        cups_page_header2_t widened;
        const bool started = renderer->StartOneBitPage(*client, &widened);
        if (started) options->header = widened;
        return started || renderer->canceled();
    }
    return renderer->StartRasterPage(options->header) || renderer->canceled();
}

bool RasterWriteLine(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                     unsigned y, const unsigned char* line) {
    (void)device;
    (void)y;
    JobRenderer* renderer = RendererOf(job);
    if (renderer == nullptr || renderer->failed()) return false;
    return renderer->WriteLine(line, options->header.cupsBytesPerLine) || renderer->canceled();
}

bool RasterEndPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                   unsigned page) {
    (void)options;
    (void)device;
    (void)page;
    JobRenderer* renderer = RendererOf(job);
    if (renderer == nullptr || renderer->failed()) return false;
    // PAPPL stops reading a canceled job's raster; the print layer ends the page after
    // the lines received. A page cut short otherwise is a truncated document.
    return renderer->EndPage() || renderer->canceled();
}

bool RasterEndJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device) {
    (void)options;
    (void)device;
    JobRenderer* renderer = RendererOf(job);
    if (renderer == nullptr) return false;
    const bool done = renderer->Finish();
    papplJobSetData(job, nullptr);
    delete renderer;
    return done;
}

// ---- Raw jobs ----------------------------------------------------------------------

namespace {

// The largest raw stream taken: far beyond any page the printer can print.
constexpr off_t kMaxRawBytes = off_t{4} << 30;

// Reads the whole stream with the strict decoder: "" when it is a well-formed stream of
// at least one page, else what is wrong with it.
std::string CheckRawStream(int fd) {
    struct stat info {};
    if (fstat(fd, &info) != 0)
        return std::string("cannot read the print file: ") + std::strerror(errno);
    if (info.st_size == 0) return "the stream is empty";
    if (info.st_size > kMaxRawBytes) return "the stream is larger than 4 GiB";
    void* map =
        mmap(nullptr, static_cast<std::size_t>(info.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    if (map == MAP_FAILED)
        return std::string("cannot read the print file: ") + std::strerror(errno);
    inkrow::decode::DecodeOptions options;
    options.keepListing = false;
    options.keepRasters = false;
    inkrow::decode::Decoded decoded;
    const inkrow::decode::Error error = inkrow::decode::DecodeStream(
        std::span<const std::uint8_t>(static_cast<const std::uint8_t*>(map),
                                      static_cast<std::size_t>(info.st_size)),
        options, &decoded);
    munmap(map, static_cast<std::size_t>(info.st_size));
    if (error.code != inkrow::decode::ErrorCode::kNone)
        return "the stream is malformed at byte " + std::to_string(error.offset) + ": " +
               error.message;
    if (decoded.totals.pages == 0) return "the stream holds no page";
    return "";
}

}  // namespace

bool PrintRawFile(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device) {
    (void)options;
    JobRenderer renderer(job, device);
    const char* filename = papplJobGetFilename(job);
    const int fd = open(filename, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        renderer.Fail(PAPPL_JREASON_ABORTED_BY_SYSTEM, "cannot open the print file: %s",
                      std::strerror(errno));
        return false;
    }
    // A stream already in the printer's language reaches the printer only when it reads
    // back strictly: a malformed one could leave the printer in any state.
    const std::string fault = CheckRawStream(fd);
    if (!fault.empty()) {
        close(fd);
        renderer.Fail(PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, "%s", fault.c_str());
        renderer.Finish();
        return false;
    }
    if (renderer.failed()) {
        close(fd);
        renderer.Finish();
        return false;
    }
    papplJobSetImpressions(job, 1);
    std::vector<std::uint8_t> buffer(65536);
    while (!papplJobIsCanceled(job)) {
        const ssize_t got = read(fd, buffer.data(), buffer.size());
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            renderer.Fail(PAPPL_JREASON_ABORTED_BY_SYSTEM, "reading the print file failed: %s",
                          std::strerror(errno));
            break;
        }
        if (!renderer.WriteRaw(buffer.data(), static_cast<std::size_t>(got))) break;
    }
    close(fd);
    const bool done = renderer.Finish();
    if (done) papplJobSetImpressionsCompleted(job, 1);
    return done;
}

}  // namespace inkrow::app
