#include "framework/Logger.h"

#include <cwchar>
#include <new>

#include "framework/CriticalSection.h"
#include "framework/Handles.h"

namespace {

constexpr int kMessageBufferChars = 1024;

// The log lock lives from static initialisation to process exit. It is
// built in static storage and never destroyed, so that a thread still
// logging while the process winds down never finds it gone.
struct CLogState {
    CCriticalSection lock;
    LogObserver pfnObserver = nullptr;
    void* pObserverContext = nullptr;
    CString strFileVersion;
    CString strBuildDate;
};

CLogState& State()
{
    alignas(CLogState) static unsigned char storage[sizeof(CLogState)];
    static CLogState* const pState = new (storage) CLogState();
    return *pState;
}

// Built while the program's static objects are, before start-up runs.
[[maybe_unused]] const CLogState& g_stateAtStartup = State();

// The message is dropped, not cut, when it does not fit in 1023 characters;
// a text of exactly 1023 characters stays whole.
CString ExpandMessage(const wchar_t* pszFormat, va_list args)
{
    wchar_t buffer[kMessageBufferChars];
    wmemset(buffer, L'\0', kMessageBufferChars);
    if (pszFormat == nullptr) {
        return CString();
    }
    va_list copy;
    va_copy(copy, args);
    const int n = _vsnwprintf(buffer, kMessageBufferChars - 1, pszFormat, copy);
    va_end(copy);
    if (n < 0 || n > kMessageBufferChars - 1) {
        return CString();
    }
    buffer[n] = L'\0';
    return CString(buffer);
}

CString FileNameOf(const char* pszSourcePath)
{
    if (pszSourcePath == nullptr) {
        return CString();
    }
    const CString path = CString::FromAnsi(pszSourcePath);
    // Our compiler writes forward slashes into __FILE__; Windows paths use
    // backslashes.
    const int back = path.ReverseFind(L'\\');
    const int forward = path.ReverseFind(L'/');
    return path.Mid((back > forward ? back : forward) + 1);
}

void WriteLogLine(const CString& strLine)
{
    CLogState& state = State();
    CCriticalSectionLock lock(state.lock);
    // No destination: the line is dropped here. A test observer may look at
    // it, still under the lock, so that lines arrive in order.
    if (state.pfnObserver != nullptr) {
        state.pfnObserver(state.pObserverContext, strLine);
    }
}

void ComposeAndWrite(const char* pszSourcePath, int nLine, const CString& strMessage, const CString* pstrDetail)
{
    const CString fileName = FileNameOf(pszSourcePath);
    CString line;
    if (pstrDetail == nullptr) {
        line.Format(L"%s:%d - %s", fileName.GetString(), nLine, strMessage.GetString());
    } else {
        line.Format(L"%s:%d - %s - %s", fileName.GetString(), nLine, strMessage.GetString(),
                    pstrDetail->GetString());
    }
    WriteLogLine(line);
}

CString ReadBrowserVersion()
{
    CRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Internet Explorer", 0, KEY_READ, key.put()) !=
        ERROR_SUCCESS) {
        return CString();
    }
    wchar_t value[256] = {};
    DWORD cb = sizeof(value) - sizeof(wchar_t);
    DWORD type = 0;
    if (RegQueryValueExW(key.get(), L"Version", nullptr, &type, reinterpret_cast<BYTE*>(value), &cb) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return CString();
    }
    return CString(value, static_cast<int>(wcsnlen(value, cb / sizeof(wchar_t))));
}

// GetVersionEx is deprecated in newer headers but is exactly the query the
// header line describes, including its refusal of the extended record on
// old systems.
bool QueryVersion(OSVERSIONINFOEXW& osvi)
{
    ZeroMemory(&osvi, sizeof(osvi));
    osvi.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXW);  // 284 bytes
    if (GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&osvi))) {
        return true;
    }
    ZeroMemory(&osvi, sizeof(osvi));
    osvi.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);  // 276 bytes
    return GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&osvi)) != FALSE;
}

}  // namespace

void LogMessage(const char* pszSourcePath, int nLine, const wchar_t* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    const CString message = ExpandMessage(pszFormat, args);
    va_end(args);
    ComposeAndWrite(pszSourcePath, nLine, message, nullptr);
}

void LogError(const char* pszSourcePath, int nLine, DWORD dwError, const wchar_t* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    const CString message = ExpandMessage(pszFormat, args);
    va_end(args);
    const CString errorText = FormatErrorText(dwError);
    ComposeAndWrite(pszSourcePath, nLine, message, &errorText);
}

void LogException(const char* pszSourcePath, int nLine, const CException& e, const wchar_t* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    const CString message = ExpandMessage(pszFormat, args);
    va_end(args);
    wchar_t buffer[kMessageBufferChars];
    wmemset(buffer, L'\0', kMessageBufferChars);
    try {
        e.GetErrorMessage(buffer, kMessageBufferChars, nullptr);
    } catch (...) {
        // The logger never throws; an exception that cannot describe itself
        // leaves its part empty.
        wmemset(buffer, L'\0', kMessageBufferChars);
    }
    buffer[kMessageBufferChars - 1] = L'\0';
    const CString exceptionText(buffer);
    ComposeAndWrite(pszSourcePath, nLine, message, &exceptionText);
}

CString FormatErrorText(DWORD dwError)
{
    LPWSTR pszSystem = nullptr;
    // Inserts are ignored: some system texts carry "%1" and no arguments are
    // at hand.
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, dwError, 0,
        reinterpret_cast<LPWSTR>(&pszSystem), 0, nullptr);
    CLocalMemory owner(pszSystem);
    CString text;
    if (n > 0 && pszSystem != nullptr) {
        text = CString(pszSystem, static_cast<int>(n));
        const int cr = text.Find(L'\r');
        if (cr >= 0) {
            text = text.Left(cr);
        }
    } else {
        text = L"Unknown error code";
    }
    CString result;
    result.Format(L"%s 0x%08X (%d)", text.GetString(), dwError, static_cast<int>(dwError & 0xFFFF));
    return result;
}

CString GetOsName(const OSVERSIONINFOEXW& osvi, bool bHaveVersion, const COsMetrics& metrics)
{
    if (!bHaveVersion) {
        return CString();
    }
    const CString servicePack(osvi.szCSDVersion, static_cast<int>(wcsnlen(osvi.szCSDVersion, 128)));
    const DWORD major = osvi.dwMajorVersion;
    const DWORD minor = osvi.dwMinorVersion;
    CString name;
    if (osvi.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) {
        if (minor == 0) {
            name = L"Windows 95";
        } else if (minor == 10) {
            name = L"Windows 98";
        } else if (minor == 90) {
            name = L"Windows Me";
        }
    } else if (osvi.dwPlatformId == VER_PLATFORM_WIN32_NT) {
        if (major <= 4) {
            name.Format(L"Windows NT %d.%d %s", static_cast<int>(major), static_cast<int>(minor),
                        servicePack.GetString());
        } else if (major == 5) {
            if (minor == 0) {
                name = L"Windows 2000 ";
            } else if (minor == 1) {
                name = L"Windows XP ";
                if (metrics.nMediaCenter != 0) {
                    name += L"Media Center ";
                } else if (metrics.nStarter != 0) {
                    name += L"Starter ";
                } else if (metrics.nTabletPc != 0) {
                    name += L"Tablet PC ";
                } else if ((osvi.wSuiteMask & VER_SUITE_PERSONAL) != 0) {
                    name += L"Home ";
                } else {
                    name += L"Pro ";
                }
            } else if (minor == 2) {
                name = L"Windows Server 2003 ";
                if (metrics.nServerR2 != 0) {
                    name += L"R2 ";
                }
            }
            if (!name.IsEmpty()) {
                name += servicePack;
            }
        } else if (major == 6) {
            if (minor == 1) {
                name = L"Windows 7 ";
            } else {
                name = L"Windows Vista ";
                if ((osvi.wSuiteMask & VER_SUITE_PERSONAL) != 0) {
                    name += L"Home ";
                }
            }
        }
    }
    if (name.IsEmpty()) {
        name.Format(L"Windows %d.%d", static_cast<int>(major), static_cast<int>(minor));
    }
    return name;
}

void SetLogProgramVersion(const CString& strFileVersion, const CString& strBuildDate)
{
    CLogState& state = State();
    CCriticalSectionLock lock(state.lock);
    state.strFileVersion = strFileVersion;
    state.strBuildDate = strBuildDate;
}

void LogSystemInfo()
{
    OSVERSIONINFOEXW osvi;
    const bool bHaveVersion = QueryVersion(osvi);
    COsMetrics metrics;
    metrics.nTabletPc = GetSystemMetrics(SM_TABLETPC);
    metrics.nMediaCenter = GetSystemMetrics(SM_MEDIACENTER);
    metrics.nStarter = GetSystemMetrics(SM_STARTER);
    metrics.nServerR2 = GetSystemMetrics(SM_SERVERR2);
    const CString osName = GetOsName(osvi, bHaveVersion, metrics);
    const CString browserVersion = ReadBrowserVersion();

    CString fileVersion;
    CString buildDate;
    {
        CLogState& state = State();
        CCriticalSectionLock lock(state.lock);
        fileVersion = state.strFileVersion;
        buildDate = state.strBuildDate;
    }
    CString programVersion;
    programVersion.Format(L"Version %s (%s)", fileVersion.GetString(), buildDate.GetString());
    LogMessage(__FILE__, __LINE__, L"Nulvane %s - IE Version %s - %s", programVersion.GetString(),
               browserVersion.GetString(), osName.GetString());
}

void SetLogObserver(LogObserver pfnObserver, void* pContext)
{
    CLogState& state = State();
    CCriticalSectionLock lock(state.lock);
    state.pfnObserver = pfnObserver;
    state.pObserverContext = pContext;
}
