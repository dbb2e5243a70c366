#include "platform/system_functions.h"

#include "platform/errors.h"

namespace tavro {

namespace {

// Never freed: the calls handed out must stay valid for detached workers until the
// process ends, and unloading at exit while one still runs would pull code from under it.
HMODULE LoadForProcessLifetime(const wchar_t* name) {
    const HMODULE module = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    ThrowLastErrorIf(module == nullptr);
    return module;
}

template <class Function>
void Bind(HMODULE module, Function& function, const char* name) {
    // Through void*, because GetProcAddress's FARPROC fits no real signature.
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    ThrowLastErrorIf(function == nullptr);
}

}  // namespace

// Function-local statics: the first caller loads, concurrent first callers wait for it,
// and a failed load is tried again by the next caller.
const WinHttpFunctions& WinHttp() {
    static const WinHttpFunctions functions = [] {
        const HMODULE module = LoadForProcessLifetime(L"winhttp.dll");
        WinHttpFunctions f{};
        Bind(module, f.CloseHandle, "WinHttpCloseHandle");
        Bind(module, f.Connect, "WinHttpConnect");
        Bind(module, f.CrackUrl, "WinHttpCrackUrl");
        Bind(module, f.Open, "WinHttpOpen");
        Bind(module, f.OpenRequest, "WinHttpOpenRequest");
        Bind(module, f.QueryHeaders, "WinHttpQueryHeaders");
        Bind(module, f.ReadData, "WinHttpReadData");
        Bind(module, f.ReceiveResponse, "WinHttpReceiveResponse");
        Bind(module, f.SendRequest, "WinHttpSendRequest");
        Bind(module, f.SetOption, "WinHttpSetOption");
        Bind(module, f.SetStatusCallback, "WinHttpSetStatusCallback");
        Bind(module, f.SetTimeouts, "WinHttpSetTimeouts");
        return f;
    }();
    return functions;
}

const Crypt32Functions& Crypt32() {
    static const Crypt32Functions functions = [] {
        const HMODULE module = LoadForProcessLifetime(L"crypt32.dll");
        Crypt32Functions f{};
        Bind(module, f.CryptHashCertificate2, "CryptHashCertificate2");
        Bind(module, f.CryptStringToBinaryW, "CryptStringToBinaryW");
        return f;
    }();
    return functions;
}

const WinTrustFunctions& WinTrust() {
    static const WinTrustFunctions functions = [] {
        const HMODULE module = LoadForProcessLifetime(L"wintrust.dll");
        WinTrustFunctions f{};
        Bind(module, f.WinVerifyTrust, "WinVerifyTrust");
        Bind(module, f.WTHelperProvDataFromStateData, "WTHelperProvDataFromStateData");
        Bind(module, f.WTHelperGetProvSignerFromChain, "WTHelperGetProvSignerFromChain");
        return f;
    }();
    return functions;
}

const VersionFunctions& VersionDll() {
    static const VersionFunctions functions = [] {
        const HMODULE module = LoadForProcessLifetime(L"version.dll");
        VersionFunctions f{};
        Bind(module, f.GetFileVersionInfoSizeW, "GetFileVersionInfoSizeW");
        Bind(module, f.GetFileVersionInfoW, "GetFileVersionInfoW");
        Bind(module, f.VerQueryValueW, "VerQueryValueW");
        return f;
    }();
    return functions;
}

const DwmFunctions& Dwm() {
    static const DwmFunctions functions = [] {
        const HMODULE module = LoadForProcessLifetime(L"dwmapi.dll");
        DwmFunctions f{};
        Bind(module, f.DwmSetWindowAttribute, "DwmSetWindowAttribute");
        return f;
    }();
    return functions;
}

const OleaccFunctions& Oleacc() {
    static const OleaccFunctions functions = [] {
        const HMODULE module = LoadForProcessLifetime(L"oleacc.dll");
        OleaccFunctions f{};
        Bind(module, f.LresultFromObject, "LresultFromObject");
        Bind(module, f.CreateStdAccessibleObject, "CreateStdAccessibleObject");
        return f;
    }();
    return functions;
}

const OleAutFunctions& OleAut() {
    static const OleAutFunctions functions = [] {
        const HMODULE module = LoadForProcessLifetime(L"oleaut32.dll");
        OleAutFunctions f{};
        Bind(module, f.SysAllocStringLen, "SysAllocStringLen");
        return f;
    }();
    return functions;
}

void PreloadDelayLoadedSystemDlls() {
    for (const wchar_t* name : {L"windowscodecs.dll", L"crypt32.dll", L"secur32.dll", L"dbghelp.dll", L"uxtheme.dll",
                                L"msimg32.dll"}) {
        LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
}

}  // namespace tavro
