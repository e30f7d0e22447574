#include "app/AboutDlg.h"

#include "resources/Resource.h"

CAboutDlg::CAboutDlg(const CVersionInfo& versionInfo, HWND hWndParent)
    : CDialog(IDD_ABOUTBOX, hWndParent), m_versionInfo(versionInfo)
{
}

CString CAboutDlg::VersionText(const CVersionInfo& versionInfo)
{
    CString strVersion = versionInfo.Get(L"FileVersion");
    strVersion.Replace(L", ", L".");
    CString strText = L"Version: " + strVersion;
    const CString strSpecialBuild = versionInfo.Get(L"SpecialBuild");
    if (!strSpecialBuild.IsEmpty()) {
        strText += L" (" + strSpecialBuild + L")";
    }
    return strText;
}

CString CAboutDlg::BuildDateText(const CVersionInfo& versionInfo)
{
    return L"Build Date: " + versionInfo.Get(L"BuildDate");
}

BOOL CAboutDlg::OnInitDialog()
{
    SetDlgItemTextW(GetSafeHwnd(), IDC_ABOUT_VERSION, VersionText(m_versionInfo));
    SetDlgItemTextW(GetSafeHwnd(), IDC_ABOUT_BUILD_DATE, BuildDateText(m_versionInfo));
    SetDlgItemTextW(GetSafeHwnd(), IDC_ABOUT_COPYRIGHT, m_versionInfo.Get(L"LegalCopyright"));
    return TRUE;
}
