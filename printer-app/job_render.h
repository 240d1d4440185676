// One job's trip through the render stage to the printer's device.
//
// PAPPL hands a job over in two ways: as raster lines through the driver's raster
// callbacks (PWG and Apple raster, which PAPPL streams from the client), or as a file to
// a MIME filter (PNG, JPEG, PDF and PostScript, read by the project's page sources, see
// pdf_filter.cpp). Both end up here: a JobRenderer chooses the print mode from the job's
// options and drives the print layer's one page loop (inkrow/print.h), whose write hook
// is papplDeviceWrite and whose cancel hook is the job's; at the end it checks that every
// byte of the stream reached the device. Any failure stops the job for good, with the
// print layer's words in the job's log and message, so a half-written stream is never
// reported as printed.
#pragma once

#include <pappl/pappl.h>

#include <cstdint>
#include <string>
#include <vector>

#include "inkrow/print.h"
#include "inkrow/raster_header.h"
#include "inkrow/render.h"
#include "job_preview.h"
#include "mode_map.h"

namespace inkrow::app {

// Bounds on Ghostscript per page; the MIME filter's data.
struct GhostscriptLimits {
    int pageSeconds = 120;
    int memoryMegabytes = 2048;
};

class JobRenderer {
public:
    JobRenderer(pappl_job_t* job, pappl_device_t* device);
    ~JobRenderer();
    JobRenderer(const JobRenderer&) = delete;
    JobRenderer& operator=(const JobRenderer&) = delete;

    // Chooses the print mode from the job's options and logs it, and the colour files of
    // the job's media type (color_files.h) with its print-rendering-intent and
    // cm-calibration. False (job failed) when the printer's driver is unknown, no mode
    // fits or the intent is not one the printer knows.
    bool ChooseMode(const pappl_pr_options_t& options);
    const ModeChoice& choice() const { return choice_; }

    // Starts a raster page from its header (the print layer's one header policy). A
    // page whose width, colour space or resolution differs from the previous page's
    // gets a fresh render job; the stream stays one sequence of pages.
    bool StartRasterPage(const cups_page_header2_t& header);
    // A client's 1-bit black page (PAPPL passes its packed lines on under its own 8-bit
    // header): the page is started as 8-bit black and each line widened, 1 to full ink.
    bool StartOneBitPage(const cups_page_header2_t& client, cups_page_header2_t* widened);
    // The page's next line, as the header describes it.
    bool WriteLine(const std::uint8_t* pixels, std::size_t length);
    bool EndPage();
    // Prints the job's file (PNG, JPEG, PDF, PostScript) through the page sources: every
    // page in page-ranges, `copies` times.
    bool PrintFile(const pappl_pr_options_t& options, const GhostscriptLimits& limits);
    // Whether the job was cancelled (the stream is still ended cleanly).
    bool canceled() const { return canceled_; }
    // Bytes already in the printer's language, straight to the device.
    bool WriteRaw(const std::uint8_t* bytes, std::size_t length);
    // Ends the job: ends the render job, flushes the device and checks that every byte
    // handed to it was written. Returns whether the whole job succeeded.
    bool Finish();

    // Marks the job failed: logs the reason, makes it the job's message and adds the
    // job-state-reason. Later calls keep the first reason.
    void Fail(pappl_jreason_t reason, const char* format, ...)
        __attribute__((format(printf, 3, 4)));
    bool failed() const { return failed_; }
    int pagesEnded() const { return PrintJobPagesPrinted(print_); }
    pappl_job_t* job() const { return job_; }

private:
    static int WriteToDevice(void* context, const std::uint8_t* bytes, std::size_t length);
    static int IsCanceled(void* context);
    static void Progress(void* context, const PrintProgress* progress);
    bool OpenPrintJob(const pappl_pr_options_t* options);
    // Takes a print-layer result: true when the job goes on; a cancel is no failure.
    bool Check(int status);
    void FailFromPrint(int status);
    bool ChooseColor(const pappl_pr_options_t& options);

    pappl_job_t* job_;
    pappl_device_t* device_;
    ModeChoice choice_;
    std::string request_;  // the job's settings, in words
    // Colour management: the files of the job's media type (read and checked when the
    // print job opens; a refused file fails the job before its first page).
    RenderColorOptions color_{};
    std::string profile_;
    std::string calibration_;
    bool modeChosen_ = false;
    PrintJob* print_ = nullptr;
    unsigned oneBitWidth_ = 0;           // pixels a line of a 1-bit page; 0 for 8-bit pages
    std::vector<std::uint8_t> widened_;  // one 1-bit line at 8 bits a pixel
    bool canceled_ = false;
    bool failed_ = false;
    int writeErrno_ = 0;
    std::uint64_t bytesToDevice_ = 0;     // handed to papplDeviceWrite and accepted
    std::size_t deviceBytesAtStart_ = 0;  // the device's write counter before the job
    JobPreview preview_;                  // the copy of the first page, for its picture
};

// The driver's raster callbacks (pappl_pr_driver_data_t).
bool RasterStartJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);
bool RasterStartPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                     unsigned page);
bool RasterWriteLine(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                     unsigned y, const unsigned char* line);
bool RasterEndPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                   unsigned page);
bool RasterEndJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);

// Copies a job already in the printer's language to the device (the driver's raw
// format), with the same checks.
bool PrintRawFile(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);

// The MIME filter for PNG, JPEG, CUPS raster, PDF and PostScript documents
// (pdf_filter.cpp), and the formats it takes; `data` points to the GhostscriptLimits.
bool FilterDocument(pappl_job_t* job, pappl_device_t* device, void* data);
inline constexpr const char* kFilteredFormats[] = {"image/png", "image/jpeg",
                                                   "application/vnd.cups-raster", "application/pdf",
                                                   "application/postscript"};
// The MIME type of a document PAPPL does not recognise itself (CUPS raster), or NULL.
const char* DetectFormat(const unsigned char* header, size_t length, void* data);

// Words for a print mode: "quality 10, media 27, inks CMYcmk, 600 dpi (16 lines a row)".
std::string DescribeChoice(const ModeChoice& choice);

}  // namespace inkrow::app
