#include "cleanup/SecureDeleter.h"

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "framework/Logger.h"

namespace {

constexpr DWORD kAttributeMaskNeedingClusters =
    FILE_ATTRIBUTE_SPARSE_FILE | FILE_ATTRIBUTE_COMPRESSED | FILE_ATTRIBUTE_ENCRYPTED;  // 0x4A00
constexpr int kScrambleRounds = 26;

// The retrieval map output: a 16-byte header and 8192 extents of 16 bytes.
constexpr ULONG kRetrievalMapBytes = 0x20010;
constexpr DWORD kMaxExtentsPerPage = (kRetrievalMapBytes - sizeof(native::CRetrievalMapHeader)) /
                                     sizeof(native::CRetrievalExtent);
// Far beyond any real file (NTFS needs a few hundred pages for the most
// fragmented files seen); the caps only stop a map that never ends.
constexpr int kMaxMapPages = 4096;
constexpr size_t kMaxDiskRuns = size_t{1} << 20;
// NTFS clusters are at most 2 MiB; anything larger is not a real geometry
// and would let cluster offsets overflow.
constexpr LONGLONG kMaxClusterSize = LONGLONG{1} << 26;
constexpr LONGLONG kSparseLcn = -1;

// The name part starts after the last separator. A drive's colon counts too,
// and so does a forward slash: a scrambled drive letter or folder would move
// the file elsewhere.
int NameStart(const CString& strPath)
{
    int last = -1;
    for (int i = 0; i < strPath.GetLength(); ++i) {
        const wchar_t ch = strPath[i];
        if (ch == L'\\' || ch == L'/' || ch == L':') {
            last = i;
        }
    }
    return last + 1;
}

void* AllocatePattern(SIZE_T cb)
{
    return VirtualAlloc(nullptr, cb, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
}

// Opens a file exclusively and reads its size; logs and returns an empty
// handle on failure.
CHandle OpenForOverwrite(const CString& strPath, DWORD dwAccess, DWORD dwFlags, LONGLONG& llSize)
{
    CHandle hFile(CreateFileW(strPath, dwAccess, 0, nullptr, OPEN_EXISTING, dwFlags, nullptr));
    if (!hFile) {
        LOG_ERROR(GetLastError(), L"Failed to open file %s", strPath.GetString());
        return hFile;
    }
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(hFile.get(), &size)) {
        LOG_ERROR(GetLastError(), L"Failed to get the size of %s", strPath.GetString());
        return CHandle();
    }
    llSize = size.QuadPart;
    return hFile;
}

}  // namespace

CSecureDeleter::CSecureDeleter() : CSecureDeleter(&AllocatePattern)
{
}

CSecureDeleter::CSecureDeleter(PatternAllocator pfnAllocate)
{
    m_hNtdll = native::LoadSystemLibrary(L"\\NTDLL.DLL");
    m_pfnNtFsControlFile = native::GetFunction<native::NtFsControlFileFn>(m_hNtdll, "NtFsControlFile");

    for (CVirtualMemory& pattern : m_patterns) {
        pattern.reset(pfnAllocate != nullptr ? pfnAllocate(kPatternSize) : nullptr);
    }
    if (!HasPatterns()) {
        // Without all three patterns nothing is overwritten: SecureDelete
        // refuses every file rather than write from a missing buffer.
        LOG_MESSAGE(L"Failed to allocate the overwrite patterns");
        return;
    }
    memset(m_patterns[0].get(), 0x00, kPatternSize);
    memset(m_patterns[1].get(), 0xFF, kPatternSize);
    srand(static_cast<unsigned>(time(nullptr)));
    auto* pRandom = static_cast<BYTE*>(m_patterns[2].get());
    for (DWORD i = 0; i < kPatternSize; ++i) {
        pRandom[i] = static_cast<BYTE>(rand() & 0xFF);
    }
}

CSecureDeleter::~CSecureDeleter() = default;

bool CSecureDeleter::HasPatterns() const
{
    for (const CVirtualMemory& pattern : m_patterns) {
        if (!pattern) {
            return false;
        }
    }
    return true;
}

const BYTE* CSecureDeleter::GetPattern(int nPass) const
{
    if (nPass < 0 || nPass >= kPasses) {
        return nullptr;
    }
    return static_cast<const BYTE*>(m_patterns[nPass].get());
}

BOOL CSecureDeleter::SecureDelete(const CString& strPath)
{
    if (!HasPatterns()) {
        LOG_MESSAGE(L"Unable to secure delete %s - no overwrite patterns", strPath.GetString());
        return FALSE;
    }
    const DWORD dwAttributes = GetAttributes(strPath);
    if (dwAttributes == INVALID_FILE_ATTRIBUTES) {
        LOG_ERROR(GetLastError(), L"Failed to get attributes of %s", strPath.GetString());
        return FALSE;
    }
    if ((dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        LOG_MESSAGE(L"Unable to secure delete directory %s", strPath.GetString());
        return FALSE;
    }
    if ((dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        // Opening a link opens its target: the data written would land in a
        // file that may live anywhere. The link itself holds no data, so it
        // only loses its name.
        LOG_MESSAGE(L"Removing link %s without overwriting its target", strPath.GetString());
        return RemoveScrambled(strPath);
    }
    if ((dwAttributes & kAttributeMaskNeedingClusters) != 0 && m_pfnNtFsControlFile != nullptr) {
        return SecureDeleteClusters(strPath);
    }
    return SecureDeleteFile(strPath);
}

BOOL CSecureDeleter::OverwriteData(HANDLE hFile, LONGLONG llLength)
{
    for (int pass = 0; pass < kPasses; ++pass) {
        const auto* pPattern = static_cast<const BYTE*>(m_patterns[pass].get());
        if (pPattern == nullptr) {
            LOG_MESSAGE(L"Failed to overwrite file data");
            return FALSE;
        }
        LONGLONG llTotal = 0;
        while (llTotal < llLength) {
            const LONGLONG llRemaining = llLength - llTotal;
            const DWORD cbChunk = llRemaining < kPatternSize ? static_cast<DWORD>(llRemaining) : kPatternSize;
            DWORD cbWritten = 0;
            if (!WriteChunk(hFile, pPattern, cbChunk, &cbWritten)) {
                LOG_ERROR(GetLastError(), L"Failed to overwrite file data");
                return FALSE;
            }
            if (cbWritten == 0) {
                // A write that reports success without progress would spin
                // here for ever.
                LOG_ERROR(ERROR_WRITE_FAULT, L"Failed to overwrite file data");
                return FALSE;
            }
            llTotal += cbWritten;
        }
        if (pass + 1 < kPasses && !SetPosition(hFile, -llLength, FILE_CURRENT)) {
            LOG_ERROR(GetLastError(), L"Failed to overwrite file data");
            return FALSE;
        }
    }
    return TRUE;
}

BOOL CSecureDeleter::SecureDeleteFile(const CString& strPath)
{
    LONGLONG llSize = 0;
    CHandle hFile = OpenForOverwrite(strPath, GENERIC_WRITE, FILE_FLAG_WRITE_THROUGH, llSize);
    if (!hFile) {
        return FALSE;
    }
    if (llSize > 0) {
        // The last byte first: should the run stop early, the file no
        // longer ends with its own data.
        if (!SetPosition(hFile.get(), llSize - 1, FILE_BEGIN)) {
            LOG_ERROR(GetLastError(), L"Failed to overwrite file data");
            return FALSE;
        }
        if (!OverwriteData(hFile.get(), 1)) {
            return FALSE;
        }
        if (!SetPosition(hFile.get(), 0, FILE_BEGIN)) {
            LOG_ERROR(GetLastError(), L"Failed to overwrite file data");
            return FALSE;
        }
        for (LONGLONG llOffset = 0; llOffset < llSize;) {
            const LONGLONG llRemaining = llSize - llOffset;
            const LONGLONG llRange = llRemaining < kPatternSize ? llRemaining : kPatternSize;
            if (!OverwriteData(hFile.get(), llRange)) {
                return FALSE;
            }
            llOffset += llRange;
        }
    }
    hFile.reset();
    return RemoveScrambled(strPath);
}

CSecureDeleter::MapResult CSecureDeleter::ReadClusterMap(HANDLE hFile, const CString& strPath, LONGLONG llFileSize,
                                                         LONGLONG llClusterSize, const CVolumeGeometry& geometry,
                                                         std::vector<CDiskRun>& runs)
{
    runs.clear();
    if (llClusterSize <= 0 || llClusterSize > kMaxClusterSize) {
        return MapResult::Untrusted;
    }
    const LONGLONG llTotalClusters = geometry.dwTotalClusters;
    // LONGLONG elements keep the header and extents 8-byte aligned.
    std::vector<LONGLONG> buffer(kRetrievalMapBytes / sizeof(LONGLONG));
    auto* pHeader = reinterpret_cast<native::CRetrievalMapHeader*>(buffer.data());
    const auto* pExtents = reinterpret_cast<const native::CRetrievalExtent*>(pHeader + 1);

    LONGLONG llStartingVcn = 0;
    bool bComplete = false;
    for (int page = 0; page < kMaxMapPages && !bComplete; ++page) {
        *pHeader = native::CRetrievalMapHeader{};
        IO_STATUS_BLOCK ioStatus = {};
        NTSTATUS status = QueryRetrievalMap(hFile, llStartingVcn, buffer.data(), kRetrievalMapBytes, ioStatus);
        if (status == native::kStatusPending) {
            WaitForSingleObject(hFile, INFINITE);
            status = ioStatus.Status;
            if (status != native::kStatusSuccess && status != native::kStatusBufferOverflow) {
                LOG_MESSAGE(L"Unexpected file status 0x%X (%ul)", static_cast<unsigned>(status),
                            static_cast<unsigned>(status));
                return MapResult::Failed;
            }
        }
        if (status != native::kStatusSuccess && status != native::kStatusBufferOverflow) {
            // Resident data or a refused request on the first page; a map
            // that breaks off on a later one.
            if (page == 0) {
                return MapResult::NoMap;
            }
            break;
        }
        const DWORD dwCount = pHeader->dwExtentCount;
        if (dwCount > kMaxExtentsPerPage || pHeader->llStartingVcn != llStartingVcn) {
            return MapResult::Untrusted;
        }
        if (dwCount == 0 && status == native::kStatusBufferOverflow) {
            return MapResult::Untrusted;  // "more follows" without progress
        }
        LONGLONG llPrevious = llStartingVcn;
        for (DWORD i = 0; i < dwCount; ++i) {
            const LONGLONG llNext = pExtents[i].llNextVcn;
            const LONGLONG llLcn = pExtents[i].llLcn;
            if (llNext <= llPrevious) {
                return MapResult::Untrusted;
            }
            const LONGLONG llClusters = llNext - llPrevious;
            if (llLcn != kSparseLcn) {
                if (llLcn < 0 || llLcn > llTotalClusters || llClusters > llTotalClusters - llLcn) {
                    return MapResult::Untrusted;  // outside the volume
                }
                if (runs.size() >= kMaxDiskRuns) {
                    return MapResult::Untrusted;
                }
                runs.push_back(CDiskRun{llLcn, llClusters});
            }
            llPrevious = llNext;
        }
        llStartingVcn = llPrevious;
        bComplete = status == native::kStatusSuccess;
    }
    if (!bComplete) {
        return MapResult::Untrusted;
    }
    // The extents must reach the end of the file's data, or part of it
    // would be left as it was.
    const LONGLONG llClustersNeeded = llFileSize / llClusterSize + (llFileSize % llClusterSize != 0 ? 1 : 0);
    if (llStartingVcn < llClustersNeeded) {
        LOG_MESSAGE(L"Cluster map of %s ends before the end of the file", strPath.GetString());
        return MapResult::Untrusted;
    }
    return MapResult::Trusted;
}

BOOL CSecureDeleter::SecureDeleteClusters(const CString& strPath)
{
    if (strPath.GetLength() < 3 || strPath[1] != L':' || strPath[2] != L'\\') {
        // Not on a lettered volume (a share, a device path): there is no
        // raw volume to write to.
        return SecureDeleteFile(strPath);
    }
    const wchar_t chDrive = strPath[0];
    CString volumePath(L"\\\\.\\A:");
    volumePath.SetAt(4, chDrive);
    CHandle hVolume = OpenVolume(volumePath);
    const DWORD dwVolumeError = hVolume ? ERROR_SUCCESS : GetLastError();

    CString rootPath(L"A:\\");
    rootPath.SetAt(0, chDrive);
    CVolumeGeometry geometry;
    if (!GetVolumeGeometry(rootPath, geometry)) {
        LOG_ERROR(GetLastError(), L"Failed to get free disk space");
        return FALSE;
    }
    const LONGLONG llClusterSize = static_cast<LONGLONG>(geometry.dwBytesPerSector) * geometry.dwSectorsPerCluster;

    LONGLONG llFileSize = 0;
    CHandle hFile = OpenForOverwrite(strPath, GENERIC_READ, FILE_ATTRIBUTE_NORMAL, llFileSize);
    if (!hFile) {
        return FALSE;
    }

    std::vector<CDiskRun> runs;
    const MapResult result = ReadClusterMap(hFile.get(), strPath, llFileSize, llClusterSize, geometry, runs);
    if (result == MapResult::Failed) {
        return FALSE;
    }
    if (result == MapResult::Untrusted) {
        // A map that does not cover the file or points outside the volume
        // would have us write over other files' clusters.
        LOG_MESSAGE(L"Untrusted cluster map for %s, overwriting through the file", strPath.GetString());
        hFile.reset();
        hVolume.reset();
        return SecureDeleteFile(strPath);
    }
    if (runs.empty()) {
        // Nothing on disk outside the file's own record (a small or
        // resident file, or only sparse runs): the file's handle reaches it.
        hFile.reset();
        hVolume.reset();
        return SecureDeleteFile(strPath);
    }
    if (!hVolume) {
        // Raw volume writes need administrator rights; without them the file
        // is still overwritten through its own handle rather than deleted
        // with its data in place.
        LOG_ERROR(dwVolumeError, L"Failed to open volume %s", volumePath.GetString());
        hFile.reset();
        return SecureDeleteFile(strPath);
    }

    bool bOverwritten = true;
    for (const CDiskRun& run : runs) {
        // Both products stay below 2^58: the LCN and run are bounded by the
        // volume's 32-bit cluster count and the cluster size by 2^26.
        if (!SetPosition(hVolume.get(), run.llLcn * llClusterSize, FILE_BEGIN)) {
            LOG_ERROR(GetLastError(), L"Failed to overwrite file data");
            bOverwritten = false;
            break;
        }
        if (!OverwriteData(hVolume.get(), run.llClusters * llClusterSize)) {
            bOverwritten = false;
            break;
        }
    }
    hFile.reset();
    hVolume.reset();
    if (!bOverwritten) {
        LOG_MESSAGE(L"Failed to overwrite the clusters of %s, overwriting through the file", strPath.GetString());
        return SecureDeleteFile(strPath);
    }
    return RemoveScrambled(strPath);
}

BOOL CSecureDeleter::ScrambleName(const CString& strPath, CString& strCurrentName)
{
    const int nNameStart = NameStart(strPath);
    strCurrentName = strPath;
    for (int k = 0; k < kScrambleRounds; ++k) {
        CString next = strPath;
        for (int i = nNameStart; i < next.GetLength(); ++i) {
            if (next[i] != L'.') {
                next.SetAt(i, static_cast<wchar_t>(L'A' + k));
            }
        }
        if (!RenameFile(strCurrentName, next)) {
            LOG_ERROR(GetLastError(), L"Failed to rename file %s", strPath.GetString());
            return FALSE;
        }
        strCurrentName = next;
    }
    return TRUE;
}

BOOL CSecureDeleter::RemoveScrambled(const CString& strPath)
{
    CString currentName;
    // A failed rename leaves the file under the last name reached; it is
    // deleted under that name all the same.
    (void)ScrambleName(strPath, currentName);
    if (!::DeleteFileW(currentName)) {
        const DWORD dwError = GetLastError();
        LOG_ERROR(dwError, L"Failed to delete file %s", currentName.GetString());
        if (currentName != strPath && !RenameFile(currentName, strPath)) {
            LOG_ERROR(GetLastError(), L"Failed to rename file %s back to %s", currentName.GetString(),
                      strPath.GetString());
        }
        return FALSE;
    }
    return TRUE;
}

DWORD CSecureDeleter::GetAttributes(const CString& strPath)
{
    return GetFileAttributesW(strPath);
}

BOOL CSecureDeleter::WriteChunk(HANDLE hFile, const BYTE* pData, DWORD cbData, DWORD* pcbWritten)
{
    return WriteFile(hFile, pData, cbData, pcbWritten, nullptr);
}

BOOL CSecureDeleter::SetPosition(HANDLE hFile, LONGLONG llDistance, DWORD dwMoveMethod)
{
    LARGE_INTEGER distance;
    distance.QuadPart = llDistance;
    return SetFilePointerEx(hFile, distance, nullptr, dwMoveMethod);
}

BOOL CSecureDeleter::RenameFile(const CString& strFrom, const CString& strTo)
{
    // Never MOVEFILE_REPLACE_EXISTING: a scrambled name that already exists
    // belongs to somebody else's file.
    return MoveFileW(strFrom, strTo);
}

CHandle CSecureDeleter::OpenVolume(const CString& strVolumePath)
{
    return CHandle(CreateFileW(strVolumePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr));
}

BOOL CSecureDeleter::GetVolumeGeometry(const CString& strRootPath, CVolumeGeometry& geometry)
{
    DWORD dwFreeClusters = 0;
    return GetDiskFreeSpaceW(strRootPath, &geometry.dwSectorsPerCluster, &geometry.dwBytesPerSector, &dwFreeClusters,
                             &geometry.dwTotalClusters);
}

NTSTATUS CSecureDeleter::QueryRetrievalMap(HANDLE hFile, LONGLONG llStartingVcn, void* pMap, ULONG cbMap,
                                           IO_STATUS_BLOCK& ioStatus)
{
    if (m_pfnNtFsControlFile == nullptr) {
        return native::kStatusNotImplemented;
    }
    LONGLONG llInput = llStartingVcn;
    return m_pfnNtFsControlFile(hFile, nullptr, nullptr, nullptr, &ioStatus, native::kFsctlGetRetrievalPointers,
                                &llInput, sizeof(llInput), pMap, cbMap);
}
