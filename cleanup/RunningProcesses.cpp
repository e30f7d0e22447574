#include "cleanup/RunningProcesses.h"

#include <vector>

#include "framework/Logger.h"

namespace {

constexpr DWORD kInitialBufferBytes = 100;
// A million processes is far beyond any system; the cap only ends a loop
// against an enumeration that always fills the buffer.
constexpr DWORD kMaxBufferBytes = 4 * 1024 * 1024;

}  // namespace

CRunningProcesses::CRunningProcesses()
{
    m_pfnEnumProcesses = native::GetFunction<native::EnumProcessesFn>(m_hPsapi, "EnumProcesses");
}

BOOL CRunningProcesses::IsRunningImage(const CString& strPath)
{
    if (m_runningImages.IsEmpty()) {
        PopulateCache();
    }
    if (m_pfnGetProcessImageFileName == nullptr) {
        return m_runningImages.Contains(strPath) ? TRUE : FALSE;
    }
    const CString devicePath = ToDevicePath(strPath);
    if (devicePath.IsEmpty()) {
        return FALSE;
    }
    return m_runningImages.Contains(devicePath) ? TRUE : FALSE;
}

void CRunningProcesses::PopulateCache()
{
    LOG_MESSAGE(L"CRunningProcesses::PopulateCache() start");
    if (m_pfnEnumProcesses == nullptr || m_pfnGetModuleFileNameEx == nullptr) {
        LOG_MESSAGE(L"Failed to get running processes - Required functions are unavailable");
        return;
    }
    DWORD cbBuffer = kInitialBufferBytes;
    std::vector<DWORD> ids;
    DWORD cbReturned = 0;
    for (;;) {
        ids.assign(cbBuffer / sizeof(DWORD), 0);
        if (!m_pfnEnumProcesses(ids.data(), cbBuffer, &cbReturned)) {
            LOG_ERROR(GetLastError(), L"Failed to get running processes");
            return;
        }
        // A full buffer may have cut the list short.
        if (cbReturned < cbBuffer || cbBuffer >= kMaxBufferBytes) {
            break;
        }
        cbBuffer *= 2;
    }
    const DWORD count = (cbReturned < cbBuffer ? cbReturned : cbBuffer) / sizeof(DWORD);
    for (DWORD i = 0; i < count; ++i) {
        CHandle hProcess(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, ids[i]));
        if (!hProcess) {
            continue;
        }
        const CString image = GetProcessFileName(hProcess.get());
        if (!image.IsEmpty()) {
            m_runningImages.Add(image);
        }
    }
    LOG_MESSAGE(L"CRunningProcesses::PopulateCache() end");
}
