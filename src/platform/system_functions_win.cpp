#include "platform/system_functions.h"

#include <delayimp.h>

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
        Bind(module, f.AddRequestHeaders, "WinHttpAddRequestHeaders");
        Bind(module, f.CloseHandle, "WinHttpCloseHandle");
        Bind(module, f.Connect, "WinHttpConnect");
        Bind(module, f.CrackUrl, "WinHttpCrackUrl");
        Bind(module, f.Open, "WinHttpOpen");
        Bind(module, f.OpenRequest, "WinHttpOpenRequest");
        Bind(module, f.QueryAuthSchemes, "WinHttpQueryAuthSchemes");
        Bind(module, f.QueryHeaders, "WinHttpQueryHeaders");
        Bind(module, f.QueryOption, "WinHttpQueryOption");
        Bind(module, f.ReadData, "WinHttpReadData");
        Bind(module, f.ReceiveResponse, "WinHttpReceiveResponse");
        Bind(module, f.SendRequest, "WinHttpSendRequest");
        Bind(module, f.SetCredentials, "WinHttpSetCredentials");
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
        Bind(module, f.CertFreeCertificateChain, "CertFreeCertificateChain");
        Bind(module, f.CertFreeCertificateContext, "CertFreeCertificateContext");
        Bind(module, f.CertGetCertificateChain, "CertGetCertificateChain");
        Bind(module, f.CertVerifyCertificateChainPolicy, "CertVerifyCertificateChainPolicy");
        Bind(module, f.CryptHashCertificate2, "CryptHashCertificate2");
        Bind(module, f.CryptStringToBinaryW, "CryptStringToBinaryW");
        return f;
    }();
    return functions;
}

const Ws2Functions& Ws2() {
    static const Ws2Functions functions = [] {
        const HMODULE module = LoadForProcessLifetime(L"ws2_32.dll");
        decltype(&::WSAStartup) startup = nullptr;
        Bind(module, startup, "WSAStartup");
        Ws2Functions f{};
        Bind(module, f.closesocket, "closesocket");
        Bind(module, f.connect, "connect");
        Bind(module, f.FreeAddrInfoW, "FreeAddrInfoW");
        Bind(module, f.GetAddrInfoW, "GetAddrInfoW");
        Bind(module, f.ioctlsocket, "ioctlsocket");
        Bind(module, f.recv, "recv");
        Bind(module, f.select, "select");
        Bind(module, f.send, "send");
        Bind(module, f.socket, "socket");
        // Never cleaned up, for the same reason the DLL is never freed.
        WSADATA data{};
        if (const int error = startup(MAKEWORD(2, 2), &data); error != 0) ThrowHresult(HresultFromWin32(error));
        return f;
    }();
    return functions;
}

const SecurityFunctionTableW& Sspi() {
    static const SecurityFunctionTableW& table = []() -> const SecurityFunctionTableW& {
        const HMODULE module = LoadForProcessLifetime(L"secur32.dll");
        INIT_SECURITY_INTERFACE_W initialize = nullptr;
        Bind(module, initialize, "InitSecurityInterfaceW");
        const SecurityFunctionTableW* const functions = initialize();
        ThrowLastErrorIf(functions == nullptr);
        return *functions;
    }();
    return table;
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
    for (const wchar_t* name : {L"gdiplus.dll", L"windowscodecs.dll", L"crypt32.dll", L"secur32.dll", L"dbghelp.dll",
                                L"uxtheme.dll", L"msimg32.dll"}) {
        LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
}

}  // namespace tavro

namespace {

// Makes one pointer-sized slot of the image writable for the write, then puts its protection
// back: newer linkers map the import section, where the delay-load slots live, read-only.
void WriteImageSlot(void* slot, void* value) {
    DWORD previous = 0;
    if (!VirtualProtect(slot, sizeof value, PAGE_READWRITE, &previous)) {
        RaiseException(VcppException(ERROR_SEVERITY_ERROR, ERROR_NOACCESS), 0, 0, nullptr);
    }
    *static_cast<void**>(slot) = value;
    VirtualProtect(slot, sizeof value, previous, &previous);
}

SRWLOCK delayLoadLock = SRWLOCK_INIT;

}  // namespace

extern "C" IMAGE_DOS_HEADER __ImageBase;

// The delay-load helper that the linker's delay-import thunks call on a function's first use.
// Ours loads the DLL from System32 only, like every other load of this program, and writes
// the resolved address through WriteImageSlot; the runtime's own writes into the slots as
// they are mapped and faults where they are read-only. A DLL or function that cannot be
// found raises the delay-load exception, as the Windows SDK's helper does.
extern "C" FARPROC WINAPI __delayLoadHelper2(PCImgDelayDescr descriptor, FARPROC* slot) {
    auto* const base = reinterpret_cast<BYTE*>(&__ImageBase);
    const bool relative = (descriptor->grAttrs & dlattrRva) != 0;
    const auto at = [&](RVA value) -> BYTE* {
        return relative ? base + value : reinterpret_cast<BYTE*>(static_cast<ULONG_PTR>(value));
    };
    const auto* const name = reinterpret_cast<const char*>(at(descriptor->rvaDLLName));
    auto* const module = reinterpret_cast<HMODULE*>(at(descriptor->rvaHmod));
    const auto* const table = reinterpret_cast<const IMAGE_THUNK_DATA*>(at(descriptor->rvaINT));
    const IMAGE_THUNK_DATA& import = table[slot - reinterpret_cast<FARPROC*>(at(descriptor->rvaIAT))];

    AcquireSRWLockExclusive(&delayLoadLock);
    HMODULE loaded = *module;
    if (loaded == nullptr) {
        loaded = LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (loaded != nullptr) WriteImageSlot(module, loaded);
    }
    FARPROC function = nullptr;
    if (loaded != nullptr) {
        function = IMAGE_SNAP_BY_ORDINAL(import.u1.Ordinal)
                       ? GetProcAddress(loaded, MAKEINTRESOURCEA(IMAGE_ORDINAL(import.u1.Ordinal)))
                       : GetProcAddress(loaded, reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(
                                                    at(static_cast<RVA>(import.u1.AddressOfData)))->Name);
        if (function != nullptr) WriteImageSlot(slot, reinterpret_cast<void*>(function));
    }
    ReleaseSRWLockExclusive(&delayLoadLock);
    if (function == nullptr) {
        const DWORD error = loaded == nullptr ? ERROR_MOD_NOT_FOUND : ERROR_PROC_NOT_FOUND;
        RaiseException(VcppException(ERROR_SEVERITY_ERROR, error), 0, 0, nullptr);
    }
    return function;
}
