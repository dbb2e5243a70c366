#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

namespace tavro {

// One status line for whoever shows the run; -1 progress means no percentage.
struct StatusUpdate {
    std::wstring status;
    std::wstring detail;
    std::int32_t progress = -1;
};

// Whoever shows the runs: the installer window registers itself as the sink, so that the
// work below it reports without knowing how it is shown. Called from any thread; no call
// may block, and each says whether the report was taken.
class StatusSink {
public:
    // A new status line, the sink's to keep; one it cannot deliver is freed.
    virtual void TakeStatus(std::unique_ptr<StatusUpdate> update) noexcept = 0;
    // The run failed: show Retry, and the offline link as `offer` (the run's core::OfflineOffer) says.
    virtual bool ShowRetry(unsigned offer) noexcept = 0;
    // The run is done: close.
    virtual bool Close() noexcept = 0;
    // The window that what a run starts (the setup, the installed copy, the browser) belongs to,
    // so that its prompts come up in front of it; null for none.
    virtual HWND Owner() const noexcept = 0;

protected:
    ~StatusSink() = default;
};

// The process's sink (null: none); set at start-up, before any worker exists.
void SetStatusSink(StatusSink* sink);

// Gives the sink a new StatusUpdate; callable from any thread. Without a sink it is lost.
void PostStatusUpdate(std::wstring status, std::wstring detail, std::int32_t progress);

// Tells the sink that the run failed (with its offline offer) or is done; false without a
// sink or when it could not be told.
bool PostShowRetry(unsigned offer = 0);
bool PostClose();

// The sink's owner for what a run starts; null without a sink.
HWND StatusOwner();

}  // namespace tavro
