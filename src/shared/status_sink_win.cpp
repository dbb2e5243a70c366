#include "shared/status_sink.h"

#include <atomic>

namespace tavro {

namespace {

std::atomic<StatusSink*> statusSink{nullptr};

}  // namespace

void SetStatusSink(StatusSink* sink) {
    statusSink.store(sink);
}

void PostStatusUpdate(std::wstring status, std::wstring detail, std::int32_t progress) {
    if (StatusSink* sink = statusSink.load()) {
        sink->TakeStatus(std::make_unique<StatusUpdate>(StatusUpdate{std::move(status), std::move(detail), progress}));
    }
}

bool PostShowRetry(unsigned offer) {
    StatusSink* sink = statusSink.load();
    return sink != nullptr && sink->ShowRetry(offer);
}

bool PostClose() {
    StatusSink* sink = statusSink.load();
    return sink != nullptr && sink->Close();
}

HWND StatusOwner() {
    StatusSink* sink = statusSink.load();
    return sink == nullptr ? nullptr : sink->Owner();
}

}  // namespace tavro
