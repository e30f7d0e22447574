#pragma once

#include <windows.h>
#include <shobjidl.h>

#include "framework/ComPtr.h"
#include "framework/Registry.h"
#include "framework/String.h"
#include "framework/Time.h"

// Registration of the program with Windows as a web browser: the document
// type and the client ("StartMenuInternet") keys, the per-user associations,
// the question that offers to make the program the default (at most once a
// calendar month), and the desktop and Quick Launch shortcuts. One object
// serves one operation; what lasts between runs lives in the registry under
// HKEY_CURRENT_USER "SOFTWARE\Nulvane".
class CDefaultBrowser {
public:
    // strProgramPath: the full path of the program to register and to start
    // from the shortcuts and associations. The names carry the logon name of
    // the current user, or the one given.
    explicit CDefaultBrowser(const CString& strProgramPath);
    CDefaultBrowser(const CString& strProgramPath, const CString& strLogonName);
    virtual ~CDefaultBrowser() = default;
    CDefaultBrowser(const CDefaultBrowser&) = delete;
    CDefaultBrowser& operator=(const CDefaultBrowser&) = delete;

    // The start-up step: the desktop shortcut once, then whether the program
    // is the default browser, offering to make it so unless this is the
    // first run. The result is the application's is-default flag.
    BOOL RunStartupCheck();

    BOOL HasCreatedShortcut() const;
    void CreateDesktopShortcut();
    BOOL IsDefault();
    // Records the first run when it is one.
    BOOL IsFirstRun();
    // Asks (bForce: even when the monthly question was already asked) and,
    // on Yes, registers and makes the program the default browser.
    BOOL SetAsDefault(BOOL bForce);
    // The work of the elevated "--register" copy: the document type under
    // HKEY_LOCAL_MACHINE, then the client registration.
    BOOL RegisterMachineWide();

    const CString& GetProgramPath() const { return m_strProgramPath; }
    const CString& GetDesktopPath() const { return m_strDesktopPath; }
    const CString& GetOpenCommand() const { return m_strOpenCommand; }
    const CString& GetDocTypeName() const { return m_strDocTypeName; }
    const CString& GetClientName() const { return m_strClientName; }
    bool IsVistaOrLater() const { return m_bVistaOrLater; }
    // The Quick Launch shortcut's full path.
    CString GetQuickLaunchShortcutPath() const;

    static constexpr const wchar_t* kSettingsKey = L"SOFTWARE\\Nulvane";
    // Elevation switch of the program's command line.
    static constexpr const wchar_t* kRegisterSwitch = L"--register";

protected:
    // What the registration asks of the system, apart so that tests can
    // stand in for the clock, the user, the administrator check and the
    // association interface (which Wine does not implement).
    virtual CTime Now() const;
    // Shows the question; returns the button pressed (IDYES or another).
    virtual int AskUser(const CString& strText, const CString& strCaption, const CString& strYes,
                        const CString& strNo);
    virtual bool IsUserAdmin() const;
    virtual HRESULT CreateAssociationRegistration(CComPtr<IApplicationAssociationRegistration>& registration);

    // Read from the system's version once, at construction; the systems
    // before Vista keep the choice in the protocols' own open commands.
    bool m_bVistaOrLater = false;

private:
    bool ShouldAsk(BOOL bForce);
    bool Register();
    bool RunElevatedRegistration();
    void RegisterDocumentType(HKEY hRoot);
    void RegisterClient();
    void SetUserAssociations();
    void MakeDefaultForAllAssociations();
    bool IsDefaultForProtocols();
    bool IsClientRegistered() const;
    bool IsRunningFromDesktop() const;
    void CreateQuickLaunchShortcut();
    bool CreateShortcut(const CString& strLinkPath) const;
    void WriteString(const CRegistry& registry, const CString& strKey, const wchar_t* pszName,
                     const CString& strValue) const;
    void WriteDword(const CRegistry& registry, const CString& strKey, const wchar_t* pszName, DWORD dwValue) const;
    void WriteSetting(const wchar_t* pszName, DWORD dwValue) const;

    CRegistry m_registry{HKEY_CURRENT_USER};
    CString m_strProgramPath;
    CString m_strDesktopPath;
    CString m_strIconValue;
    CString m_strOpenCommand;
    CString m_strDocTypeName;
    CString m_strClientName;
};
