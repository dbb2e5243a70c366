#pragma once

#include <windows.h>
#include <wincrypt.h>

#include "platform/unique_handle.h"
#include "platform/win_handles.h"

namespace tavro {

namespace detail {

struct CryptProviderTraits {
    using Handle = HCRYPTPROV;
    static Handle Invalid() { return 0; }
    static bool IsValid(Handle h) { return h != 0; }
    static void Close(Handle h) {
        LastErrorKeeper keep;
        CryptReleaseContext(h, 0);
    }
};

struct CryptHashTraits {
    using Handle = HCRYPTHASH;
    static Handle Invalid() { return 0; }
    static bool IsValid(Handle h) { return h != 0; }
    static void Close(Handle h) {
        LastErrorKeeper keep;
        CryptDestroyHash(h);
    }
};

}  // namespace detail

// A CryptoAPI provider context from CryptAcquireContextW (0 when empty).
using UniqueCryptProvider = UniqueHandle<detail::CryptProviderTraits>;
// A CryptoAPI hash object from CryptCreateHash; must go before the provider it came from.
using UniqueCryptHash = UniqueHandle<detail::CryptHashTraits>;

}  // namespace tavro
