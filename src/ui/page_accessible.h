#pragma once

#include <windows.h>

#include "ui/page_model.h"

namespace tavro::ui {

class PageAccessible;  // the COM object

// The painted page for screen readers: an IAccessible for the window's client area that
// reads the page model on every call, made on the first request. User-interface thread only.
class PageAccessibility {
public:
    PageAccessibility() = default;
    ~PageAccessibility() { Disconnect(); }
    PageAccessibility(const PageAccessibility&) = delete;
    PageAccessibility& operator=(const PageAccessibility&) = delete;

    // The answer to WM_GETOBJECT: the page's object for OBJID_CLIENT, else 0, which leaves
    // the request to the system.
    LRESULT Answer(HWND window, HWND button, const PageState& page, WPARAM wParam, LPARAM lParam);

    // Cuts the object off from a window that is going away: a client that still holds it
    // gets an error, never a read of freed state.
    void Disconnect();

private:
    PageAccessible* object_ = nullptr;
};

// Tells assistive technology what changed between the page as last announced and as it is
// now (a new status text, percentage or failure), then remembers `now` as announced.
void AnnouncePage(HWND window, PageState& announced, const PageState& now);

}  // namespace tavro::ui
