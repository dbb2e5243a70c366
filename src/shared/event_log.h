#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tavro {

// Names the folder that holds the journal: the function is asked on every write (it may
// create the folder, and it may throw). The entry point names the payload cache before the
// first event; until a folder is named, events are lost.
void SetJournalFolder(std::wstring (*folder)());

// Appends one event line to "events.jsonl" in the journal's folder, with the server's HTTP
// status when one decided a failure (0: none) and the certificate checks a server failed
// (empty: none). Best effort: never throws, and any failure (no cache, a reparse point, a
// locked or unwritable file) silently loses the event.
void WriteEvent(const char* name, std::uint32_t httpStatus = 0, std::string_view tlsFailure = {}) noexcept;

// The current system time as whole milliseconds since 1970-01-01 UTC.
std::int64_t CurrentUnixMillis();

}  // namespace tavro
