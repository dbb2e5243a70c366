#include "launch/launch_handshake.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <cwctype>
#include <exception>

#include "cache/payload_cache.h"
#include "json/json.h"
#include "launch/launch_receipt.h"
#include "platform/errors.h"
#include "platform/file_system.h"
#include "platform/text.h"
#include "platform/win_handles.h"
#include "shared/event_log.h"
#include "shared/localized_strings.h"
#include "shared/status_sink.h"
#include "verify/app_version.h"
#include "verify/publisher_signature.h"
#include "verify/running_processes.h"

namespace tavro::launch {

namespace {

constexpr wchar_t kSessionSwitch[] = L"--tavro-installer-session=";
constexpr int kPolls = 25;
constexpr DWORD kPollInterval = 200;
constexpr std::int64_t kRequestLifetimeMs = 600000;
// A receipt is a few hundred bytes; anything longer than this is no answer of the application.
constexpr std::size_t kMaxReceiptBytes = 65536;

std::wstring NewLaunchId() {
    GUID guid{};
    if (FAILED(CoCreateGuid(&guid))) Fail("Cannot create launch session");
    wchar_t text[40] = {};
    if (StringFromGUID2(guid, text, 40) != 39) Fail("Cannot create launch session");
    std::wstring id(text + 1, 36);  // without the braces
    for (wchar_t& c : id) c = static_cast<wchar_t>(std::towlower(c));
    return id;
}

std::wstring ReceiptFolder() {
    const std::wstring folder = JoinPath(cache::OpenPayloadCache(), L"receipts");
    CreateDirectories(folder);
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        Fail("Unsafe receipt directory");
    }
    return folder;
}

void WriteRequest(const std::wstring& path, const std::wstring& id) {
    json::JsonObject request;
    request.SetNamedValue(L"sessionId", json::JsonValue::CreateStringValue(id));
    request.SetNamedValue(L"expiresAt",
                          json::JsonValue::CreateNumberValue(static_cast<double>(CurrentUnixMillis() + kRequestLifetimeMs)));
    if (!WriteFileBytes(path, WideToUtf8(request.Stringify()))) Fail("Cannot create launch request");
}

// Starts the copy; with an id, it is told where to answer the request.
void Start(const std::wstring& executable, const std::wstring& id) {
    const std::wstring parameters = id.empty() ? L"" : kSessionSwitch + id;
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.hwnd = StatusOwner();
    info.lpFile = executable.c_str();
    info.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&info)) Fail("Installed, but could not start Tavro");
    // The installer never waits on the application.
    const UniqueKernelHandle process(info.hProcess);
}

}  // namespace

bool ReceiptConfirmsLaunch(const std::wstring& receipt, const std::wstring& id, const std::wstring& executable) {
    try {
        std::string bytes;
        if (!ReadFileBytes(receipt, bytes, kMaxReceiptBytes)) return false;
        return ReceiptTextConfirmsLaunch(bytes, id, executable, verify::ReadApplicationVersion(executable));
    } catch (const std::exception&) {
        return false;  // unreadable, or the executable has no version to compare
    }
}

bool LaunchWithHandshake(const std::wstring& executable) {
    verify::VerifyPublisherSignature(executable);
    std::wstring id = NewLaunchId();
    std::wstring requestPath;
    std::wstring receiptPath;
    try {
        const std::wstring folder = ReceiptFolder();
        requestPath = JoinPath(folder, id + L".request.json");
        receiptPath = JoinPath(folder, id + L".receipt.json");
        WriteRequest(requestPath, id);
    } catch (const std::exception&) {
        // No usable cache to leave a request in (a junction, no rights, a full disk): the
        // user still gets the installed copy, started plainly and confirmed as a process.
        id.clear();
        RemoveFile(requestPath);
        receiptPath.clear();
    }
    Start(executable, id);
    PostStatusUpdate(LookupText(L"desktop_installer_opening"), L"", -1);

    bool confirmed = false;
    for (int poll = 0; poll < kPolls && !confirmed; ++poll) {
        // Not found only means that the receipt is not there yet.
        if (!id.empty() && QueryFileKind(receiptPath) == FileKind::Regular &&
            ReceiptConfirmsLaunch(receiptPath, id, executable)) {
            confirmed = true;
            break;
        }
        Sleep(kPollInterval);
        // A running process counts only once it has outlived a poll interval: right after
        // the start every launched process is "running", even one that is about to fail.
        confirmed = verify::IsProcessRunningFromPath(executable);
    }
    if (!id.empty()) {
        RemoveFile(requestPath);
        RemoveFile(receiptPath);
    }
    WriteEvent(confirmed ? "app_launch_confirmed" : "app_launch_unconfirmed");
    PostStatusUpdate(LookupText(L"desktop_installer_installed"), L"", -1);
    return confirmed;
}

}  // namespace tavro::launch
