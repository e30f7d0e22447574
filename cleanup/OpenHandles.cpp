#include "cleanup/OpenHandles.h"

#include <cstring>
#include <new>

#include "framework/Logger.h"

namespace {

constexpr DWORD kNameQueryTimeoutMs = 100;
constexpr DWORD kWorkerExitTimeoutMs = 1000;
constexpr ULONG kInitialTableBytes = 20;
// The table of a busy system is a few MB; past 1 GiB the query is not
// converging and the allocation would fail anyway.
constexpr ULONG kMaxTableBytes = 1u << 30;
constexpr ULONG kTypeBufferBytes = 96;
constexpr ULONG kMaxTypeBufferBytes = 64 * 1024;
constexpr ULONG kNameBufferBytes = 4096;
constexpr int kNameChars = kNameBufferBytes / sizeof(wchar_t);

bool IsRetryStatus(NTSTATUS status)
{
    return status == native::kStatusBufferOverflow || status == native::kStatusInfoLengthMismatch;
}

CString OwnFileName()
{
    wchar_t path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    const CString module(path, static_cast<int>(n < MAX_PATH ? n : 0));
    return module.Mid(module.ReverseFind(L'\\') + 1);
}

// A UNICODE_STRING that an NT query placed in our buffer, checked to lie
// inside it before it is read.
bool NameInsideBuffer(const UNICODE_STRING& name, const void* pBuffer, size_t cbBuffer)
{
    const auto* pBegin = static_cast<const BYTE*>(pBuffer);
    const auto* pName = reinterpret_cast<const BYTE*>(name.Buffer);
    return pName != nullptr && pName >= pBegin && pName <= pBegin + cbBuffer &&
           name.Length <= static_cast<size_t>(pBegin + cbBuffer - pName);
}

}  // namespace

// What the caller and the name-query worker share. Owned by the caller; a
// worker that could not be terminated keeps its block for good.
struct COpenHandles::CNameWorker {
    COpenHandles* pOwner = nullptr;
    CThread thread;
    CHandle hRequestEvent;
    CHandle hDoneEvent;
    HANDLE hQuestion = nullptr;
    NTSTATUS status = native::kStatusSuccess;
    int cchName = 0;
    wchar_t name[kNameChars] = {};
};

bool COpenHandles::CImageOrder::operator()(const CString& a, const CString& b) const
{
    if (a == b) {
        return false;
    }
    const bool aBrowser = a.Find(L"iexplore") >= 0;
    const bool bBrowser = b.Find(L"iexplore") >= 0;
    if (aBrowser != bBrowser) {
        return aBrowser;
    }
    if (!strOwnFileName.IsEmpty()) {
        const bool aOwn = a.Find(strOwnFileName) >= 0;
        const bool bOwn = b.Find(strOwnFileName) >= 0;
        if (aOwn != bOwn) {
            return bOwn;
        }
    }
    return a < b;
}

COpenHandles::COpenHandles() : m_pendingHandles(CImageOrder{OwnFileName()})
{
    m_hNtdll = native::LoadSystemLibrary(L"\\NTDLL.DLL");
    m_hAdvapi = native::LoadSystemLibrary(L"\\ADVAPI32.DLL");
    m_pfnNtQuerySystemInformation =
        native::GetFunction<native::NtQuerySystemInformationFn>(m_hNtdll, "NtQuerySystemInformation");
    m_pfnNtQueryObject = native::GetFunction<native::NtQueryObjectFn>(m_hNtdll, "NtQueryObject");
    m_pfnNtQueryInformationFile =
        native::GetFunction<native::NtQueryInformationFileFn>(m_hNtdll, "NtQueryInformationFile");
    m_pfnRtlAdjustPrivilege = native::GetFunction<native::RtlAdjustPrivilegeFn>(m_hNtdll, "RtlAdjustPrivilege");
    m_pfnOpenProcessToken = native::GetFunction<native::OpenProcessTokenFn>(m_hAdvapi, "OpenProcessToken");
}

COpenHandles::~COpenHandles()
{
    StopNameWorker(false);
}

CString COpenHandles::NormaliseObjectName(const CString& strName)
{
    if (strName.Left(4) == L"\\??\\") {
        const CString devicePath = ToDevicePath(strName.Mid(4));
        if (!devicePath.IsEmpty()) {
            return devicePath;
        }
    }
    return strName;
}

BOOL COpenHandles::FindOpeningProcess(const CString& strPath, CString& strProcessPath)
{
    strProcessPath.Empty();
    const CString devicePath = ToDevicePath(strPath);
    if (devicePath.IsEmpty()) {
        return FALSE;
    }
    bool bFound = false;
    auto known = m_fileOwners.find(devicePath);
    if (known != m_fileOwners.end()) {
        strProcessPath = known->second;
        bFound = true;
    } else {
        // Other users' processes open only with the debug privilege.
        BOOLEAN bWasEnabled = FALSE;
        const bool bAdjusted = m_pfnRtlAdjustPrivilege != nullptr &&
                               m_pfnRtlAdjustPrivilege(native::kSeDebugPrivilege, TRUE, FALSE, &bWasEnabled) ==
                                   native::kStatusSuccess;
        if (m_fileOwners.empty() && m_pendingHandles.empty()) {
            TakeHandleSnapshot();
        }
        while (!m_pendingHandles.empty() && !bFound) {
            auto group = m_pendingHandles.begin();
            const CString image = group->first;
            std::map<DWORD, std::vector<CHandleEntry>> processes = std::move(group->second);
            m_pendingHandles.erase(group);
            for (auto& [dwProcessId, entries] : processes) {
                LOG_MESSAGE(L"%s", image.GetString());
                ResolveProcessHandles(dwProcessId, std::move(entries));
            }
            known = m_fileOwners.find(devicePath);
            if (known != m_fileOwners.end()) {
                strProcessPath = known->second;
                bFound = true;
            }
        }
        if (bAdjusted) {
            BOOLEAN bIgnored = FALSE;
            m_pfnRtlAdjustPrivilege(native::kSeDebugPrivilege, bWasEnabled, FALSE, &bIgnored);
        }
    }
    if (bFound && m_pfnGetProcessImageFileName != nullptr) {
        strProcessPath = ToDriveLetterPath(strProcessPath);
    }
    return bFound ? TRUE : FALSE;
}

void COpenHandles::TakeHandleSnapshot()
{
    if (m_pfnNtQuerySystemInformation == nullptr || m_pfnNtQueryObject == nullptr ||
        m_pfnNtQueryInformationFile == nullptr || m_pfnGetModuleFileNameEx == nullptr ||
        m_pfnOpenProcessToken == nullptr) {
        LOG_MESSAGE(L"Failed to get open handles - Required functions are unavailable");
        return;
    }
    // LONGLONG elements keep the pointer-sized fields of the entries aligned.
    std::unique_ptr<LONGLONG[]> buffer;
    ULONG cbBuffer = kInitialTableBytes;
    NTSTATUS status = native::kStatusNoMemory;
    for (;;) {
        buffer.reset(new (std::nothrow) LONGLONG[(cbBuffer + sizeof(LONGLONG) - 1) / sizeof(LONGLONG)]);
        if (!buffer) {
            LOG_MESSAGE(L"Failed to allocate memory for handle information");
            status = native::kStatusNoMemory;
            break;
        }
        ULONG cbReturned = 0;
        status = m_pfnNtQuerySystemInformation(native::kSystemHandleInformation, buffer.get(), cbBuffer, &cbReturned);
        if (!IsRetryStatus(status)) {
            break;
        }
        if (cbBuffer >= kMaxTableBytes) {
            LOG_MESSAGE(L"Failed to allocate memory for handle information");
            status = native::kStatusNoMemory;
            break;
        }
        cbBuffer = cbReturned > cbBuffer ? cbReturned : cbBuffer * 2;
    }
    if (status != native::kStatusSuccess) {
        LOG_MESSAGE(L"Failed to get open handles - NtQuerySystemInformation failed with status 0x%08X (%d)",
                    static_cast<unsigned>(status), static_cast<int>(status));
        return;
    }

    const auto* pTable = reinterpret_cast<const native::CSystemHandleTable*>(buffer.get());
    const size_t cbHeader = offsetof(native::CSystemHandleTable, entries);
    const size_t capacity = cbBuffer > cbHeader ? (cbBuffer - cbHeader) / sizeof(native::CSystemHandleEntry) : 0;
    const size_t count = pTable->ulCount < capacity ? pTable->ulCount : capacity;
    for (size_t i = 0; i < count; ++i) {
        const native::CSystemHandleEntry& entry = pTable->entries[i];
        const DWORD dwProcessId = entry.usProcessId;
        CString image;
        const auto known = m_processImages.find(dwProcessId);
        if (known != m_processImages.end()) {
            image = known->second;
        } else {
            CHandle hProcess(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, dwProcessId));
            if (hProcess) {
                image = GetProcessFileName(hProcess.get());
                if (!image.IsEmpty()) {
                    CHandle hToken;
                    if (!m_pfnOpenProcessToken(hProcess.get(), TOKEN_READ, hToken.put())) {
                        LOG_ERROR(GetLastError(), L"OpenProcessToken failed for %s", image.GetString());
                        image.Empty();
                    }
                }
            }
            m_processImages[dwProcessId] = image;
        }
        if (!image.IsEmpty()) {
            m_pendingHandles[image][dwProcessId].push_back(CHandleEntry{dwProcessId, entry.usHandleValue});
        }
    }
}

CString COpenHandles::OwnerImage(DWORD dwProcessId) const
{
    const auto known = m_processImages.find(dwProcessId);
    return known != m_processImages.end() ? known->second : CString();
}

void COpenHandles::ResolveProcessHandles(DWORD dwProcessId, std::vector<CHandleEntry> entries)
{
    CHandle hProcess(
        OpenProcess(PROCESS_DUP_HANDLE | PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, dwProcessId));
    if (!hProcess) {
        return;
    }
    const CString image = OwnerImage(dwProcessId);
    for (const CHandleEntry& entry : entries) {
        CHandle hDuplicate;
        // Not inheritable: a child process started meanwhile would keep the
        // user's file open.
        if (!DuplicateHandle(hProcess.get(), reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(entry.usHandleValue)),
                             GetCurrentProcess(), hDuplicate.put(), 0, FALSE, DUPLICATE_SAME_ACCESS)) {
            continue;
        }
        if (GetObjectTypeName(hDuplicate.get()).CompareNoCase(L"File") != 0) {
            continue;
        }
        const CString name = GetHandleFileName(hDuplicate.get());
        if (!name.IsEmpty()) {
            m_fileOwners[NormaliseObjectName(name)] = image;
        }
    }
}

CString COpenHandles::GetObjectTypeName(HANDLE hObject)
{
    if (m_pfnNtQueryObject == nullptr) {
        return CString();
    }
    LONGLONG small[kTypeBufferBytes / sizeof(LONGLONG)] = {};
    std::unique_ptr<LONGLONG[]> large;
    void* pBuffer = small;
    ULONG cbBuffer = kTypeBufferBytes;
    ULONG cbReturned = 0;
    NTSTATUS status = m_pfnNtQueryObject(hObject, native::kObjectTypeInformation, pBuffer, cbBuffer, &cbReturned);
    if (IsRetryStatus(status) && cbReturned > cbBuffer && cbReturned <= kMaxTypeBufferBytes) {
        large.reset(new (std::nothrow) LONGLONG[(cbReturned + sizeof(LONGLONG) - 1) / sizeof(LONGLONG)]());
        if (large) {
            pBuffer = large.get();
            cbBuffer = cbReturned;
            status = m_pfnNtQueryObject(hObject, native::kObjectTypeInformation, pBuffer, cbBuffer, &cbReturned);
        }
    }
    UNICODE_STRING typeName;
    memcpy(&typeName, pBuffer, sizeof(typeName));
    if (status >= 0 && NameInsideBuffer(typeName, pBuffer, cbBuffer)) {
        return CString(typeName.Buffer, typeName.Length / 2);
    }
    LOG_MESSAGE(L"Failed to get object type - NtQueryObject failed with status 0x%08X (%d)",
                static_cast<unsigned>(status), static_cast<int>(status));
    return CString();
}

bool COpenHandles::StartNameWorker()
{
    auto pWorker = std::make_unique<CNameWorker>();
    pWorker->pOwner = this;
    pWorker->hRequestEvent.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    pWorker->hDoneEvent.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!pWorker->hRequestEvent || !pWorker->hDoneEvent ||
        !pWorker->thread.Create(&COpenHandles::NameWorkerProcedure, pWorker.get(), false)) {
        LOG_ERROR(GetLastError(), L"Failed to start the file name worker");
        return false;
    }
    m_pNameWorker = std::move(pWorker);
    return true;
}

void COpenHandles::StopNameWorker(bool bTerminateAtOnce)
{
    if (!m_pNameWorker) {
        return;
    }
    CNameWorker& worker = *m_pNameWorker;
    bool bEnded = false;
    if (!bTerminateAtOnce) {
        worker.hQuestion = nullptr;
        SetEvent(worker.hRequestEvent.get());
        bEnded = worker.thread.Wait(kWorkerExitTimeoutMs) == WAIT_OBJECT_0;
    }
    if (!bEnded) {
        worker.thread.Terminate(1);
        // Termination is asynchronous; the block is freed only once the
        // thread can no longer write into it.
        bEnded = worker.thread.Wait(kWorkerExitTimeoutMs) == WAIT_OBJECT_0;
    }
    if (bEnded) {
        m_pNameWorker.reset();
    } else {
        (void)m_pNameWorker.release();
    }
}

unsigned __stdcall COpenHandles::NameWorkerProcedure(void* pParameter)
{
    auto* pWorker = static_cast<CNameWorker*>(pParameter);
    for (;;) {
        if (WaitForSingleObject(pWorker->hRequestEvent.get(), INFINITE) != WAIT_OBJECT_0) {
            return 0;
        }
        const HANDLE hQuestion = pWorker->hQuestion;
        if (hQuestion == nullptr) {
            return 0;
        }
        int cchName = 0;
        pWorker->status = pWorker->pOwner->QueryFileObjectName(hQuestion, pWorker->name, kNameChars, &cchName);
        pWorker->cchName = cchName;
        SetEvent(pWorker->hDoneEvent.get());
    }
}

CString COpenHandles::GetHandleFileName(HANDLE hFile)
{
    if (!m_pNameWorker && !StartNameWorker()) {
        return CString();
    }
    CNameWorker& worker = *m_pNameWorker;
    worker.hQuestion = hFile;
    worker.cchName = 0;
    worker.status = native::kStatusSuccess;
    SetEvent(worker.hRequestEvent.get());
    if (WaitForSingleObject(worker.hDoneEvent.get(), kNameQueryTimeoutMs) != WAIT_OBJECT_0) {
        // Queries on some handles (a pipe with a pending read) never return.
        LOG_MESSAGE(L"Timeout getting filename");
        StopNameWorker(true);
        return CString();
    }
    if (worker.status != native::kStatusSuccess || worker.cchName <= 0) {
        return CString();
    }
    const int cch = worker.cchName < kNameChars ? worker.cchName : kNameChars;
    return CString(worker.name, cch);
}

NTSTATUS COpenHandles::QueryFileObjectName(HANDLE hFile, wchar_t* pszName, int cchName, int* pcchName)
{
    *pcchName = 0;
    if (m_pfnNtQueryInformationFile == nullptr || m_pfnNtQueryObject == nullptr) {
        return native::kStatusNotImplemented;
    }
    LONGLONG buffer[kNameBufferBytes / sizeof(LONGLONG)] = {};
    IO_STATUS_BLOCK ioStatus = {};
    NTSTATUS status =
        m_pfnNtQueryInformationFile(hFile, &ioStatus, buffer, kNameBufferBytes, native::kFileNameInformation);
    if (status != native::kStatusSuccess) {
        return status;
    }
    memset(buffer, 0, sizeof(buffer));
    ULONG cbReturned = 0;
    status = m_pfnNtQueryObject(hFile, native::kObjectNameInformation, buffer, kNameBufferBytes, &cbReturned);
    UNICODE_STRING name;
    memcpy(&name, buffer, sizeof(name));
    if (status == native::kStatusSuccess && name.Length > 0 && NameInsideBuffer(name, buffer, sizeof(buffer))) {
        int cch = name.Length / 2;
        if (cch > cchName) {
            cch = cchName;
        }
        memcpy(pszName, name.Buffer, static_cast<size_t>(cch) * sizeof(wchar_t));
        *pcchName = cch;
    }
    return status;
}
