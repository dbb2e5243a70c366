// An uninstall record's "DisplayName" (UTF-16 from the registry, written by any program).
// The rule must agree with its definition: exactly "Tavro", or "Tavro " and a version whose
// three components fit in 32 bits.
#include <cstdint>
#include <regex>
#include <string>

#include "fuzz_checks.h"
#include "verify/installed_app.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tavro;
    using namespace tavro::fuzz;
    static const std::wregex expression(L"Tavro ([0-9]+)\\.([0-9]+)\\.([0-9]+)");
    const std::wstring name = Utf16Of(data, size);
    const bool matches = verify::IsApplicationDisplayName(name);
    // libstdc++'s engine recurses per character: the reference is asked only about short names.
    if (name.size() > 256) return 0;
    bool expected = name == L"Tavro";
    if (std::wsmatch groups; std::regex_match(name, groups, expression)) {
        expected = true;
        for (int i = 1; i <= 3; ++i) {
            const std::wstring digits = groups.str(i);
            const std::size_t first = digits.find_first_not_of(L'0');
            if (first != std::wstring::npos && (digits.size() - first > 10 || std::stoull(digits.substr(first)) > 0xFFFFFFFFull)) {
                expected = false;
            }
        }
    }
    Require(matches == expected, "display name rule agrees with its definition");
    return 0;
}
