#include "shell/SecurityManager.h"

#include "resources/Resource.h"
#include "shell/SecurityPromptDlg.h"

namespace {

constexpr DWORD kDownloadSignedActiveX = 0x1001;
constexpr DWORD kDownloadUnsignedActiveX = 0x1004;
constexpr DWORD kSubmitFormsTo = 0x1603;
constexpr DWORD kPolicyAllow = 0;
constexpr DWORD kPolicyDisallow = 3;
constexpr DWORD kNoUserInterface = 0x1;  // PUAF_NOUI

CSecurityManager::CAnswers g_processAnswers;

}  // namespace

IInternetSecurityManager* CSecurityManager::Create(HWND hWndOwner)
{
    return Create(
        [hWndOwner](UINT nTemplate, bool& bDontAskAgain) {
            CSecurityPromptDlg dialog(nTemplate, hWndOwner);
            const int nAnswer = static_cast<int>(dialog.DoModal());
            bDontAskAgain = dialog.IsDontAskAgainChecked();
            return nAnswer;
        },
        g_processAnswers);
}

IInternetSecurityManager* CSecurityManager::Create(Prompt prompt, CAnswers& answers)
{
    return new CSecurityManager(std::move(prompt), answers);
}

HRESULT STDMETHODCALLTYPE CSecurityManager::GetSecuritySite(IInternetSecurityMgrSite** ppSite)
{
    if (ppSite != nullptr) {
        *ppSite = nullptr;
    }
    return INET_E_DEFAULT_ACTION;
}

HRESULT STDMETHODCALLTYPE CSecurityManager::ProcessUrlAction(LPCWSTR pwszUrl, DWORD dwAction, BYTE* pPolicy,
                                                             DWORD cbPolicy, BYTE*, DWORD, DWORD dwFlags, DWORD)
{
    const bool bMayShowUi = (dwFlags & kNoUserInterface) == 0;
    DWORD dwPolicy = kPolicyDisallow;
    if (dwAction == kDownloadSignedActiveX || dwAction == kDownloadUnsignedActiveX) {
        NoticeAddOns(pwszUrl != nullptr ? pwszUrl : L"", bMayShowUi);
    } else if (dwAction != kSubmitFormsTo || !DecideSubmit(bMayShowUi, dwPolicy)) {
        return INET_E_DEFAULT_ACTION;
    }
    // The policy is a DWORD: a shorter buffer cannot hold it.
    if (pPolicy == nullptr || cbPolicy < sizeof(DWORD)) {
        return S_FALSE;
    }
    CopyMemory(pPolicy, &dwPolicy, sizeof(dwPolicy));
    return dwPolicy == kPolicyAllow ? S_OK : S_FALSE;
}

void CSecurityManager::NoticeAddOns(const CString& strPage, bool bMayShowUi)
{
    {
        std::lock_guard<std::mutex> guard(m_answers.lock);
        if (!bMayShowUi || m_answers.bNoticeOff || !m_answers.noticedPages.insert(strPage).second) {
            return;
        }
    }
    // No lock while the dialog is up: other windows go on browsing.
    bool bDontAskAgain = false;
    m_prompt(IDD_ADDONS_NOTICE, bDontAskAgain);
    if (bDontAskAgain) {
        std::lock_guard<std::mutex> guard(m_answers.lock);
        m_answers.bNoticeOff = true;
    }
}

bool CSecurityManager::DecideSubmit(bool bMayShowUi, DWORD& dwPolicy)
{
    if (!bMayShowUi) {
        return false;
    }
    int nAnswer = 0;
    {
        std::lock_guard<std::mutex> guard(m_answers.lock);
        nAnswer = m_answers.nSubmitAnswer;
    }
    if (nAnswer == 0) {
        bool bDontAskAgain = false;
        nAnswer = m_prompt(IDD_SUBMIT_WARNING, bDontAskAgain);
        if (bDontAskAgain && (nAnswer == IDYES || nAnswer == IDNO)) {
            std::lock_guard<std::mutex> guard(m_answers.lock);
            m_answers.nSubmitAnswer = nAnswer;
        }
    }
    dwPolicy = nAnswer == IDYES ? kPolicyAllow : kPolicyDisallow;
    return true;
}
