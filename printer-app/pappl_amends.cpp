#include "pappl_amends.h"

#include <cups/cups.h>
#include <cups/ipp.h>
#include <dlfcn.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

namespace inkrow::app {

namespace {

std::atomic<bool> tlsOff{false};
std::string urfResolutions;  // "RS300-360-600"; written once before the server starts

thread_local cups_page_header2_t clientHeader;
thread_local bool haveClientHeader = false;

template <typename Function>
Function Next(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

void SetTlsOff(bool off) {
    tlsOff = off;
}

void SetUrfResolutions(const int* dpi, int count) {
    urfResolutions = "RS";
    for (int i = 0; i < count; ++i) {
        if (i > 0) urfResolutions += '-';
        urfResolutions += std::to_string(dpi[i]);
    }
}

const cups_page_header2_t* ClientRasterHeader() {
    return haveClientHeader ? &clientHeader : nullptr;
}

}  // namespace inkrow::app

using inkrow::app::Next;

extern "C" ipp_attribute_t* ippAddString(ipp_t* ipp, ipp_tag_t group, ipp_tag_t valueTag,
                                         const char* name, const char* language,
                                         const char* value) {
    static const auto add = Next<ipp_attribute_t* (*)(ipp_t*, ipp_tag_t, ipp_tag_t, const char*,
                                                      const char*, const char*)>("ippAddString");
    if (name != nullptr && group == IPP_TAG_PRINTER && std::strcmp(name, "mopria-certified") == 0)
        return nullptr;
    return add(ipp, group, valueTag, name, language, value);
}

extern "C" ipp_attribute_t* ippAddStrings(ipp_t* ipp, ipp_tag_t group, ipp_tag_t valueTag,
                                          const char* name, int count, const char* language,
                                          const char* const* values) {
    static const auto add =
        Next<ipp_attribute_t* (*)(ipp_t*, ipp_tag_t, ipp_tag_t, const char*, int, const char*,
                                  const char* const*)>("ippAddStrings");
    // PAPPL lists a job's reasons up to "warnings-detected" only; the one reason after
    // it, "job-hold-until-specified", came out as no attribute at all.
    if (name != nullptr && count == 0 && std::strcmp(name, "job-state-reasons") == 0) {
        static const char* const held[] = {"job-hold-until-specified"};
        return add(ipp, group, valueTag, name, 1, language, held);
    }
    if (name == nullptr || values == nullptr || count <= 0 || inkrow::app::urfResolutions.empty() ||
        std::strcmp(name, "urf-supported") != 0)
        return add(ipp, group, valueTag, name, count, language, values);
    std::vector<const char*> copy(values, values + count);
    for (const char*& value : copy)
        if (value != nullptr && std::strncmp(value, "RS", 2) == 0)
            value = inkrow::app::urfResolutions.c_str();
    return add(ipp, group, valueTag, name, count, language, copy.data());
}

extern "C" http_uri_status_t httpAssembleURI(http_uri_coding_t encoding, char* uri, int length,
                                             const char* scheme, const char* username,
                                             const char* host, int port, const char* resource) {
    static const auto assemble =
        Next<http_uri_status_t (*)(http_uri_coding_t, char*, int, const char*, const char*,
                                   const char*, int, const char*)>("httpAssembleURI");
    if (inkrow::app::tlsOff && scheme != nullptr && std::strcmp(scheme, "ipps") == 0)
        scheme = "ipp";
    return assemble(encoding, uri, length, scheme, username, host, port, resource);
}

extern "C" unsigned cupsRasterReadHeader2(cups_raster_t* raster, cups_page_header2_t* header) {
    static const auto read =
        Next<unsigned (*)(cups_raster_t*, cups_page_header2_t*)>("cupsRasterReadHeader2");
    const unsigned ok = read(raster, header);
    inkrow::app::haveClientHeader = ok != 0 && header != nullptr;
    if (inkrow::app::haveClientHeader) inkrow::app::clientHeader = *header;
    return ok;
}
