// nulvane_test_program.exe: the program itself, built with one addition for
// the tests that run it as a process of its own. The product writes its log
// lines nowhere; here they can be watched from outside:
//   NULVANE_TEST_LOG=<path>        every log line is appended to the file
//                                  (UTF-8, one line each), readable while
//                                  the program runs
//   NULVANE_TEST_FREEZE_AT=<text>  the thread that logs the first line
//                                  containing the text signals the event
//   NULVANE_TEST_FROZEN=<name>     of this name and then stops for good,
//                                  holding the log lock, so that the test
//                                  kills the process at that very point
// Without these variables it is the program, arguments and all.
#include <windows.h>

#include <string>

#include "app/CommandLine.h"
#include "app/MSDIApp.h"
#include "framework/Handles.h"
#include "framework/Logger.h"

namespace {

struct CTestObserver {
    HANDLE hLog = INVALID_HANDLE_VALUE;
    CString strFreezeAt;
    CString strFrozenEvent;
};

CString Variable(const wchar_t* pszName)
{
    wchar_t szValue[1024] = {};
    const DWORD nChars = GetEnvironmentVariableW(pszName, szValue, static_cast<DWORD>(std::size(szValue)));
    return nChars > 0 && nChars < std::size(szValue) ? CString(szValue, static_cast<int>(nChars)) : CString();
}

void ObserveLine(void* pContext, const CString& strLine)
{
    auto* pObserver = static_cast<CTestObserver*>(pContext);
    if (pObserver->hLog != INVALID_HANDLE_VALUE) {
        const std::string line = (strLine + L"\n").ToUtf8();
        DWORD dwWritten = 0;
        WriteFile(pObserver->hLog, line.data(), static_cast<DWORD>(line.size()), &dwWritten, nullptr);
    }
    if (!pObserver->strFreezeAt.IsEmpty() && strLine.Find(pObserver->strFreezeAt) >= 0) {
        pObserver->strFreezeAt.Empty();
        CHandle hFrozen(OpenEventW(EVENT_MODIFY_STATE, FALSE, pObserver->strFrozenEvent));
        if (hFrozen) {
            SetEvent(hFrozen.get());
        }
        for (;;) {
            Sleep(INFINITE);
        }
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    static CTestObserver observer;
    const CString strLog = Variable(L"NULVANE_TEST_LOG");
    if (!strLog.IsEmpty()) {
        observer.hLog = CreateFileW(strLog, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_ALWAYS, 0, nullptr);
    }
    observer.strFreezeAt = Variable(L"NULVANE_TEST_FREEZE_AT");
    observer.strFrozenEvent = Variable(L"NULVANE_TEST_FROZEN");
    SetLogObserver(&ObserveLine, &observer);
    int nCode = 0;
    {
        CMSDIApp app;
        nCode = app.RunApplication(CCommandLine::FromProcess());
    }
    SetLogObserver(nullptr, nullptr);
    return nCode;
}
