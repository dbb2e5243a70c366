#include "verify/running_processes.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/text.h"
#include "platform/win_handles.h"
#include "scratch_folder.h"
#include "verify_wine_fixtures.h"

// Real processes of the Wine prefix: copies of the demo application are started from a
// scratch folder under names of the test's choosing, and stopped again by their handles.

namespace tavro::verify {
namespace {

using testing::BackslashPath;
using testing::ScratchFolder;

// The test's environment without the demo application's switches, plus a lifetime after
// which a copy closes itself even if this process dies before it can stop it.
std::vector<wchar_t> DemoEnvironment() {
    std::vector<wchar_t> block;
    const LPWCH strings = GetEnvironmentStringsW();
    if (strings == nullptr) throw std::runtime_error("no environment");
    for (const wchar_t* entry = strings; *entry != L'\0'; entry += wcslen(entry) + 1) {
        if (_wcsnicmp(entry, L"TAVRO_DEMO_", 11) == 0) continue;
        block.insert(block.end(), entry, entry + wcslen(entry) + 1);
    }
    FreeEnvironmentStringsW(strings);
    const std::wstring lifetime = L"TAVRO_DEMO_APP_LIFETIME_MS=60000";
    block.insert(block.end(), lifetime.c_str(), lifetime.c_str() + lifetime.size() + 1);
    block.push_back(L'\0');
    return block;
}

// A started copy of the demo application; terminated and waited for when it goes.
class RunningCopy {
public:
    explicit RunningCopy(const std::wstring& executable) {
        std::vector<wchar_t> environment = DemoEnvironment();
        std::wstring commandLine = L"\"" + executable + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        if (!CreateProcessW(executable.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                            environment.data(), nullptr, &startup, &info)) {
            throw std::runtime_error("cannot start " + WideToUtf8(executable));
        }
        process_.reset(info.hProcess);
        const UniqueKernelHandle thread(info.hThread);
        // The copy is up once its window waits for input.
        WaitForInputIdle(process_.get(), 30000);
    }
    ~RunningCopy() { Stop(); }
    RunningCopy(const RunningCopy&) = delete;
    RunningCopy& operator=(const RunningCopy&) = delete;

    bool IsRunning() const { return process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT; }

    // Why a copy that should run does not, for the failure message.
    std::string Explanation() const {
        DWORD code = 0;
        if (!process_ || !GetExitCodeProcess(process_.get(), &code)) return "no process";
        return "exited with code " + std::to_string(code) +
               "; the demo application needs a display (run the tests under xvfb-run -a)";
    }

    // Terminates the copy, waits until it has gone and lets go of its handle.
    void Stop() noexcept {
        if (!process_) return;
        TerminateProcess(process_.get(), 1);
        WaitForSingleObject(process_.get(), 30000);
        process_.reset();
    }

private:
    UniqueKernelHandle process_;
};

std::wstring Replace(std::wstring text, const std::wstring& from, const std::wstring& to) {
    for (std::size_t at = text.find(from); at != std::wstring::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) {
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    }
    return text;
}

std::wstring OwnImage() {
    std::vector<wchar_t> path(32768);
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    return std::wstring(path.data(), length);
}

TEST(RunningProcesses, FindTheStartedCopyByNameAndByPath) {
    const ScratchFolder scratch(L"process");
    const std::wstring root = scratch.Path();
    const std::wstring image = scratch.CopyInto(BackslashPath(kSignedApp), L"run\\TAVRO.EXE");
    const std::wstring idle = scratch.CopyInto(BackslashPath(kSignedApp), L"idle\\TAVRO.EXE");
    // A name no other process of the prefix can have, to watch the name check go false.
    const std::wstring probeName = L"TavroProbe" + std::to_wstring(GetCurrentProcessId()) + L".exe";
    const std::wstring probe = scratch.CopyInto(BackslashPath(kSignedApp), L"run\\" + probeName);
    const std::size_t drive = root.find(L":\\");
    ASSERT_NE(drive, std::wstring::npos) << WideToUtf8(root);

    struct Form {
        const char* name;
        std::wstring path;
        bool matches;
    };
    const Form forms[] = {
        {"as started", image, true},
        {"lower case", Lower(image), true},
        {"forward slashes", Replace(image, L"\\", L"/"), true},
        {"doubled separators", Replace(image, L"\\", L"\\\\"), true},
        {"doubled forward slashes", Replace(image, L"\\", L"//"), true},
        {"dot segment", root + L"\\run\\.\\TAVRO.EXE", true},
        {"dot-dot segment", root + L"\\idle\\..\\run\\TAVRO.EXE", true},
        {"dot-dot with forward slashes", Replace(root, L"\\", L"/") + L"/idle/../run/TAVRO.EXE", true},
        {"dot-dot right after the root", image.substr(0, drive + 2) + L"..\\" + image.substr(drive + 2), true},
        {"same name in another folder", idle, false},
        {"same name in the parent folder", root + L"\\TAVRO.EXE", false},
        {"dot-dot leading to the parent folder", root + L"\\run\\..\\TAVRO.EXE", false},
        {"the folder it runs from", root + L"\\run", false},
        {"file name only", L"TAVRO.EXE", false},
        {"shorter file name", root + L"\\run\\TAVRO.EX", false},
    };

    const bool someTavroBefore = IsProcessNameRunning(L"Tavro.exe");
    {
        RunningCopy app(image);
        RunningCopy probeApp(probe);
        ASSERT_TRUE(app.IsRunning()) << app.Explanation();
        ASSERT_TRUE(probeApp.IsRunning()) << probeApp.Explanation();

        EXPECT_TRUE(IsProcessNameRunning(L"Tavro.exe"));
        EXPECT_TRUE(IsProcessNameRunning(L"tavro.EXE"));
        EXPECT_TRUE(IsProcessNameRunning(Lower(probeName)));
        EXPECT_FALSE(IsProcessNameRunning(L"Tavro"));
        for (const Form& form : forms) {
            EXPECT_EQ(IsProcessRunningFromPath(form.path), form.matches) << form.name << ": " << WideToUtf8(form.path);
        }
        EXPECT_TRUE(IsProcessRunningFromPath(root + L"\\run\\" + probeName));

        app.Stop();
        probeApp.Stop();
        for (const Form& form : forms) {
            EXPECT_FALSE(IsProcessRunningFromPath(form.path)) << "after the stop, " << form.name;
        }
        EXPECT_FALSE(IsProcessRunningFromPath(root + L"\\run\\" + probeName));
        EXPECT_FALSE(IsProcessNameRunning(probeName));
        // Another test of the prefix may run its own Tavro.exe; only then can this stay true.
        if (!someTavroBefore) {
            EXPECT_FALSE(IsProcessNameRunning(L"Tavro.exe"));
        }
    }
}

// A setup started from the cache through another path (a short name, a link in front) is
// the same file: found by what the file is, whatever path names it, and never a copy.
TEST(RunningProcesses, KnowTheRunningFileWhateverPathNamesIt) {
    const ScratchFolder scratch(L"identity");
    const std::wstring image = scratch.CopyInto(BackslashPath(kSignedApp), L"a long folder name\\Tavro setup.exe");
    const std::wstring copy = scratch.CopyInto(BackslashPath(kSignedApp), L"another folder\\Tavro setup.exe");
    std::wstring shortName(MAX_PATH, L'\0');
    shortName.resize(GetShortPathNameW(image.c_str(), shortName.data(), MAX_PATH));
    ASSERT_FALSE(shortName.empty());
    ASSERT_NE(shortName, image);
    const std::wstring hardLink = scratch.Path() + L"\\hard link.exe";
    ASSERT_TRUE(CreateHardLinkW(hardLink.c_str(), image.c_str(), nullptr));
    const struct {
        const char* name;
        std::wstring path;
        bool found;
    } forms[] = {
        {"its long name", image, true},
        {"its short name", shortName, true},
        {"a hard link to it", hardLink, true},
        {"a copy of it", copy, false},
        {"its folder", image.substr(0, image.find_last_of(L'\\')), false},
        {"a missing file", scratch.Path() + L"\\missing.exe", false},
    };

    RunningCopy app(shortName);  // its image path then names the short form, not the one searched for
    ASSERT_TRUE(app.IsRunning()) << app.Explanation();
    for (const auto& form : forms) {
        EXPECT_EQ(static_cast<bool>(OpenProcessRunningFile(form.path)), form.found) << form.name;
    }
    // A running program keeps writers out of its file; a copy beside it is free.
    EXPECT_TRUE(IsFileHeldAgainstWriters(image));
    EXPECT_FALSE(IsFileHeldAgainstWriters(copy));
    // What waiting for a process that another program started needs: the handle sees the
    // end, and reads the exit code after it.
    const UniqueKernelHandle waitable = OpenProcessRunningFile(image);
    ASSERT_TRUE(waitable);
    EXPECT_EQ(WaitForSingleObject(waitable.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));

    app.Stop();
    EXPECT_EQ(WaitForSingleObject(waitable.get(), 0), static_cast<DWORD>(WAIT_OBJECT_0));
    DWORD exitCode = 0;
    EXPECT_TRUE(GetExitCodeProcess(waitable.get(), &exitCode));
    EXPECT_EQ(exitCode, 1u);  // as Stop ended it
    EXPECT_FALSE(IsFileHeldAgainstWriters(image));
    for (const auto& form : forms) EXPECT_FALSE(OpenProcessRunningFile(form.path)) << "after the stop, " << form.name;
}

TEST(RunningProcesses, NamesAndPathsNobodyRuns) {
    EXPECT_FALSE(IsProcessNameRunning(L"tavro-nobody-runs-this-" + std::to_wstring(GetTickCount64()) + L".exe"));
    EXPECT_FALSE(IsProcessNameRunning(L""));
    EXPECT_FALSE(IsProcessRunningFromPath(L""));
    EXPECT_FALSE(IsProcessRunningFromPath(L"C:\\tavro-nobody-runs-this\\Tavro.exe"));
}

TEST(RunningProcesses, FindThisTestProgramItself) {
    const std::wstring own = OwnImage();
    ASSERT_FALSE(own.empty());
    const std::size_t slash = own.find_last_of(L'\\');
    ASSERT_NE(slash, std::wstring::npos);
    EXPECT_TRUE(IsProcessNameRunning(own.substr(slash + 1)));
    EXPECT_TRUE(IsProcessRunningFromPath(own));
    EXPECT_TRUE(IsProcessRunningFromPath(Replace(own, L"\\", L"/")));
}

}  // namespace
}  // namespace tavro::verify
