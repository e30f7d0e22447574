#include "shell/FrameRules.h"

LRESULT CFrameRules::HitTest(POINT pt, SIZE client, bool bResizable, bool bMaximized)
{
    const int x = pt.x;
    const int y = pt.y;
    LRESULT nHit = HTCLIENT;
    if (bResizable && !bMaximized) {
        const bool bLeft = x < kCornerZone;
        const bool bRight = x >= client.cx - kCornerZone;
        const bool bTop = y < kCornerZone;
        const bool bBottom = y >= client.cy - kCornerZone;
        if (bTop && bLeft) {
            nHit = HTTOPLEFT;
        } else if (bTop && bRight) {
            nHit = HTTOPRIGHT;
        } else if (bBottom && bLeft) {
            nHit = HTBOTTOMLEFT;
        } else if (bBottom && bRight) {
            nHit = HTBOTTOMRIGHT;
        } else if (x < kEdgeZone) {
            nHit = HTLEFT;
        } else if (x >= client.cx - kEdgeZone) {
            nHit = HTRIGHT;
        } else if (y < kEdgeZone) {
            nHit = HTTOP;
        } else if (y >= client.cy - kEdgeZone) {
            nHit = HTBOTTOM;
        }
    }
    // The caption and the system menu hold in any case, over the corners.
    if (x >= 29 && x <= client.cx - 29 && y >= 5 && y <= 29) {
        nHit = HTCAPTION;
    }
    if (x >= 7 && x <= 23 && y >= 7 && y <= 23) {
        nHit = HTSYSMENU;
    }
    return nHit;
}

CFrameRules::CLargest CFrameRules::Largest(const RECT& rcScreen, const RECT& rcWorkArea, SIZE frame)
{
    CLargest largest = {rcScreen, rcWorkArea};
    InflateRect(&largest.rcFullScreen, frame.cx, frame.cy);
    InflateRect(&largest.rcMaximized, frame.cx, frame.cy);
    return largest;
}

const wchar_t* CFrameRules::MaximizeTooltip(bool bFullScreen, bool bMaximized)
{
    if (bFullScreen) {
        return L"Exit Fullscreen";
    }
    return bMaximized ? L"Restore Down" : L"Maximize";
}

int CFrameRules::NearestOpenTab(const std::vector<bool>& open, int nCurrent, bool bAfter)
{
    const int nCount = static_cast<int>(open.size());
    const int nStep = bAfter ? 1 : -1;
    for (int i = nCurrent + nStep; i >= 0 && i < nCount; i += nStep) {
        if (open[i]) {
            return i;
        }
    }
    return -1;
}

CString CFrameRules::TabLabel(const CString& strTitle)
{
    CString strLower = strTitle;
    strLower.MakeLower();
    if (strLower.Find(L"nulvane") >= 0 && strLower.Find(L"search") >= 0) {
        return L"Nulvane Search";
    }
    return strTitle;
}

CString CFrameRules::WindowTitle(const CString& strDocumentTitle, const CString& strAppTitle)
{
    if (strDocumentTitle.IsEmpty()) {
        return strAppTitle;
    }
    // A caption that already starts with the product's name would name it
    // twice ("Nulvane - ... - Nulvane").
    if (strDocumentTitle.Left(strAppTitle.GetLength()).CompareNoCase(strAppTitle) == 0) {
        return strDocumentTitle;
    }
    return strDocumentTitle + L" - " + strAppTitle;
}
