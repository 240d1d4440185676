// inkrow-printer-app: an IPP Everywhere printer application for inkrow printers.
//
// PAPPL's main loop gives the usual sub-commands (server, add, submit, jobs, cancel,
// shutdown, ...); this file adds the system callback that decides where a server keeps
// its files and where it listens, and a "modes" sub-command that lists how IPP job
// settings map to the module's print modes.
//
// A private instance lives entirely in one directory, given by INKROW_STATE_DIR (or
// `server -o state-dir=DIR`): state file, spool, log, and the control socket the
// sub-commands talk to. PAPPL puts the socket of a server run by an ordinary user in
// its temporary directory, so with INKROW_STATE_DIR set this program makes that
// directory TMPDIR before PAPPL starts, for the server and the sub-commands alike.
// A server run as root always uses PAPPL's fixed socket under /run; run private
// instances as an ordinary user.
#include <netinet/in.h>
#include <pappl/pappl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "app_config.h"
#include "auth.h"
#include "color_files.h"
#include "drivers.h"
#include "job_gate.h"
#include "job_preview.h"
#include "job_render.h"
#include "mode_map.h"
#include "output_dirs.h"
#include "pappl_amends.h"
#include "web.h"

namespace {

using namespace inkrow::app;

constexpr const char kVersion[] = "0.1.0";
constexpr const char kName[] = "inkrow Printer Application";
constexpr const char kFooter[] =
    "inkrow Printer Application "
    "0.1.0"
    " &middot; prints through the inkrow render stage and output module";

// PAPPL keeps pointers to the driver list and the state file name while it runs.
std::vector<pappl_pr_driver_t>& DriverList() {
    static std::vector<pappl_pr_driver_t> list = MakeDriverList();
    return list;
}
std::string& StateFileName() {
    static std::string name;
    return name;
}
// The name PAPPL gives the control socket: it follows the program's base name.
std::string& ControlSocket() {
    static std::string path;
    return path;
}
GhostscriptLimits ghostscriptLimits;

std::string ControlSocketPath(const char* program, const char* directory) {
    const char* slash = std::strrchr(program, '/');
    const std::string base = slash != nullptr ? slash + 1 : program;
    if (getuid() == 0) return "/run/" + base + ".sock";
    return std::string(directory) + "/" + base + std::to_string(getuid()) + ".sock";
}

const char* Environment(const char* name) {
    return std::getenv(name);
}

// The settings of the file given with --config.
Settings& FileSettings() {
    static Settings settings;
    return settings;
}

bool MakeDirectory(const std::string& path) {
    // Each missing level in turn; only the last one is private to this user.
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (mkdir(part.c_str(), slash == std::string::npos ? 0700 : 0755) != 0 && errno != EEXIST)
            return false;
        if (slash == std::string::npos) break;
    }
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

pappl_loglevel_t LogLevelOf(const std::string& level) {
    if (level == "debug") return PAPPL_LOGLEVEL_DEBUG;
    if (level == "warn") return PAPPL_LOGLEVEL_WARN;
    if (level == "error") return PAPPL_LOGLEVEL_ERROR;
    if (level == "fatal") return PAPPL_LOGLEVEL_FATAL;
    return PAPPL_LOGLEVEL_INFO;
}

bool SaveState(pappl_system_t* system, void* data) {
    return papplSystemSaveState(system, static_cast<const char*>(data));
}

// PAPPL rotates a full log (1 MB) to NAME.O, replacing the one before; the history is
// kept as NAME.1 (newest) to NAME.5 by moving each NAME.O on as soon as it appears.
constexpr int kLogHistory = 5;
std::string& LogFile() {
    static std::string path;
    return path;
}

void KeepLogHistory() {
    if (LogFile().empty() || LogFile()[0] != '/') return;
    const std::string rotated = LogFile() + ".O";
    struct stat info {};
    if (stat(rotated.c_str(), &info) != 0) return;
    for (int n = kLogHistory - 1; n >= 1; --n)
        rename((LogFile() + "." + std::to_string(n)).c_str(),
               (LogFile() + "." + std::to_string(n + 1)).c_str());
    rename(rotated.c_str(), (LogFile() + ".1").c_str());
}

// PAPPL's main loop sleeps in poll() for up to 30 seconds and only then notices a
// shutdown asked for over IPP (the "shutdown" sub-command); a timer wakes it every second.
bool WakeMainLoop(pappl_system_t* system, void* data) {
    (void)system;
    (void)data;
    KeepLogHistory();
    return true;
}

// Whether another process listens on the loopback port already (PAPPL would then quietly
// listen on the other loopback address alone).
bool LoopbackPortTaken(int port) {
    for (const int family : {AF_INET, AF_INET6}) {
        const int fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) continue;
        const int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (family == AF_INET6) setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
        sockaddr_in6 address6{};
        sockaddr_in address4{};
        address4.sin_family = AF_INET;
        address4.sin_port = htons(static_cast<std::uint16_t>(port));
        address4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address6.sin6_family = AF_INET6;
        address6.sin6_port = htons(static_cast<std::uint16_t>(port));
        address6.sin6_addr = in6addr_loopback;
        const bool taken =
            (family == AF_INET
                 ? bind(fd, reinterpret_cast<const sockaddr*>(&address4), sizeof address4)
                 : bind(fd, reinterpret_cast<const sockaddr*>(&address6), sizeof address6)) != 0 &&
            errno == EADDRINUSE;
        close(fd);
        if (taken) return true;
    }
    return false;
}

// Once the server listens: the control socket for its own user only, and the jobs a
// crash left behind.
bool StartUp(pappl_system_t* system, void* data) {
    (void)data;
    ProtectControlSocket(ControlSocket());
    RecoverJobs(system);
    return false;  // once
}

void ForgetPrinterName(pappl_printer_t* printer, void* data) {
    (void)data;
    papplPrinterSetDNSSDName(printer, nullptr);
}

pappl_system_t* MakeSystem(int numOptions, cups_option_t* options, void* data) {
    (void)data;
    ConfigInput input;
    for (int i = 0; i < numOptions; ++i)
        input.options.emplace_back(options[i].name, options[i].value);
    input.getenv = Environment;
    input.root = getuid() == 0;
    input.fileOptions = FileSettings();
    AppConfig config;
    std::string problem;
    if (!ResolveConfig(input, &config, &problem)) {
        std::fprintf(stderr, "inkrow-printer-app: %s\n", problem.c_str());
        return nullptr;
    }
    for (const std::string* directory : {&config.stateDirectory, &config.spoolDirectory}) {
        if (!MakeDirectory(*directory)) {
            std::fprintf(stderr, "inkrow-printer-app: cannot create directory %s: %s\n",
                         directory->c_str(), std::strerror(errno));
            return nullptr;
        }
    }
    const bool privateServer = cupsGetOption("private-server", numOptions, options) != nullptr;
    if (privateServer) {
        // PAPPL starts a hidden server when a sub-command finds none; this one only
        // serves after an explicit `server`, so that nothing runs unasked.
        std::fprintf(stderr,
                     "inkrow-printer-app: no server is running (start one with "
                     "\"inkrow-printer-app server\")\n");
        return nullptr;
    }
    if (config.port != 0 && config.loopbackOnly && LoopbackPortTaken(config.port)) {
        std::fprintf(stderr,
                     "inkrow-printer-app: port %d on the loopback interface is in use "
                     "(another server?)\n",
                     config.port);
        return nullptr;
    }
    LogFile() = config.logFile;
    std::string error;
    if (!InstallOutputDevices(config.outputDirectories, &error)) {
        std::fprintf(stderr, "inkrow-printer-app: %s\n", error.c_str());
        return nullptr;
    }
    ghostscriptLimits.pageSeconds = config.ghostscriptPageSeconds;
    ghostscriptLimits.memoryMegabytes = config.ghostscriptMemoryMegabytes;

    pappl_soptions_t systemOptions =
        PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE | PAPPL_SOPTIONS_WEB_LOG;
    // Encryption on the loopback interface protects nothing and would need a
    // certificate in the user's home directory.
    if (config.loopbackOnly) systemOptions |= PAPPL_SOPTIONS_NO_TLS;
    SetTlsOff(config.loopbackOnly);
    pappl_system_t* system = papplSystemCreate(
        systemOptions, kName, config.port, "_print,_universal", config.spoolDirectory.c_str(),
        config.logFile.c_str(), LogLevelOf(config.logLevel), nullptr, false);
    if (system == nullptr) {
        std::fprintf(stderr, "inkrow-printer-app: cannot create the printer system\n");
        return nullptr;
    }
    if (!papplSystemAddListeners(system, config.listen.c_str())) {
        std::fprintf(stderr, "inkrow-printer-app: cannot listen on %s port %d (see %s)\n",
                     config.listen.c_str(), config.port, config.logFile.c_str());
        papplSystemDelete(system);
        return nullptr;
    }

    std::vector<pappl_pr_driver_t>& drivers = DriverList();
    SetAdvertisePrinters(!config.loopbackOnly);
    papplSystemSetPrinterDrivers(system, static_cast<int>(drivers.size()), drivers.data(), nullptr,
                                 PrinterCreated, DriverCallback, nullptr);
    // Every document PAPPL spools goes through the project's page sources: registered for
    // the driver's own format, these filters come before PAPPL's built-in decoders.
    for (const char* format : kFilteredFormats)
        papplSystemAddMIMEFilter(system, format, "application/vnd.inkrow", FilterDocument,
                                 &ghostscriptLimits);
    papplSystemSetMIMECallback(system, DetectFormat, nullptr);
    InstallAccessRules(system, config.stateDirectory);
    SetColorStorage(config.stateDirectory, config.loopbackOnly);
    if (!InstallJobPreviews(system, config.spoolDirectory, &error)) {
        std::fprintf(stderr, "inkrow-printer-app: %s\n", error.c_str());
        papplSystemDelete(system);
        return nullptr;
    }
    AddWebPages(system, config.loopbackOnly);
    papplSystemSetFooterHTML(system, kFooter);
    pappl_version_t version{};
    papplCopyString(version.name, kName, sizeof version.name);
    papplCopyString(version.sversion, kVersion, sizeof version.sversion);
    version.version[0] = 0;
    version.version[1] = 1;
    papplSystemSetVersions(system, 1, &version);

    StateFileName() = config.stateFile;
    papplSystemLoadState(system, StateFileName().c_str());
    if (config.loopbackOnly) {
        // Nobody else can reach a loopback server: announcing it would only mislead.
        papplSystemSetDNSSDName(system, nullptr);
        papplSystemIteratePrinters(system, ForgetPrinterName, nullptr);
    }
    papplSystemSetSaveCallback(system, SaveState, const_cast<char*>(StateFileName().c_str()));
    papplSystemAddTimerCallback(system, time(nullptr) + 1, 1, WakeMainLoop, nullptr);
    papplSystemAddTimerCallback(system, time(nullptr), 0, StartUp, nullptr);

    papplLog(system, PAPPL_LOGLEVEL_INFO,
             "State directory %s, spool %s, listening on %s port %d%s.",
             config.stateDirectory.c_str(), config.spoolDirectory.c_str(), config.listen.c_str(),
             papplSystemGetHostPort(system), config.loopbackOnly ? " (loopback only)" : "");
    return system;
}

// ---- The "modes" sub-command -------------------------------------------------------

std::string Cell(DriverKind driver, Quality quality, int mediaCode, bool monochrome) {
    JobSettings settings;
    settings.driver = driver;
    settings.quality = quality;
    settings.mediaCode = mediaCode;
    settings.monochrome = monochrome;
    ModeChoice choice;
    if (!ChooseMode(settings, &choice)) return "none";
    char media[16] = "";
    if (choice.request.mediaCode != mediaCode)
        std::snprintf(media, sizeof media, " m%d", choice.request.mediaCode);
    char text[64];
    std::snprintf(text, sizeof text, "q%d%s %s%s%s%s", choice.request.qualityCode, media,
                  choice.mode.inks, choice.mode.split ? " (16)" : "",
                  choice.grayInput && !choice.request.blackOnly ? " gray" : "",
                  choice.note.empty() ? "" : " *");
    return text;
}

int ListModes(const char* baseName, int numOptions, cups_option_t* options, int numFiles,
              char** files, void* data) {
    (void)numOptions;
    (void)options;
    (void)files;
    (void)data;
    if (numFiles > 0) {
        std::fprintf(stderr, "%s: the modes sub-command takes no files\n", baseName);
        return 1;
    }
    std::puts("How IPP job settings become print modes (quality code qN, media code mN when it");
    std::puts("differs from the media-type's, the inks printed; * marks a fallback).");
    for (int d = 0; d < DriverCount(); ++d) {
        const DriverInfo& driver = DriverAt(d);
        std::printf("\n### %s: %s, inks %s\n\n", driver.name, driver.description, driver.inks);
        std::puts("| media-type | media code | draft | normal | high | monochrome (normal) |");
        std::puts("|---|---|---|---|---|---|");
        for (int m = 0; m < MediaTypeCount(); ++m) {
            const MediaType& type = MediaTypeAt(m);
            const DriverKind kind = static_cast<DriverKind>(driver.kind);
            const bool offered = (type.drivers & PRINT_DRIVER_BIT(driver.kind)) != 0;
            std::printf("| %s%s | %d | %s | %s | %s | %s |\n", type.ippKeyword,
                        offered ? "" : " (not offered)", type.mediaCode,
                        Cell(kind, Quality::kDraft, type.mediaCode, false).c_str(),
                        Cell(kind, Quality::kNormal, type.mediaCode, false).c_str(),
                        Cell(kind, Quality::kHigh, type.mediaCode, false).c_str(),
                        Cell(kind, Quality::kNormal, type.mediaCode, true).c_str());
        }
    }
    return 0;
}

void Usage(void* data) {
    (void)data;
    std::puts(
        "Usage: inkrow-printer-app SUB-COMMAND [OPTIONS] [FILENAME]\n"
        "\n"
        "Sub-commands:\n"
        "  server           Run the printer application (the other sub-commands talk to it).\n"
        "  add              Add a printer: -d NAME -m DRIVER -v DEVICE-URI.\n"
        "  submit           Print files: -d NAME [-o NAME=VALUE ...] FILE...\n"
        "\n"
        "  printers, jobs, status, options, drivers, devices, default, modify, delete,\n"
        "  pause, resume, cancel (-d NAME -j ID, or -a), shutdown, autoadd.\n"
        "\n"
        "  modes            List how print-quality, media-type and print-color-mode map\n"
        "                   to the printer's print modes, for every driver.\n"
        "  passwd           Set the administrator password (read from standard input).\n"
        "  color-files      A printer's ICC profiles and calibrations, per media type:\n"
        "                   -d NAME lists them; -d NAME --media-type KEYWORD with\n"
        "                   --profile FILE.icc, --calibration FILE.cal, --remove-profile\n"
        "                   or --remove-calibration installs or removes them.\n"
        "\n"
        "Options:\n"
        "  -d PRINTER       The printer.\n"
        "  -j JOB-ID        The job (cancel).\n"
        "  -m DRIVER        inkrow-black, inkrow-cmyk, inkrow-photo or inkrow-sixteen.\n"
        "  -n COPIES        Copies (submit).\n"
        "  -o NAME=VALUE    A job option (submit): print-quality=draft|normal|high,\n"
        "                   media=iso_a4_210x297mm, media-type=photographic-glossy,\n"
        "                   print-color-mode=color|monochrome, printer-resolution=600dpi,\n"
        "                   print-rendering-intent=auto|perceptual|relative|relative-bpc|\n"
        "                   saturation|absolute, cm-calibration=true (the raw inks);\n"
        "                   or a server setting (server): state-dir, listen-hostname,\n"
        "                   server-port, log-file, log-level, spool-directory,\n"
        "                   output-directories=DIR[:DIR], ghostscript-page-seconds=N,\n"
        "                   ghostscript-memory-mb=N.\n"
        "  -u URI           Talk to the printer at this ipp: URI.\n"
        "  -v DEVICE-URI    file:///DIR (one file per job), socket://HOST:PORT, usb://...\n"
        "  --config FILE    Read server settings from FILE, one NAME = VALUE a line (the\n"
        "                   names of the server's -o settings); -o and the environment\n"
        "                   win over it. Give it to sub-commands too, to find the server.\n"
        "\n"
        "Environment (an -o setting wins):\n"
        "  INKROW_STATE_DIR  Directory for state, spool, log and the control socket;\n"
        "                    set it for the server and every sub-command.\n"
        "  INKROW_LISTEN     Address to listen on (default localhost: loopback only).\n"
        "  INKROW_PORT       TCP port (default: the first free one from 8000 + uid % 1000).\n"
        "  INKROW_LOG_FILE   Log file (default STATE_DIR/inkrow-printer-app.log; - for stderr).\n"
        "  INKROW_LOG_LEVEL  debug, info (default), warn, error or fatal.\n"
        "  INKROW_OUTPUT_DIRS  Where file: devices may write (default STATE_DIR/output).\n"
        "  INKROW_GS_PAGE_SECONDS, INKROW_GS_MEMORY_MB  Ghostscript's limits per page\n"
        "                    (default 120 s, 2048 MB).");
}

}  // namespace

int main(int argc, char* argv[]) {
    // A printer that hangs up, or a Ghostscript that dies, must fail one job, not end
    // the whole application.
    std::signal(SIGPIPE, SIG_IGN);

    std::string configError;
    if (!TakeConfigOption(&argc, argv, &FileSettings(), &configError)) {
        std::fprintf(stderr, "inkrow-printer-app: %s\n", configError.c_str());
        return 1;
    }
    // The state directory also holds the control socket: a file's state-dir places it as
    // INKROW_STATE_DIR does, so that sub-commands given the same file find the server.
    const char* fileState = FindSetting(FileSettings(), "state-dir");
    if (fileState != nullptr && std::getenv("INKROW_STATE_DIR") == nullptr)
        setenv("INKROW_STATE_DIR", fileState, 1);
    const std::string state = StateDirectoryFromEnvironment(Environment);
    if (!state.empty()) {
        char absolute[PATH_MAX];
        if (!MakeDirectory(state) || realpath(state.c_str(), absolute) == nullptr) {
            std::fprintf(stderr, "inkrow-printer-app: cannot create INKROW_STATE_DIR %s: %s\n",
                         state.c_str(), std::strerror(errno));
            return 1;
        }
        // PAPPL takes a listen name that does not start with '/' for a host name, so the
        // socket's directory must be absolute, for the server and the sub-commands alike.
        setenv("INKROW_STATE_DIR", absolute, 1);
        setenv("TMPDIR", absolute, 1);
    }
    ControlSocket() = ControlSocketPath(argv[0], papplGetTempDir());
    if (ControlSocket().size() >= sizeof(sockaddr_un{}.sun_path)) {
        std::fprintf(stderr,
                     "inkrow-printer-app: the control socket %s would be longer than %zu bytes; "
                     "choose a shorter INKROW_STATE_DIR\n",
                     ControlSocket().c_str(), sizeof(sockaddr_un{}.sun_path) - 1);
        return 1;
    }
    if (argc == 2 && std::strcmp(argv[1], "passwd") == 0) {
        ConfigInput input;
        input.getenv = Environment;
        input.root = getuid() == 0;
        AppConfig config;
        std::string problem;
        if (!ResolveConfig(input, &config, &problem) || !MakeDirectory(config.stateDirectory)) {
            std::fprintf(stderr, "inkrow-printer-app: %s\n",
                         problem.empty() ? "cannot create the state directory" : problem.c_str());
            return 1;
        }
        return SetAdminPassword(config.stateDirectory);
    }
    std::vector<pappl_pr_driver_t>& drivers = DriverList();
    if (argc == 2 && std::strcmp(argv[1], "devices") == 0) return ListDevices();
    if (argc >= 2 && std::strcmp(argv[1], "color-files") == 0)
        return ColorFilesCommand(argc, argv, ControlSocket());
    if (argc == 2 && std::strcmp(argv[1], "drivers") == 0) {
        // PAPPL would build a whole server (state, listeners) just to list them.
        for (const pappl_pr_driver_t& driver : drivers)
            std::printf("%s \"%s\"\n", driver.name, driver.description);
        return 0;
    }
    return papplMainloop(argc, argv, kVersion, kFooter, static_cast<int>(drivers.size()),
                         drivers.data(), nullptr, DriverCallback, "modes", ListModes, MakeSystem,
                         Usage, nullptr);
}
