#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tavro::testing {

// One line of the event journal "events.jsonl".
struct JournalLine {
    std::string event;  // "<malformed>" for a line of any other shape
    std::int64_t timestamp = 0;
    std::uint32_t httpStatus = 0;  // the server's status that a failure kept; 0 none
    std::string tlsFailure{};      // the certificate checks that a failure kept; empty none
};

// Splits journal bytes into lines, each of which must be one whole event in the journal's
// exact format and end in CR LF; a torn line, a bare line feed or an unterminated tail
// becomes a "<malformed>" entry, so a comparison of event lists catches it.
std::vector<JournalLine> ParseJournal(std::string_view bytes);

// The event names of ParseJournal, in order; an event that kept an HTTP status or failed
// certificate checks is followed by a space and each ("installer_failed 404",
// "installer_failed unknown_authority").
std::vector<std::string> JournalEvents(std::string_view bytes);

}  // namespace tavro::testing
