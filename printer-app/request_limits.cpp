// Requests that would hold a core for minutes.
//
// libcups' ippCreateRequestedArray, which PAPPL calls for every request that lists
// requested-attributes, expands each group name ("all", "printer-description", ...)
// anew for every time it is repeated: 10,000 copies of "all" keep a thread busy for
// minutes. The application defines that function (PAPPL calls it through its symbol
// table), drops repeated names from the request first and then lets libcups build the
// list as before; the answer is the same.
#include <cups/ipp.h>
#include <dlfcn.h>

#include <set>
#include <string>
#include <vector>

extern "C" cups_array_t* ippCreateRequestedArray(ipp_t* request) {
    using CreateFunction = cups_array_t* (*)(ipp_t*);
    static const auto create =
        reinterpret_cast<CreateFunction>(dlsym(RTLD_NEXT, "ippCreateRequestedArray"));
    ipp_attribute_t* requested =
        request != nullptr ? ippFindAttribute(request, "requested-attributes", IPP_TAG_KEYWORD)
                           : nullptr;
    const int count = requested != nullptr ? static_cast<int>(ippGetCount(requested)) : 0;
    if (count <= 1) return create(request);
    std::set<std::string> seen;
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
        const char* name = ippGetString(requested, i, nullptr);
        if (name != nullptr && seen.insert(name).second) names.emplace_back(name);
    }
    if (names.size() != static_cast<std::size_t>(count)) {
        std::vector<const char*> values;
        for (const std::string& name : names)
            values.push_back(name.c_str());
        ippDeleteAttribute(request, requested);
        ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                      static_cast<int>(values.size()), nullptr, values.data());
    }
    return create(request);
}
