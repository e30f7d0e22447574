#include "shell/DefaultBrowser.h"

#include <lmcons.h>
#include <shellapi.h>
#include <shlobj.h>

#include "framework/Handles.h"
#include "framework/LanguageManagerResource.h"
#include "framework/Logger.h"
#include "widgets/MessageBox.h"

namespace {

const wchar_t* const kProtocols[] = {L"http", L"https"};
const wchar_t* const kExtensions[] = {L".htm", L".html", L".shtml", L".xht", L".xhtml"};

constexpr const wchar_t* kProductName = L"Nulvane";
constexpr const wchar_t* kDocTypeBaseName = L"NulvaneHTML";
constexpr const wchar_t* kDocTypeDescription = L"Nulvane HTML Document";
constexpr const wchar_t* kShortcutFileName = L"Nulvane.lnk";
constexpr const wchar_t* kClassesKey = L"SOFTWARE\\Classes\\";
constexpr const wchar_t* kStartMenuInternetKey = L"SOFTWARE\\Clients\\StartMenuInternet";
constexpr const wchar_t* kRegisteredApplicationsKey = L"SOFTWARE\\RegisteredApplications";
constexpr const wchar_t* kQuickLaunchFolder = L"\\Microsoft\\Internet Explorer\\Quick Launch";

constexpr const wchar_t* kFirstRunValue = L"FirstRun";
constexpr const wchar_t* kRunCounterValue = L"RI";
constexpr const wchar_t* kLastCheckValue = L"LastDefaultCheck";
constexpr const wchar_t* kCreatedShortcutValue = L"CreatedShortcut";

// The start on which the run counter reaches this asks whatever the month.
constexpr DWORD kForcedQuestionRun = 3;

CString CurrentLogonName()
{
    wchar_t szName[UNLEN + 1] = L"";
    DWORD cchName = ARRAYSIZE(szName);
    if (!GetUserNameW(szName, &cchName)) {
        LOG_ERROR(GetLastError(), L"CDefaultBrowser cannot read the logon name");
        return CString();
    }
    return szName;
}

bool RunsVistaOrLater()
{
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    return GetVersionExW(&version) && version.dwMajorVersion >= 6;
}

CString SpecialFolder(int nFolder)
{
    wchar_t szPath[MAX_PATH] = L"";
    const HRESULT hr = SHGetFolderPathW(nullptr, nFolder, nullptr, SHGFP_TYPE_CURRENT, szPath);
    if (FAILED(hr)) {
        LOG_ERROR(static_cast<DWORD>(hr), L"CDefaultBrowser cannot find the special folder %d", nFolder);
        return CString();
    }
    return szPath;
}

// A folder as one form that compares equal for every spelling of it: full,
// canonical (no "." or ".."), long names, one trailing backslash.
CString ComparableFolder(const CString& strFolder)
{
    CString strPath = strFolder;
    DWORD cch = GetFullPathNameW(strFolder, 0, nullptr, nullptr);
    if (cch > 0) {
        CString strFull;
        const DWORD cchFull = GetFullPathNameW(strFolder, cch, strFull.GetBuffer(static_cast<int>(cch)), nullptr);
        strFull.ReleaseBuffer(cchFull < cch ? static_cast<int>(cchFull) : 0);
        if (!strFull.IsEmpty()) {
            strPath = strFull;
        }
    }
    cch = GetLongPathNameW(strPath, nullptr, 0);
    if (cch > 0) {
        CString strLong;
        const DWORD cchLong = GetLongPathNameW(strPath, strLong.GetBuffer(static_cast<int>(cch)), cch);
        strLong.ReleaseBuffer(cchLong < cch ? static_cast<int>(cchLong) : 0);
        if (!strLong.IsEmpty()) {
            strPath = strLong;
        }
    }
    if (strPath.IsEmpty() || strPath[strPath.GetLength() - 1] != L'\\') {
        strPath += L'\\';
    }
    return strPath;
}

// A command value that names a program: the path, quoted or not.
CString UnquotedPath(const CString& strCommand)
{
    CString strPath = strCommand;
    strPath.Trim();
    if (strPath.GetLength() >= 2 && strPath[0] == L'"') {
        const int nClose = strPath.Find(L'"', 1);
        if (nClose > 0) {
            return strPath.Mid(1, nClose - 1);
        }
    }
    return strPath;
}

bool IsExistingFile(const CString& strPath)
{
    const DWORD dwAttributes = GetFileAttributesW(strPath);
    return !strPath.IsEmpty() && dwAttributes != INVALID_FILE_ATTRIBUTES &&
           (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

const wchar_t* RootName(HKEY hRoot)
{
    return hRoot == HKEY_LOCAL_MACHINE ? L"HKEY_LOCAL_MACHINE" : L"HKEY_CURRENT_USER";
}

CString Text(const wchar_t* pszKey)
{
    return CLanguageManagerResource::Instance()->GetString(pszKey);
}

}  // namespace

CDefaultBrowser::CDefaultBrowser(const CString& strProgramPath) : CDefaultBrowser(strProgramPath, CurrentLogonName())
{
}

CDefaultBrowser::CDefaultBrowser(const CString& strProgramPath, const CString& strLogonName)
    : m_bVistaOrLater(RunsVistaOrLater()),
      m_strProgramPath(strProgramPath),
      m_strDesktopPath(SpecialFolder(CSIDL_DESKTOPDIRECTORY)),
      m_strIconValue(strProgramPath + L",0"),
      m_strOpenCommand(L"\"" + strProgramPath + L"\" \"%1\""),
      m_strDocTypeName(kDocTypeBaseName),
      m_strClientName(CString(kProductName) + L"." + strLogonName)
{
    // Before Vista the document type is registered per user, under a name
    // that needs no user part; from Vista on it lives machine-wide, so each
    // user of the machine gets a name of his own.
    if (m_bVistaOrLater) {
        m_strDocTypeName += L"." + strLogonName;
    }
}

BOOL CDefaultBrowser::RunStartupCheck()
{
    if (!HasCreatedShortcut()) {
        CreateDesktopShortcut();
    }
    if (IsDefault()) {
        return TRUE;
    }
    // The very first run asks nothing.
    if (IsFirstRun()) {
        return FALSE;
    }
    return SetAsDefault(FALSE);
}

BOOL CDefaultBrowser::HasCreatedShortcut() const
{
    DWORD dwCreated = 0;
    return m_registry.ReadDword(kSettingsKey, kCreatedShortcutValue, dwCreated) == ERROR_SUCCESS && dwCreated != 0;
}

void CDefaultBrowser::CreateDesktopShortcut()
{
    if (m_strDesktopPath.IsEmpty()) {
        // Without the folder the shortcut would land in the current drive's
        // root; the next start tries again.
        LOG_MESSAGE(L"CDefaultBrowser::CreateDesktopShortcut no desktop folder, no shortcut");
        return;
    }
    if (IsRunningFromDesktop()) {
        LOG_MESSAGE(L"CDefaultBrowser::CreateDesktopShortcut IsRunningFromDesktop() so return");
        return;
    }
    LOG_MESSAGE(L"CDefaultBrowser::CreateDesktopShortcut m_strDesktopPath = %s", m_strDesktopPath.GetString());
    CreateShortcut(m_strDesktopPath + L"\\" + kShortcutFileName);
    // Written after a failed attempt too: the shortcut is offered once.
    WriteSetting(kCreatedShortcutValue, 1);
}

BOOL CDefaultBrowser::IsDefault()
{
    if (m_bVistaOrLater) {
        if (!IsDefaultForProtocols()) {
            return FALSE;
        }
    } else {
        for (const wchar_t* pszProtocol : kProtocols) {
            CString strCommand;
            const CString strKey = CString(kClassesKey) + pszProtocol + L"\\shell\\open\\command";
            if (m_registry.ReadString(strKey, nullptr, strCommand) != ERROR_SUCCESS || strCommand != m_strOpenCommand) {
                return FALSE;
            }
        }
    }
    if (!IsClientRegistered()) {
        return FALSE;
    }
    CString strClient;
    if (m_registry.ReadString(kStartMenuInternetKey, nullptr, strClient) != ERROR_SUCCESS ||
        strClient.Left(lstrlenW(kProductName)) != kProductName) {
        return FALSE;
    }
    return TRUE;
}

BOOL CDefaultBrowser::IsFirstRun()
{
    DWORD dwFirstRun = 0;
    if (m_registry.ReadDword(kSettingsKey, kFirstRunValue, dwFirstRun) == ERROR_SUCCESS) {
        return FALSE;
    }
    const auto dwNow = static_cast<DWORD>(Now().GetTime());
    WriteSetting(kFirstRunValue, dwNow);
    WriteSetting(kRunCounterValue, 1);
    WriteSetting(kLastCheckValue, dwNow);
    return TRUE;
}

BOOL CDefaultBrowser::SetAsDefault(BOOL bForce)
{
    LOG_MESSAGE(L"CDefaultBrowser::SetAsDefault() start, force = %d", bForce);
    if (!ShouldAsk(bForce)) {
        LOG_MESSAGE(L"CDefaultBrowser::SetAsDefault() already asked this month");
        return FALSE;
    }
    CString strText = Text(L"IDS_DEFAULTBROWSER_TEXT");
    strText.Replace(L"\\", L"\n");
    const int nAnswer = AskUser(strText, Text(L"IDS_DEFAULTBROWSER_CAPTION"), Text(L"MAKE_DEFAULT"), Text(L"NOT_NOW"));
    if (nAnswer != IDYES) {
        LOG_MESSAGE(L"CDefaultBrowser::SetAsDefault() end, the user declined");
        return FALSE;
    }
    if (!Register()) {
        LOG_MESSAGE(L"CDefaultBrowser::SetAsDefault() end, registration not run");
        return FALSE;
    }
    if (m_bVistaOrLater) {
        MakeDefaultForAllAssociations();
    }
    SetUserAssociations();
    CreateQuickLaunchShortcut();
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
    LOG_MESSAGE(L"CDefaultBrowser::SetAsDefault() end");
    return TRUE;
}

BOOL CDefaultBrowser::RegisterMachineWide()
{
    LOG_MESSAGE(L"CDefaultBrowser::RegisterMachineWide() start for %s", m_strProgramPath.GetString());
    RegisterDocumentType(HKEY_LOCAL_MACHINE);
    RegisterClient();
    const BOOL bRegistered = IsClientRegistered();
    LOG_MESSAGE(L"CDefaultBrowser::RegisterMachineWide() end, registered = %d", bRegistered);
    return bRegistered;
}

CString CDefaultBrowser::GetQuickLaunchShortcutPath() const
{
    const CString strAppData = SpecialFolder(CSIDL_APPDATA);
    if (strAppData.IsEmpty()) {
        return CString();
    }
    return strAppData + kQuickLaunchFolder + L"\\" + kShortcutFileName;
}

CTime CDefaultBrowser::Now() const
{
    return CTime::GetCurrentTime();
}

int CDefaultBrowser::AskUser(const CString& strText, const CString& strCaption, const CString& strYes,
                             const CString& strNo)
{
    CMessageBox box(nullptr, strText, strCaption, MB_YESNO | MB_ICONEXCLAMATION | MB_SETFOREGROUND);
    box.SetButtonText(IDYES, strYes);
    box.SetButtonText(IDNO, strNo);
    return box.DoModal();
}

bool CDefaultBrowser::IsUserAdmin() const
{
    return IsUserAnAdmin() != FALSE;
}

HRESULT CDefaultBrowser::CreateAssociationRegistration(CComPtr<IApplicationAssociationRegistration>& registration)
{
    return registration.CoCreateInstance(CLSID_ApplicationAssociationRegistration);
}

// The question at most once per calendar month, and always on the run where
// the counter reaches 3. Any month other than the stored one asks: a stored
// time from a clock that ran ahead must not silence the question for years.
bool CDefaultBrowser::ShouldAsk(BOOL bForce)
{
    bool bForced = bForce != FALSE;
    DWORD dwRuns = 0;
    if (m_registry.ReadDword(kSettingsKey, kRunCounterValue, dwRuns) == ERROR_SUCCESS) {
        ++dwRuns;
        WriteSetting(kRunCounterValue, dwRuns);
        if (dwRuns == kForcedQuestionRun) {
            bForced = true;
        }
    }
    const CTime now = Now();
    DWORD dwLastCheck = 0;
    if (!bForced && m_registry.ReadDword(kSettingsKey, kLastCheckValue, dwLastCheck) == ERROR_SUCCESS) {
        const CTime lastCheck(static_cast<int64_t>(dwLastCheck));
        if (now.GetYear() == lastCheck.GetYear() && now.GetMonth() == lastCheck.GetMonth()) {
            return false;
        }
    }
    WriteSetting(kLastCheckValue, static_cast<DWORD>(now.GetTime()));
    return true;
}

bool CDefaultBrowser::Register()
{
    if (!m_bVistaOrLater) {
        RegisterDocumentType(HKEY_CURRENT_USER);
        RegisterClient();
        return true;
    }
    if (IsUserAdmin()) {
        RegisterDocumentType(HKEY_LOCAL_MACHINE);
        RegisterClient();
        return true;
    }
    return RunElevatedRegistration();
}

// Runs the program itself with "--register" through the elevation prompt and
// waits for it. While it waits, messages that other threads send to this
// thread's windows are still answered, so that no sender hangs on a window
// of ours for as long as the prompt is up; nothing else is dispatched.
bool CDefaultBrowser::RunElevatedRegistration()
{
    SHELLEXECUTEINFOW execute = {};
    execute.cbSize = sizeof(execute);
    execute.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    execute.lpVerb = L"runas";
    execute.lpFile = m_strProgramPath;
    execute.lpParameters = kRegisterSwitch;
    execute.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&execute)) {
        LOG_ERROR(GetLastError(), L"CDefaultBrowser::SetAsDefault cannot start %s elevated",
                  m_strProgramPath.GetString());
        return false;
    }
    CHandle process(execute.hProcess);
    if (!process) {
        LOG_MESSAGE(L"CDefaultBrowser::SetAsDefault started %s elevated without a process to wait for",
                    m_strProgramPath.GetString());
        return true;
    }
    HANDLE hProcess = process.get();
    for (;;) {
        const DWORD dwWait = MsgWaitForMultipleObjects(1, &hProcess, FALSE, INFINITE, QS_SENDMESSAGE);
        if (dwWait == WAIT_OBJECT_0 + 1) {
            MSG msg;
            PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
            continue;
        }
        if (dwWait != WAIT_OBJECT_0) {
            LOG_ERROR(GetLastError(), L"CDefaultBrowser::SetAsDefault cannot wait for the elevated copy");
        }
        break;
    }
    DWORD dwExitCode = 0;
    GetExitCodeProcess(hProcess, &dwExitCode);
    LOG_MESSAGE(L"CDefaultBrowser::SetAsDefault the elevated copy ended with %lu", dwExitCode);
    return true;
}

void CDefaultBrowser::RegisterDocumentType(HKEY hRoot)
{
    const CRegistry registry(hRoot);
    const CString strKey = CString(kClassesKey) + m_strDocTypeName;
    WriteString(registry, strKey, nullptr, kDocTypeDescription);
    WriteString(registry, strKey, L"URL Protocol", CString());
    WriteString(registry, strKey + L"\\DefaultIcon", nullptr, m_strIconValue);
    WriteString(registry, strKey + L"\\shell\\open\\command", nullptr, m_strOpenCommand);
}

void CDefaultBrowser::RegisterClient()
{
    const CRegistry machine(HKEY_LOCAL_MACHINE);
    const CString strKey = CString(kStartMenuInternetKey) + L"\\" + m_strClientName;
    WriteString(machine, strKey, L"LocalizedString", kProductName);
    WriteString(machine, strKey + L"\\DefaultIcon", nullptr, m_strIconValue);
    // Quoted: the system runs this command as a command line, and an
    // unquoted path with a blank in it ("C:\Program Files\...") would start
    // whatever program sits at its first word ("C:\Program.exe").
    WriteString(machine, strKey + L"\\shell\\open\\command", nullptr, L"\"" + m_strProgramPath + L"\"");
    if (!m_bVistaOrLater) {
        return;
    }
    const CString strCapabilities = strKey + L"\\Capabilities";
    WriteString(machine, strCapabilities, L"ApplicationDescription", kProductName);
    WriteDword(machine, strCapabilities, L"Hidden", 1);
    WriteString(machine, strCapabilities + L"\\StartMenu", L"StartmenuInternet", m_strClientName);
    for (const wchar_t* pszExtension : kExtensions) {
        WriteString(machine, strCapabilities + L"\\FileAssociations", pszExtension, m_strDocTypeName);
    }
    for (const wchar_t* pszProtocol : kProtocols) {
        WriteString(machine, strCapabilities + L"\\UrlAssociations", pszProtocol, m_strDocTypeName);
    }
    WriteString(machine, kRegisteredApplicationsKey, m_strClientName, strCapabilities);
}

void CDefaultBrowser::SetUserAssociations()
{
    for (const wchar_t* pszExtension : kExtensions) {
        WriteString(m_registry, CString(kClassesKey) + pszExtension, nullptr, m_strDocTypeName);
    }
    for (const wchar_t* pszProtocol : kProtocols) {
        const CString strOpen = CString(kClassesKey) + pszProtocol + L"\\shell\\open";
        WriteString(m_registry, strOpen + L"\\command", nullptr, m_strOpenCommand);
        WriteString(m_registry, strOpen + L"\\ddeexec", nullptr, CString());
    }
    WriteString(m_registry, kStartMenuInternetKey, nullptr, m_strClientName);
}

void CDefaultBrowser::MakeDefaultForAllAssociations()
{
    CComInitializer com;
    CComPtr<IApplicationAssociationRegistration> registration;
    HRESULT hr = CreateAssociationRegistration(registration);
    if (SUCCEEDED(hr)) {
        hr = registration->SetAppAsDefaultAll(m_strClientName);
    }
    if (FAILED(hr)) {
        LOG_ERROR(static_cast<DWORD>(hr), L"CDefaultBrowser::SetAsDefault SetAppAsDefaultAll(%s) failed",
                  m_strClientName.GetString());
    }
}

bool CDefaultBrowser::IsDefaultForProtocols()
{
    CComInitializer com;
    CComPtr<IApplicationAssociationRegistration> registration;
    const HRESULT hr = CreateAssociationRegistration(registration);
    if (FAILED(hr)) {
        LOG_ERROR(static_cast<DWORD>(hr), L"CDefaultBrowser::IsDefault cannot create the association registration");
        return false;
    }
    for (const wchar_t* pszProtocol : kProtocols) {
        BOOL bDefault = FALSE;
        const HRESULT hrQuery =
            registration->QueryAppIsDefault(pszProtocol, AT_URLPROTOCOL, AL_EFFECTIVE, m_strClientName, &bDefault);
        if (FAILED(hrQuery)) {
            LOG_ERROR(static_cast<DWORD>(hrQuery), L"CDefaultBrowser::IsDefault QueryAppIsDefault(%s, %s) failed",
                      pszProtocol, m_strClientName.GetString());
            return false;
        }
        if (!bDefault) {
            return false;
        }
    }
    return true;
}

bool CDefaultBrowser::IsClientRegistered() const
{
    const CRegistry machine(HKEY_LOCAL_MACHINE);
    const CString strKey = CString(kStartMenuInternetKey) + L"\\" + m_strClientName;
    if (!machine.KeyExists(strKey)) {
        return false;
    }
    // Registrations written without quotes count as well.
    CString strCommand;
    return machine.ReadString(strKey + L"\\shell\\open\\command", nullptr, strCommand) == ERROR_SUCCESS &&
           IsExistingFile(UnquotedPath(strCommand));
}

bool CDefaultBrowser::IsRunningFromDesktop() const
{
    const int nSlash = m_strProgramPath.ReverseFind(L'\\');
    const CString strProgramFolder = nSlash >= 0 ? m_strProgramPath.Left(nSlash) : CString();
    return ComparableFolder(strProgramFolder).CompareNoCase(ComparableFolder(m_strDesktopPath)) == 0;
}

void CDefaultBrowser::CreateQuickLaunchShortcut()
{
    const CString strLink = GetQuickLaunchShortcutPath();
    if (strLink.IsEmpty()) {
        return;
    }
    // The folder is missing where nobody ever used Quick Launch.
    const CString strFolder = strLink.Left(strLink.ReverseFind(L'\\'));
    const int nCreated = SHCreateDirectoryExW(nullptr, strFolder, nullptr);
    if (nCreated != ERROR_SUCCESS && nCreated != ERROR_ALREADY_EXISTS && nCreated != ERROR_FILE_EXISTS) {
        LOG_ERROR(static_cast<DWORD>(nCreated), L"CDefaultBrowser cannot create the folder %s", strFolder.GetString());
        return;
    }
    CreateShortcut(strLink);
}

bool CDefaultBrowser::CreateShortcut(const CString& strLinkPath) const
{
    CComInitializer com;
    CComPtr<IShellLinkW> link;
    HRESULT hr = link.CoCreateInstance(CLSID_ShellLink);
    CComPtr<IPersistFile> file;
    if (SUCCEEDED(hr)) {
        hr = link->SetPath(m_strProgramPath);
    }
    if (SUCCEEDED(hr)) {
        hr = link.QueryInterface(file);
    }
    if (SUCCEEDED(hr)) {
        hr = file->Save(strLinkPath, TRUE);
    }
    if (FAILED(hr)) {
        LOG_ERROR(static_cast<DWORD>(hr), L"CDefaultBrowser cannot create the shortcut %s", strLinkPath.GetString());
        return false;
    }
    return true;
}

void CDefaultBrowser::WriteString(const CRegistry& registry, const CString& strKey, const wchar_t* pszName,
                                  const CString& strValue) const
{
    const LSTATUS status = registry.WriteString(strKey, pszName, strValue);
    if (status != ERROR_SUCCESS) {
        LOG_ERROR(static_cast<DWORD>(status), L"CDefaultBrowser cannot write %s\\%s value %s",
                  RootName(registry.Root()), strKey.GetString(), pszName != nullptr ? pszName : L"(default)");
    }
}

void CDefaultBrowser::WriteDword(const CRegistry& registry, const CString& strKey, const wchar_t* pszName,
                                 DWORD dwValue) const
{
    const LSTATUS status = registry.WriteDword(strKey, pszName, dwValue);
    if (status != ERROR_SUCCESS) {
        LOG_ERROR(static_cast<DWORD>(status), L"CDefaultBrowser cannot write %s\\%s value %s",
                  RootName(registry.Root()), strKey.GetString(), pszName);
    }
}

void CDefaultBrowser::WriteSetting(const wchar_t* pszName, DWORD dwValue) const
{
    WriteDword(m_registry, kSettingsKey, pszName, dwValue);
}
