#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

namespace tavro::net {

// The largest channel feed fetched in memory mode.
inline constexpr std::uint64_t kFeedSizeLimit = 131072;

// One HTTPS GET, following up to five redirects itself so that every hop passes the
// download URL check. Memory mode (file == nullptr): returns the body, which may not
// exceed expectedSize bytes. File mode: resumes the partial file with a range request
// guarded by `validator` (the entity tag kept for it), leaves the complete body of
// exactly expectedSize bytes in the file, stores the response's entity tag in
// *validatorOut and returns an empty string. Posts download progress to the main
// window (file mode only) and stops at the next chunk once cancellation is requested.
// File mode calls `onValidator` with the entity tag once the response head has been
// accepted and the file matches it, before any of the body is written.
// Throws a runtime error with one of the download's messages.
std::string FetchUrl(std::wstring url, HANDLE file, std::uint64_t expectedSize, std::wstring validator,
                     std::wstring* validatorOut,
                     const std::function<void(const std::wstring&)>& onValidator = nullptr);

// The value of one response header, empty when the response has none; throws
// "Cannot read HTTP headers" when a header whose size was reported cannot be read.
std::wstring ReadResponseHeader(void* request, DWORD header);

}  // namespace tavro::net
