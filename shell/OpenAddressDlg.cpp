#include "shell/OpenAddressDlg.h"

#include <commdlg.h>

#include <algorithm>

#include <vector>

#include "framework/Handles.h"
#include "resources/Resource.h"

namespace {

constexpr UINT kSystemFilterStringId = 1201;

CString GetDlgItemString(HWND hDialog, int nId)
{
    HWND hItem = GetDlgItem(hDialog, nId);
    const int nLength = hItem != nullptr ? GetWindowTextLengthW(hItem) : 0;
    if (nLength <= 0) {
        return CString();
    }
    std::vector<wchar_t> buffer(static_cast<size_t>(nLength) + 1);
    const int nRead = GetWindowTextW(hItem, buffer.data(), nLength + 1);
    return CString(buffer.data(), std::max(nRead, 0));
}

}  // namespace

COpenAddressDlg::COpenAddressDlg(HWND hWndParent) : CDialog(IDD_OPEN_ADDRESS, hWndParent) {}

BOOL COpenAddressDlg::OnInitDialog()
{
    SetDlgItemTextW(GetSafeHwnd(), IDC_OPEN_ADDRESS_EDIT, m_strAddress);
    EnableOk();
    SetFocus(GetDlgItem(IDC_OPEN_ADDRESS_EDIT));
    // The focus was set here.
    return FALSE;
}

void COpenAddressDlg::OnOK()
{
    m_strAddress = GetDlgItemString(GetSafeHwnd(), IDC_OPEN_ADDRESS_EDIT);
    CDialog::OnOK();
}

BOOL COpenAddressDlg::OnCommand(WORD wId, WORD wNotifyCode, HWND hControl)
{
    if (wId == IDC_OPEN_ADDRESS_BROWSE && wNotifyCode == BN_CLICKED) {
        Browse();
        return TRUE;
    }
    if (wId == IDC_OPEN_ADDRESS_EDIT && wNotifyCode == EN_CHANGE) {
        EnableOk();
        return TRUE;
    }
    return CDialog::OnCommand(wId, wNotifyCode, hControl);
}

void COpenAddressDlg::EnableOk()
{
    CString strText = GetDlgItemString(GetSafeHwnd(), IDC_OPEN_ADDRESS_EDIT);
    strText.Trim();
    EnableWindow(GetDlgItem(IDOK), strText.IsEmpty() ? FALSE : TRUE);
}

void COpenAddressDlg::Browse()
{
    const std::wstring filter = MakeFilterList(LoadBrowseFilter());
    std::vector<wchar_t> file(MAX_PATH * 4, L'\0');
    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = GetSafeHwnd();
    ofn.lpstrFilter = filter.empty() ? nullptr : filter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_EXPLORER;
    if (GetOpenFileNameW(&ofn)) {
        SetDlgItemTextW(GetSafeHwnd(), IDC_OPEN_ADDRESS_EDIT, file.data());
        EnableOk();
    }
}

std::wstring COpenAddressDlg::MakeFilterList(const CString& strPipeSeparated)
{
    std::wstring list = strPipeSeparated.Str();
    while (!list.empty() && list.back() == L'|') {
        list.pop_back();
    }
    std::replace(list.begin(), list.end(), L'|', L'\0');
    // Text and pattern come in pairs; an odd part at the end has no pattern.
    const size_t nParts = list.empty() ? 0 : std::count(list.begin(), list.end(), L'\0') + 1;
    if (nParts < 2) {
        return std::wstring();
    }
    if (nParts % 2 != 0) {
        list.erase(list.rfind(L'\0'));
    }
    list.push_back(L'\0');
    list.push_back(L'\0');
    return list;
}

const wchar_t* COpenAddressDlg::DefaultBrowseFilter()
{
    return L"HTML Files (*.htm;*.html)|*.htm;*.html|Text Files (*.txt)|*.txt|"
           L"Images (*.gif;*.jpg;*.jpeg;*.png;*.bmp)|*.gif;*.jpg;*.jpeg;*.png;*.bmp|All Files (*.*)|*.*|";
}

CString COpenAddressDlg::LoadBrowseFilter()
{
    wchar_t szSystem[MAX_PATH] = {};
    const UINT nLength = GetSystemDirectoryW(szSystem, MAX_PATH);
    if (nLength > 0 && nLength < MAX_PATH) {
        const CString strPath = CString(szSystem) + L"\\SHDOCLC.DLL";
        CLibrary library(LoadLibraryExW(strPath, nullptr, LOAD_LIBRARY_AS_DATAFILE));
        if (library) {
            wchar_t szFilter[1024] = {};
            const int nRead = LoadStringW(library.get(), kSystemFilterStringId, szFilter, 1024);
            if (nRead > 0 && !MakeFilterList(CString(szFilter, nRead)).empty()) {
                return CString(szFilter, nRead);
            }
        }
    }
    return DefaultBrowseFilter();
}
