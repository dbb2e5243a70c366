#pragma once

#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "shared/status_sink.h"

namespace tavro::testing {

// Stands in for the installer window as the status sink while it exists, and hands the
// status updates back in the order they came.
class StatusRecorder final : public StatusSink {
public:
    StatusRecorder() { SetStatusSink(this); }
    ~StatusRecorder() { SetStatusSink(nullptr); }
    StatusRecorder(const StatusRecorder&) = delete;
    StatusRecorder& operator=(const StatusRecorder&) = delete;

    void TakeStatus(std::unique_ptr<StatusUpdate> update) noexcept override {
        const std::lock_guard lock(mutex_);
        updates_.push_back(std::move(*update));
    }
    bool ShowRetry(unsigned) noexcept override { return true; }
    bool Close() noexcept override { return true; }
    HWND Owner() const noexcept override { return nullptr; }

    // Takes every status update so far, in order.
    std::vector<StatusUpdate> Drain() {
        const std::lock_guard lock(mutex_);
        return std::exchange(updates_, {});
    }

private:
    std::mutex mutex_;
    std::vector<StatusUpdate> updates_;
};

}  // namespace tavro::testing
