#pragma once

// Winsock's headers must come before windows.h.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <winhttp.h>
#include <wincrypt.h>
#include <wintrust.h>
#include <dwmapi.h>
#include <oleacc.h>
#define SECURITY_WIN32
#include <sspi.h>
#include <schannel.h>

namespace tavro {

// The program imports at load time only DLLs that Windows lists as known DLLs, which the
// loader never takes from the program's folder (a browser's Downloads folder, where any
// planted DLL would otherwise run inside the installer). Every other DLL is loaded here,
// from System32 only, the first time one of its calls is needed, and stays loaded until
// the process ends. Each accessor throws PlatformError when its DLL or a call is missing.

// WinHTTP: the download and the URL cracker.
struct WinHttpFunctions {
    decltype(&::WinHttpAddRequestHeaders) AddRequestHeaders;
    decltype(&::WinHttpCloseHandle) CloseHandle;
    decltype(&::WinHttpConnect) Connect;
    decltype(&::WinHttpCrackUrl) CrackUrl;
    decltype(&::WinHttpOpen) Open;
    decltype(&::WinHttpOpenRequest) OpenRequest;
    decltype(&::WinHttpQueryAuthSchemes) QueryAuthSchemes;
    decltype(&::WinHttpQueryHeaders) QueryHeaders;
    decltype(&::WinHttpQueryOption) QueryOption;
    decltype(&::WinHttpReadData) ReadData;
    decltype(&::WinHttpReceiveResponse) ReceiveResponse;
    decltype(&::WinHttpSendRequest) SendRequest;
    decltype(&::WinHttpSetCredentials) SetCredentials;
    decltype(&::WinHttpSetOption) SetOption;
    decltype(&::WinHttpSetStatusCallback) SetStatusCallback;
    decltype(&::WinHttpSetTimeouts) SetTimeouts;
};
const WinHttpFunctions& WinHttp();

// CryptoAPI's certificate and encoding calls (crypt32.dll; the hashing calls live in
// advapi32, a known DLL).
struct Crypt32Functions {
    decltype(&::CertFreeCertificateChain) CertFreeCertificateChain;
    decltype(&::CertFreeCertificateContext) CertFreeCertificateContext;
    decltype(&::CertGetCertificateChain) CertGetCertificateChain;
    decltype(&::CertVerifyCertificateChainPolicy) CertVerifyCertificateChainPolicy;
    decltype(&::CryptHashCertificate2) CryptHashCertificate2;
    decltype(&::CryptStringToBinaryW) CryptStringToBinaryW;
};
const Crypt32Functions& Crypt32();

// Winsock (ws2_32.dll), started for the rest of the process on first use.
struct Ws2Functions {
    decltype(&::closesocket) closesocket;
    decltype(&::connect) connect;
    decltype(&::FreeAddrInfoW) FreeAddrInfoW;
    decltype(&::GetAddrInfoW) GetAddrInfoW;
    decltype(&::ioctlsocket) ioctlsocket;
    decltype(&::recv) recv;
    decltype(&::select) select;
    decltype(&::send) send;
    decltype(&::socket) socket;
};
const Ws2Functions& Ws2();

// The security packages' calls (Schannel among them), as secur32.dll's table hands them out.
const SecurityFunctionTableW& Sspi();

// WinTrust: Authenticode verification and its signer.
struct WinTrustFunctions {
    decltype(&::WinVerifyTrust) WinVerifyTrust;
    decltype(&::WTHelperProvDataFromStateData) WTHelperProvDataFromStateData;
    decltype(&::WTHelperGetProvSignerFromChain) WTHelperGetProvSignerFromChain;
};
const WinTrustFunctions& WinTrust();

// Version resources of executables (version.dll).
struct VersionFunctions {
    decltype(&::GetFileVersionInfoSizeW) GetFileVersionInfoSizeW;
    decltype(&::GetFileVersionInfoW) GetFileVersionInfoW;
    decltype(&::VerQueryValueW) VerQueryValueW;
};
const VersionFunctions& VersionDll();

// The Desktop Window Manager's window attributes (dwmapi.dll).
struct DwmFunctions {
    decltype(&::DwmSetWindowAttribute) DwmSetWindowAttribute;
};
const DwmFunctions& Dwm();

// Active Accessibility (oleacc.dll): the page's object for screen readers.
struct OleaccFunctions {
    decltype(&::LresultFromObject) LresultFromObject;
    decltype(&::CreateStdAccessibleObject) CreateStdAccessibleObject;
};
const OleaccFunctions& Oleacc();

// OLE Automation's strings (oleaut32.dll), which accessibility hands to its clients.
struct OleAutFunctions {
    decltype(&::SysAllocStringLen) SysAllocStringLen;
};
const OleAutFunctions& OleAut();

// Loads from System32, for the rest of the process, GDI+ (delay-loaded: its own imports,
// mlang on a newer Wine, are then looked up in System32 too) and the DLLs that system DLLs
// we use load later by name on their own (GDI+ delay-loads the imaging codecs, the CryptoAPI
// provider behind the file digest pulls in crypt32, WinHTTP reaches TLS through secur32,
// WinTrust reads image digests through dbghelp, the first window and the start-up error
// box bring in the theme engine uxtheme and, through the common controls, msimg32): each
// then finds its DLL already loaded instead of searching for it, and Wine's searches of
// this kind do not keep to SetDefaultDllDirectories. Called before the first window or
// box. Best effort: a DLL that cannot be loaded is skipped.
void PreloadDelayLoadedSystemDlls();

}  // namespace tavro
