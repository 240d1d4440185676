#include "job_render.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

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

// How the lines of a raster page reach the render stage.
enum class LineKind { kUnsupported, kGray, kBlack, kRgb, kCmyk };

LineKind LineKindOf(const cups_page_header2_t& header) {
    if (header.cupsBitsPerColor != 8 || header.cupsColorOrder != CUPS_ORDER_CHUNKED)
        return LineKind::kUnsupported;
    switch (header.cupsColorSpace) {
        case CUPS_CSPACE_W:
        case CUPS_CSPACE_SW:
            return header.cupsBitsPerPixel == 8 ? LineKind::kGray : LineKind::kUnsupported;
        case CUPS_CSPACE_K:
            return header.cupsBitsPerPixel == 8 ? LineKind::kBlack : LineKind::kUnsupported;
        case CUPS_CSPACE_RGB:
        case CUPS_CSPACE_SRGB:
        case CUPS_CSPACE_ADOBERGB:
            return header.cupsBitsPerPixel == 24 ? LineKind::kRgb : LineKind::kUnsupported;
        case CUPS_CSPACE_CMYK:
            return header.cupsBitsPerPixel == 32 ? LineKind::kCmyk : LineKind::kUnsupported;
        default:
            return LineKind::kUnsupported;
    }
}

int RenderColorSpaceOf(LineKind kind) {
    switch (kind) {
        case LineKind::kGray:
        case LineKind::kBlack:
            return RENDER_GRAY8;
        case LineKind::kRgb:
            return RENDER_RGB8;
        case LineKind::kCmyk:
            return RENDER_CMYK8;
        case LineKind::kUnsupported:
            break;
    }
    return 0;
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
    : job_(job), device_(device), deviceBytesAtStart_(DeviceBytesWritten(device)) {}

JobRenderer::~JobRenderer() {
    // Only failure paths get here with a job open; its result no longer matters.
    if (render_ != nullptr) RenderJobClose(render_);
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

void JobRenderer::FailFromRender(int status, const char* what) {
    const char* detail = render_ != nullptr ? RenderJobErrorText(render_) : "";
    if (status == RENDER_WRITE_FAILED) {
        Fail(PAPPL_JREASON_ABORTED_BY_SYSTEM,
             "writing to the printer failed after %llu bytes: %s (the output is incomplete)",
             static_cast<unsigned long long>(bytesToDevice_),
             std::strerror(writeErrno_ != 0 ? writeErrno_ : EIO));
        return;
    }
    Fail(PAPPL_JREASON_ABORTED_BY_SYSTEM, "%s failed: %s%s%s", what, RenderStatusText(status),
         *detail != '\0' ? ": " : "", detail);
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
    return 0;
}

bool JobRenderer::ChooseMode(const pappl_pr_options_t& options) {
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
    return true;
}

bool JobRenderer::CloseRenderJob() {
    if (render_ == nullptr) return true;
    RenderJob* render = render_;
    render_ = nullptr;
    const int status = RenderJobClose(render);
    if (status != RENDER_OK && !failed_) {
        if (status == RENDER_WRITE_FAILED)
            FailFromRender(status, "ending the job");
        else
            Fail(PAPPL_JREASON_ABORTED_BY_SYSTEM, "ending the job failed: %s",
                 RenderStatusText(status));
    }
    return status == RENDER_OK;
}

bool JobRenderer::StartPage(int width, int colorSpace, int resolution) {
    if (failed_) return false;
    if (!modeChosen_) {
        Fail(PAPPL_JREASON_ABORTED_BY_SYSTEM, "a page started before the print mode was chosen");
        return false;
    }
    if (width <= 0 || width > RENDER_MAX_WIDTH) {
        Fail(PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR,
             "page %d is %d pixels wide; the printer takes 1 to %d", pagesEnded_ + 1, width,
             RENDER_MAX_WIDTH);
        return false;
    }
    if (render_ != nullptr &&
        (width != width_ || colorSpace != colorSpace_ || resolution != resolution_)) {
        papplLogJob(job_, PAPPL_LOGLEVEL_INFO,
                    "Page %d changes to %d pixels, %s, %d dpi: starting a new render job",
                    pagesEnded_ + 1, width, ColorSpaceName(colorSpace), resolution);
        if (!CloseRenderJob()) return false;
    }
    if (render_ == nullptr) {
        RenderJobOptions options;
        RenderJobOptionsInit(&options);
        options.raster.mode = choice_.request;
        options.raster.mode.resolution = resolution;
        options.raster.width = width;
        options.raster.colorSpace = colorSpace;
        options.write = WriteToDevice;
        options.writeContext = this;
        const int status = RenderJobOpen(&options, &render_);
        if (status != RENDER_OK) {
            render_ = nullptr;
            FailFromRender(status, "opening the render job");
            return false;
        }
        width_ = width;
        colorSpace_ = colorSpace;
        resolution_ = resolution;
        // The resolution is the page's: a raster brings its own.
        choice_.request.resolution = resolution;
        choice_.mode = *RenderJobMode(render_);
        papplLogJob(job_, PAPPL_LOGLEVEL_INFO, "Print mode: %s (%s); %d pixels a line, %s input",
                    DescribeChoice(choice_).c_str(), request_.c_str(), width,
                    ColorSpaceName(colorSpace));
    }
    const int status = RenderJobStartPage(render_);
    if (status != RENDER_OK) {
        FailFromRender(status, "starting the page");
        return false;
    }
    pageOpen_ = true;
    linesInPage_ = 0;
    return true;
}

bool JobRenderer::WriteLine(const std::uint8_t* pixels, std::size_t length) {
    if (failed_) return false;
    if (!pageOpen_) {
        Fail(PAPPL_JREASON_ABORTED_BY_SYSTEM, "a line arrived outside a page");
        return false;
    }
    const int status = RenderJobWriteLine(render_, pixels, length);
    if (status != RENDER_OK) {
        FailFromRender(status, "printing a line");
        return false;
    }
    ++linesInPage_;
    return true;
}

bool JobRenderer::WriteBlackLine(const std::uint8_t* pixels, std::size_t length) {
    converted_.resize(length);
    for (std::size_t i = 0; i < length; ++i)
        converted_[i] = static_cast<std::uint8_t>(255 - pixels[i]);
    return WriteLine(converted_.data(), length);
}

bool JobRenderer::WriteRaw(const std::uint8_t* bytes, std::size_t length) {
    if (failed_) return false;
    if (WriteToDevice(this, bytes, length) != 0) {
        FailFromRender(RENDER_WRITE_FAILED, "writing");
        return false;
    }
    return true;
}

bool JobRenderer::EndPage() {
    if (failed_) return false;
    if (!pageOpen_) return true;
    pageOpen_ = false;
    const int status = RenderJobEndPage(render_);
    if (status != RENDER_OK) {
        FailFromRender(status, "ending the page");
        return false;
    }
    ++pagesEnded_;
    return true;
}

bool JobRenderer::Finish() {
    if (pageOpen_ && !failed_) EndPage();
    CloseRenderJob();
    // The device keeps a small write buffer; its last bytes leave only now, and a
    // failure there shows only in the device's count of bytes written.
    papplDeviceFlush(device_);
    const std::size_t written = DeviceBytesWritten(device_) - deviceBytesAtStart_;
    if (!failed_ && written != bytesToDevice_)
        Fail(PAPPL_JREASON_ABORTED_BY_SYSTEM,
             "the printer took %llu of the %llu bytes of the job (the output is incomplete)",
             static_cast<unsigned long long>(written),
             static_cast<unsigned long long>(bytesToDevice_));
    if (!failed_)
        papplLogJob(job_, PAPPL_LOGLEVEL_INFO, "Sent %llu bytes to the printer, %d page%s.",
                    static_cast<unsigned long long>(bytesToDevice_), pagesEnded_,
                    pagesEnded_ == 1 ? "" : "s");
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
    JobRenderer* renderer = RendererOf(job);
    if (renderer == nullptr || renderer->failed()) return false;
    const cups_page_header2_t& header = options->header;
    const LineKind kind = LineKindOf(header);
    if (kind == LineKind::kUnsupported) {
        renderer->Fail(PAPPL_JREASON_DOCUMENT_FORMAT_ERROR,
                       "page %u has raster colour space %d with %u bits per colour and %u per "
                       "pixel; only 8-bit gray, black, RGB and CMYK are printed",
                       page, static_cast<int>(header.cupsColorSpace), header.cupsBitsPerColor,
                       header.cupsBitsPerPixel);
        return false;
    }
    if (header.HWResolution[0] != header.HWResolution[1])
        papplLogJob(job, PAPPL_LOGLEVEL_WARN,
                    "Page %u is %ux%u dpi; the printer uses the vertical resolution", page,
                    header.HWResolution[0], header.HWResolution[1]);
    return renderer->StartPage(static_cast<int>(header.cupsWidth), RenderColorSpaceOf(kind),
                               static_cast<int>(header.HWResolution[1]));
}

bool RasterWriteLine(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                     unsigned y, const unsigned char* line) {
    (void)device;
    (void)y;
    JobRenderer* renderer = RendererOf(job);
    if (renderer == nullptr || renderer->failed()) return false;
    const cups_page_header2_t& header = options->header;
    const std::size_t length =
        static_cast<std::size_t>(header.cupsWidth) * (header.cupsBitsPerPixel / 8);
    if (LineKindOf(header) == LineKind::kBlack) return renderer->WriteBlackLine(line, length);
    return renderer->WriteLine(line, length);
}

bool RasterEndPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                   unsigned page) {
    (void)device;
    JobRenderer* renderer = RendererOf(job);
    if (renderer == nullptr || renderer->failed()) return false;
    // PAPPL stops reading a canceled job's raster and fills the rest of the page with
    // blank lines; ending the page leaves the printer ready for the next job.
    if (papplJobIsCanceled(job)) {
        papplLogJob(job, PAPPL_LOGLEVEL_INFO,
                    "Canceled during page %u; the page ends blank after the lines received", page);
    } else if (renderer->linesInPage() < static_cast<long>(options->header.cupsHeight)) {
        // PAPPL skips over a raster that ends early without a word: every page it
        // completes has all its lines, so fewer means the document was cut short.
        renderer->Fail(PAPPL_JREASON_DOCUMENT_FORMAT_ERROR,
                       "page %u of the raster ended after %ld of its %u lines (the document "
                       "is truncated)",
                       page, renderer->linesInPage(), options->header.cupsHeight);
        return false;
    }
    return renderer->EndPage();
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
