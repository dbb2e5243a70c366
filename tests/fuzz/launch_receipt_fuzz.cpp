// A receipt file as the started application (or anything else) writes it: the decision
// must never throw and never touch memory it does not own.
#include <cstdint>

#include "fuzz_checks.h"
#include "launch/launch_receipt.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tavro;
    using namespace tavro::fuzz;
    constexpr wchar_t kId[] = L"3f2a9c1e-0b7d-4e55-a1c2-9d8e7f6a5b4c";
    constexpr wchar_t kExecutable[] = L"C:\\Users\\J\u00FCrgen\\AppData\\Local\\Programs\\Tavro\\Tavro.exe";
    constexpr wchar_t kVersion[] = L"1.4.2";
    // Called for its faults only: it is noexcept, so anything it lets escape ends the run.
    launch::ReceiptTextConfirmsLaunch(BytesOf(data, size), kId, kExecutable, kVersion);
    return 0;
}
