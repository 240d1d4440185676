#include "output_dirs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

// PAPPL 1.3 adds its built-in schemes only while it has none, and a scheme added first
// wins; it has no public call to replace its file device. So the application adds its
// own "file" scheme first and then PAPPL's network and USB schemes through the functions
// PAPPL itself uses for that, which the library exports.
extern "C" void _papplDeviceAddNetworkSchemes(void);
extern "C" void _papplDeviceAddUSBScheme(void);

namespace inkrow::app {

namespace {

struct OutputRoot {
    std::string path;  // resolved, no links
    bool characterDevice = false;
};

std::vector<OutputRoot>& Roots() {
    static std::vector<OutputRoot> roots;
    return roots;
}

// The file: devices open now, so that calls about a device can tell it is one of ours.
std::mutex openDevicesLock;
std::set<pappl_device_t*> openDevices;

struct OutputFile {
    int directory = -1;  // the job's output directory, or -1 for a character device
    int fd = -1;         // the job's file (created at the first write) or the device
    std::string extension = "prn";
    std::string shownPath;  // for messages
    int jobId = 0;
    std::string jobName = "job";
    std::string finalName;
    std::string partialName;
    bool complete = false;
};

// A file: URI taken apart: its path, lexically normalised, and its extension.
struct FileTarget {
    std::string path;
    std::string extension = "prn";
    const OutputRoot* root = nullptr;
    std::vector<std::string> below;  // path components below the root
};

bool ParseFileUri(const char* uri, FileTarget* target, std::string* why) {
    char scheme[32];
    char user[256];
    char host[256];
    char resource[1024];
    int port = 0;
    if (httpSeparateURI(HTTP_URI_CODING_ALL, uri, scheme, sizeof scheme, user, sizeof user, host,
                        sizeof host, &port, resource, sizeof resource) < HTTP_URI_STATUS_OK) {
        *why = "the device URI is malformed";
        return false;
    }
    if (host[0] != '\0' && std::strcmp(host, "localhost") != 0) {
        *why = "a file: device must be on this machine";
        return false;
    }
    std::string path = resource;
    const std::size_t question = path.find('?');
    if (question != std::string::npos) {
        const std::string options = path.substr(question + 1);
        path.erase(question);
        if (options.rfind("ext=", 0) != 0) {
            *why = "a file: device takes only the option ext=EXTENSION";
            return false;
        }
        target->extension = options.substr(4);
        bool plain = !target->extension.empty() && target->extension.size() <= 16;
        for (char c : target->extension)
            plain = plain &&
                    ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'));
        if (!plain) {
            *why = "the extension must be 1 to 16 letters or digits";
            return false;
        }
    }
    if (path.empty() || path[0] != '/') {
        *why = "a file: device needs an absolute path";
        return false;
    }
    std::vector<std::string> parts;
    for (std::size_t start = 1; start <= path.size();) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        const std::string part = path.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            *why = "a file: device path may not contain \"..\"";
            return false;
        }
        parts.push_back(part);
    }
    target->path.clear();
    for (const std::string& part : parts)
        target->path += "/" + part;
    if (target->path.empty()) target->path = "/";

    for (const OutputRoot& root : Roots()) {
        const bool inside =
            target->path == root.path ||
            (!root.characterDevice && target->path.compare(0, root.path.size(), root.path) == 0 &&
             (root.path == "/" || target->path[root.path.size()] == '/'));
        if (inside && (target->root == nullptr || root.path.size() > target->root->path.size()))
            target->root = &root;
    }
    if (target->root == nullptr) {
        std::string list;
        for (const OutputRoot& root : Roots())
            list += (list.empty() ? "" : ", ") + root.path;
        *why = target->path + " is not inside the output directories (" + list + ")";
        return false;
    }
    const std::size_t skip = target->root->path == "/" ? 0 : target->root->path.size();
    for (std::size_t start = skip + 1; start < target->path.size();) {
        std::size_t end = target->path.find('/', start);
        if (end == std::string::npos) end = target->path.size();
        target->below.push_back(target->path.substr(start, end - start));
        start = end + 1;
    }
    return true;
}

// Opens the target's directory (walking below the root without following any link),
// or the character device; the descriptor, or -1 with errno set.
int OpenTarget(const FileTarget& target, bool* directory) {
    *directory = !target.root->characterDevice;
    if (!*directory)
        return open(target.root->path.c_str(), O_WRONLY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    int fd = open(target.root->path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (const std::string& part : target.below) {
        if (fd < 0) break;
        const int next = openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int saved = errno;
        close(fd);
        errno = saved;
        fd = next;
    }
    return fd;
}

bool FileOpen(pappl_device_t* device, const char* uri, const char* name) {
    FileTarget target;
    std::string why;
    if (!ParseFileUri(uri, &target, &why)) {
        papplDeviceError(device, "Refusing device %s: %s", uri, why.c_str());
        return false;
    }
    bool directory = false;
    const int fd = OpenTarget(target, &directory);
    if (fd < 0) {
        papplDeviceError(device, "Unable to open '%s': %s", target.path.c_str(),
                         std::strerror(errno));
        return false;
    }
    if (directory && faccessat(fd, ".", W_OK, AT_EACCESS) != 0) {
        papplDeviceError(device, "Unable to write to '%s': %s", target.path.c_str(),
                         std::strerror(errno));
        close(fd);
        return false;
    }
    auto* file = new (std::nothrow) OutputFile;
    if (file == nullptr) {
        close(fd);
        papplDeviceError(device, "Unable to open '%s': out of memory", target.path.c_str());
        return false;
    }
    (directory ? file->directory : file->fd) = fd;
    file->extension = target.extension;
    file->shownPath = target.path;
    if (name != nullptr && *name != '\0') file->jobName = name;
    papplDeviceSetData(device, file);
    std::lock_guard<std::mutex> hold(openDevicesLock);
    openDevices.insert(device);
    return true;
}

OutputFile* FileOf(pappl_device_t* device) {
    std::lock_guard<std::mutex> hold(openDevicesLock);
    if (openDevices.count(device) == 0) return nullptr;
    return static_cast<OutputFile*>(papplDeviceGetData(device));
}

void FileClose(pappl_device_t* device) {
    {
        std::lock_guard<std::mutex> hold(openDevicesLock);
        openDevices.erase(device);
    }
    auto* file = static_cast<OutputFile*>(papplDeviceGetData(device));
    if (file == nullptr) return;
    if (file->fd >= 0) close(file->fd);
    if (file->directory >= 0 && !file->partialName.empty() && file->complete &&
        renameat2(file->directory, file->partialName.c_str(), file->directory,
                  file->finalName.c_str(), RENAME_NOREPLACE) != 0) {
        papplDeviceError(device, "Unable to rename '%s' to '%s': %s", file->partialName.c_str(),
                         file->finalName.c_str(), std::strerror(errno));
    }
    if (file->directory >= 0) close(file->directory);
    delete file;
    papplDeviceSetData(device, nullptr);
}

// Creates the job's file: a new name, never an existing file or a link.
bool CreateJobFile(pappl_device_t* device, OutputFile* file) {
    const std::string base = MakeOutputFileName(file->jobId, file->jobName.c_str(), "");
    for (int attempt = 1; attempt <= 100; ++attempt) {
        std::string name = base;
        // Appended piece by piece: "-" + std::to_string(...) trips g++ 12's false
        // -Wrestrict warning in optimised builds.
        if (attempt > 1) {
            name += '-';
            name += std::to_string(attempt);
        }
        name += '.';
        name += file->extension;
        struct stat info {};
        if (fstatat(file->directory, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) continue;
        const std::string partial = name + ".partial";
        file->fd = openat(file->directory, partial.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (file->fd >= 0) {
            file->finalName = name;
            file->partialName = partial;
            return true;
        }
        if (errno != EEXIST) break;
    }
    papplDeviceError(device, "Unable to create a file for job %d in '%s': %s", file->jobId,
                     file->shownPath.c_str(), std::strerror(errno));
    return false;
}

ssize_t FileWrite(pappl_device_t* device, const void* buffer, size_t bytes) {
    auto* file = static_cast<OutputFile*>(papplDeviceGetData(device));
    if (file == nullptr) return -1;
    if (file->fd < 0 && !CreateJobFile(device, file)) return -1;
    const auto* at = static_cast<const char*>(buffer);
    std::size_t done = 0;
    while (done < bytes) {
        const ssize_t written = write(file->fd, at + done, bytes - done);
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) return -1;
        done += static_cast<std::size_t>(written);
    }
    return static_cast<ssize_t>(done);
}

bool MakeDirectories(const std::string& path) {
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (mkdir(part.c_str(), slash == std::string::npos ? 0700 : 0755) != 0 && errno != EEXIST)
            return false;
        if (slash == std::string::npos) return true;
    }
}

}  // namespace

std::string MakeOutputFileName(int jobId, const char* jobName, const std::string& extension) {
    std::string name;
    for (const char* c = jobName != nullptr ? jobName : ""; *c != '\0' && name.size() < 64; ++c) {
        const char ch = *c;
        const bool plain = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') ||
                           (ch >= '0' && ch <= '9') || ch == '-' || ch == '_' || ch == '.';
        name += plain ? ch : '_';
    }
    while (!name.empty() && name.front() == '.')
        name.erase(0, 1);
    if (name.empty()) name = "untitled";
    std::string result = std::to_string(jobId) + "-" + name;
    if (!extension.empty()) result += "." + extension;
    return result;
}

bool InstallOutputDevices(const std::vector<std::string>& directories, std::string* error) {
    Roots().clear();
    for (const std::string& directory : directories) {
        struct stat info {};
        if (stat(directory.c_str(), &info) != 0 && !MakeDirectories(directory)) {
            *error = "cannot create output directory " + directory + ": " + std::strerror(errno);
            return false;
        }
        char* resolved = realpath(directory.c_str(), nullptr);
        if (resolved == nullptr || stat(resolved, &info) != 0 ||
            (!S_ISDIR(info.st_mode) && !S_ISCHR(info.st_mode))) {
            *error =
                "output directory " + directory + " is neither a directory nor a character device";
            std::free(resolved);
            return false;
        }
        Roots().push_back({resolved, S_ISCHR(info.st_mode)});
        std::free(resolved);
    }
    papplDeviceAddScheme("file", PAPPL_DEVTYPE_FILE, nullptr, FileOpen, FileClose, nullptr,
                         FileWrite, nullptr, nullptr);
    _papplDeviceAddNetworkSchemes();
    _papplDeviceAddUSBScheme();
    return true;
}

bool IsAllowedDeviceUri(const char* uri, std::string* why) {
    if (uri == nullptr || std::strncmp(uri, "file:", 5) != 0) return true;
    FileTarget target;
    if (!ParseFileUri(uri, &target, why)) return false;
    bool directory = false;
    const int fd = OpenTarget(target, &directory);
    if (fd < 0) {
        *why = errno == ELOOP || errno == ENOTDIR
                   ? target.path +
                         " is not a directory (a link or a file: a file: device "
                         "names a directory, one file per job)"
                   : target.path + ": " + std::strerror(errno);
        return false;
    }
    close(fd);
    return true;
}

void NameOutputFile(pappl_device_t* device, int jobId, const char* jobName) {
    OutputFile* file = FileOf(device);
    if (file == nullptr) return;
    file->jobId = jobId;
    if (jobName != nullptr && *jobName != '\0') file->jobName = jobName;
}

void MarkOutputComplete(pappl_device_t* device) {
    OutputFile* file = FileOf(device);
    if (file != nullptr) file->complete = true;
}

}  // namespace inkrow::app
