#include "tests/support/TraceAudit.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <sstream>

#include "framework/Handles.h"
#include "tests/support/TestFiles.h"

namespace {

CString AuditToolPath()
{
    return TestProgramFolder() + L"..\\bin\\nulvane_trace_audit.exe";
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
