#include "tests/support/HelperProcess.h"

#include <atomic>

#include "tests/support/TestFiles.h"

namespace {

std::atomic<unsigned> g_helperCounter{0};
constexpr DWORD kReadyTimeoutMs = 30000;
constexpr DWORD kStopTimeoutMs = 30000;

}  // namespace

CString CHelperProcess::Path()
{
    return TestProgramFolder() + L"nulvane_test_helper.exe";
}

bool CHelperProcess::Start(const CString& strArguments)
{
    return StartImage(Path(), strArguments);
}

bool CHelperProcess::StartImage(const CString& strImagePath, const CString& strArguments)
{
    const unsigned n = g_helperCounter++;
    CString readyName;
    readyName.Format(L"nulvane-test-ready-%lu-%u", GetCurrentProcessId(), n);
    CString quitName;
    quitName.Format(L"nulvane-test-quit-%lu-%u", GetCurrentProcessId(), n);
    CHandle ready(CreateEventW(nullptr, TRUE, FALSE, readyName));
    m_hQuitEvent.reset(CreateEventW(nullptr, TRUE, FALSE, quitName));
    if (!ready || !m_hQuitEvent) {
        return false;
    }
    CString commandLine;
    commandLine.Format(L"\"%s\" %s %s %s", strImagePath.GetString(), readyName.GetString(), quitName.GetString(),
                       strArguments.GetString());
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, commandLine.GetBuffer(0), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        return false;
    }
    CloseHandle(pi.hThread);
    m_hProcess.reset(pi.hProcess);
    m_dwProcessId = pi.dwProcessId;
    const HANDLE handles[] = {ready.get(), m_hProcess.get()};
    return WaitForMultipleObjects(2, handles, FALSE, kReadyTimeoutMs) == WAIT_OBJECT_0;
}

int CHelperProcess::Stop()
{
    if (!m_hProcess) {
        return -1;
    }
    SetEvent(m_hQuitEvent.get());
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(m_hProcess.get(), kStopTimeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(m_hProcess.get(), 99);
        WaitForSingleObject(m_hProcess.get(), kStopTimeoutMs);
    }
    GetExitCodeProcess(m_hProcess.get(), &code);
    m_hProcess.reset();
    m_hQuitEvent.reset();
    return static_cast<int>(code);
}

CHelperProcess::~CHelperProcess()
{
    Stop();
}
