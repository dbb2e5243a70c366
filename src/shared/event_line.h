#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tavro {

// One journal line as the text-mode journal stream takes it:
// {"event":NAME,"platform":"windows","timestamp":MILLIS} and a line feed, which the
// stream stores as CR LF; a failure that a server's HTTP status decided also keeps that
// status, as ,"httpStatus":STATUS before the closing brace, and one that a server's
// certificate decided keeps the failed checks, as ,"tlsFailure":"CHECKS" (names such as
// "unknown_authority", joined by "+"). The name and the checks go in unescaped: both are
// plain ASCII of the installer's own.
std::string FormatEventLine(std::string_view name, std::int64_t unixMillis, std::uint32_t httpStatus = 0,
                            std::string_view tlsFailure = {});

// A Windows file time (100 ns units since 1601-01-01 UTC) as whole milliseconds since
// 1970-01-01 UTC, the fraction dropped.
std::int64_t FileTimeToUnixMillis(std::int64_t fileTime);

}  // namespace tavro
