#pragma once

#include <windows.h>

#include <memory>

#include "shared/status_sink.h"

namespace tavro::ui {

// Worker-to-window messages.
inline constexpr UINT WM_APP_STATUS = WM_APP + 1;      // lParam: StatusUpdate*, owned by the window
inline constexpr UINT WM_APP_SHOW_RETRY = WM_APP + 2;  // wParam: the run's core::OfflineOffer

// A window as the status sink: each report is posted to it (WM_APP_STATUS,
// WM_APP_SHOW_RETRY, WM_CLOSE) and handled on the window's own thread.
class WindowStatusSink final : public StatusSink {
public:
    explicit WindowStatusSink(HWND window = nullptr) : window_(window) {}

    void TakeStatus(std::unique_ptr<StatusUpdate> update) noexcept override;
    bool ShowRetry(unsigned offer) noexcept override;
    bool Close() noexcept override;
    HWND Owner() const noexcept override { return window_; }

private:
    HWND window_;
};

}  // namespace tavro::ui
