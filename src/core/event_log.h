#pragma once

#include <cstdint>

namespace tavro {

// Appends one event line to "events.jsonl" in the payload cache. Best effort: never
// throws, and any failure (no cache, a reparse point, a locked or unwritable file)
// silently loses the event.
void WriteEvent(const char* name) noexcept;

// The current system time as whole milliseconds since 1970-01-01 UTC.
std::int64_t CurrentUnixMillis();

}  // namespace tavro
