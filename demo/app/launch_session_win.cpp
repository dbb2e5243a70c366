#include "launch_session_win.h"

#include <windows.h>

#include <nlohmann/json.hpp>

#include "atomic_file_win.h"
#include "demo_errors_win.h"
#include "demo_handles_win.h"
#include "demo_paths_win.h"
#include "wide_text_win.h"

namespace tavro::demo {

namespace {

// A request is a few dozen bytes; anything this large is not one.
constexpr DWORD kMaxRequestBytes = 64 * 1024;

// The identifier that the wrong-id receipt carries instead of the real one.
constexpr std::wstring_view kForeignId = L"00000000-0000-0000-0000-000000000000";
constexpr std::wstring_view kOtherForeignId = L"00000000-0000-0000-0000-000000000001";

std::optional<std::string> ReadSmallFile(const std::wstring& path) {
    const UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return std::nullopt;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart > kMaxRequestBytes) return std::nullopt;
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    DWORD total = 0;
    while (total < bytes.size()) {
        DWORD read = 0;
        if (!ReadFile(file.get(), bytes.data() + total, static_cast<DWORD>(bytes.size()) - total, &read, nullptr))
            return std::nullopt;
        if (read == 0) break;
        total += read;
    }
    bytes.resize(total);
    return bytes;
}

}  // namespace

std::optional<AppMode> ParseAppMode(std::wstring_view name) {
    if (name.empty() || name == L"normal") return AppMode::kNormal;
    if (name == L"exit-at-once") return AppMode::kExitAtOnce;
    if (name == L"no-receipt") return AppMode::kNoReceipt;
    if (name == L"wrong-stage") return AppMode::kWrongStage;
    if (name == L"wrong-version") return AppMode::kWrongVersion;
    if (name == L"wrong-id") return AppMode::kWrongId;
    return std::nullopt;
}

const char* AppModeName(AppMode mode) {
    switch (mode) {
        case AppMode::kNormal: return "normal";
        case AppMode::kExitAtOnce: return "exit-at-once";
        case AppMode::kNoReceipt: return "no-receipt";
        case AppMode::kWrongStage: return "wrong-stage";
        case AppMode::kWrongVersion: return "wrong-version";
        case AppMode::kWrongId: return "wrong-id";
    }
    return "unknown";
}

bool IsUsableSessionId(std::wstring_view id) {
    if (id.empty() || id.size() > 64) return false;
    for (const wchar_t c : id) {
        const bool ok = (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || c == L'-';
        if (!ok) return false;
    }
    return true;
}

std::int64_t NowUnixMilliseconds() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const std::int64_t ticks = (static_cast<std::int64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    // FILETIME counts 100 ns steps from 1601; 11644473600 s separate the two epochs.
    return (ticks - 116444736000000000LL) / 10000;
}

std::string CheckLaunchRequest(const std::wstring& folder, const std::wstring& id, std::int64_t nowMs) {
    const std::wstring path = JoinPath(folder, id + L".request.json");
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return "request-missing";
    const std::optional<std::string> text = ReadSmallFile(path);
    if (!text) return "request-unreadable";
    const nlohmann::json request = nlohmann::json::parse(*text, nullptr, /*allow_exceptions=*/false);
    if (!request.is_object()) return "request-not-json-object";
    const auto sessionId = request.find("sessionId");
    if (sessionId == request.end() || !sessionId->is_string() ||
        sessionId->get_ref<const std::string&>() != ToUtf8(id)) {
        return "request-session-mismatch";
    }
    const auto expiresAt = request.find("expiresAt");
    if (expiresAt == request.end() || !expiresAt->is_number()) return "request-without-expiry";
    if (expiresAt->get<double>() <= static_cast<double>(nowMs)) return "request-expired";
    return {};
}

std::string BuildLaunchReceipt(const std::wstring& id, const std::wstring& executable,
                               const std::wstring& version, AppMode mode) {
    std::wstring sessionId = id;
    if (mode == AppMode::kWrongId) sessionId = id == kForeignId ? kOtherForeignId : kForeignId;
    nlohmann::ordered_json receipt;
    receipt["sessionId"] = ToUtf8(sessionId);
    receipt["stage"] = mode == AppMode::kWrongStage ? "starting" : "main-window-created";
    receipt["executable"] = ToUtf8(executable);
    std::string appVersion = ToUtf8(version);
    if (mode == AppMode::kWrongVersion) appVersion = appVersion == "0.0.1" ? "0.0.2" : "0.0.1";
    receipt["appVersion"] = appVersion;
    return receipt.dump();
}

void WriteLaunchReceipt(const std::wstring& folder, const std::wstring& id, std::string_view receipt) {
    const std::wstring receiptPath = JoinPath(folder, id + L".receipt.json");
    WriteFileAtomically(receiptPath, receipt);
    // The installer removes the request before the receipt when it stops waiting. A request
    // gone by now means the receipt arrived after that, and nobody will ever read or remove it.
    const std::wstring requestPath = JoinPath(folder, id + L".request.json");
    if (GetFileAttributesW(requestPath.c_str()) == INVALID_FILE_ATTRIBUTES) DeleteFileW(receiptPath.c_str());
}

}  // namespace tavro::demo
