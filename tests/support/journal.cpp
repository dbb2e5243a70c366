#include "support/journal.h"

#include <cstdlib>

namespace tavro::testing {

namespace {

constexpr std::string_view kPrefix = "{\"event\":\"";
constexpr std::string_view kMiddle = "\",\"platform\":\"windows\",\"timestamp\":";
constexpr std::string_view kStatus = ",\"httpStatus\":";
constexpr std::string_view kTls = ",\"tlsFailure\":\"";

// Check names joined by "+".
bool IsCheckList(std::string_view text) {
    return !text.empty() && text.find_first_not_of("abcdefghijklmnopqrstuvwxyz_+") == std::string_view::npos;
}

// Digits only, no leading zero, at most `longest` of them.
bool IsNumber(std::string_view text, std::size_t longest) {
    if (text.empty() || text.size() > longest || text.front() == '0') return false;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

// One line without its CR LF; false when it is not exactly an event line.
bool ParseLine(std::string_view line, JournalLine& parsed) {
    if (line.substr(0, kPrefix.size()) != kPrefix) return false;
    line.remove_prefix(kPrefix.size());
    const std::size_t nameEnd = line.find('"');
    if (nameEnd == 0 || nameEnd == std::string_view::npos) return false;
    for (const char c : line.substr(0, nameEnd)) {
        if (!(c >= 'a' && c <= 'z') && c != '_') return false;
    }
    parsed.event = std::string(line.substr(0, nameEnd));
    line.remove_prefix(nameEnd);
    if (line.substr(0, kMiddle.size()) != kMiddle) return false;
    line.remove_prefix(kMiddle.size());
    if (line.empty() || line.back() != '}') return false;
    line.remove_suffix(1);
    const std::size_t tls = line.find(kTls);
    if (tls != std::string_view::npos) {
        std::string_view checks = line.substr(tls + kTls.size());
        if (checks.empty() || checks.back() != '"') return false;
        checks.remove_suffix(1);
        if (!IsCheckList(checks)) return false;
        parsed.tlsFailure = std::string(checks);
        line = line.substr(0, tls);
    }
    const std::size_t status = line.find(kStatus);
    if (status != std::string_view::npos) {
        const std::string_view digits = line.substr(status + kStatus.size());
        if (!IsNumber(digits, 3)) return false;
        parsed.httpStatus = static_cast<std::uint32_t>(std::strtoul(std::string(digits).c_str(), nullptr, 10));
        line = line.substr(0, status);
    }
    if (!IsNumber(line, 19)) return false;
    parsed.timestamp = std::strtoll(std::string(line).c_str(), nullptr, 10);
    return true;
}

}  // namespace

std::vector<JournalLine> ParseJournal(std::string_view bytes) {
    std::vector<JournalLine> lines;
    while (!bytes.empty()) {
        const std::size_t end = bytes.find("\r\n");
        JournalLine line;
        if (end == std::string_view::npos || !ParseLine(bytes.substr(0, end), line)) line = {"<malformed>", 0};
        lines.push_back(std::move(line));
        bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 2);
    }
    return lines;
}

std::vector<std::string> JournalEvents(std::string_view bytes) {
    std::vector<std::string> events;
    for (JournalLine& line : ParseJournal(bytes)) {
        events.push_back(std::move(line.event));
        if (line.httpStatus != 0) events.back() += " " + std::to_string(line.httpStatus);
        if (!line.tlsFailure.empty()) events.back() += " " + line.tlsFailure;
    }
    return events;
}

}  // namespace tavro::testing
