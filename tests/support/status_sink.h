#pragma once

#include <windows.h>

#include <memory>
#include <vector>

#include "shared/status_update.h"

namespace tavro::ui {

// A hidden message-only window standing in for the installer window while it exists: it
// is the main window that status updates are posted to, and it hands them back in order.
class StatusSink {
public:
    StatusSink() {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"TavroTestStatusSink";
        RegisterClassW(&windowClass);  // fails harmlessly when a sink registered it before
        window_ = CreateWindowExW(0, L"TavroTestStatusSink", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
        SetMainWindow(window_);
    }
    ~StatusSink() {
        Drain();
        SetMainWindow(nullptr);
        DestroyWindow(window_);
    }
    StatusSink(const StatusSink&) = delete;
    StatusSink& operator=(const StatusSink&) = delete;

    bool Ready() const { return window_ != nullptr; }

    // Takes every posted status update out of the queue, in order, and frees the records.
    std::vector<StatusUpdate> Drain() {
        std::vector<StatusUpdate> updates;
        MSG message{};
        while (PeekMessageW(&message, window_, WM_APP_STATUS, WM_APP_STATUS, PM_REMOVE)) {
            std::unique_ptr<StatusUpdate> update(reinterpret_cast<StatusUpdate*>(message.lParam));
            updates.push_back(*update);
        }
        return updates;
    }

private:
    HWND window_ = nullptr;
};

}  // namespace tavro::ui
