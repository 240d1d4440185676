// The `color-files` sub-command: lists, installs and removes a printer's colour files.
//
// It posts the printer's "Colour Files" form over the control socket, as a browser
// would, so the server checks and stores every file one way (color_files.cpp); the
// control socket serves the server's own user alone, who is an administrator.
#include <cups/cups.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "color_files.h"

namespace inkrow::app {

namespace {

// PAPPL reads at most this much of a form.
constexpr std::size_t kMaxFormBytes = 2 * 1024 * 1024;

struct Request {
    std::string printer;
    std::string mediaType;
    std::string files[2];  // profile, calibration
    bool remove[2] = {false, false};
};

void Usage() {
    std::fputs(
        "Usage: inkrow-printer-app color-files -d PRINTER [--media-type KEYWORD]\n"
        "           [--profile FILE.icc] [--calibration FILE.cal]\n"
        "           [--remove-profile] [--remove-calibration]\n"
        "Without --media-type: lists the printer's media types and their files.\n",
        stderr);
}

bool ParseArguments(int argc, char* argv[], Request* request) {
    for (int i = 2; i < argc; ++i) {
        const std::string option = argv[i];
        const bool valued = option == "-d" || option == "--media-type" || option == "--profile" ||
                            option == "--calibration";
        if (valued && i + 1 >= argc) {
            std::fprintf(stderr, "inkrow-printer-app: %s needs a value\n", option.c_str());
            return false;
        }
        if (option == "-d")
            request->printer = argv[++i];
        else if (option == "--media-type")
            request->mediaType = argv[++i];
        else if (option == "--profile")
            request->files[0] = argv[++i];
        else if (option == "--calibration")
            request->files[1] = argv[++i];
        else if (option == "--remove-profile")
            request->remove[0] = true;
        else if (option == "--remove-calibration")
            request->remove[1] = true;
        else {
            std::fprintf(stderr, "inkrow-printer-app: color-files: unknown option %s\n",
                         option.c_str());
            return false;
        }
    }
    const bool changes = !request->files[0].empty() || !request->files[1].empty() ||
                         request->remove[0] || request->remove[1];
    if (request->printer.empty() || (changes && request->mediaType.empty()) ||
        (!request->mediaType.empty() && !changes)) {
        Usage();
        return false;
    }
    return true;
}

// The printer's web path ("/NAME") from its printer-more-info; "" when no such printer.
std::string PrinterPath(http_t* http, const std::string& name) {
    ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTERS);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "system-uri", nullptr,
                 "ipp://localhost/ipp/system");
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 cupsUser());
    static const char* const wanted[] = {"printer-name", "printer-more-info"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  static_cast<int>(std::size(wanted)), nullptr, wanted);
    ipp_t* response = cupsDoRequest(http, request, "/ipp/system");
    std::string found;
    std::string printer;
    std::string info;
    for (ipp_attribute_t* attr = ippFirstAttribute(response);; attr = ippNextAttribute(response)) {
        const char* attrName = attr != nullptr ? ippGetName(attr) : nullptr;
        if (attrName == nullptr) {  // the end of a printer's group
            if (found.empty() && printer == name && !info.empty()) {
                char scheme[32], user[256], host[256], resource[1024];
                int port = 0;
                if (httpSeparateURI(HTTP_URI_CODING_ALL, info.c_str(), scheme, sizeof scheme, user,
                                    sizeof user, host, sizeof host, &port, resource,
                                    sizeof resource) >= HTTP_URI_STATUS_OK)
                    found = resource;
            }
            printer.clear();
            info.clear();
            if (attr == nullptr) break;
            continue;
        }
        if (std::strcmp(attrName, "printer-name") == 0) printer = ippGetString(attr, 0, nullptr);
        if (std::strcmp(attrName, "printer-more-info") == 0) info = ippGetString(attr, 0, nullptr);
    }
    ippDelete(response);
    while (!found.empty() && found.back() == '/')
        found.pop_back();
    return found;
}

// Sends the request (GET without a body) and reads the answer. The last request asks the
// server to close the connection as it answers: PAPPL 1.3 does not wait for its client
// threads when it shuts down, so a connection still open when a `shutdown` follows at
// once may be torn down under a freed server.
http_status_t Exchange(http_t* http, const std::string& path, const std::string* body,
                       const std::string& contentType, std::string* answer, bool last) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        httpClearFields(http);
        if (last) {
            httpSetKeepAlive(http, HTTP_KEEPALIVE_OFF);
            httpSetField(http, HTTP_FIELD_CONNECTION, "close");
        }
        if (body != nullptr) {
            httpSetField(http, HTTP_FIELD_CONTENT_TYPE, contentType.c_str());
            httpSetLength(http, body->size());
        }
        const int failed =
            body != nullptr ? httpPost(http, path.c_str()) : httpGet(http, path.c_str());
        if (failed != 0) {
            if (httpReconnect2(http, 30000, nullptr) != 0) break;
            continue;
        }
        if (body != nullptr && httpWrite2(http, body->data(), body->size()) < 0) break;
        http_status_t status;
        while ((status = httpUpdate(http)) == HTTP_STATUS_CONTINUE) {
        }
        answer->clear();
        char buffer[8192];
        ssize_t got;
        while ((got = httpRead2(http, buffer, sizeof buffer)) > 0)
            answer->append(buffer, static_cast<std::size_t>(got));
        return status;
    }
    return HTTP_STATUS_ERROR;
}

void AddField(std::string* body, const std::string& boundary, const char* name,
              const std::string& value, const char* fileName = nullptr) {
    *body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"";
    if (fileName != nullptr) *body += std::string("; filename=\"") + fileName + "\"";
    *body += "\r\n\r\n" + value + "\r\n";
}

}  // namespace

int ColorFilesCommand(int argc, char* argv[], const std::string& controlSocket) {
    Request request;
    if (!ParseArguments(argc, argv, &request)) return 1;
    http_t* http = httpConnect2(controlSocket.c_str(), 0, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_NEVER,
                                1, 30000, nullptr);
    if (http == nullptr) {
        std::fprintf(stderr,
                     "inkrow-printer-app: no server is running (start one with "
                     "\"inkrow-printer-app server\")\n");
        return 1;
    }
    const std::string path = PrinterPath(http, request.printer);
    if (path.empty()) {
        std::fprintf(stderr, "inkrow-printer-app: no printer named \"%s\"\n",
                     request.printer.c_str());
        httpClose(http);
        return 1;
    }
    std::string answer;
    const bool listing = request.mediaType.empty();
    http_status_t status =
        Exchange(http, path + "/color?reply=text", nullptr, "", &answer, listing);
    if (status == HTTP_STATUS_OK && !listing) {
        // The form's token against cross-site requests, from the page itself.
        std::string page;
        Exchange(http, path + "/color", nullptr, "", &page, false);
        const std::string marker = "name=\"session\" value=\"";
        const std::size_t at = page.find(marker);
        const std::size_t end = at == std::string::npos ? at : page.find('"', at + marker.size());
        const std::string session = end == std::string::npos
                                        ? ""
                                        : page.substr(at + marker.size(), end - at - marker.size());
        std::mt19937_64 random{std::random_device{}()};
        const std::string boundary =
            "inkrow-" + std::to_string(random()) + std::to_string(random());
        std::string body;
        AddField(&body, boundary, "session", session);
        AddField(&body, boundary, "reply", "text");
        AddField(&body, boundary, "media-type", request.mediaType);
        static const char* const fields[2] = {"profile", "calibration"};
        for (int kind = 0; kind < 2; ++kind) {
            const std::string field = fields[kind];
            if (request.remove[kind]) AddField(&body, boundary, ("remove-" + field).c_str(), "on");
            if (request.files[kind].empty()) continue;
            std::ifstream file(request.files[kind], std::ios::binary);
            if (!file) {
                std::fprintf(stderr, "inkrow-printer-app: %s: cannot be read: %s\n",
                             request.files[kind].c_str(), std::strerror(errno));
                httpClose(http);
                return 1;
            }
            const std::string bytes{std::istreambuf_iterator<char>(file),
                                    std::istreambuf_iterator<char>()};
            AddField(&body, boundary, (field + "-name").c_str(), request.files[kind]);
            AddField(&body, boundary, field.c_str(), bytes, "upload");
        }
        body += "--" + boundary + "--\r\n";
        if (body.size() >= kMaxFormBytes) {
            std::fprintf(stderr,
                         "inkrow-printer-app: the files are larger than the 2 MB the server "
                         "takes at once\n");
            httpClose(http);
            return 1;
        }
        status = Exchange(http, path + "/color", &body, "multipart/form-data; boundary=" + boundary,
                          &answer, true);
    }
    httpClose(http);
    if (status == HTTP_STATUS_OK) {
        std::fputs(answer.c_str(), stdout);
        return 0;
    }
    if (status == HTTP_STATUS_BAD_REQUEST) {
        std::fprintf(stderr, "inkrow-printer-app: %s", answer.c_str());
        return 1;
    }
    std::fprintf(stderr, "inkrow-printer-app: the server answered %s\n", httpStatus(status));
    return 1;
}

}  // namespace inkrow::app
