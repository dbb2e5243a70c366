#include "ui/window_status_sink.h"

namespace tavro::ui {

void WindowStatusSink::TakeStatus(std::unique_ptr<StatusUpdate> update) noexcept {
    // A null window would turn the post into a thread message that no window ever frees.
    if (window_ != nullptr && PostMessageW(window_, WM_APP_STATUS, 0, reinterpret_cast<LPARAM>(update.get()))) {
        // Delivered: the window owns the record now.
        static_cast<void>(update.release());
    }
}

bool WindowStatusSink::ShowRetry(unsigned offer) noexcept {
    return window_ != nullptr && PostMessageW(window_, WM_APP_SHOW_RETRY, offer, 0) != FALSE;
}

bool WindowStatusSink::Close() noexcept {
    return window_ != nullptr && PostMessageW(window_, WM_CLOSE, 0, 0) != FALSE;
}

}  // namespace tavro::ui
