#include "tests/stores/MsiecfExport.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "framework/Handles.h"

namespace {

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

// Wine starts host programs without a process handle to wait on, so the
// shell leaves the exit code in a file that is polled for.
std::multiset<CString> ExportLocations(const CTempFolder& folder, const CString& strIndex, const wchar_t* pszMode)
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
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    EXPECT_TRUE(CreateProcessW(nullptr, command.GetBuffer(0), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    CHandle process(pi.hProcess);
    CHandle thread(pi.hThread);
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

