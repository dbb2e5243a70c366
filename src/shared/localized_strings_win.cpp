#include "shared/localized_strings.h"

#include <windows.h>

#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/text.h"
#include "shared/locale_table.h"

namespace tavro {

namespace {

constexpr WORD kLocaleResourceId = 301;

// Written only by LoadLocalizedStrings before other threads exist; read-only afterwards,
// so readers take no lock.
LocaleTable& ProcessLocaleTable() {
    static LocaleTable table;
    return table;
}

std::string ReadLocaleResource() {
    // Resource handles of a loaded module need no release: they point into its image.
    const HRSRC resource = FindResourceW(nullptr, MAKEINTRESOURCEW(kLocaleResourceId), RT_RCDATA);
    if (resource == nullptr) Fail("Missing installer locale resource");
    const DWORD size = SizeofResource(nullptr, resource);
    const HGLOBAL loaded = LoadResource(nullptr, resource);
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (data == nullptr || size == 0) Fail("Invalid installer locale resource");
    return std::string(static_cast<const char*>(data), size);
}

// The user's display languages, most preferred first; empty when Windows cannot say.
std::vector<std::wstring> PreferredUiLanguages() {
    ULONG count = 0;
    ULONG size = 0;
    if (!GetUserPreferredUILanguages(MUI_LANGUAGE_NAME, &count, nullptr, &size) || size == 0) {
        return {};
    }
    std::vector<wchar_t> buffer(size, L'\0');
    if (!GetUserPreferredUILanguages(MUI_LANGUAGE_NAME, &count, buffer.data(), &size)) return {};
    // The list ends at its empty name; splitting stops there or at the end of the allocation.
    return SplitLanguageList(std::wstring_view(buffer.data(), buffer.size()));
}

}  // namespace

void LoadLocalizedStrings() {
    LocaleTable& table = ProcessLocaleTable();
    LoadLocaleTexts(table, Utf8ToWide(ReadLocaleResource()));
    ChooseLocale(table, PreferredUiLanguages());
}

std::wstring LookupText(std::wstring_view key) {
    return LookupText(ProcessLocaleTable(), key);
}

bool IsRightToLeftUi() {
    return IsRightToLeft(ProcessLocaleTable().selectedLocale);
}

bool PrefersJapaneseUi() {
    return ProcessLocaleTable().japaneseFirst;
}

}  // namespace tavro
