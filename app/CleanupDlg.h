#pragma once

#include <windows.h>

#include <functional>

#include "cleanup/CleanupManager.h"
#include "framework/Dialog.h"
#include "framework/Handles.h"
#include "widgets/AnimatedPicture.h"
#include "widgets/BitmapButton.h"

class CDeleter;

// The modal window shown while a session is wiped: five kinds of trace
// ticked off one after another with short animations, after which it closes
// itself. It is a paced display, not a progress report: the clean-up goes on
// when the user closes the window early. Given a source of the outcome, it
// waits, once every row is ticked, for the clean-up to end, then shows on
// each row what was done and, when something was left, one line saying so.
class CCleanupDlg : public CDialog {
public:
    static constexpr int kRowCount = 5;
    static constexpr UINT_PTR kStepTimer = 50000;
    static constexpr UINT_PTR kCloseTimer = 2;
    static constexpr UINT kFirstStepMs = 500;
    static constexpr UINT kStepMs = 250;
    static constexpr UINT kCloseMs = 1500;
    // Long enough to read the line about what was left.
    static constexpr UINT kReadMs = 6000;
    static constexpr int kResultLineId = 1110;

    // The deleter is the application's; the dialog only keeps it.
    CCleanupDlg(CDeleter* pDeleter, HWND hWndParent);
    ~CCleanupDlg() override;

    // The rows top to bottom: History, Cookies, Temporary Internet Files,
    // Index.dat, Flash Cookies.
    const CAnimatedPicture& RowPicture(int nRow) const { return m_rows[nRow]; }
    const CBitmapButton& CloseButton() const { return m_closeButton; }
    int GetStep() const { return m_nStep; }
    CDeleter* GetDeleter() const { return m_pDeleter; }

    // Asked at each step once every row is ticked; TRUE, with the outcome,
    // once the clean-up has ended.
    using OutcomeSource = std::function<bool(CCleanupOutcome&)>;
    void SetOutcomeSource(OutcomeSource source) { m_outcomeSource = std::move(source); }

protected:
    BOOL OnInitDialog() override;
    void OnTimer(UINT_PTR nIDEvent) override;
    void OnCancel() override;
    BOOL OnCommand(WORD wId, WORD wNotifyCode, HWND hControl) override;
    HBRUSH OnCtlColor(HDC hDc, HWND hWnd, UINT nCtlColor) override;

    // Loads one of the row animations into a row's picture.
    virtual BOOL LoadRowImage(CAnimatedPicture& picture, UINT nImageId);

private:
    void StartRow(int nRow);
    void FinishRow(int nRow);
    // Writes the counts on the rows and the line about what was left; TRUE
    // when there is such a line.
    bool ShowOutcome(const CCleanupOutcome& outcome);
    void ShowResultLine(const CString& strText);

    CDeleter* m_pDeleter;
    CAnimatedPicture m_rows[kRowCount];
    CAnimatedPicture m_banner;
    CBitmapButton m_closeButton;
    CBrush m_brush;
    CFont m_font;
    // The rows' counts, a size smaller, to fit the panel's width.
    CFont m_countFont;
    int m_nStep = 0;
    OutcomeSource m_outcomeSource;
};
