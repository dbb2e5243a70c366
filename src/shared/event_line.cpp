#include "shared/event_line.h"

namespace tavro {

namespace {

// 1970-01-01 minus 1601-01-01 in 100 ns units.
constexpr std::int64_t kUnixEpochAsFileTime = 116444736000000000;
constexpr std::int64_t kFileTimeUnitsPerMilli = 10000;

}  // namespace

std::string FormatEventLine(std::string_view name, std::int64_t unixMillis, std::uint32_t httpStatus,
                            std::string_view tlsFailure) {
    std::string line = "{\"event\":\"";
    line.append(name);
    line.append("\",\"platform\":\"windows\",\"timestamp\":");
    line.append(std::to_string(unixMillis));
    if (httpStatus != 0) line.append(",\"httpStatus\":").append(std::to_string(httpStatus));
    if (!tlsFailure.empty()) line.append(",\"tlsFailure\":\"").append(tlsFailure).append("\"");
    line.append("}\n");
    return line;
}

std::int64_t FileTimeToUnixMillis(std::int64_t fileTime) {
    return (fileTime - kUnixEpochAsFileTime) / kFileTimeUnitsPerMilli;
}

}  // namespace tavro
