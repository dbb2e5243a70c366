#include "launch/launch_receipt.h"

#include <gtest/gtest.h>

#include <string>

namespace tavro::launch {
namespace {

constexpr wchar_t kId[] = L"3f2a9c1e-0b7d-4e55-a1c2-9d8e7f6a5b4c";
constexpr wchar_t kExecutable[] = L"C:\\Users\\J\u00FCrgen\\AppData\\Local\\Programs\\Tavro\\Tavro.exe";
constexpr wchar_t kVersion[] = L"1.4.2";

TEST(LaunchReceipt, ConfirmsOnlyAnExactEcho) {
    struct Case {
        const char* name;
        std::string text;
        bool confirms;
    };
    const Case cases[] = {
        {"the right receipt",
         R"({"sessionId":"3f2a9c1e-0b7d-4e55-a1c2-9d8e7f6a5b4c","stage":"main-window-created",)"
         R"("executable":"C:\\Users\\J\u00fcrgen\\AppData\\Local\\Programs\\Tavro\\Tavro.exe","appVersion":"1.4.2"})",
         true},
        {"other order, other members, white space, UTF-8 path",
         "{\r\n  \"appVersion\": \"1.4.2\", \"pid\": 42, \"note\": [null],\r\n"
         "  \"executable\": \"c:\\\\users\\\\J\xC3\xBCrgen\\\\APPDATA\\\\local\\\\programs\\\\tavro\\\\TAVRO.EXE\",\r\n"
         "  \"stage\": \"main-window-created\", \"sessionId\": \"3f2a9c1e-0b7d-4e55-a1c2-9d8e7f6a5b4c\"\r\n}\r\n",
         true},
        {"session id in upper case",
         R"({"sessionId":"3F2A9C1E-0B7D-4E55-A1C2-9D8E7F6A5B4C","stage":"main-window-created",)"
         R"("executable":"C:\\Users\\J\u00fcrgen\\AppData\\Local\\Programs\\Tavro\\Tavro.exe","appVersion":"1.4.2"})",
         false},
        {"stage in another case",
         R"({"sessionId":"3f2a9c1e-0b7d-4e55-a1c2-9d8e7f6a5b4c","stage":"Main-Window-Created",)"
         R"("executable":"C:\\Users\\J\u00fcrgen\\AppData\\Local\\Programs\\Tavro\\Tavro.exe","appVersion":"1.4.2"})",
         false},
        {"executable with forward slashes",
         R"({"sessionId":"3f2a9c1e-0b7d-4e55-a1c2-9d8e7f6a5b4c","stage":"main-window-created",)"
         R"("executable":"C:/Users/J\u00fcrgen/AppData/Local/Programs/Tavro/Tavro.exe","appVersion":"1.4.2"})",
         false},
        {"executable as Latin-1 bytes",
         "{\"sessionId\":\"3f2a9c1e-0b7d-4e55-a1c2-9d8e7f6a5b4c\",\"stage\":\"main-window-created\","
         "\"executable\":\"C:\\\\Users\\\\J\xFCrgen\\\\AppData\\\\Local\\\\Programs\\\\Tavro\\\\Tavro.exe\",\"appVersion\":\"1.4.2\"}",
         false},
        {"a fourth version part",
         R"({"sessionId":"3f2a9c1e-0b7d-4e55-a1c2-9d8e7f6a5b4c","stage":"main-window-created",)"
         R"("executable":"C:\\Users\\J\u00fcrgen\\AppData\\Local\\Programs\\Tavro\\Tavro.exe","appVersion":"1.4.2.0"})",
         false},
        {"version a number",
         R"({"sessionId":"3f2a9c1e-0b7d-4e55-a1c2-9d8e7f6a5b4c","stage":"main-window-created",)"
         R"("executable":"C:\\Users\\J\u00fcrgen\\AppData\\Local\\Programs\\Tavro\\Tavro.exe","appVersion":1.4})",
         false},
        {"version missing",
         R"({"sessionId":"3f2a9c1e-0b7d-4e55-a1c2-9d8e7f6a5b4c","stage":"main-window-created",)"
         R"("executable":"C:\\Users\\J\u00fcrgen\\AppData\\Local\\Programs\\Tavro\\Tavro.exe"})",
         false},
        {"half written",
         R"({"sessionId":"3f2a9c1e-0b7d-4e55-a1c2-9d8e7f6a5b4c","stage":"main-window-cre)", false},
        {"an array around it", R"([{"sessionId":"3f2a9c1e-0b7d-4e55-a1c2-9d8e7f6a5b4c"}])", false},
        {"empty", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ReceiptTextConfirmsLaunch(c.text, kId, kExecutable, kVersion), c.confirms);
    }
}

}  // namespace
}  // namespace tavro::launch
