#pragma once

#include <cstdint>
#include <string>

namespace tavro::net {

// Connects to host:port directly, runs a TLS client handshake (with `host` as the server
// name) that sends no application data, and checks the certificate the server presents as
// WinHTTP checks it for `host`. Returns the WINHTTP_CALLBACK_STATUS_FLAG_* bits of the
// checks it fails; 0 when the handshake does not complete or the certificate passes. Gives up
// after a few seconds; throws as ThrowIfCancelled does once the user stops the download.
std::uint32_t ProbeServerCertificate(const std::wstring& host, std::uint16_t port);

}  // namespace tavro::net
