#include "cleanup/ProcessInspector.h"

#include "framework/Logger.h"

namespace {

constexpr DWORD kPathChars = 260;

}  // namespace

CProcessInspector::CProcessInspector()
{
    m_hPsapi = native::LoadSystemLibrary(L"\\PSAPI.DLL");
    m_pfnGetProcessImageFileName =
        native::GetFunction<native::GetProcessImageFileNameWFn>(m_hPsapi, "GetProcessImageFileNameW");
    m_pfnGetModuleFileNameEx = native::GetFunction<native::GetModuleFileNameExWFn>(m_hPsapi, "GetModuleFileNameExW");
}

CProcessInspector::~CProcessInspector() = default;

CString CProcessInspector::GetProcessFileName(HANDLE hProcess) const
{
    wchar_t buffer[kPathChars] = {};
    DWORD n = 0;
    if (m_pfnGetProcessImageFileName != nullptr) {
        n = m_pfnGetProcessImageFileName(hProcess, buffer, kPathChars);
    } else if (m_pfnGetModuleFileNameEx != nullptr) {
        n = m_pfnGetModuleFileNameEx(hProcess, nullptr, buffer, kPathChars);
    } else {
        SetLastError(ERROR_PROC_NOT_FOUND);
    }
    if (n == 0 || n >= kPathChars) {
        LOG_ERROR(GetLastError(), L"Failed to get process filename");
        return CString();
    }
    return CString(buffer, static_cast<int>(n));
}

CString CProcessInspector::QueryDosDeviceTarget(wchar_t chLetter)
{
    const wchar_t device[3] = {chLetter, L':', L'\0'};
    wchar_t target[kPathChars] = {};
    const DWORD n = QueryDosDeviceW(device, target, kPathChars);
    if (n == 0) {
        return CString();
    }
    // The answer is a list of strings; the first is the current target.
    target[kPathChars - 1] = L'\0';
    return CString(target);
}

CString CProcessInspector::ToDevicePath(const CString& strPath)
{
    if (strPath.GetLength() < 2 || strPath[1] != L':') {
        return CString();
    }
    const CString target = QueryDosDeviceTarget(strPath[0]);
    if (target.IsEmpty()) {
        return CString();
    }
    return target + strPath.Mid(2);
}

CString CProcessInspector::ToDriveLetterPath(const CString& strDevicePath, DosDeviceQuery pfnQuery)
{
    for (wchar_t chLetter = L'A'; chLetter <= L'Z'; ++chLetter) {
        const CString target = pfnQuery(chLetter);
        if (target.IsEmpty() || strDevicePath.Left(target.GetLength()) != target) {
            continue;
        }
        // The target must end at a folder boundary: "\Device\HarddiskVolume1"
        // is a prefix of "\Device\HarddiskVolume10\..." too.
        const int n = target.GetLength();
        if (strDevicePath.GetLength() > n && strDevicePath[n] != L'\\') {
            continue;
        }
        CString result(chLetter, 1);
        result += L':';
        result += strDevicePath.Mid(n);
        return result;
    }
    return strDevicePath;
}
