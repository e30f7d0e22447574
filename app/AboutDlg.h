#pragma once

#include "framework/Dialog.h"
#include "framework/String.h"
#include "framework/VersionInfo.h"

// The About box: the program's version, build date and copyright, from its
// own version resource.
class CAboutDlg : public CDialog {
public:
    CAboutDlg(const CVersionInfo& versionInfo, HWND hWndParent);

    // "Version: 1.0.0.1024", and " (special build)" when there is one.
    static CString VersionText(const CVersionInfo& versionInfo);
    static CString BuildDateText(const CVersionInfo& versionInfo);

protected:
    BOOL OnInitDialog() override;

private:
    const CVersionInfo& m_versionInfo;
};
