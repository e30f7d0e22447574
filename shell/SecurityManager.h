#pragma once

#include <windows.h>
#include <urlmon.h>

#include <functional>
#include <mutex>
#include <set>

#include "framework/String.h"
#include "framework/UnknownImpl.h"

// The security manager the control asks before it acts: no ActiveX control
// is ever downloaded (with a notice, once per page, that add-ons are not
// installed here), and submitting a form is asked for, with an answer that
// can be kept for the rest of the process. Every other action gets the
// platform's default.
class CSecurityManager final : public CUnknownImpl<IInternetSecurityManager, IID_IInternetSecurityManager> {
public:
    // What the user told the prompts; one per process, shared by every
    // window thread.
    struct CAnswers {
        std::mutex lock;
        std::set<CString> noticedPages;
        bool bNoticeOff = false;
        int nSubmitAnswer = 0;  // IDYES or IDNO once kept; 0 asks
    };
    // Shows the dialog of the template and returns the button pressed;
    // bDontAskAgain receives its check box.
    using Prompt = std::function<int(UINT nTemplate, bool& bDontAskAgain)>;

    // With the dialogs, owned by the window, and the process's answers.
    static IInternetSecurityManager* Create(HWND hWndOwner);
    static IInternetSecurityManager* Create(Prompt prompt, CAnswers& answers);


    HRESULT STDMETHODCALLTYPE ProcessUrlAction(LPCWSTR pwszUrl, DWORD dwAction, BYTE* pPolicy, DWORD cbPolicy,
                                               BYTE* pContext, DWORD cbContext, DWORD dwFlags,
                                               DWORD dwReserved) override;
    HRESULT STDMETHODCALLTYPE SetSecuritySite(IInternetSecurityMgrSite*) override { return INET_E_DEFAULT_ACTION; }
    HRESULT STDMETHODCALLTYPE GetSecuritySite(IInternetSecurityMgrSite** ppSite) override;
    HRESULT STDMETHODCALLTYPE MapUrlToZone(LPCWSTR, DWORD*, DWORD) override { return INET_E_DEFAULT_ACTION; }
    HRESULT STDMETHODCALLTYPE GetSecurityId(LPCWSTR, BYTE*, DWORD*, DWORD_PTR) override
    {
        return INET_E_DEFAULT_ACTION;
    }
    HRESULT STDMETHODCALLTYPE QueryCustomPolicy(LPCWSTR, REFGUID, BYTE**, DWORD*, BYTE*, DWORD, DWORD) override
    {
        return INET_E_DEFAULT_ACTION;
    }
    HRESULT STDMETHODCALLTYPE SetZoneMapping(DWORD, LPCWSTR, DWORD) override { return INET_E_DEFAULT_ACTION; }
    HRESULT STDMETHODCALLTYPE GetZoneMappings(DWORD, IEnumString**, DWORD) override { return INET_E_DEFAULT_ACTION; }

private:
    CSecurityManager(Prompt prompt, CAnswers& answers) : m_prompt(std::move(prompt)), m_answers(answers) {}
    ~CSecurityManager() override = default;

    void NoticeAddOns(const CString& strPage, bool bMayShowUi);
    // The policy for a form's submission; false: the platform decides.
    bool DecideSubmit(bool bMayShowUi, DWORD& dwPolicy);
    Prompt m_prompt;
    CAnswers& m_answers;
};
