#include "pappl_amends.h"

#include <cups/cups.h>
#include <cups/ipp.h>
#include <dlfcn.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <vector>

namespace inkrow::app {

namespace {

std::atomic<bool> tlsOff{false};
std::string urfResolutions;  // "RS300-360-600"; written once before the server starts

thread_local cups_page_header2_t clientHeader;
thread_local bool haveClientHeader = false;

// Each subscription's UUID by its id, as PAPPL made it for the subscription's own
// attributes; its events repeat it. The oldest are forgotten beyond kUuidsKept.
constexpr std::size_t kUuidsKept = 4096;
std::mutex uuidLock;
std::map<int, std::string> subscriptionUuids;

int SubscriptionIdIn(ipp_t* ipp) {
    ipp_attribute_t* id = ippFindAttribute(ipp, "notify-subscription-id", IPP_TAG_INTEGER);
    return id != nullptr ? ippGetInteger(id, 0) : 0;
}

void RememberUuid(int id, const char* uuid) {
    const std::lock_guard<std::mutex> hold(uuidLock);
    subscriptionUuids[id] = uuid;
    if (subscriptionUuids.size() > kUuidsKept) subscriptionUuids.erase(subscriptionUuids.begin());
}

// The subscription's UUID; a random one (version 4), kept from then on, for one PAPPL
// made none for.
std::string UuidOf(int id) {
    const std::lock_guard<std::mutex> hold(uuidLock);
    auto found = subscriptionUuids.find(id);
    if (found != subscriptionUuids.end()) return found->second;
    std::random_device source;
    unsigned char bytes[16];
    for (unsigned char& byte : bytes)
        byte = static_cast<unsigned char>(source());
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0f) | 0x40);
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3f) | 0x80);
    char text[64];
    std::snprintf(text, sizeof text,
                  "urn:uuid:%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                  bytes[0], bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7],
                  bytes[8], bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14],
                  bytes[15]);
    subscriptionUuids[id] = text;
    if (subscriptionUuids.size() > kUuidsKept) subscriptionUuids.erase(subscriptionUuids.begin());
    return text;
}

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
using inkrow::app::SubscriptionIdIn;

extern "C" ipp_attribute_t* ippAddString(ipp_t* ipp, ipp_tag_t group, ipp_tag_t valueTag,
                                         const char* name, const char* language,
                                         const char* value) {
    static const auto add = Next<ipp_attribute_t* (*)(ipp_t*, ipp_tag_t, ipp_tag_t, const char*,
                                                      const char*, const char*)>("ippAddString");
    if (name != nullptr && group == IPP_TAG_PRINTER && std::strcmp(name, "mopria-certified") == 0)
        return nullptr;
    // PAPPL gives a subscription its UUID but leaves the one of its events empty; both
    // come right after the subscription's id.
    if (name != nullptr && std::strcmp(name, "notify-subscription-uuid") == 0) {
        const int id = SubscriptionIdIn(ipp);
        if (id > 0 && group == IPP_TAG_SUBSCRIPTION && value != nullptr && value[0] != '\0') {
            inkrow::app::RememberUuid(id, value);
        } else if (id > 0 && group == IPP_TAG_EVENT_NOTIFICATION &&
                   (value == nullptr || value[0] == '\0')) {
            // Copied: the value PAPPL named constant is replaced by a string of ours.
            const std::string uuid = inkrow::app::UuidOf(id);
            return add(ipp, group, static_cast<ipp_tag_t>(valueTag & ~IPP_TAG_CUPS_CONST), name,
                       language, uuid.c_str());
        }
    }
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
