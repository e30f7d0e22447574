#include "app/CleanupDlg.h"

#include "framework/LanguageManagerResource.h"
#include "framework/Logger.h"
#include "resources/Resource.h"

namespace {

constexpr COLORREF kWhite = RGB(255, 255, 255);

const int kRowPictureIds[CCleanupDlg::kRowCount] = {
    IDC_CLEANUP_MARK_HISTORY, IDC_CLEANUP_MARK_COOKIES,   IDC_CLEANUP_MARK_TEMP_FILES,
    IDC_CLEANUP_MARK_INDEX_DAT, IDC_CLEANUP_MARK_FLASH,
};

struct CLabel {
    int nId;
    const wchar_t* pszKey;
};

// In the order the labels are set up.
const CLabel kLabels[] = {
    {IDC_CLEANUP_LABEL_COOKIES, L"COOKIES"},
    {IDC_CLEANUP_LABEL_FLASH, L"FLASH_COOKIES"},
    {IDC_CLEANUP_LABEL_HISTORY, L"HISTORY"},
    {IDC_CLEANUP_LABEL_INDEX_DAT, L"INDEX_DAT"},
    {IDC_CLEANUP_LABEL_TEMP_FILES, L"TEMP_INT_FILES"},
};

const int kFontLabelOrder[] = {
    IDC_CLEANUP_LABEL_HISTORY,   IDC_CLEANUP_LABEL_COOKIES, IDC_CLEANUP_LABEL_TEMP_FILES,
    IDC_CLEANUP_LABEL_INDEX_DAT, IDC_CLEANUP_LABEL_FLASH,
};

CString Text(const wchar_t* pszKey)
{
    return CLanguageManagerResource::Instance()->GetString(pszKey);
}

}  // namespace

CCleanupDlg::CCleanupDlg(CDeleter* pDeleter, HWND hWndParent) : CDialog(IDD_CLEANUP, hWndParent), m_pDeleter(pDeleter)
{
}

// The pictures stop with their own destruction; the brush, the font and the
// button's bitmaps are freed by their owners.
CCleanupDlg::~CCleanupDlg() = default;

BOOL CCleanupDlg::OnInitDialog()
{
    LOG_MESSAGE(L"start CCleanupDlg::OnInitDialog()");
    CDialog::OnInitDialog();
    HWND hWnd = GetSafeHwnd();
    SetWindowTextW(hWnd, Text(L"CLEANING"));

    HMODULE hResources = ResourceModule();
    auto* hLargeIcon = static_cast<HICON>(LoadImageW(hResources, MAKEINTRESOURCEW(IDI_NULVANE), IMAGE_ICON,
                                                     GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON),
                                                     LR_SHARED));
    auto* hSmallIcon = static_cast<HICON>(LoadImageW(hResources, MAKEINTRESOURCEW(IDI_NULVANE), IMAGE_ICON,
                                                     GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON),
                                                     LR_SHARED));
    SendMessageW(hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(hLargeIcon));
    SendMessageW(hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(hSmallIcon));

    m_brush.reset(CreateSolidBrush(kWhite));
    m_font.reset(CreateFontW(18, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, 0, 0, 0, 0, 0, L"Arial"));

    if (m_banner.SubclassDlgItem(IDC_CLEANUP_BANNER, hWnd)) {
        m_banner.SetBkColor(kWhite);
        m_banner.SetAutoSize(CAnimatedPicture::AutoSize::FromTopLeft);
        if (m_banner.LoadResource(hResources, MAKEINTRESOURCEW(IDR_GIF_CLEANUP_BANNER), L"GIF")) {
            m_banner.Draw(true);
        }
    }

    if (m_closeButton.SubclassDlgItem(IDC_CLEANUP_CLOSE, hWnd)) {
        m_closeButton.SetBitmaps(CBitmap(LoadBitmapW(hResources, MAKEINTRESOURCEW(IDB_CLOSE_NORMAL))), kWhite,
                                 CBitmap(LoadBitmapW(hResources, MAKEINTRESOURCEW(IDB_CLOSE_HOT))), kWhite);
        m_closeButton.SizeToBitmap();
        m_closeButton.SetTooltipText(Text(L"ABORT_CLEANUP"));
    }

    for (int nId : kFontLabelOrder) {
        HWND hLabel = GetDlgItem(nId);
        SendMessageW(hLabel, WM_SETFONT, reinterpret_cast<WPARAM>(m_font.get()), FALSE);
        SetWindowPos(hLabel, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        RedrawWindow(hLabel, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    }

    for (int nRow = 0; nRow < kRowCount; ++nRow) {
        CAnimatedPicture& picture = m_rows[nRow];
        picture.SubclassDlgItem(kRowPictureIds[nRow], hWnd);
        // The working and done marks differ in size: both sit on the centre
        // the template gave the row's picture.
        picture.SetAutoSize(CAnimatedPicture::AutoSize::AroundCentre);
        picture.Stop();
        picture.UnLoad();
        picture.SetBkColor(kWhite);
    }

    for (const CLabel& label : kLabels) {
        SetDlgItemTextW(hWnd, label.nId, Text(label.pszKey));
    }

    SetTimer(hWnd, kStepTimer, kFirstStepMs, nullptr);
    m_nStep = 0;
    LOG_MESSAGE(L"end CCleanupDlg::OnInitDialog()");
    return TRUE;
}

BOOL CCleanupDlg::LoadRowImage(CAnimatedPicture& picture, UINT nImageId)
{
    return picture.LoadResource(ResourceModule(), MAKEINTRESOURCEW(nImageId), L"GIF");
}

void CCleanupDlg::StartRow(int nRow)
{
    CAnimatedPicture& picture = m_rows[nRow];
    if (picture.IsPlaying()) {
        return;
    }
    // A picture that cannot load stays empty and never plays: the next tick
    // finds it finished, so the sequence still completes.
    if (LoadRowImage(picture, IDR_GIF_CLEANUP_WORKING)) {
        picture.SetBkColor(kWhite);
        picture.Draw(false);
    }
}

void CCleanupDlg::FinishRow(int nRow)
{
    CAnimatedPicture& picture = m_rows[nRow];
    if (picture.IsPlaying()) {
        picture.Stop();
    }
    if (LoadRowImage(picture, IDR_GIF_CLEANUP_DONE)) {
        picture.Draw(false);
    }
}

void CCleanupDlg::OnTimer(UINT_PTR nIDEvent)
{
    CDialog::OnTimer(nIDEvent);
    HWND hWnd = GetSafeHwnd();
    if (nIDEvent == kStepTimer) {
        KillTimer(hWnd, kStepTimer);
        if (m_nStep == 0) {
            StartRow(0);
            m_nStep = 1;
        } else if (m_nStep >= 1 && m_nStep <= kRowCount) {
            const int nRow = m_nStep - 1;
            if (!m_rows[nRow].IsPlaying()) {
                FinishRow(nRow);
                if (nRow + 1 < kRowCount) {
                    StartRow(nRow + 1);
                }
                ++m_nStep;
            }
        } else {
            // Every row is ticked: the window goes a moment later, once the
            // clean-up has ended when there is an outcome to show.
            CCleanupOutcome outcome;
            if (m_outcomeSource && !m_outcomeSource(outcome)) {
                SetTimer(hWnd, kStepTimer, kStepMs, nullptr);
                return;
            }
            const bool bSomethingLeft = m_outcomeSource && ShowOutcome(outcome);
            SetTimer(hWnd, kCloseTimer, bSomethingLeft ? kReadMs : kCloseMs, nullptr);
            return;
        }
        SetTimer(hWnd, kStepTimer, kStepMs, nullptr);
    } else if (nIDEvent == kCloseTimer) {
        LOG_MESSAGE(L"CCleanupDlg::OnTimer about to KillTimer");
        KillTimer(hWnd, kCloseTimer);
        LOG_MESSAGE(L"CCleanupDlg::OnTimer before CDialog::EndDialog(IDOK)");
        EndDialog(IDOK);
        LOG_MESSAGE(L"CCleanupDlg::OnTimer after CDialog::EndDialog(IDOK)");
    }
}

bool CCleanupDlg::ShowOutcome(const CCleanupOutcome& outcome)
{
    using O = CCleanupOutcome;
    const CStoreTally* t = outcome.tallies;
    const struct {
        int nLabelId;
        const wchar_t* pszKey;
        bool bCounted;
        int nRemoved;
        int nRestored;  // -1: the store restores nothing
    } rows[] = {
        {IDC_CLEANUP_LABEL_HISTORY, L"HISTORY", outcome.bCounted[O::kHistory], t[O::kHistory].nRemoved, -1},
        {IDC_CLEANUP_LABEL_COOKIES, L"COOKIES", outcome.bCounted[O::kCookies], t[O::kCookies].nRemoved,
         t[O::kCookies].nRestored},
        {IDC_CLEANUP_LABEL_TEMP_FILES, L"TEMP_INT_FILES", outcome.bCounted[O::kTempInternetFiles],
         t[O::kTempInternetFiles].nRemoved, -1},
        {IDC_CLEANUP_LABEL_INDEX_DAT, L"INDEX_DAT",
         outcome.bCounted[O::kCookies] || outcome.bCounted[O::kTempInternetFiles],
         t[O::kCookies].nIndexRecordsErased + t[O::kTempInternetFiles].nIndexRecordsErased, -1},
        {IDC_CLEANUP_LABEL_FLASH, L"FLASH_COOKIES", outcome.bCounted[O::kFlashSharedObjects],
         t[O::kFlashSharedObjects].nRemoved, t[O::kFlashSharedObjects].nRestored},
    };
    HWND hWnd = GetSafeHwnd();
    // A row with its counts runs from just after its mark to the panel's
    // inner edge, in a smaller font: at the template's size and place
    // "Temporary Internet Files — 200 removed" would be cut.
    RECT rcRow = {72, 0, 244, 0};
    MapDialogRect(hWnd, &rcRow);
    m_countFont.reset(CreateFontW(15, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, 0, 0, 0, 0, 0, L"Arial"));
    for (const auto& row : rows) {
        if (!row.bCounted) {
            continue;
        }
        const CString strText =
            row.nRestored < 0
                ? FormatString(Text(L"CLEANUP_COUNT_REMOVED"), Text(row.pszKey).GetString(), row.nRemoved)
                : FormatString(Text(L"CLEANUP_COUNT_REMOVED_RESTORED"), Text(row.pszKey).GetString(), row.nRemoved,
                               row.nRestored);
        HWND hLabel = GetDlgItem(row.nLabelId);
        RECT rc = {};
        GetWindowRect(hLabel, &rc);
        MapWindowPoints(nullptr, hWnd, reinterpret_cast<POINT*>(&rc), 2);
        SetWindowPos(hLabel, nullptr, rcRow.left, rc.top, rcRow.right - rcRow.left, rc.bottom - rc.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        SendMessageW(hLabel, WM_SETFONT, reinterpret_cast<WPARAM>(m_countFont.get()), FALSE);
        SetWindowTextW(hLabel, strText);
    }
    if (outcome.nResidue > 0) {
        ShowResultLine(outcome.nResidue == 1 ? Text(L"CLEANUP_RESIDUE_ONE")
                                             : FormatString(Text(L"CLEANUP_RESIDUE_MANY"), outcome.nResidue));
        return true;
    }
    if (outcome.nLoss > 0) {
        ShowResultLine(outcome.nLoss == 1 ? Text(L"CLEANUP_LOSS_ONE")
                                          : FormatString(Text(L"CLEANUP_LOSS_MANY"), outcome.nLoss));
        return true;
    }
    return false;
}

void CCleanupDlg::ShowResultLine(const CString& strText)
{
    HWND hWnd = GetSafeHwnd();
    // Across the panel, between the last row and the banner.
    RECT rc = {23, 188, 23 + 232, 188 + 20};
    MapDialogRect(hWnd, &rc);
    HWND hLine = CreateWindowExW(0, L"STATIC", strText, WS_CHILD | WS_VISIBLE | SS_CENTER | SS_NOPREFIX, rc.left,
                                 rc.top, rc.right - rc.left, rc.bottom - rc.top, hWnd,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(kResultLineId)), nullptr, nullptr);
    if (hLine == nullptr) {
        LOG_ERROR(GetLastError(), L"CCleanupDlg: cannot show the line %s", strText.GetString());
        return;
    }
    SendMessageW(hLine, WM_SETFONT, SendMessageW(hWnd, WM_GETFONT, 0, 0), TRUE);
    SetWindowPos(hLine, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    LOG_MESSAGE(L"CCleanupDlg: %s", strText.GetString());
}

void CCleanupDlg::OnCancel()
{
    // Closing the window early does not stop the clean-up.
    EndDialog(IDOK);
}

BOOL CCleanupDlg::OnCommand(WORD wId, WORD wNotifyCode, HWND hControl)
{
    if (wId == IDC_CLEANUP_CLOSE && (wNotifyCode == BN_CLICKED || wNotifyCode == BN_DOUBLECLICKED)) {
        OnCancel();
        return TRUE;
    }
    return CDialog::OnCommand(wId, wNotifyCode, hControl);
}

HBRUSH CCleanupDlg::OnCtlColor(HDC hDc, HWND hWnd, UINT nCtlColor)
{
    (void)hWnd;
    (void)nCtlColor;
    // Everything sits on white: the dialog, the labels, the button.
    SetBkColor(hDc, kWhite);
    return m_brush.get();
}
