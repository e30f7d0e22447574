#pragma once

#include <windows.h>

#include <string>

#include "framework/Dialog.h"
#include "framework/String.h"

// The Open command's dialog: an address to type, or a file to browse for.
class COpenAddressDlg : public CDialog {
public:
    explicit COpenAddressDlg(HWND hWndParent);

    // What was typed, once the dialog ended with OK.
    const CString& GetAddress() const { return m_strAddress; }
    void SetAddress(const CString& strAddress) { m_strAddress = strAddress; }

    // The Browse... filter in GetOpenFileName's form (pairs of texts, each
    // ended by a zero, one more zero at the end) from a text whose parts are
    // separated by "|". Empty parts at the end are dropped; a text without
    // a single pair gives an empty list.
    static std::wstring MakeFilterList(const CString& strPipeSeparated);
    // The system's own filter, string 1201 of SHDOCLC.DLL, when it exists;
    // otherwise ours.
    static CString LoadBrowseFilter();
    static const wchar_t* DefaultBrowseFilter();

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;
    BOOL OnCommand(WORD wId, WORD wNotifyCode, HWND hControl) override;

private:
    void Browse();
    void EnableOk();

    CString m_strAddress;
};
