#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tavro::demo {

// The value of an environment variable set by the test harness; nullopt when it
// is unset or empty (an empty value means "not given").
std::optional<std::wstring> ReadHarnessSwitch(const wchar_t* name);

// A decimal number of 1 to 10 ASCII digits no larger than max; nullopt otherwise
// (no sign, no blanks, no hexadecimal).
std::optional<std::uint32_t> ParseDecimal(std::wstring_view text, std::uint32_t max);

// Appends one line (the text plus CR LF) to the file that the environment variable
// names, when it is set. One write per line, opened for appending, so lines from
// concurrent processes never interleave. Never throws: the log must not change
// what the program does.
void AppendHarnessLog(const wchar_t* variable, std::string_view line) noexcept;

}  // namespace tavro::demo
