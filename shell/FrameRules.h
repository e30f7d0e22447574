#pragma once

#include <windows.h>

#include <vector>

#include "framework/String.h"

// The browser window's decisions that depend on numbers and texts only:
// where the mouse may size or move it, how large it may grow, which tab
// comes next, what a tab and the window are called.
class CFrameRules {
public:
    static constexpr int kCornerZone = 28;
    static constexpr int kEdgeZone = 4;
    static constexpr SIZE kSmallest = {450, 300};

    // The hit-test answer for a point of the client area (x, y within
    // cx, cy) that nothing else claimed: sizing corners and edges (only
    // when resizable and not maximised), the caption, the system menu; else
    // HTCLIENT.
    static LRESULT HitTest(POINT pt, SIZE client, bool bResizable, bool bMaximized);

    // The rectangles that put the window's frame (of the given width and
    // height) just off the screen, or off the work area.
    struct CLargest {
        RECT rcFullScreen;
        RECT rcMaximized;
    };
    static CLargest Largest(const RECT& rcScreen, const RECT& rcWorkArea, SIZE frame);

    static const wchar_t* MaximizeTooltip(bool bFullScreen, bool bMaximized);

    // The nearest open tab after (or before) nCurrent; -1 when there is none.
    static int NearestOpenTab(const std::vector<bool>& open, int nCurrent, bool bAfter);

    // A page title as its tab shows it.
    static CString TabLabel(const CString& strTitle);
    // The window's title from the document's title and the application's.
    static CString WindowTitle(const CString& strDocumentTitle, const CString& strAppTitle);
};
