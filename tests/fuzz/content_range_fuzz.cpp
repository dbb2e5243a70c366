// A Content-Range header value as WinHTTP hands it over (UTF-16, any length a server sends).
// The one-pass matcher must agree with the expression it replaces and with the standard
// conversion of its three numbers.
#include <cstdint>
#include <regex>
#include <stdexcept>
#include <string>

#include "fuzz_checks.h"
#include "net/content_range.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tavro;
    using namespace tavro::fuzz;
    static const std::wregex expression(L"bytes ([0-9]+)-([0-9]+)/([0-9]+)");
    const std::wstring value = Utf16Of(data, size);
    std::optional<net::ContentRange> range;
    bool outOfRange = false;
    try {
        range = net::ParseContentRange(value);
    } catch (const std::out_of_range& e) {
        RequireMessage(e, {"stoull argument out of range"});
        outOfRange = true;
    }
    // libstdc++'s engine recurses per character: the reference is asked only about short values.
    if (value.size() > 256) return 0;
    std::wsmatch groups;
    if (!std::regex_match(value, groups, expression)) {
        Require(!range && !outOfRange, "a value that does not match is refused");
        return 0;
    }
    try {
        const std::uint64_t first = std::stoull(groups.str(1));
        const std::uint64_t last = std::stoull(groups.str(2));
        const std::uint64_t total = std::stoull(groups.str(3));
        Require(range && range->first == first && range->last == last && range->total == total,
                "a matching value gives its three numbers");
    } catch (const std::out_of_range&) {
        Require(outOfRange, "a number beyond 64 bits is out of range");
    }
    return 0;
}
