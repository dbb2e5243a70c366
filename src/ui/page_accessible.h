#pragma once

#include <windows.h>
#include <oleacc.h>
#include <wrl/client.h>

#include "ui/page_model.h"

namespace tavro::ui {

class PageAccessible;  // the COM object

// The window's command ids: Retry's, a real button's, and the offline link's, which the page
// draws; a default action sends the one of its part.
struct PageCommands {
    int retry;
    int link;
};

// What every call of the page's object answers once its window is gone: the error that COM
// gives a client's marshalled call after CoDisconnectObject, and the one Microsoft names for
// an IAccessible whose application has closed, so that a screen reader in another process
// and a caller in this one hear the same.
inline constexpr HRESULT kAccessibleGone = CO_E_OBJNOTCONNECTED;

// The painted page for screen readers: an IAccessible for the window's client area that
// reads the page model on every call, made on the first request. User-interface thread only.
class PageAccessibility {
public:
    PageAccessibility() = default;
    ~PageAccessibility() { Disconnect(); }
    PageAccessibility(const PageAccessibility&) = delete;
    PageAccessibility& operator=(const PageAccessibility&) = delete;

    // The answer to WM_GETOBJECT: the page's object for OBJID_CLIENT, else 0, which leaves
    // the request to the system; 0 too once disconnected. The Retry button is looked up by
    // its control id on each call: a request can come before the button exists.
    LRESULT Answer(HWND window, PageCommands commands, const PageState& page, WPARAM wParam, LPARAM lParam);

    // Tells assistive technology what changed between the page as last announced and as it
    // is now (a new status text, percentage or failure), then remembers `now` as announced.
    void Announce(HWND window, PageState& announced, const PageState& now);

    // Cuts the object off from a window that is going away: a client that still holds it
    // gets kAccessibleGone, never a read of freed state, and no new object is made.
    void Disconnect();

private:
    PageAccessible* object_ = nullptr;
    bool disconnected_ = false;
    Microsoft::WRL::ComPtr<IAccPropServices> properties_;  // null where annotation is missing
    bool propertiesTried_ = false;
};

}  // namespace tavro::ui
