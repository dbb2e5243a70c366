// Tavro-Setup-<version>.exe of the demo product: installs Tavro.exe for the current
// user without asking anything (the installer runs it without parameters), or with
// "/uninstall" removes it again. The test harness steers it through
// TAVRO_DEMO_SETUP_EXIT, TAVRO_DEMO_SETUP_PAYLOAD, TAVRO_DEMO_SETUP_DELAY_MS and
// TAVRO_DEMO_SETUP_LOG.
#include <windows.h>
#include <shellapi.h>

#include <nlohmann/json.hpp>

#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "demo_handles_win.h"
#include "demo_paths_win.h"
#include "harness_win.h"
#include "module_version_win.h"
#include "product_install_win.h"
#include "wide_text_win.h"

namespace tavro::demo {
namespace {

// Exit codes besides the ones the harness asks for.
constexpr DWORD kSuccess = 0;
constexpr DWORD kRestartRequired = 3010;        // ERROR_SUCCESS_REBOOT_REQUIRED: installed
constexpr DWORD kInstallFailure = 1603;         // ERROR_INSTALL_FAILURE: nothing or part done
constexpr DWORD kBadArgument = ERROR_INVALID_PARAMETER;  // 87: unknown argument or switch value

std::vector<std::wstring> CommandLineArguments() {
    int count = 0;
    LPWSTR* raw = CommandLineToArgvW(GetCommandLineW(), &count);
    const UniqueLocalMemory owner(raw);
    std::vector<std::wstring> arguments;
    for (int i = 0; raw != nullptr && i < count; ++i) arguments.emplace_back(raw[i]);
    return arguments;
}

// The exit code asked for: from the file that TAVRO_DEMO_SETUP_EXIT_FILE names, so that a
// test can change it between two runs of one installer (whose environment stays the same;
// no file means a normal install), else from TAVRO_DEMO_SETUP_EXIT.
std::optional<std::wstring> ExitCodeText() {
    if (const std::optional<std::wstring> path = ReadHarnessSwitch(L"TAVRO_DEMO_SETUP_EXIT_FILE")) {
        std::ifstream file(path->c_str());
        std::string text;
        if (!file || !std::getline(file, text)) return std::nullopt;
        while (!text.empty() && (text.back() == '\r' || text.back() == ' ')) text.pop_back();
        return std::wstring(text.begin(), text.end());
    }
    return ReadHarnessSwitch(L"TAVRO_DEMO_SETUP_EXIT");
}

DWORD Run(nlohmann::ordered_json& log) {
    const std::vector<std::wstring> arguments = CommandLineArguments();
    nlohmann::ordered_json argv = nlohmann::ordered_json::array();
    for (const std::wstring& argument : arguments) argv.push_back(ToUtf8(argument));
    log["argv"] = std::move(argv);
    log["version"] = ToUtf8(ReadProductVersion(ModulePath()));

    if (arguments.size() == 2 && arguments[1] == L"/uninstall") {
        log["action"] = "uninstall";
        log["complete"] = UninstallProduct();
        return kSuccess;
    }
    if (arguments.size() > 1) {
        log["action"] = "none";
        log["error"] = "unknown argument";
        return kBadArgument;
    }

    const std::optional<std::wstring> exitText = ExitCodeText();
    const std::optional<std::uint32_t> exitCode = exitText ? ParseDecimal(*exitText, 0xFFFFFFFF) : kSuccess;
    const std::optional<std::wstring> payloadText = ReadHarnessSwitch(L"TAVRO_DEMO_SETUP_PAYLOAD");
    const std::optional<Payload> payload = ParsePayload(payloadText.value_or(L""));
    const std::optional<std::wstring> delayText = ReadHarnessSwitch(L"TAVRO_DEMO_SETUP_DELAY_MS");
    const std::optional<std::uint32_t> delay = delayText ? ParseDecimal(*delayText, 0x7FFFFFFF) : 0u;
    if (!exitCode || !payload || !delay) {
        log["action"] = "none";
        log["error"] = "unknown harness switch value";
        return kBadArgument;
    }
    // Only the two success codes install; any other code plays a setup that was
    // cancelled (1602) or failed (1) before it changed anything.
    if (*exitCode != kSuccess && *exitCode != kRestartRequired) {
        log["action"] = "none";
        return *exitCode;
    }
    // A setup that takes its time, so that a test can act while the installer waits for it.
    Sleep(*delay);
    log["action"] = "install";
    log["payload"] = PayloadName(*payload);
    log["folder"] = ToUtf8(InstallProduct(*payload));
    return *exitCode;
}

}  // namespace
}  // namespace tavro::demo

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    nlohmann::ordered_json log{{"program", "setup"}, {"pid", GetCurrentProcessId()}};
    DWORD code = tavro::demo::kInstallFailure;
    try {
        code = tavro::demo::Run(log);
    } catch (const std::exception& e) {
        log["error"] = e.what();
    }
    log["exitCode"] = code;
    // One line per run, written last so that it tells the outcome; replacing malformed
    // text keeps the dump from throwing.
    tavro::demo::AppendHarnessLog(L"TAVRO_DEMO_SETUP_LOG",
                                  log.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace));
    return static_cast<int>(code);
}
