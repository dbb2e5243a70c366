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
};

// Splits journal bytes into lines, each of which must be one whole event in the journal's
// exact format and end in CR LF; a torn line, a bare line feed or an unterminated tail
// becomes a "<malformed>" entry, so a comparison of event lists catches it.
std::vector<JournalLine> ParseJournal(std::string_view bytes);

// The event names of ParseJournal, in order.
std::vector<std::string> JournalEvents(std::string_view bytes);

}  // namespace tavro::testing
