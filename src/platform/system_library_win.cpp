#include "platform/system_library.h"

namespace tavro {

SystemLibrary SystemLibrary::Load(const wchar_t* name) noexcept {
    SystemLibrary library;
    library.module_.reset(LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    return library;
}

}  // namespace tavro
