#include "shell/SecurityPromptDlg.h"

#include "resources/Resource.h"
#include "shell/SystemLibrary.h"

namespace {

// The shield that the platform's own add-on notices show.
constexpr int kUrlmonShieldIcon = 118;

}  // namespace

CSecurityPromptDlg::~CSecurityPromptDlg()
{
    if (m_hIcon != nullptr) {
        DestroyIcon(m_hIcon);
    }
}

BOOL CSecurityPromptDlg::OnInitDialog()
{
    HWND hIconControl = GetDlgItem(IDC_SECURITY_ICON);
    if (hIconControl != nullptr) {
        CSystemLibrary urlmon({L"URLMON.DLL"});
        if (urlmon.IsLoaded()) {
            m_hIcon = static_cast<HICON>(
                LoadImageW(urlmon.Get(), MAKEINTRESOURCEW(kUrlmonShieldIcon), IMAGE_ICON, 32, 32, 0));
        }
        if (m_hIcon == nullptr) {
            m_hIcon = static_cast<HICON>(CopyImage(LoadIconW(nullptr, IDI_WARNING), IMAGE_ICON, 0, 0, 0));
        }
        SendMessageW(hIconControl, STM_SETICON, reinterpret_cast<WPARAM>(m_hIcon), 0);
    }
    return TRUE;
}

BOOL CSecurityPromptDlg::OnCommand(WORD wId, WORD wNotifyCode, HWND hControl)
{
    switch (wId) {
    case IDOK:
    case IDCANCEL:
    case IDYES:
    case IDNO:
        m_bDontAskAgain = IsDlgButtonChecked(GetSafeHwnd(), IDC_SECURITY_DONT_ASK) == BST_CHECKED;
        EndDialog(wId);
        return TRUE;
    default:
        return CDialog::OnCommand(wId, wNotifyCode, hControl);
    }
}
