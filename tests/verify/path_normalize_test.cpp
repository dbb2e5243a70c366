#include "verify/path_normalize.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "verify/installed_app.h"

namespace tavro::verify {
namespace {

struct NormalizeCase {
    const wchar_t* path;
    const wchar_t* normal;
};

const NormalizeCase kNormalizeCases[] = {
    {L"C:\\Users\\me\\AppData\\Local\\Programs\\Tavro\\Tavro.exe", L"C:\\Users\\me\\AppData\\Local\\Programs\\Tavro\\Tavro.exe"},
    {L"C:/Users/me/Tavro/Tavro.exe", L"C:\\Users\\me\\Tavro\\Tavro.exe"},
    {L"C:\\\\Users//me\\/Tavro\\Tavro.exe", L"C:\\Users\\me\\Tavro\\Tavro.exe"},
    {L"C:\\Users\\me\\..\\me\\.\\Tavro\\Tavro.exe", L"C:\\Users\\me\\Tavro\\Tavro.exe"},
    {L"C:\\..\\..\\Tavro.exe", L"C:\\Tavro.exe"},
    {L"C:\\a\\b\\..", L"C:\\a\\"},
    {L"C:\\a\\.", L"C:\\a\\"},
    {L"C:\\a\\", L"C:\\a\\"},
    {L"C:\\a\\..", L"C:\\"},
    {L"C:", L"C:"},
    {L"C:.", L"C:"},
    {L"C:a\\..\\..\\b", L"C:..\\b"},
    {L"\\a\\..\\..\\b", L"\\b"},
    {L"//server/share/../x", L"\\server\\x"},
    {L"\\\\server\\share\\Tavro.exe", L"\\server\\share\\Tavro.exe"},
    {L"\\\\server\\..\\..\\x", L"\\x"},
    {L"a/..", L"."},
    {L"./", L"."},
    {L".", L"."},
    {L"../a/..", L".."},
    {L"../../a", L"..\\..\\a"},
    {L"a/./b/../../c/", L"c\\"},
    {L"", L""},
};

TEST(PathNormalize, NormalisesLexically) {
    for (const NormalizeCase& c : kNormalizeCases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(NormalizePathLexically(c.path), c.normal);
    }
}

#ifdef _WIN32
// On Windows the standard library's own lexical normalisation is the reference.
TEST(PathNormalize, AgreesWithTheStandardLibrary) {
    for (const NormalizeCase& c : kNormalizeCases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(NormalizePathLexically(c.path), std::filesystem::path(c.path).lexically_normal().wstring());
    }
}
#endif

TEST(PathNormalize, AbsoluteAsWindowsTakesIt) {
    struct Case {
        const wchar_t* path;
        bool absolute;
    };
    const Case cases[] = {
        {L"C:\\Tavro\\Tavro.exe", true},  {L"c:/Tavro.exe", true},       {L"C:\\", true},
        {L"\\\\server\\share\\x", true}, {L"//server/share/x", true}, {L"\\\\?\\C:\\x", true},
        {L"\\\\.\\pipe\\x", true},       {L"C:Tavro.exe", false},     {L"C:", false},
        {L"\\Tavro\\Tavro.exe", false},    {L"/Tavro.exe", false},      {L"\\\\", false},
        {L"\\\\\\x", false},             {L"Tavro.exe", false},       {L"..\\Tavro.exe", false},
        {L"1:\\x", false},                 {L"", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(IsAbsoluteWindowsPath(c.path), c.absolute);
    }
}

TEST(PathNormalize, FileNameIsTheLastComponent) {
    EXPECT_EQ(FileNameOf(L"C:\\a\\Tavro.exe"), L"Tavro.exe");
    EXPECT_EQ(FileNameOf(L"C:/a/Tavro.exe"), L"Tavro.exe");
    EXPECT_EQ(FileNameOf(L"Tavro.exe"), L"Tavro.exe");
    EXPECT_EQ(FileNameOf(L"C:\\a\\"), L"");
}

TEST(InstallRecord, DisplayNamesOfTheApplication) {
    struct Case {
        const wchar_t* name;
        bool matches;
    };
    const Case cases[] = {
        {L"Tavro", true},
        {L"Tavro 1.4.2", true},
        {L"Tavro 0.0.0", true},
        {L"Tavro 01.2.3", true},
        {L"Tavro 4294967295.0.0", true},
        {L"Tavro 4294967296.0.0", false},
        {L"Tavro 1.4", false},
        {L"Tavro 1.4.2.7", false},
        {L"Tavro Beta", false},
        {L"Tavro ", false},
        {L"Tavro  1.4.2", false},
        {L"Tavro 1.4.2 ", false},
        {L"tavro", false},
        {L"TAVRO 1.4.2", false},
        {L" Tavro", false},
        {L"Tavro\t1.4.2", false},
        {L"", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(IsApplicationDisplayName(c.name), c.matches);
    }
}

}  // namespace
}  // namespace tavro::verify
