#pragma once

#include <string>
#include <vector>

namespace tavro::testing {

// Reads a whole file as bytes, whatever else has it open; throws when it cannot be opened.
std::string ReadFileBytes(const std::wstring& path);

// The same, but "" when the file does not exist (or cannot be opened).
std::string ReadFileIfPresent(const std::wstring& path);

// Creates or replaces a file with the given bytes; throws on failure.
void WriteFileBytes(const std::wstring& path, const std::string& bytes);

// Whether anything exists at the path.
bool Exists(const std::wstring& path);

// The event names of the journal <cacheDirectory>\events.jsonl (see journal.h); none when
// there is no journal.
std::vector<std::string> ReadJournal(const std::wstring& cacheDirectory);

}  // namespace tavro::testing
