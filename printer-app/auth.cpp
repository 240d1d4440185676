#include "auth.h"

#include <arpa/inet.h>
#include <crypt.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "printer_attributes.h"

namespace inkrow::app {

namespace {

constexpr const char kHashFile[] = "/admin-password";

std::string& HashPath() {
    static std::string path;
    return path;
}

std::string ReadHash() {
    std::ifstream file(HashPath());
    std::string hash;
    std::getline(file, hash);
    return hash;
}

// Whether the request carries the administrator password (HTTP Basic).
bool HasAdminPassword(pappl_client_t* client) {
    const char* field = httpGetField(papplClientGetHTTP(client), HTTP_FIELD_AUTHORIZATION);
    if (field == nullptr || std::strncmp(field, "Basic ", 6) != 0) return false;
    const std::string hash = ReadHash();
    if (hash.empty()) return false;
    char decoded[512];
    int length = sizeof decoded - 1;
    httpDecode64_2(decoded, &length, field + 6);
    decoded[length >= 0 && length < static_cast<int>(sizeof decoded) ? length : 0] = '\0';
    const char* colon = std::strchr(decoded, ':');
    if (colon == nullptr) return false;
    crypt_data data{};
    const char* computed = crypt_r(colon + 1, hash.c_str(), &data);
    if (computed == nullptr || std::strlen(computed) != hash.size()) return false;
    unsigned char difference = 0;  // the same time whichever byte differs
    for (std::size_t i = 0; i < hash.size(); ++i)
        difference |= static_cast<unsigned char>(computed[i] ^ hash[i]);
    return difference == 0;
}

std::string UserName(uid_t uid) {
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr)
        return found->pw_name;
    return std::to_string(uid);
}

enum class Need { kAnyone, kOwner, kAdmin };

Need NeedOf(ipp_op_t operation) {
    switch (static_cast<int>(operation)) {
        case IPP_OP_PRINT_JOB:
        case IPP_OP_VALIDATE_JOB:
        case IPP_OP_CREATE_JOB:
        case IPP_OP_GET_JOBS:
        case IPP_OP_GET_JOB_ATTRIBUTES:
        case IPP_OP_GET_PRINTER_ATTRIBUTES:
        case IPP_OP_GET_PRINTERS:
        case IPP_OP_GET_SYSTEM_ATTRIBUTES:
        case IPP_OP_CUPS_GET_DEFAULT:
        case IPP_OP_CUPS_GET_PRINTERS:
        case IPP_OP_CREATE_PRINTER_SUBSCRIPTIONS:
        case IPP_OP_CREATE_JOB_SUBSCRIPTIONS:
        case IPP_OP_GET_SUBSCRIPTION_ATTRIBUTES:
        case IPP_OP_GET_SUBSCRIPTIONS:
        case IPP_OP_RENEW_SUBSCRIPTION:
        case IPP_OP_CANCEL_SUBSCRIPTION:
        case IPP_OP_GET_NOTIFICATIONS:
        case IPP_OP_IDENTIFY_PRINTER:
        case IPP_OP_PAPPL_FIND_DRIVERS:
            return Need::kAnyone;
        case IPP_OP_SEND_DOCUMENT:
        case IPP_OP_CLOSE_JOB:
        case IPP_OP_CANCEL_JOB:
        case IPP_OP_CANCEL_MY_JOBS:
        case IPP_OP_HOLD_JOB:
        case IPP_OP_RELEASE_JOB:
        case IPP_OP_SET_JOB_ATTRIBUTES:
            return Need::kOwner;
        default:
            return Need::kAdmin;
    }
}

// PAPPL asks only for clients that are not on the control socket: TCP clients, on
// loopback or (with a wider listen address) from elsewhere over TLS.
http_status_t Authorize(pappl_client_t* client, const char* group, gid_t groupId, void* data) {
    (void)group;
    (void)groupId;
    (void)data;
    // Every job request over TCP passes here before PAPPL reads its attributes.
    AnswerJobPassword(client);
    uid_t peer = 0;
    const bool local = FindLoopbackPeer(httpGetFd(papplClientGetHTTP(client)), &peer);
    if (local) papplClientSetUsername(client, UserName(peer).c_str());
    const bool admin = (local && (peer == 0 || peer == getuid())) || HasAdminPassword(client);
    if (admin) return HTTP_STATUS_CONTINUE;
    ipp_t* request = papplClientGetRequest(client);
    // Web pages ask only for what is the administrator's: settings, adding printers, the log.
    if (request == nullptr) return HTTP_STATUS_UNAUTHORIZED;
    switch (NeedOf(ippGetOperation(request))) {
        case Need::kAnyone:
            return HTTP_STATUS_CONTINUE;
        case Need::kOwner: {
            pappl_job_t* job = papplClientGetJob(client);
            const char* owner = job != nullptr ? papplJobGetUsername(job) : nullptr;
            if (local && owner != nullptr && UserName(peer) == owner) return HTTP_STATUS_CONTINUE;
            return HTTP_STATUS_UNAUTHORIZED;
        }
        case Need::kAdmin:
            break;
    }
    return HTTP_STATUS_UNAUTHORIZED;
}

// The kernel's name of an address and port, as /proc/net/tcp and tcp6 print them.
std::string ProcName(const sockaddr_storage& address) {
    char text[64];
    if (address.ss_family == AF_INET) {
        const auto& in = reinterpret_cast<const sockaddr_in&>(address);
        std::snprintf(text, sizeof text, "%08X:%04X", in.sin_addr.s_addr, ntohs(in.sin_port));
    } else {
        const auto& in6 = reinterpret_cast<const sockaddr_in6&>(address);
        std::uint32_t words[4];
        std::memcpy(words, &in6.sin6_addr, sizeof words);
        std::snprintf(text, sizeof text, "%08X%08X%08X%08X:%04X", words[0], words[1], words[2],
                      words[3], ntohs(in6.sin6_port));
    }
    return text;
}

bool IsLoopback(const sockaddr_storage& address) {
    if (address.ss_family == AF_INET)
        return (ntohl(reinterpret_cast<const sockaddr_in&>(address).sin_addr.s_addr) >> 24) == 127;
    if (address.ss_family != AF_INET6) return false;
    const in6_addr& in6 = reinterpret_cast<const sockaddr_in6&>(address).sin6_addr;
    if (IN6_IS_ADDR_LOOPBACK(&in6)) return true;
    return IN6_IS_ADDR_V4MAPPED(&in6) && in6.s6_addr[12] == 127;
}

}  // namespace

bool FindLoopbackPeer(int fd, uid_t* uid) {
    sockaddr_storage mine{};
    sockaddr_storage theirs{};
    socklen_t length = sizeof mine;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&mine), &length) != 0) return false;
    length = sizeof theirs;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&theirs), &length) != 0) return false;
    if (!IsLoopback(theirs) || theirs.ss_family != mine.ss_family) return false;
    // The client's socket is the one whose local end is our peer and whose remote end
    // is us; its owner is the client.
    const std::string local = ProcName(theirs);
    const std::string remote = ProcName(mine);
    std::ifstream table(mine.ss_family == AF_INET ? "/proc/net/tcp" : "/proc/net/tcp6");
    std::string line;
    std::getline(table, line);  // the heading
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, from, to, state, queues, timer, retransmits;
        long owner = -1;
        fields >> slot >> from >> to >> state >> queues >> timer >> retransmits >> owner;
        if (from == local && to == remote && owner >= 0) {
            *uid = static_cast<uid_t>(owner);
            return true;
        }
    }
    return false;
}

std::string FindLoopbackUser(pappl_client_t* client) {
    uid_t peer = 0;
    if (!FindLoopbackPeer(httpGetFd(papplClientGetHTTP(client)), &peer)) return "";
    return UserName(peer);
}

void InstallAccessRules(pappl_system_t* system, const std::string& stateDirectory) {
    HashPath() = stateDirectory + kHashFile;
    papplSystemSetAuthCallback(system, "Basic", Authorize, nullptr);
}

void ProtectControlSocket(const std::string& path) {
    chmod(path.c_str(), 0600);
}

int SetAdminPassword(const std::string& stateDirectory) {
    std::string password;
    std::getline(std::cin, password);
    if (password.size() < 8 || password.size() > 256) {
        std::fprintf(stderr, "inkrow-printer-app: the password must have 8 to 256 bytes\n");
        return 1;
    }
    char salt[CRYPT_GENSALT_OUTPUT_SIZE];
    crypt_data data{};
    if (crypt_gensalt_rn(nullptr, 0, nullptr, 0, salt, sizeof salt) == nullptr) {
        std::fprintf(stderr, "inkrow-printer-app: cannot make a salt: %s\n", std::strerror(errno));
        return 1;
    }
    const char* hash = crypt_r(password.c_str(), salt, &data);
    if (hash == nullptr || hash[0] == '*') {
        std::fprintf(stderr, "inkrow-printer-app: cannot hash the password\n");
        return 1;
    }
    const std::string path = stateDirectory + kHashFile;
    const std::string temporary = path + ".new";
    unlink(temporary.c_str());
    const int fd =
        open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    const std::string line = std::string(hash) + "\n";
    const bool written =
        fd >= 0 && write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    if (fd >= 0) close(fd);
    if (!written || rename(temporary.c_str(), path.c_str()) != 0) {
        std::fprintf(stderr, "inkrow-printer-app: cannot write %s: %s\n", path.c_str(),
                     std::strerror(errno));
        unlink(temporary.c_str());
        return 1;
    }
    std::printf("The administrator password is set (%s).\n", path.c_str());
    return 0;
}

}  // namespace inkrow::app
