#include "verify/installed_app.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/text.h"
#include "platform/unique_handle.h"
#include "platform/win_handles.h"
#include "scratch_folder.h"
#include "shared/installer_config.h"
#include "support/files.h"
#include "support/journal.h"
#include "support/local_app_data_override.h"
#include "verify_wine_fixtures.h"

// The search runs against the real registry of the Wine prefix: every case writes the
// uninstall records it needs under names of its own, in the places the search looks, and
// deletes them again. The candidates are copies of the demo product's files in a scratch
// folder, and the events land in a journal under a redirected LocalAppData.

namespace tavro::verify {
namespace {

using testing::BackslashPath;
using testing::ScratchFolder;

constexpr wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
// Every record these tests write has a name with this prefix and carries the marker
// value, so a record left by a crashed run can be told from anybody else's.
constexpr wchar_t kRecordPrefix[] = L"TavroVerifyTest-";
constexpr wchar_t kMarkerName[] = L"TavroVerifyTestMarker";
constexpr wchar_t kMarkerData[] = L"verify_wine_tests";

constexpr char kStale[] = "stale_install_record_ignored";
constexpr char kUnsafe[] = "unsafe_install_record_ignored";
using Events = std::vector<std::string>;

// One of the four places the search reads, in its order.
struct Place {
    const char* name;
    HKEY root;
    REGSAM view;
};
const Place kUser64{"HKCU 64-bit view", HKEY_CURRENT_USER, KEY_WOW64_64KEY};
const Place kUser32{"HKCU 32-bit view", HKEY_CURRENT_USER, KEY_WOW64_32KEY};
const Place kMachine64{"HKLM 64-bit view", HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY};
const Place kMachine32{"HKLM 32-bit view", HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY};
const Place* const kPlaces[] = {&kUser64, &kUser32, &kMachine64, &kMachine32};

// A registry value as stored: its type and raw bytes.
struct RegValue {
    std::wstring name;
    DWORD type;
    std::string bytes;
};

std::string Utf16Bytes(const std::wstring& text, bool withNul = true) {
    return std::string(reinterpret_cast<const char*>(text.c_str()), (text.size() + (withNul ? 1 : 0)) * sizeof(wchar_t));
}

RegValue Text(std::wstring name, const std::wstring& text, DWORD type = REG_SZ) {
    return {std::move(name), type, Utf16Bytes(text)};
}

RegValue DisplayName(const std::wstring& text) {
    return Text(L"DisplayName", text);
}

RegValue InstallLocation(const std::wstring& text) {
    return Text(L"InstallLocation", text);
}

RegValue DisplayIcon(const std::wstring& text) {
    return Text(L"DisplayIcon", text);
}

RegValue UninstallString(const std::wstring& text) {
    return Text(L"UninstallString", text);
}

// One uninstall record: where it goes and what it holds.
struct Record {
    const Place* place;
    std::vector<RegValue> values;
};

std::wstring RecordPath(const std::wstring& name) {
    return std::wstring(kUninstallKey) + L"\\" + name;
}

// The REG_SZ value's text, or empty.
std::wstring ReadText(HKEY key, const wchar_t* name) {
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ) return {};
    std::vector<wchar_t> data(size / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS) {
        return {};
    }
    return data.data();
}

// The subkey names of one place's uninstall key, each with its DisplayName and marker.
struct ExistingRecord {
    std::wstring name;
    std::wstring displayName;
    bool marked;
};

std::vector<ExistingRecord> ListRecords(const Place& place) {
    std::vector<ExistingRecord> records;
    HKEY opened = nullptr;
    if (RegOpenKeyExW(place.root, kUninstallKey, 0, KEY_READ | place.view, &opened) != ERROR_SUCCESS) return records;
    const UniqueRegistryKey uninstall(opened);
    for (DWORD index = 0;; ++index) {
        wchar_t name[256] = {};
        DWORD length = 256;
        if (RegEnumKeyExW(uninstall.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        HKEY subkey = nullptr;
        if (RegOpenKeyExW(uninstall.get(), name, 0, KEY_READ | place.view, &subkey) != ERROR_SUCCESS) continue;
        const UniqueRegistryKey entry(subkey);
        records.push_back({name, ReadText(entry.get(), L"DisplayName"), ReadText(entry.get(), kMarkerName) == kMarkerData});
    }
    return records;
}

// Deletes the records a crashed earlier run of these tests left behind, and no others.
void RemoveLeftoverRecords() {
    for (const Place* place : kPlaces) {
        for (const ExistingRecord& record : ListRecords(*place)) {
            if (record.marked && record.name.rfind(kRecordPrefix, 0) == 0) {
                RegDeleteKeyExW(place->root, RecordPath(record.name).c_str(), place->view, 0);
            }
        }
    }
}

// Records that someone else wrote for an application named like this one; any of them
// would take part in every search below.
std::vector<std::string> ForeignApplicationRecords() {
    std::vector<std::string> foreign;
    for (const Place* place : kPlaces) {
        for (const ExistingRecord& record : ListRecords(*place)) {
            if (!record.marked && record.displayName.rfind(L"Tavro", 0) == 0) {
                foreign.push_back(std::string(place->name) + ": " + WideToUtf8(record.name));
            }
        }
    }
    return foreign;
}

// Writes uninstall records and deletes them when it goes, also when the test fails.
class UninstallRecords {
public:
    UninstallRecords() = default;
    explicit UninstallRecords(const std::vector<Record>& records) {
        try {
            for (const Record& record : records) Add(*record.place, record.values);
        } catch (...) {
            DeleteAll();  // no destructor runs for an object that was never made
            throw;
        }
    }
    ~UninstallRecords() { DeleteAll(); }
    UninstallRecords(const UninstallRecords&) = delete;
    UninstallRecords& operator=(const UninstallRecords&) = delete;

    // Writes a record whose name sorts after every record written before it in this run.
    std::wstring Add(const Place& place, const std::vector<RegValue>& values) {
        static unsigned counter = 0;
        std::wstring sequence = std::to_wstring(++counter);
        sequence.insert(0, 6 - std::min<std::size_t>(sequence.size(), 6), L'0');
        const std::wstring name = kRecordPrefix + std::to_wstring(GetCurrentProcessId()) + L"-" + sequence;
        HKEY created = nullptr;
        if (RegCreateKeyExW(place.root, RecordPath(name).c_str(), 0, nullptr, 0, KEY_SET_VALUE | place.view, nullptr,
                            &created, nullptr) != ERROR_SUCCESS) {
            throw std::runtime_error("cannot create an uninstall record in " + std::string(place.name));
        }
        const UniqueRegistryKey key(created);
        written_.push_back({&place, name});
        Set(key.get(), Text(kMarkerName, kMarkerData));
        for (const RegValue& value : values) Set(key.get(), value);
        return name;
    }

private:
    struct Written {
        const Place* place;
        std::wstring name;
    };

    void DeleteAll() noexcept {
        for (auto it = written_.rbegin(); it != written_.rend(); ++it) {
            RegDeleteKeyExW(it->place->root, RecordPath(it->name).c_str(), it->place->view, 0);
        }
        written_.clear();
    }

    static void Set(HKEY key, const RegValue& value) {
        if (RegSetValueExW(key, value.name.c_str(), 0, value.type, reinterpret_cast<const BYTE*>(value.bytes.data()),
                           static_cast<DWORD>(value.bytes.size())) != ERROR_SUCCESS) {
            throw std::runtime_error("cannot set " + WideToUtf8(value.name));
        }
    }

    std::vector<Written> written_;
};

struct SearchResult {
    std::string path;
    Events events;
};

class FindInstalledApplicationTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        LoadInstallerConfig();
        RemoveLeftoverRecords();
    }

    void SetUp() override {
        ASSERT_EQ(ForeignApplicationRecords(), std::vector<std::string>{})
            << "uninstall records of another Tavro installation would take part in every search";
    }

    // Copies `source` into <scratch>\<folder>\<fileName>; returns the folder.
    std::wstring FolderWith(const std::wstring& folder, const wchar_t* source, const wchar_t* fileName = L"Tavro.exe") {
        scratch_.CopyInto(BackslashPath(source), folder + L"\\" + fileName);
        return scratch_.Path() + L"\\" + folder;
    }

    // A folder holding a Tavro.exe signed by the demo publisher.
    std::wstring SignedFolder(const std::wstring& folder) { return FolderWith(folder, kSignedApp); }

    // A path in the scratch folder where nothing exists.
    std::wstring MissingFolder(const std::wstring& folder) const { return scratch_.Path() + L"\\" + folder; }

    std::string JournalBytes() const {
        return tavro::testing::ReadFileIfPresent(appData_.CacheDirectory() + L"\\events.jsonl");
    }

    bool JournalExists() const {
        return GetFileAttributesW((appData_.CacheDirectory() + L"\\events.jsonl").c_str()) != INVALID_FILE_ATTRIBUTES;
    }

    // One search, with the events it appended to the journal.
    SearchResult Search() const {
        const std::size_t before = JournalBytes().size();
        const std::wstring found = FindInstalledApplication();
        const std::string after = JournalBytes();
        return {WideToUtf8(found), tavro::testing::JournalEvents(after.size() > before ? after.substr(before) : std::string())};
    }

    const tavro::testing::LocalAppDataOverride appData_;
    const ScratchFolder scratch_{L"installed"};
};

std::string ExecutableIn(const std::wstring& folder) {
    return WideToUtf8(folder + L"\\Tavro.exe");
}

TEST_F(FindInstalledApplicationTest, FirstSignedCandidateIsTheResultAndWritesNothing) {
    const std::wstring first = SignedFolder(L"first");
    const UninstallRecords records({
        {&kUser64, {DisplayName(L"Tavro"), InstallLocation(first)}},
        {&kUser64, {DisplayName(L"Tavro"), InstallLocation(SignedFolder(L"second"))}},
        {&kMachine64, {DisplayName(L"Tavro"), InstallLocation(SignedFolder(L"machine"))}},
    });
    const SearchResult result = Search();
    EXPECT_EQ(result.path, ExecutableIn(first));
    EXPECT_EQ(result.events, Events{});
    EXPECT_FALSE(JournalExists());
}

TEST_F(FindInstalledApplicationTest, ThisPrefixKeepsTheMachineViewsApart) {
    // The 32-bit view cases below mean something only when HKLM redirects that view.
    UninstallRecords records;
    const std::wstring name = records.Add(kMachine32, {DisplayName(L"Tavro 9.9.9")});
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, RecordPath(name).c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key),
              ERROR_FILE_NOT_FOUND);
    if (key != nullptr) RegCloseKey(key);
}

TEST_F(FindInstalledApplicationTest, PlacesAreSearchedPerUserFirstThen64BitView) {
    struct Entry {
        const Place* place;
        const wchar_t* folder;  // nullptr: a folder that does not exist
    };
    struct Case {
        const char* name;
        std::vector<Entry> entries;  // written in this order
        const wchar_t* expected;
        Events events;
    };
    const Case cases[] = {
        {"per user wins over per machine", {{&kMachine64, L"machine"}, {&kUser64, L"user"}}, L"user", {}},
        {"per user in the 32-bit view wins over per machine", {{&kMachine64, L"machine"}, {&kUser32, L"user"}}, L"user", {}},
        {"64-bit view before 32-bit view", {{&kMachine32, L"wow"}, {&kMachine64, L"native"}}, L"native", {}},
        {"32-bit view when the 64-bit view has none", {{&kMachine32, L"wow"}}, L"wow", {}},
        {"later record of the same key after a stale one", {{&kUser64, nullptr}, {&kUser64, L"later"}}, L"later", {}},
        {"per machine after a stale per-user record", {{&kUser64, nullptr}, {&kMachine32, L"machine"}}, L"machine", {}},
    };
    int index = 0;
    for (const Case& c : cases) {
        const std::wstring prefix = L"order" + std::to_wstring(++index) + L"-";
        std::vector<Record> written;
        std::wstring expected;
        for (const Entry& entry : c.entries) {
            const std::wstring folder = entry.folder == nullptr ? MissingFolder(prefix + L"gone")
                                                                : SignedFolder(prefix + entry.folder);
            if (entry.folder != nullptr && std::wstring(entry.folder) == c.expected) expected = folder;
            written.push_back({entry.place, {DisplayName(L"Tavro"), InstallLocation(folder)}});
        }
        const UninstallRecords records(written);
        const SearchResult result = Search();
        EXPECT_EQ(result.path, ExecutableIn(expected)) << c.name;
        EXPECT_EQ(result.events, c.events) << c.name;
    }
}

TEST_F(FindInstalledApplicationTest, DisplayNameMustNameTheApplication) {
    struct Case {
        std::wstring displayName;
        bool matches;
    };
    const Case cases[] = {
        {L"Tavro", true},
        {L"Tavro 1.4.2", true},
        {L"Tavro 0.0.0", true},
        {L"Tavro Beta", false},
        {L"Tavro 1.4", false},
        {L"Tavro 1.4.2.7", false},
        {L"Tavro 1.4.2 Beta", false},
        {L"Tavro v1.4.2", false},
        {L"Tavro  1.4.2", false},
        {L"Tavro1.4.2", false},
        {L"Tavro ", false},
        {L" Tavro", false},
        {L"Tavro Setup", false},
        {L"tavro", false},
        {L"TAVRO", false},
        {L"tavro 1.4.2", false},
        {L"", false},
    };
    const std::wstring folder = SignedFolder(L"names");
    for (const Case& c : cases) {
        const UninstallRecords records({{&kUser64, {DisplayName(c.displayName), InstallLocation(folder)}}});
        const SearchResult result = Search();
        EXPECT_EQ(result.path, c.matches ? ExecutableIn(folder) : "") << WideToUtf8(c.displayName);
        EXPECT_EQ(result.events, Events{}) << WideToUtf8(c.displayName);
    }
    {
        // No DisplayName at all.
        const UninstallRecords records({{&kUser64, {InstallLocation(folder)}}});
        EXPECT_EQ(Search().path, "") << "no DisplayName";
    }
}

TEST_F(FindInstalledApplicationTest, OnlyPlainStringValuesOfUpTo32768BytesAreRead) {
    const std::wstring folder = SignedFolder(L"types");
    const std::string text = Utf16Bytes(folder);
    // The folder, its terminating NUL, then NULs up to the given total size.
    const auto padded = [&](std::size_t total) { return text + std::string(total - text.size(), '\0'); };
    struct Case {
        const char* name;
        std::vector<RegValue> values;
        bool found;
    };
    const Case cases[] = {
        {"REG_SZ", {DisplayName(L"Tavro"), InstallLocation(folder)}, true},
        {"REG_SZ without its terminating NUL",
         {DisplayName(L"Tavro"), {L"InstallLocation", REG_SZ, Utf16Bytes(folder, false)}}, true},
        {"REG_SZ of exactly 32768 bytes", {DisplayName(L"Tavro"), {L"InstallLocation", REG_SZ, padded(32768)}}, true},
        {"REG_SZ of 32770 bytes", {DisplayName(L"Tavro"), {L"InstallLocation", REG_SZ, padded(32770)}}, false},
        {"REG_EXPAND_SZ location", {DisplayName(L"Tavro"), Text(L"InstallLocation", folder, REG_EXPAND_SZ)}, false},
        {"REG_MULTI_SZ location", {DisplayName(L"Tavro"), {L"InstallLocation", REG_MULTI_SZ, text + std::string(2, '\0')}},
         false},
        {"REG_BINARY location", {DisplayName(L"Tavro"), {L"InstallLocation", REG_BINARY, text}}, false},
        {"REG_EXPAND_SZ name", {Text(L"DisplayName", L"Tavro", REG_EXPAND_SZ), InstallLocation(folder)}, false},
        {"REG_EXPAND_SZ icon", {DisplayName(L"Tavro"), Text(L"DisplayIcon", folder + L"\\Tavro.exe,0", REG_EXPAND_SZ)},
         false},
        {"REG_EXPAND_SZ uninstall string",
         {DisplayName(L"Tavro"), Text(L"UninstallString", L"\"" + folder + L"\\Uninstall Tavro.exe\"", REG_EXPAND_SZ)},
         false},
    };
    for (const Case& c : cases) {
        const UninstallRecords records({{&kUser64, c.values}});
        const SearchResult result = Search();
        EXPECT_EQ(result.path, c.found ? ExecutableIn(folder) : "") << c.name;
        EXPECT_EQ(result.events, Events{}) << c.name;
    }
}

TEST_F(FindInstalledApplicationTest, CandidatesComeFromLocationIconAndUninstaller) {
    const std::wstring icon = SignedFolder(L"icon");
    const std::wstring renamed = FolderWith(L"renamed", kSignedApp, L"Renamed.exe");
    const std::wstring uninstaller = SignedFolder(L"uninstaller");
    const std::wstring location = SignedFolder(L"location");
    const std::wstring other = FolderWith(L"other", kOtherPublisherApp);
    struct Case {
        const char* name;
        std::vector<RegValue> values;
        std::wstring expected;
    };
    const Case cases[] = {
        {"icon with an index", {DisplayIcon(icon + L"\\Tavro.exe,0")}, icon + L"\\Tavro.exe"},
        {"quoted icon with an index", {DisplayIcon(L"\"" + icon + L"\\Tavro.exe\",0")}, icon + L"\\Tavro.exe"},
        {"icon without an index", {DisplayIcon(icon + L"\\Tavro.exe")}, icon + L"\\Tavro.exe"},
        {"icon under another file name", {DisplayIcon(renamed + L"\\Renamed.exe,2")}, renamed + L"\\Renamed.exe"},
        {"quoted uninstaller with an argument",
         {UninstallString(L"\"" + uninstaller + L"\\Uninstall Tavro.exe\" /uninstall")}, uninstaller + L"\\Tavro.exe"},
        {"bare uninstaller with an argument", {UninstallString(uninstaller + L"\\uninstall.exe /S")},
         uninstaller + L"\\Tavro.exe"},
        {"location with a trailing backslash", {InstallLocation(location + L"\\")}, location + L"\\Tavro.exe"},
        {"location before icon before uninstaller",
         {InstallLocation(location), DisplayIcon(icon + L"\\Tavro.exe,0"),
          UninstallString(L"\"" + uninstaller + L"\\Uninstall Tavro.exe\"")},
         location + L"\\Tavro.exe"},
        {"icon before uninstaller",
         {DisplayIcon(icon + L"\\Tavro.exe,0"), UninstallString(L"\"" + uninstaller + L"\\Uninstall Tavro.exe\"")},
         icon + L"\\Tavro.exe"},
        {"other publisher's location, then the icon", {InstallLocation(other), DisplayIcon(icon + L"\\Tavro.exe,0")},
         icon + L"\\Tavro.exe"},
        {"stale location, then the uninstaller",
         {InstallLocation(MissingFolder(L"gone")), UninstallString(L"\"" + uninstaller + L"\\Uninstall Tavro.exe\"")},
         uninstaller + L"\\Tavro.exe"},
        {"relative location, then the icon", {InstallLocation(L"Programs\\Tavro"), DisplayIcon(icon + L"\\Tavro.exe")},
         icon + L"\\Tavro.exe"},
        // Absolute as Windows takes them, though this compiler's std::filesystem says not.
        {"location behind the long-path prefix", {InstallLocation(L"\\\\?\\" + location)},
         L"\\\\?\\" + location + L"\\Tavro.exe"},
        {"icon behind the device prefix", {DisplayIcon(L"\\\\.\\" + icon + L"\\Tavro.exe,0")},
         L"\\\\.\\" + icon + L"\\Tavro.exe"},
    };
    for (const Case& c : cases) {
        std::vector<RegValue> values = c.values;
        values.insert(values.begin(), DisplayName(L"Tavro 1.0.0"));
        const UninstallRecords records({{&kUser64, values}});
        const SearchResult result = Search();
        EXPECT_EQ(result.path, WideToUtf8(c.expected)) << c.name;
        // A record that yields the application writes nothing, whatever was refused on the way.
        EXPECT_EQ(result.events, Events{}) << c.name;
    }
}

TEST_F(FindInstalledApplicationTest, UnsafeRecordsAreReportedOnce) {
    const std::wstring folderNamedLikeTheApp = scratch_.MakeFolder(L"unsafe-folder\\Tavro.exe");
    const std::wstring parentOfFolder = scratch_.Path() + L"\\unsafe-folder";
    struct Case {
        const char* name;
        std::vector<RegValue> values;
    };
    const Case cases[] = {
        {"relative location", {InstallLocation(L"Programs\\Tavro")}},
        {"drive-relative location", {InstallLocation(L"C:folder")}},
        {"bare drive", {InstallLocation(L"C:")}},
        {"rooted location without a drive", {InstallLocation(L"\\Programs\\Tavro")}},
        {"quoted location, taken as written", {InstallLocation(L"\"" + SignedFolder(L"quoted") + L"\"")}},
        {"Tavro.exe is a folder", {InstallLocation(parentOfFolder)}},
        {"Tavro.exe is a link to a folder", {InstallLocation(BackslashPath(kFolderLinkFolder))}},
        {"relative icon", {DisplayIcon(L"Tavro.exe,0")}},
        {"relative uninstaller", {UninstallString(L"uninstall.exe /S")}},
        // Dropping the uninstaller's name and the separator before it leaves a bare drive.
        {"uninstaller in the root of a drive", {UninstallString(L"\"C:\\Uninstall Tavro.exe\" /uninstall")}},
        {"name that cannot be examined", {InstallLocation(L"C:\\bad<name")}},
        {"every candidate unsafe",
         {InstallLocation(L"Programs"), DisplayIcon(L"Tavro.exe"), UninstallString(L"\"Tavro\\Uninstall Tavro.exe\"")}},
    };
    ASSERT_NE(GetFileAttributesW(folderNamedLikeTheApp.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
    for (const Case& c : cases) {
        std::vector<RegValue> values = c.values;
        values.insert(values.begin(), DisplayName(L"Tavro"));
        const UninstallRecords records({{&kUser64, values}});
        const SearchResult result = Search();
        EXPECT_EQ(result.path, "") << c.name;
        EXPECT_EQ(result.events, Events{kUnsafe}) << c.name;
    }
}

TEST_F(FindInstalledApplicationTest, LinkToTheSignedFileIsUnsafe) {
    const std::wstring link = BackslashPath(kFileLinkFolder) + L"\\Tavro.exe";
    const DWORD attributes = GetFileAttributesW(link.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES) << "the link made by the build is missing";
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        // Wine 8 shows a Unix link to a file as the plain file (it marks only links to
        // folders), so nothing here can tell the search that this is a link.
        GTEST_SKIP() << "this Wine reports the link to a file with attributes 0x" << std::hex << attributes
                     << ", without FILE_ATTRIBUTE_REPARSE_POINT; the refusal needs real Windows";
    }
    const UninstallRecords records({{&kUser64, {DisplayName(L"Tavro"), InstallLocation(BackslashPath(kFileLinkFolder))}}});
    const SearchResult result = Search();
    EXPECT_EQ(result.path, "");
    EXPECT_EQ(result.events, Events{kUnsafe});
}

TEST_F(FindInstalledApplicationTest, StaleRecordsAreReportedOnce) {
    const std::wstring empty = scratch_.MakeFolder(L"stale-empty");
    const std::wstring file = FolderWith(L"stale-file", kSignedApp, L"NotAFolder.exe") + L"\\NotAFolder.exe";
    struct Case {
        const char* name;
        std::vector<RegValue> values;
    };
    const Case cases[] = {
        {"location folder gone", {InstallLocation(MissingFolder(L"gone"))}},
        {"location without Tavro.exe", {InstallLocation(empty)}},
        {"location is a file", {InstallLocation(file)}},
        {"icon file gone", {DisplayIcon(empty + L"\\Tavro.exe,0")}},
        {"uninstaller folder gone", {UninstallString(L"\"" + MissingFolder(L"gone") + L"\\Uninstall Tavro.exe\" /uninstall")}},
        {"every candidate gone",
         {InstallLocation(MissingFolder(L"a")), DisplayIcon(MissingFolder(L"b") + L"\\Tavro.exe,0"),
          UninstallString(MissingFolder(L"c") + L"\\uninstall.exe")}},
    };
    for (const Case& c : cases) {
        std::vector<RegValue> values = c.values;
        values.insert(values.begin(), DisplayName(L"Tavro"));
        const UninstallRecords records({{&kUser64, values}});
        const SearchResult result = Search();
        EXPECT_EQ(result.path, "") << c.name;
        EXPECT_EQ(result.events, Events{kStale}) << c.name;
    }
}

TEST_F(FindInstalledApplicationTest, StaleAndUnsafeInOneSearchReportStaleFirst) {
    // The unsafe records come first in the search order; the events keep their fixed order.
    const UninstallRecords records({
        {&kUser64, {DisplayName(L"Tavro"), InstallLocation(L"relative")}},
        {&kUser64, {DisplayName(L"Tavro"), InstallLocation(MissingFolder(L"gone-1"))}},
        {&kMachine64, {DisplayName(L"Tavro 2.0.0"), DisplayIcon(L"C:Tavro.exe,0")}},
        {&kMachine32, {DisplayName(L"Tavro"), InstallLocation(MissingFolder(L"gone-2"))}},
    });
    const SearchResult result = Search();
    EXPECT_EQ(result.path, "");
    EXPECT_EQ(result.events, (Events{kStale, kUnsafe}));
}

TEST_F(FindInstalledApplicationTest, FilesFailingTheSignatureCheckLeaveNoTrace) {
    struct Case {
        const char* name;
        const wchar_t* source;
    };
    const Case cases[] = {
        {"other publisher", kOtherPublisherApp},
        {"unsigned", kUnsignedApp},
        {"tampered", kTamperedApp},
    };
    int index = 0;
    for (const Case& c : cases) {
        const std::wstring folder = FolderWith(L"rejected" + std::to_wstring(++index), c.source);
        {
            const UninstallRecords records({{&kUser64, {DisplayName(L"Tavro"), InstallLocation(folder)}}});
            const SearchResult result = Search();
            EXPECT_EQ(result.path, "") << c.name;
            EXPECT_EQ(result.events, Events{}) << c.name;
        }
        {
            // The refused file adds nothing to what the rest of the search reports.
            const UninstallRecords records({
                {&kUser64, {DisplayName(L"Tavro"), InstallLocation(folder)}},
                {&kMachine64, {DisplayName(L"Tavro"), InstallLocation(MissingFolder(L"rejected-gone"))}},
            });
            const SearchResult result = Search();
            EXPECT_EQ(result.path, "") << c.name << " beside a stale record";
            EXPECT_EQ(result.events, Events{kStale}) << c.name << " beside a stale record";
        }
    }
}

TEST_F(FindInstalledApplicationTest, NothingMatchingWritesNothing) {
    {
        const SearchResult result = Search();
        EXPECT_EQ(result.path, "");
        EXPECT_EQ(result.events, Events{});
    }
    {
        // Records of other applications are not examined, however broken their paths.
        const UninstallRecords records({
            {&kUser64, {DisplayName(L"Tavro Beta"), InstallLocation(MissingFolder(L"gone"))}},
            {&kUser64, {DisplayName(L"tavro"), InstallLocation(L"relative")}},
            {&kMachine64, {DisplayName(L"Other App"), DisplayIcon(L"C:Tavro.exe,0")}},
        });
        const SearchResult result = Search();
        EXPECT_EQ(result.path, "");
        EXPECT_EQ(result.events, Events{});
    }
    EXPECT_FALSE(JournalExists());
}

}  // namespace
}  // namespace tavro::verify
