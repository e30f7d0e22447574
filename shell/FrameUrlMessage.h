#pragma once

#include <windows.h>

#include "framework/String.h"

// The URL that WM_FRAME_OPEN_IN_NEW_TAB carries as a heap pointer. Any
// process on the desktop can post that message number to a frame, so a
// frame takes only a pointer that this process handed out and has not taken
// back yet; anything else is refused without being touched.
class CFrameUrlMessage {
public:
    // Posts WM_FRAME_OPEN_IN_NEW_TAB with a copy of the URL; false (and the
    // copy freed) when the window is gone or its queue is full.
    static bool Post(HWND hWndFrame, const CString& strUrl, LPARAM lParam);
    // The same, sent: returns once the frame has handled it.
    static bool Send(HWND hWndFrame, const CString& strUrl, LPARAM lParam);
    // Takes over the URL of a received wParam; false when this process did
    // not hand it out (or it was taken already).
    [[nodiscard]] static bool Take(WPARAM wParam, CString& strUrl);
    // URLs handed out and not taken yet.
    static size_t Outstanding();
};
