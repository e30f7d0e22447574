#pragma once

#include <windows.h>
#include <winternl.h>

#include <vector>

#include "cleanup/NativeApi.h"
#include "framework/Handles.h"
#include "framework/String.h"

// Destroys one file so that neither its data nor its name can be read back:
// every byte is overwritten three times (zeros, ones, pseudo-random bytes),
// the file is renamed 26 times and then deleted. Compressed, sparse and
// encrypted files are overwritten cluster by cluster through the raw volume.
//
// The protected virtual members are the platform calls; tests override them
// to observe writes and renames, or to supply a cluster map and a volume.
class CSecureDeleter {
public:
    static constexpr DWORD kPatternSize = 65536;
    static constexpr int kPasses = 3;

    // Allocates one committed, read-write pattern buffer; null on failure.
    using PatternAllocator = void* (*)(SIZE_T cb);

    CSecureDeleter();
    explicit CSecureDeleter(PatternAllocator pfnAllocate);
    virtual ~CSecureDeleter();
    CSecureDeleter(const CSecureDeleter&) = delete;
    CSecureDeleter& operator=(const CSecureDeleter&) = delete;

    // TRUE when the file was overwritten, renamed and deleted.
    [[nodiscard]] BOOL SecureDelete(const CString& strPath);

    // The pattern of pass 0, 1 or 2; null when it could not be allocated.
    const BYTE* GetPattern(int nPass) const;

    // The geometry of a volume, as the free-space query reports it.
    struct CVolumeGeometry {
        DWORD dwSectorsPerCluster = 0;
        DWORD dwBytesPerSector = 0;
        DWORD dwTotalClusters = 0;
    };

protected:
    [[nodiscard]] BOOL SecureDeleteFile(const CString& strPath);
    [[nodiscard]] BOOL SecureDeleteClusters(const CString& strPath);
    // Three passes over llLength bytes from the handle's current position.
    [[nodiscard]] BOOL OverwriteData(HANDLE hFile, LONGLONG llLength);
    // Renames the file through A to Z; strCurrentName is the last name reached.
    [[nodiscard]] BOOL ScrambleName(const CString& strPath, CString& strCurrentName);

    // ---- Platform calls ----
    virtual DWORD GetAttributes(const CString& strPath);
    virtual BOOL WriteChunk(HANDLE hFile, const BYTE* pData, DWORD cbData, DWORD* pcbWritten);
    virtual BOOL SetPosition(HANDLE hFile, LONGLONG llDistance, DWORD dwMoveMethod);
    virtual BOOL RenameFile(const CString& strFrom, const CString& strTo);
    virtual CHandle OpenVolume(const CString& strVolumePath);
    virtual BOOL GetVolumeGeometry(const CString& strRootPath, CVolumeGeometry& geometry);
    // One page of the file's retrieval map from llStartingVcn into pMap.
    virtual NTSTATUS QueryRetrievalMap(HANDLE hFile, LONGLONG llStartingVcn, void* pMap, ULONG cbMap,
                                       IO_STATUS_BLOCK& ioStatus);

private:
    struct CDiskRun {
        LONGLONG llLcn;
        LONGLONG llClusters;
    };
    // NoMap: the file system gave no map at all (resident data, or a file
    // system without one); nothing lies on disk outside the file's record.
    enum class MapResult { Trusted, NoMap, Untrusted, Failed };

    bool HasPatterns() const;
    // Reads the whole map and checks it before anything is written.
    MapResult ReadClusterMap(HANDLE hFile, const CString& strPath, LONGLONG llFileSize, LONGLONG llClusterSize,
                             const CVolumeGeometry& geometry, std::vector<CDiskRun>& runs);
    // Scrambles the name and deletes the file; renames it back when the
    // delete fails.
    [[nodiscard]] BOOL RemoveScrambled(const CString& strPath);

    CVirtualMemory m_patterns[kPasses];
    CLibrary m_hNtdll;
    native::NtFsControlFileFn m_pfnNtFsControlFile = nullptr;
};
