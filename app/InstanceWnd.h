#pragma once

#include <windows.h>

#include "framework/Window.h"

// The running copy's invisible window. It handles nothing: other copies
// find the running one by its class and title, and post their URL to the
// thread that owns it, the application thread.
class CInstanceWnd : public CWindow {
public:
    // Every copy registers the same class: no style, cursor, background or
    // icon.
    static constexpr const wchar_t* kClassName = L"NulvaneInstanceWindow";
    // The title is this very text; nothing is formatted into it.
    static constexpr const wchar_t* kTitle = L"Nulvane %s";

    [[nodiscard]] static bool Register();
    // Created never shown.
    [[nodiscard]] bool Create();
    // The running copy's window, or null.
    static HWND Find();
};
