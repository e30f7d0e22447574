#pragma once

#include "framework/Dialog.h"

// The two questions of the security manager: the add-ons notice (OK) and
// the form-submission warning (Yes / No), each with the check box "In the
// future, do not show this message."
class CSecurityPromptDlg : public CDialog {
public:
    CSecurityPromptDlg(UINT nTemplate, HWND hWndOwner) : CDialog(nTemplate, hWndOwner) {}
    ~CSecurityPromptDlg() override;

    bool IsDontAskAgainChecked() const { return m_bDontAskAgain; }

protected:
    BOOL OnInitDialog() override;
    BOOL OnCommand(WORD wId, WORD wNotifyCode, HWND hControl) override;

private:
    HICON m_hIcon = nullptr;
    bool m_bDontAskAgain = false;
};
