#include "shell/HostMessage.h"

#include "framework/Logger.h"
#include "framework/VersionInfo.h"
#include "shell/SystemLibrary.h"

namespace {

constexpr UINT kDefaultCaptionString = 2213;
const wchar_t kActiveXNotice[] = L"One or more ActiveX controls could not be displayed because either:";

}  // namespace

CString CHostMessage::PlatformCaption()
{
    CSystemLibrary library(CSystemLibrary::kBrowserResourceLibraries);
    if (!library.IsLoaded()) {
        return CString();
    }
    const wchar_t* pszText = nullptr;
    const int nLength = LoadStringW(library.Get(), kDefaultCaptionString, reinterpret_cast<LPWSTR>(&pszText), 0);
    return nLength > 0 && pszText != nullptr ? CString(pszText, nLength) : CString();
}

CString CHostMessage::ProgramCaption()
{
    CVersionInfo version;
    (void)version.Load();
    const CString strDescription = version.Get(L"FileDescription");
    return strDescription.IsEmpty() ? CString(L"Nulvane") : strDescription;
}

bool CHostMessage::ChooseCaption(const CString& strText, const CString& strCaption, const CString& strPlatformCaption,
                                 const CString& strProgramCaption, CString& strShown)
{
    if (strPlatformCaption.IsEmpty() || strText.Left(lstrlenW(kActiveXNotice)) == kActiveXNotice) {
        return false;
    }
    strShown = strCaption == strPlatformCaption ? strProgramCaption : strCaption;
    return true;
}

HRESULT CHostMessage::ShowMessage(HWND hWnd, const wchar_t* pszText, const wchar_t* pszCaption, DWORD dwType,
                                  LRESULT* plResult)
{
    const CString strText = pszText != nullptr ? pszText : L"";
    CString strShown;
    LRESULT lResult = IDOK;
    if (ChooseCaption(strText, pszCaption != nullptr ? pszCaption : L"", PlatformCaption(), ProgramCaption(),
                      strShown)) {
        lResult = MessageBoxW(hWnd, strText, strShown, dwType);
    } else {
        LOG_MESSAGE(L"CHostMessage::ShowMessage dropped a message of the control");
    }
    if (plResult != nullptr) {
        *plResult = lResult;
    }
    return S_OK;
}
