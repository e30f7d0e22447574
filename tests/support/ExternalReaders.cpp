#include "tests/support/ExternalReaders.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <sstream>

#include "framework/Handles.h"

namespace {

CString AuditToolPath()
{
    return TestProgramFolder() + L"..\\bin\\nulvane_trace_audit.exe";
}

// The host (Unix) path of a Windows path, or an empty string.
CString HostPathOf(const CString& strPath)
{
    using UnixName = char*(CDECL*)(LPCWSTR);
    const auto pfn = reinterpret_cast<UnixName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* name = pfn != nullptr ? pfn(strPath) : nullptr;
    const CString result = name != nullptr ? CString::FromUtf8(name) : CString();
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

}  // namespace

std::vector<std::string> RunTraceAudit(const CString& strArguments, int* pExitCode)
{
    CTempFolder folder;
    const CString outPath = folder / L"out.txt";
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    CHandle out(CreateFileW(outPath, GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr));
    EXPECT_TRUE(out.valid());
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = out.get();
    si.hStdError = out.get();
    si.hStdInput = nullptr;
    PROCESS_INFORMATION pi = {};
    CString commandLine = L"\"" + AuditToolPath() + L"\" " + strArguments;
    EXPECT_TRUE(CreateProcessW(nullptr, commandLine.GetBuffer(0), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                               &pi))
        << "cannot start " << AuditToolPath().ToUtf8();
    CHandle process(pi.hProcess);
    CHandle thread(pi.hThread);
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 60000), WAIT_OBJECT_0);
    DWORD code = 99;
    GetExitCodeProcess(pi.hProcess, &code);
    if (pExitCode != nullptr) {
        *pExitCode = static_cast<int>(code);
    }
    out.reset();
    std::vector<std::string> lines;
    std::istringstream stream(ReadTestFile(outPath));
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> LinesStartingWith(const std::vector<std::string>& lines, const std::string& text)
{
    std::vector<std::string> found;
    for (const std::string& line : lines) {
        if (line.rfind(text, 0) == 0) {
            found.push_back(line);
        }
    }
    return found;
}

std::vector<std::string> LinesContaining(const std::vector<std::string>& lines, const std::string& text)
{
    std::vector<std::string> found;
    for (const std::string& line : lines) {
        if (line.find(text) != std::string::npos) {
            found.push_back(line);
        }
    }
    return found;
}


// Starts a command line on the host; Wine gives no process handle to wait on.
static void StartHostCommand(CString command)
{
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    EXPECT_TRUE(CreateProcessW(nullptr, command.GetBuffer(0), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    CHandle process(pi.hProcess);
    CHandle thread(pi.hThread);
}

CLoopbackSite::CLoopbackSite()
{
    const CString portFile = m_folder / L"port";
    // Its output goes nowhere: a host process holding the test's pipes open
    // would keep CTest waiting for it.
    StartHostCommand(FormatString(L"/bin/sh -c \"python3 '%s/tools/loopback-site.py' '%s' 120 </dev/null >/dev/null 2>&1\"",
                                  CString::FromUtf8(NULVANE_SOURCE_DIR).GetString(), HostPathOf(portFile).GetString()));
    for (int i = 0; i < 200 && !TestFileExists(portFile); ++i) {
        Sleep(50);
    }
    const int nPort = TestFileExists(portFile) ? atoi(ReadTestFile(portFile).c_str()) : 0;
    EXPECT_GT(nPort, 0) << "the loopback site did not start";
    if (nPort > 0) {
        m_strBase = FormatString(L"http://127.0.0.1:%d", nPort);
    }
}

// The shell leaves msiecfexport's exit code in a file that is polled for.
std::multiset<CString> ExportIndexLocations(const CTempFolder& folder, const CString& strIndex, const wchar_t* pszMode)
{
    const CString copy = folder / L"export.dat";
    const CString output = folder / L"export.txt";
    const CString rc = folder / L"export.rc";
    std::string bytes = ReadTestFile(strIndex);
    bytes.replace(0, 28, std::string("Client UrlCache MMF Ver 5.2") + '\0');
    WriteTestFile(copy, bytes);
    DeleteFileW(rc);
    const CString hostRc = HostPathOf(rc);
    CString command = FormatString(
        L"/bin/sh -c \"msiecfexport -m %s '%s' > '%s' 2>&1; echo $? > '%s.tmp' && mv '%s.tmp' '%s'\"", pszMode,
        HostPathOf(copy).GetString(), HostPathOf(output).GetString(), hostRc.GetString(), hostRc.GetString(),
        hostRc.GetString());
    StartHostCommand(command);
    for (int i = 0; i < 600 && !TestFileExists(rc); ++i) {
        Sleep(50);
    }
    EXPECT_EQ(ReadTestFile(rc), "0\n") << ReadTestFile(output);
    std::multiset<CString> locations;
    const CString text = CString::FromUtf8(ReadTestFile(output));
    for (int start = 0; start >= 0;) {
        const CString line = text.Tokenize(L"\n", start);
        if (line.Left(8) == L"Location") {
            CString value = line.Mid(line.Find(L':') + 1);
            locations.insert(value.Trim());
        }
    }
    return locations;
}
