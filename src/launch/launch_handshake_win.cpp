#include "launch/launch_handshake.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <cwctype>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "cache/payload_cache.h"
#include "core/event_log.h"
#include "json/json.h"
#include "launch/launch_receipt.h"
#include "platform/errors.h"
#include "platform/text.h"
#include "platform/win_handles.h"
#include "ui/localized_strings.h"
#include "ui/status_update.h"
#include "verify/app_version.h"
#include "verify/publisher_signature.h"
#include "verify/running_processes.h"

namespace tavro::launch {

namespace {

namespace fs = std::filesystem;

constexpr wchar_t kSessionSwitch[] = L"--tavro-installer-session=";
constexpr int kPolls = 25;
constexpr DWORD kPollInterval = 200;
constexpr std::int64_t kRequestLifetimeMs = 600000;

std::wstring NewLaunchId() {
    GUID guid{};
    if (FAILED(CoCreateGuid(&guid))) Fail("Cannot create launch session");
    wchar_t text[40] = {};
    if (StringFromGUID2(guid, text, 40) != 39) Fail("Cannot create launch session");
    std::wstring id(text + 1, 36);  // without the braces
    for (wchar_t& c : id) c = static_cast<wchar_t>(std::towlower(c));
    return id;
}

fs::path ReceiptFolder() {
    const fs::path folder = fs::path(cache::OpenPayloadCache()) / L"receipts";
    // With an error code, so the failure names the operation rather than the library's wording.
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) throw fs::filesystem_error("create_directories", folder, error);
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        Fail("Unsafe receipt directory");
    }
    return folder;
}

void WriteRequest(const fs::path& path, const std::wstring& id) {
    json::JsonObject request;
    request.SetNamedValue(L"sessionId", json::JsonValue::CreateStringValue(id));
    request.SetNamedValue(L"expiresAt",
                          json::JsonValue::CreateNumberValue(static_cast<double>(CurrentUnixMillis() + kRequestLifetimeMs)));
    const std::string text = WideToUtf8(request.Stringify());
    std::ofstream file(path, std::ios::out | std::ios::binary | std::ios::trunc);
    file.write(text.data(), static_cast<std::streamsize>(text.size()));
    file.close();
    if (!file) Fail("Cannot create launch request");
}

void Start(const std::wstring& executable, const std::wstring& id) {
    const std::wstring parameters = kSessionSwitch + id;
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.hwnd = ui::MainWindow();
    info.lpFile = executable.c_str();
    info.lpParameters = parameters.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&info)) Fail("Installed, but could not start Tavro");
    // The installer never waits on the application.
    const UniqueKernelHandle process(info.hProcess);
}

}  // namespace

bool ReceiptConfirmsLaunch(const std::wstring& receipt, const std::wstring& id, const std::wstring& executable) {
    try {
        std::ifstream file(fs::path(receipt), std::ios::in | std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        if (!file && !file.eof()) return false;
        return ReceiptTextConfirmsLaunch(bytes, id, executable, verify::ReadApplicationVersion(executable));
    } catch (const std::exception&) {
        return false;  // unreadable, or the executable has no version to compare
    }
}

bool LaunchWithHandshake(const std::wstring& executable) {
    verify::VerifyPublisherSignature(executable);
    const std::wstring id = NewLaunchId();
    const fs::path folder = ReceiptFolder();
    const fs::path requestPath = folder / (id + L".request.json");
    const fs::path receiptPath = folder / (id + L".receipt.json");

    WriteRequest(requestPath, id);
    Start(executable, id);
    ui::PostStatusUpdate(ui::LookupText(L"desktop_installer_opening"), L"", -1);

    bool confirmed = false;
    for (int poll = 0; poll < kPolls && !confirmed; ++poll) {
        std::error_code error;
        const fs::file_status status = fs::status(receiptPath, error);
        // A not-found error only means the receipt is not there yet.
        if (error && status.type() != fs::file_type::not_found) throw fs::filesystem_error("status", receiptPath, error);
        if (fs::is_regular_file(status) && ReceiptConfirmsLaunch(receiptPath.wstring(), id, executable)) {
            confirmed = true;
            break;
        }
        Sleep(kPollInterval);
        // A running process counts only once it has outlived a poll interval: right after
        // the start every launched process is "running", even one that is about to fail.
        confirmed = verify::IsProcessRunningFromPath(executable);
    }
    std::error_code ignored;
    fs::remove(requestPath, ignored);
    fs::remove(receiptPath, ignored);
    WriteEvent(confirmed ? "app_launch_confirmed" : "app_launch_unconfirmed");
    ui::PostStatusUpdate(ui::LookupText(L"desktop_installer_installed"), L"", -1);
    return confirmed;
}

}  // namespace tavro::launch
