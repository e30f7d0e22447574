#pragma once

#include <windows.h>

#include "framework/String.h"

// The messages a page's script or the control itself shows (alert, confirm,
// the control's own notices), as the host shows them: under the program's
// name instead of the platform browser's, and without the notice about
// ActiveX controls that are never installed here.
class CHostMessage {
public:
    // IDocHostShowUI::ShowMessage. Always handled (S_OK): a dropped message
    // answers IDOK.
    static HRESULT ShowMessage(HWND hWnd, const wchar_t* pszText, const wchar_t* pszCaption, DWORD dwType,
                               LRESULT* plResult);

    // The caption to show the text under; false when the message is
    // dropped. An empty platform caption means its library is missing.
    static bool ChooseCaption(const CString& strText, const CString& strCaption, const CString& strPlatformCaption,
                              const CString& strProgramCaption, CString& strShown);
    // The caption the control gives its messages: string 2213 of
    // SHDOCLC.DLL, or of IEFRAME.DLL without it; empty when neither loads.
    static CString PlatformCaption();
    // The program's file description ("Nulvane").
    static CString ProgramCaption();
};
