#pragma once

#include <windows.h>

#include "framework/String.h"
#include "widgets/DialogBar.h"
#include "widgets/ImageStrip.h"

// The bar along the window's foot: the page's status text, a padlock while
// the page is secure, and the page's loading progress. The text and the
// padlock are drawn here; the progress is the platform's progress control
// (nProgressId in the template), shown only while a page loads.
class CStatusBar : public CDialogBar {
public:
    // nLockColumn: the padlock's column in the images.
    CStatusBar(const CImageStrip& images, int nLockColumn, UINT nProgressId);

    void SetText(const CString& strText);
    const CString& GetText() const { return m_strText; }
    // 0: not secure; any other level shows the padlock.
    void SetSecureLock(LONG nLevel);
    LONG GetSecureLock() const { return m_nSecureLock; }
    // -1: no page loading (the progress is hidden); else 0 to 100.
    void SetProgress(int nPercent);
    int GetProgress() const { return m_nProgress; }

    // The height the bar wants at the given DPI.
    static int HeightFor(int nDpi);

protected:
    void OnSize(int cx, int cy) override;
    void OnPaint(HDC hDc, const RECT& rcClient) override;

private:
    const CImageStrip& m_images;
    int m_nLockColumn;
    UINT m_nProgressId;
    CString m_strText;
    LONG m_nSecureLock = 0;
    int m_nProgress = -1;
};
