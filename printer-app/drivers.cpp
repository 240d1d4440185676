#include "drivers.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "color_files.h"
#include "icons.h"
#include "job_render.h"
#include "locale_paper.h"
#include "mode_map.h"
#include "output_dirs.h"
#include "pappl_amends.h"
#include "printer_attributes.h"

namespace inkrow::app {

namespace {

std::atomic<bool> advertise{true};

// Margins the printer cannot print into, in hundredths of millimetres.
constexpr int kMarginSides = 300;
constexpr int kMarginEnds = 300;

// The raw format: a job already in the printer's language goes straight to the device.
constexpr const char* kRawFormat = "application/vnd.inkrow";

// A PostScript test page: colour bars of every process ink and their mixes, a gray ramp
// and some text, drawn within the margins of every supported size.
constexpr const char kTestPage[] = R"(%!PS-Adobe-3.0
%%Title: inkrow test page
%%Pages: 1
%%EndComments
%%Page: 1 1
/inch {72 mul} def
/Helvetica-Bold findfont 20 scalefont setfont
0.5 inch 7.5 inch moveto (inkrow test page) show
/Helvetica findfont 10 scalefont setfont
0.5 inch 7.25 inch moveto (DRIVER) show
/tint { /t exch def 4 { 4 -1 roll t mul } repeat } def % c m y k t -> each times t
/row [ [1 0 0 0] [0 1 0 0] [0 0 1 0] [0 0 0 1] [1 1 0 0] [0 1 1 0] [1 0 1 0] [0.5 0.5 0.5 0] ] def
0 1 7 {
  /i exch def
  0 1 4 {
    /j exch def
    row i get aload pop 1 j 0.2 mul sub tint setcmykcolor
    0.5 inch i 0.55 inch mul add 3 inch j 0.65 inch mul add 0.5 inch 0.6 inch rectfill
  } for
} for
0 1 31 {
  /i exch def
  1 i 31 div sub setgray
  0.5 inch i 0.125 inch mul add 2.2 inch 0.125 inch 0.6 inch rectfill
} for
0 setgray 0.5 setlinewidth
0.5 inch 1.2 inch moveto 4.5 inch 1.2 inch lineto stroke
0.5 inch 1.0 inch moveto (The quick brown fox jumps over the lazy dog. 0123456789) show
showpage
%%EOF
)";

void FillMedia(pappl_media_col_t* media, const char* sizeName, const char* source,
               const char* type) {
    *media = pappl_media_col_t{};
    const pwg_media_t* pwg = pwgMediaForPWG(sizeName);
    if (pwg == nullptr) return;
    media->size_width = pwg->width;
    media->size_length = pwg->length;
    media->left_margin = media->right_margin = kMarginSides;
    media->top_margin = media->bottom_margin = kMarginEnds;
    papplCopyString(media->size_name, sizeName, sizeof media->size_name);
    papplCopyString(media->source, source, sizeof media->source);
    papplCopyString(media->type, type, sizeof media->type);
}

// A4 unless the server's locale is one of a Letter country (PAPPL's own choice would
// take Letter in the C locale, which is how a service starts).
const char* DefaultSizeName() {
    const char* local =
        PaperSizeForLocale([](const char* name) -> const char* { return std::getenv(name); });
    for (int i = 0; i < PrintPaperSizeCount(); ++i)
        if (local != nullptr && std::strcmp(PrintPaperSizeAt(i)->pwgName, local) == 0)
            return PrintPaperSizeAt(i)->pwgName;
    return PrintPaperSizeAt(0)->pwgName;
}

void Identify(pappl_printer_t* printer, pappl_identify_actions_t actions, const char* message) {
    (void)actions;
    papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO, "Identify-Printer: %s",
                    message != nullptr ? message : "(no message)");
}

bool UpdateStatus(pappl_printer_t* printer) {
    (void)printer;
    return true;  // the devices report no status the printer's state could use
}

const char* WriteTestPage(pappl_printer_t* printer, char* buffer, size_t size) {
    const int fd = papplPrinterOpenFile(printer, buffer, size, nullptr, "testpage", "ps", "w");
    if (fd < 0) {
        papplLogPrinter(printer, PAPPL_LOGLEVEL_ERROR, "Cannot create the test page: %s",
                        std::strerror(errno));
        return nullptr;
    }
    std::string page = kTestPage;
    const std::string marker = "DRIVER";
    const std::string driver = std::string("Driver: ") + papplPrinterGetDriverName(printer);
    page.replace(page.find(marker), marker.size(), driver);
    std::size_t done = 0;
    while (done < page.size()) {
        const ssize_t written = write(fd, page.data() + done, page.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            papplLogPrinter(printer, PAPPL_LOGLEVEL_ERROR, "Cannot write the test page: %s",
                            std::strerror(errno));
            close(fd);
            unlink(buffer);
            return nullptr;
        }
        done += static_cast<std::size_t>(written);
    }
    close(fd);
    return buffer;
}

}  // namespace

void SetAdvertisePrinters(bool value) {
    advertise = value;
}
bool AdvertisePrinters() {
    return advertise;
}

std::vector<pappl_pr_driver_t> MakeDriverList() {
    std::vector<pappl_pr_driver_t> list;
    for (int i = 0; i < DriverCount(); ++i) {
        const DriverInfo& info = DriverAt(i);
        pappl_pr_driver_t driver{};
        driver.name = info.name;
        driver.description = info.description;
        list.push_back(driver);
    }
    return list;
}

bool DriverCallback(pappl_system_t* system, const char* driverName, const char* deviceUri,
                    const char* deviceId, pappl_pr_driver_data_t* data, ipp_t** attributes,
                    void* context) {
    (void)deviceId;
    (void)context;
    // Every way a printer comes to be (the web page, IPP Create-Printer, the saved state)
    // passes here, so this is where a device outside the output directories is refused.
    std::string why;
    if (!IsAllowedDeviceUri(deviceUri, &why)) {
        papplLog(system, PAPPL_LOGLEVEL_ERROR, "Refused the device \"%s\": %s.",
                 deviceUri != nullptr ? deviceUri : "", why.c_str());
        return false;
    }
    const DriverInfo* info = FindDriver(driverName);
    if (info == nullptr || data == nullptr) {
        papplLog(system, PAPPL_LOGLEVEL_ERROR, "Unknown driver \"%s\".",
                 driverName != nullptr ? driverName : "(none)");
        return false;
    }
    if (attributes != nullptr) *attributes = MakePrinterAttributes(*info);
    const bool color = info->kind != DriverKind::kBlack;

    papplCopyString(data->make_and_model, info->description, sizeof data->make_and_model);
    data->identify_cb = Identify;
    data->identify_default = PAPPL_IDENTIFY_ACTIONS_DISPLAY;
    data->identify_supported = PAPPL_IDENTIFY_ACTIONS_DISPLAY;
    data->printfile_cb = PrintRawFile;
    data->rstartjob_cb = RasterStartJob;
    data->rstartpage_cb = RasterStartPage;
    data->rwriteline_cb = RasterWriteLine;
    data->rendpage_cb = RasterEndPage;
    data->rendjob_cb = RasterEndJob;
    data->status_cb = UpdateStatus;
    data->testpage_cb = WriteTestPage;
    SetPrinterIcons(data);
    data->format = kRawFormat;

    data->kind = PAPPL_KIND_DOCUMENT | PAPPL_KIND_PHOTO | PAPPL_KIND_POSTCARD;
    data->ppm = 8;
    data->ppm_color = color ? 4 : 0;
    data->orient_default = IPP_ORIENT_PORTRAIT;
    data->quality_default =
        info->kind == DriverKind::kSixteen ? IPP_QUALITY_HIGH : IPP_QUALITY_NORMAL;

    // Lines reach the render stage as 8-bit gray, sRGB or CMYK, never as PAPPL's own
    // 1-bit black: the render stage does all the halftoning. A client's 1-bit black page
    // is widened to 8 bits on the way in (job_render.cpp). PAPPL refuses pages of more
    // than one colour for a printer without colour, so the black driver takes no CMYK.
    data->force_raster_type = PAPPL_PWG_RASTER_TYPE_NONE;
    if (color) {
        data->color_supported =
            PAPPL_COLOR_MODE_AUTO | PAPPL_COLOR_MODE_COLOR | PAPPL_COLOR_MODE_MONOCHROME;
        data->color_default = PAPPL_COLOR_MODE_AUTO;
        data->raster_types = PAPPL_PWG_RASTER_TYPE_BLACK_1 | PAPPL_PWG_RASTER_TYPE_SGRAY_8 |
                             PAPPL_PWG_RASTER_TYPE_SRGB_8 | PAPPL_PWG_RASTER_TYPE_CMYK_8;
    } else {
        data->color_supported = PAPPL_COLOR_MODE_MONOCHROME;
        data->color_default = PAPPL_COLOR_MODE_MONOCHROME;
        data->raster_types = PAPPL_PWG_RASTER_TYPE_BLACK_1 | PAPPL_PWG_RASTER_TYPE_SGRAY_8;
    }

    // PAPPL takes the first resolution for draft, the middle one for normal and the
    // last for high when a job names none; 360 dpi prints one line a row.
    static constexpr int kResolutions[] = {300, 360, 600};
    data->num_resolution = 3;
    for (int i = 0; i < 3; ++i) {
        data->x_resolution[i] = kResolutions[i];
        data->y_resolution[i] = kResolutions[i];
    }
    data->x_default = data->y_default = 360;
    SetUrfResolutions(kResolutions, 3);

    data->borderless = false;
    data->left_right = kMarginSides;
    data->bottom_top = kMarginEnds;
    data->num_media = 0;
    for (int i = 0; i < PrintPaperSizeCount() && data->num_media < PAPPL_MAX_MEDIA; ++i)
        data->media[data->num_media++] = PrintPaperSizeAt(i)->pwgName;

    data->num_type = 0;
    for (int i = 0; i < MediaTypeCount() && data->num_type < PAPPL_MAX_TYPE; ++i) {
        const MediaType& type = MediaTypeAt(i);
        if ((type.drivers & PRINT_DRIVER_BIT(info->kind)) != 0)
            data->type[data->num_type++] = type.ippKeyword;
    }

    data->num_source = 2;
    data->source[0] = "main";
    data->source[1] = "photo";
    FillMedia(&data->media_ready[0], DefaultSizeName(), "main", info->mediaDefault);
    // The photo tray holds 4x6 glossy paper where the driver offers it.
    const PrintMediaType* glossy = PrintFindMediaType("photographic-glossy");
    const bool offersGlossy = (glossy->drivers & PRINT_DRIVER_BIT(info->kind)) != 0;
    FillMedia(&data->media_ready[1], PrintFindPaperSize("4x6")->pwgName, "photo",
              color && offersGlossy ? glossy->ippKeyword : info->mediaDefault);
    data->media_default = data->media_ready[0];

    data->sides_supported = PAPPL_SIDES_ONE_SIDED;
    data->sides_default = PAPPL_SIDES_ONE_SIDED;

    // Colour management's job attributes and printer defaults (color_files.h), which
    // PAPPL keeps as vendor attributes.
    data->num_vendor = 2;
    data->vendor[0] = kIntentAttribute;
    data->vendor[1] = kCalibrationModeAttribute;
    return true;
}

void PrinterCreated(pappl_printer_t* printer, void* context) {
    (void)context;
    if (!AdvertisePrinters()) papplPrinterSetDNSSDName(printer, nullptr);
    if (const DriverInfo* info = FindDriver(papplPrinterGetDriverName(printer)))
        SetPrinterSupplies(printer, *info);
    SetUpPrinterColor(printer);
    AddJobPreviewPages(printer);
}

}  // namespace inkrow::app
