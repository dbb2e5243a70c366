#include "shared/status_update.h"

#include <atomic>
#include <memory>

namespace tavro {

namespace {

std::atomic<HWND> mainWindow{nullptr};

}  // namespace

void SetMainWindow(HWND window) {
    mainWindow.store(window);
}

HWND MainWindow() {
    return mainWindow.load();
}

void PostStatusUpdate(std::wstring status, std::wstring detail, std::int32_t progress) {
    auto update = std::make_unique<StatusUpdate>(StatusUpdate{std::move(status), std::move(detail), progress});
    const HWND window = MainWindow();
    // A null window would turn the post into a thread message that no window ever frees.
    if (window == nullptr) return;
    if (PostMessageW(window, WM_APP_STATUS, 0, reinterpret_cast<LPARAM>(update.get()))) {
        // Delivered: the window owns the record now.
        static_cast<void>(update.release());
    }
}

bool PostToMainWindow(UINT message, WPARAM wParam) {
    const HWND window = MainWindow();
    return window != nullptr && PostMessageW(window, message, wParam, 0) != FALSE;
}

}  // namespace tavro
