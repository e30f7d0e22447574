#include "stores/IndexDatParser.h"

#include <algorithm>

#include <wininet.h>

#include "framework/Logger.h"

// How the scan reads. A positioned read of one field costs 3-5 us under
// Wine, so reading each field on its own is slow: on a 100,000-record store
// (25 MiB, bench/IndexDatScanBench.cpp) that pattern took 3.0 s, against
// 3 ms for plain 64 KiB reads of the same cached file. The scan therefore
// reads through CIndexDatReader's one 64 KiB window, and took 88 ms (1.1
// million records/s): the cost follows the file's size and the records'
// content, and memory stays at one window beside the cache's own code.
// Erasures go straight to the file and are copied into the window, so a
// record erased during the scan reads as zeros when the scan reaches it.
// An erasure costs ~120 us, most of it the byte-range lock and its release.
//
// What the cache itself makes of an edited store (measured with Wine's
// WinINet): a zeroed record is skipped by enumeration in every process, and
// new entries can be added and found. The record's hash slot still points
// at it, though, and lookups match slots by the URL's hash alone: if the
// same URL is cached again, the new entry is enumerated but lookups and
// deletions of that URL stop at the zeroed record and fail with
// ERROR_FILE_NOT_FOUND. EraseRecord avoids that by deleting the entry
// through the cache before zeroing it. The cache's own deletion, for its
// part, only frees the hash slot and the blocks and leaves the record
// readable; such records still read as "URL " here and are handed on like
// live ones, and IsBlockAllocated tells them apart.

using namespace IndexDat;

namespace {

// Offsets and sizes are DWORDs in ProcessEntry and RemoveEntry: nothing
// past 4 GiB is scanned.
constexpr ULONGLONG kMaxScanLength = 0xFFFFFFFFULL;

bool IsEntryType(DWORD dwType)
{
    return dwType == kSignatureUrl || dwType == kSignatureLeak || dwType == kSignatureRedirect;
}

bool IsReleasedMarker(DWORD dwWord)
{
    return dwWord == kReleasedMarker || dwWord == kReleasedMarkerAlt;
}

// A name read from the store becomes part of a path below the store's
// folder: it must be one plain path component, so that no damaged or
// hostile record can point a cleaner at a file elsewhere.
bool IsPlainFileName(const CString& strName)
{
    if (strName.IsEmpty() || strName == L"." || strName == L"..") {
        return false;
    }
    for (int i = 0; i < strName.GetLength(); ++i) {
        const wchar_t ch = strName[i];
        if (ch < 0x20 || wcschr(L"\\/:*?\"<>|", ch) != nullptr) {
            return false;
        }
    }
    return true;
}

// Holds the reader on the file for the length of one scan.
class CReaderScope {
public:
    CReaderScope(CIndexDatReader& reader, CFile& file, ULONGLONG ullLength) : m_reader(reader)
    {
        m_reader.Begin(file, ullLength);
    }
    ~CReaderScope() { m_reader.End(); }
    CReaderScope(const CReaderScope&) = delete;
    CReaderScope& operator=(const CReaderScope&) = delete;

private:
    CIndexDatReader& m_reader;
};

// A byte-range lock released however the write under it ends, so that a
// failed erasure does not leave the cache's own code locked out of the
// range until the file is closed.
class CRangeLock {
public:
    CRangeLock(CFile& file, ULONGLONG ullPos, ULONGLONG ullCount) : m_file(file), m_ullPos(ullPos), m_ullCount(ullCount)
    {
        m_file.LockRange(ullPos, ullCount);
    }
    ~CRangeLock()
    {
        ULARGE_INTEGER pos;
        ULARGE_INTEGER count;
        pos.QuadPart = m_ullPos;
        count.QuadPart = m_ullCount;
        UnlockFile(m_file.GetHandle(), pos.LowPart, pos.HighPart, count.LowPart, count.HighPart);
    }
    CRangeLock(const CRangeLock&) = delete;
    CRangeLock& operator=(const CRangeLock&) = delete;

private:
    CFile& m_file;
    ULONGLONG m_ullPos;
    ULONGLONG m_ullCount;
};

}  // namespace

CIndexDatParser::CIndexDatParser(DWORD dwWindowSize) : m_reader(dwWindowSize) {}

void CIndexDatParser::OpenFile(const CString& strPath)
{
    CFileException error;
    m_bOpen = m_file.Open(strPath, CFile::modeReadWrite | CFile::shareDenyNone | CFile::modeNoInherit, &error);
    if (!m_bOpen) {
        LOG_EXCEPTION(error, L"CIndexDatParser::OpenFile cannot open %s", strPath.GetString());
    }
}

void CIndexDatParser::CloseFile()
{
    m_file.Close();
}

BOOL CIndexDatParser::IterateEntries(BOOL bScrub)
{
    if (!m_bOpen || !m_file.IsOpen()) {
        LOG_MESSAGE(L"CIndexDatParser::IterateEntries has no open file");
        return FALSE;
    }
    CCriticalSectionLock lock(m_cs);
    CReaderScope scope(m_reader, m_file, std::min(m_file.GetLength(), kMaxScanLength));
    m_bWritten = false;

    ULONGLONG ullPos = m_reader.ReadDword(kFirstHashTableOffset);
    const DWORD dwDirectoryCount = m_reader.ReadDword(kDirectoryCount);
    const std::vector<CString> prefixes = ReadDirectoryPrefixes(dwDirectoryCount);

    // The header names the first hash table; anything else there means the
    // header is damaged, and a scan from that offset could walk over the
    // header and the allocation bitmap and scrub them as unknown blocks.
    if (ullPos < m_reader.GetLength() && m_reader.GetLength() - ullPos >= kRecordHeaderSize &&
        m_reader.ReadDword(ullPos) != kSignatureHash) {
        LOG_MESSAGE(L"CIndexDatParser::IterateEntries found no hash table at 0x%08lX in %s; the file is left as it is",
                    static_cast<DWORD>(ullPos), m_file.GetFilePath().GetString());
        return FALSE;
    }

    ReadAllocationBitmap(ullPos);

    BOOL bResult = TRUE;
    CScanFindings findings;
    while (ullPos < m_reader.GetLength()) {
        if (m_reader.GetLength() - ullPos < kRecordHeaderSize) {
            findings.dwTrailingBytes = static_cast<DWORD>(m_reader.GetLength() - ullPos);
            break;
        }
        ullPos += VisitRecord(ullPos, bScrub, prefixes, dwDirectoryCount > 0, bResult, findings);
    }
    if (m_bWritten) {
        m_file.Flush();
    }
    LogFindings(findings);
    m_allocation.clear();
    m_bBitmapTrusted = false;
    return bResult;
}

void CIndexDatParser::ReadAllocationBitmap(ULONGLONG ullFirstHashTable)
{
    m_allocation.clear();
    m_bBitmapTrusted = false;
    if (ullFirstHashTable < kFirstBlock || m_reader.GetLength() < kFirstBlock) {
        return;
    }
    m_allocation.resize(kFirstBlock - kAllocationBitmap);
    m_reader.Read(kAllocationBitmap, m_allocation.data(), static_cast<UINT>(m_allocation.size()));
    // The cache allocates its hash tables from the bitmap like any record.
    // A bitmap that leaves the first one free does not describe this file,
    // and trusting it would take every record for a deleted one.
    m_bBitmapTrusted = IsBitSet(m_allocation, static_cast<DWORD>(ullFirstHashTable));
    if (!m_bBitmapTrusted) {
        LOG_MESSAGE(L"CIndexDatParser::IterateEntries: the allocation bitmap of %s does not mark its hash table in use; "
                    L"every record counts as allocated",
                    m_file.GetFilePath().GetString());
        m_allocation.clear();
    }
}

bool CIndexDatParser::IsBitSet(const std::vector<BYTE>& bitmap, DWORD dwOffset)
{
    if (dwOffset < kFirstBlock) {
        return true;
    }
    const DWORD dwBlock = (dwOffset - kFirstBlock) / kBlockSize;
    const DWORD dwByte = dwBlock / 8;
    // Blocks past what the bitmap covers count as in use.
    if (dwByte >= bitmap.size()) {
        return true;
    }
    return ((bitmap[dwByte] >> (dwBlock % 8)) & 1) != 0;
}

bool CIndexDatParser::IsBlockAllocated(DWORD dwOffset) const
{
    return !m_bBitmapTrusted || IsBitSet(m_allocation, dwOffset);
}

DWORD CIndexDatParser::GetFreeLength(DWORD dwOffset, DWORD dwLength) const
{
    DWORD dwFree = 0;
    while (dwFree < dwLength && !IsBlockAllocated(dwOffset + dwFree)) {
        dwFree += std::min(kBlockSize, dwLength - dwFree);
    }
    return dwFree;
}

BOOL CIndexDatParser::DeleteCacheEntry(const CString& strUrl)
{
    return DeleteUrlCacheEntryW(strUrl);
}

BOOL CIndexDatParser::EraseRecord(DWORD dwType, DWORD dwOffset, DWORD dwSize, const CString& strUrl)
{
    // Only a live "URL " record has a hash slot. Asking the cache about any
    // other would cost a lookup each, and for a freed record it could hit a
    // newer entry that the cache keeps under the same URL. Under Wine at
    // 5,000 entries a lookup costs 0.6 to 1.4 ms, and the cache and cookie
    // index steps asked about the 750 entries their own walks had just
    // deleted: ~0.9 s of a ~7 s clean-up (bench/CacheCleanupBench.cpp).
    if (dwType != kSignatureUrl || !IsBlockAllocated(dwOffset) || strUrl.IsEmpty()) {
        RemoveEntry(dwOffset, dwSize);
        ++m_nErased;
        return TRUE;
    }
    SetLastError(ERROR_SUCCESS);
    if (!DeleteCacheEntry(strUrl)) {
        const DWORD dwError = GetLastError();
        // A locked entry is deleted by the cache once it is unlocked; until
        // then its slot points at the record, which must stay readable.
        if (dwError == ERROR_SHARING_VIOLATION) {
            LOG_MESSAGE(L"CIndexDatParser::EraseRecord: the URL cache still holds %s; its record is kept",
                        strUrl.GetString());
            return FALSE;
        }
        // Not found is the usual answer for a store that this process's
        // cache does not index (a daily or weekly history container of
        // another system); the record is then only zeroed.
        if (dwError != ERROR_FILE_NOT_FOUND) {
            LOG_ERROR(dwError, L"CIndexDatParser::EraseRecord cannot delete %s through the URL cache",
                      strUrl.GetString());
        }
    }
    // The cache changed the file through its own view: read it afresh, and
    // zero nothing that the cache may already have given to another entry.
    m_reader.Discard();
    const DWORD dwTypeNow = m_reader.ReadDword(dwOffset + kRecordType);
    if ((dwTypeNow != kSignatureUrl && dwTypeNow != kSignatureLeak) ||
        m_reader.ReadAnsiString(static_cast<ULONGLONG>(dwOffset) + kUrlLocation,
                                static_cast<ULONGLONG>(dwOffset) + dwSize) != strUrl) {
        LOG_MESSAGE(L"CIndexDatParser::EraseRecord: the record of %s at 0x%08lX changed; it is left as it is",
                    strUrl.GetString(), dwOffset);
        return FALSE;
    }
    RemoveEntry(dwOffset, dwSize);
    ++m_nErased;
    return TRUE;
}

std::vector<CString> CIndexDatParser::ReadDirectoryPrefixes(DWORD dwDirectoryCount)
{
    // An unusable name is kept as an empty prefix, so that the indices of
    // the others stay right and records naming it get no directory part.
    std::vector<CString> prefixes;
    const DWORD dwCount = std::min(dwDirectoryCount, kMaxAddressableDirectories);
    for (DWORD i = 0; i < dwCount; ++i) {
        const ULONGLONG ullName = kDirectoryTable + static_cast<ULONGLONG>(i) * kDirectoryEntrySize + kDirectoryNameInEntry;
        if (ullName + kDirectoryNameLength > m_reader.GetLength()) {
            break;
        }
        char name[kDirectoryNameLength + 1] = {};
        m_reader.Read(ullName, name, kDirectoryNameLength);
        const CString strName = CString::FromAnsi(name);
        prefixes.push_back(IsPlainFileName(strName) ? strName + L"\\" : CString());
    }
    return prefixes;
}

ULONGLONG CIndexDatParser::VisitRecord(ULONGLONG ullPos, BOOL bScrub, const std::vector<CString>& prefixes,
                                       bool bHasDirectories, BOOL& bResult, CScanFindings& findings)
{
    const DWORD dwType = m_reader.ReadDword(ullPos + kRecordType);
    const DWORD dwBlocks = m_reader.ReadDword(ullPos + kRecordBlockCount);
    const DWORD dwFirstWord = m_reader.ReadDword(ullPos + kRecordFirstWord);
    const ULONGLONG ullSize = dwBlocks == 0 ? kBlockSize : static_cast<ULONGLONG>(dwBlocks) * kBlockSize;
    // A declared size that runs past the end of the file is cut there: the
    // file is never written, nor a string read, beyond it.
    const ULONGLONG ullLeft = m_reader.GetLength() - ullPos;
    auto dwInFile = static_cast<DWORD>(std::min(ullSize, ullLeft));
    const auto dwPos = static_cast<DWORD>(ullPos);

    if (IsEntryType(dwType) && IsReleasedMarker(dwFirstWord)) {
        if (bScrub) {
            RemoveEntry(dwPos, dwInFile);
        }
        return ullSize;
    }
    ULONGLONG ullStep = ullSize;
    if (IsEntryType(dwType) && !IsBlockAllocated(dwPos)) {
        // A record the cache has deleted. Its blocks are free to be given
        // to new entries, and only those still free are its own: the
        // subclass is handed that part, and the scan moves on past it, so
        // that an entry written over the rest is visited too.
        const DWORD dwFree = GetFreeLength(dwPos, dwInFile);
        if (dwFree < dwInFile) {
            dwInFile = dwFree;
            ullStep = (static_cast<ULONGLONG>(dwFree) + kBlockSize - 1) / kBlockSize * kBlockSize;
        }
    }
    if (dwType == kSignatureUrl || dwType == kSignatureLeak) {
        const ULONGLONG ullTime = m_reader.ReadQword(ullPos + kUrlLastAccess);
        FILETIME ft;
        ft.dwLowDateTime = static_cast<DWORD>(ullTime);
        ft.dwHighDateTime = static_cast<DWORD>(ullTime >> 32);
        CString strUrl = m_reader.ReadAnsiString(ullPos + kUrlLocation, ullPos + dwInFile);
        CString strPath = ReadLocalPath(ullPos, dwInFile, prefixes, bHasDirectories, findings);
        if (!ProcessEntry(dwType, dwPos, dwInFile, std::move(strUrl), std::move(strPath),
                          CFileTime(ft))) {
            bResult = FALSE;
        }
        return ullStep;
    }
    if (dwType == kSignatureRedirect) {
        if (!ProcessEntry(dwType, dwPos, dwInFile, CString(), CString(), CFileTime())) {
            bResult = FALSE;
        }
        return ullStep;
    }
    if (dwType == kSignatureHash) {
        return ullSize;
    }
    // A free block or a type this parser does not know: the scan moves on
    // block by block. Blocks that are already zero are not rewritten; in a
    // store that Wine writes, free space is zero.
    const ULONGLONG ullBlock = std::min<ULONGLONG>(kBlockSize, ullLeft);
    if (bScrub && !m_reader.IsZero(ullPos, ullBlock)) {
        RemoveEntry(dwPos, static_cast<DWORD>(ullBlock));
    }
    return kBlockSize;
}

// The directory prefix joined to the file name, both read inside the
// record: a record lies in its own blocks, and keeping every string there
// bounds the scan's reading by the file's size, whatever the offsets say.
CString CIndexDatParser::ReadLocalPath(ULONGLONG ullPos, ULONGLONG ullSize, const std::vector<CString>& prefixes,
                                       bool bHasDirectories, CScanFindings& findings)
{
    const DWORD dwNameOffset = m_reader.ReadDword(ullPos + kUrlFileNameOffset);
    if (dwNameOffset == 0) {
        return CString();
    }
    if (dwNameOffset >= ullSize) {
        ++findings.dwNameOutsideRecord;
        return CString();
    }
    const CString strName = m_reader.ReadAnsiString(ullPos + dwNameOffset, ullPos + ullSize);
    if (strName.IsEmpty()) {
        return CString();
    }
    if (!IsPlainFileName(strName)) {
        ++findings.dwUnusableName;
        return CString();
    }
    if (!bHasDirectories) {
        return strName;
    }
    // The index byte may name a directory the table does not hold (0xFE
    // and 0xFF mark records kept outside the directories): the file name
    // then stands alone.
    const BYTE index = m_reader.ReadByte(ullPos + kUrlDirectoryIndex);
    if (index >= prefixes.size() || prefixes[index].IsEmpty()) {
        ++findings.dwUnknownDirectory;
        return strName;
    }
    return prefixes[index] + strName;
}

void CIndexDatParser::RemoveEntry(DWORD dwOffset, DWORD dwLength)
{
    try {
        const ULONGLONG ullEnd = std::min(static_cast<ULONGLONG>(dwOffset) + dwLength, m_file.GetLength());
        if (ullEnd <= dwOffset) {
            return;
        }
        const ULONGLONG ullCount = ullEnd - dwOffset;
        CRangeLock lock(m_file, dwOffset, ullCount);
        m_file.Seek(dwOffset, CFile::begin);
        for (ULONGLONG ullDone = 0; ullDone < ullCount;) {
            const auto nPiece = static_cast<UINT>(std::min<ULONGLONG>(m_zeroBlock.size(), ullCount - ullDone));
            m_bWritten = true;
            m_file.Write(m_zeroBlock.data(), nPiece);
            m_reader.OnZeroed(dwOffset + ullDone, nPiece);
            ullDone += nPiece;
        }
    } catch (const CException& e) {
        LOG_EXCEPTION(e, L"CIndexDatParser::RemoveEntry caught exception");
        // A write that failed part-way may have changed more than the
        // window knows.
        m_reader.Discard();
    }
}

void CIndexDatParser::LogFindings(const CScanFindings& findings) const
{
    const wchar_t* pszPath = m_file.GetFilePath().GetString();
    if (findings.dwUnknownDirectory > 0) {
        LOG_MESSAGE(L"CIndexDatParser::IterateEntries: %lu records in %s name a cache directory the file does not list",
                    findings.dwUnknownDirectory, pszPath);
    }
    if (findings.dwNameOutsideRecord > 0) {
        LOG_MESSAGE(L"CIndexDatParser::IterateEntries: %lu records in %s place their file name outside the record",
                    findings.dwNameOutsideRecord, pszPath);
    }
    if (findings.dwUnusableName > 0) {
        LOG_MESSAGE(L"CIndexDatParser::IterateEntries: %lu records in %s give a file name that is not a plain name",
                    findings.dwUnusableName, pszPath);
    }
    if (findings.dwTrailingBytes > 0) {
        LOG_MESSAGE(L"CIndexDatParser::IterateEntries: %s ends in %lu bytes too short for a record",
                    pszPath, findings.dwTrailingBytes);
    }
}
