#include "cleanup/FileFinder.h"

#include <algorithm>
#include <string_view>

#include "framework/Handles.h"
#include "framework/Logger.h"

namespace {

// The text filter reads a file in pieces of this size. No caller in the
// program uses the filter on large trees, so the piece is sized for few
// system calls rather than for memory.
constexpr size_t kTextReadSize = 64 * 1024;
constexpr int kReadsPerProgressNotice = 10;

bool IsDotOrDotDot(const wchar_t* pszName)
{
    return pszName[0] == L'.' && (pszName[1] == L'\0' || (pszName[1] == L'.' && pszName[2] == L'\0'));
}

ULONGLONG FileSizeOf(const WIN32_FIND_DATAW& data)
{
    return (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool InRange(const FILETIME& ft, const CTime& from, const CTime& to)
{
    const CTime t = CTime::FromFileTime(ft);
    return from <= t && t <= to;
}

void MakeUpperAnsi(char* pch, size_t n)
{
    if (n > 0) {
        CharUpperBuffA(pch, static_cast<DWORD>(n));
    }
}

}  // namespace

// What one call of FindFiles needs beside the caller's options: the search
// text in the form the file content is compared with.
struct CFileFinder::CSearch {
    const CFileFinderOptions& options;
    // The text in the ANSI code page, upper-cased; empty when the text is
    // empty or cannot be written in that code page, and then nothing matches.
    std::string needle;
};

int CFileFinder::FindFiles(const CFileFinderOptions& options)
{
    m_results.clear();
    // Cleared once per search rather than per folder: a stop that arrives
    // while the search moves into a subfolder must not be forgotten.
    m_bStop = false;
    if (options.m_strBaseFolder.IsEmpty()) {
        // Completing an empty folder with a backslash would name the root
        // of the current drive.
        LOG_MESSAGE(L"CFileFinder::FindFiles called without a base folder");
        return 0;
    }
    CSearch search{options, std::string()};
    if ((options.m_dwFilters & CFileFinderOptions::kFilterText) != 0 && !options.m_strText.IsEmpty()) {
        bool bLossy = false;
        search.needle = options.m_strText.ToAnsi(&bLossy);
        if (bLossy) {
            search.needle.clear();
        }
        MakeUpperAnsi(search.needle.data(), search.needle.size());
    }
    CString strFolder = options.m_strBaseFolder;
    if (strFolder[strFolder.GetLength() - 1] != L'\\') {
        strFolder += L'\\';
    }
    SearchFolder(strFolder, search);
    return GetFileCount();
}

int CFileFinder::ListFiles(const CString& strFolder, const CString& strMask, BOOL bRecursive)
{
    CFileFinderOptions options;
    options.m_strBaseFolder = strFolder;
    options.m_strMask = strMask;
    options.m_bRecursive = bRecursive;
    options.m_dwFilters |= CFileFinderOptions::kFilterAttributes;
    options.m_dwAttributes = CFileFinderOptions::kFilesOnly;
    return FindFiles(options);
}

CString CFileFinder::GetFilePath(int nIndex) const
{
    if (nIndex < 0 || nIndex >= GetFileCount()) {
        return CString();
    }
    return m_results[static_cast<size_t>(nIndex)];
}

void CFileFinder::SetCallback(Callback pfnCallback, void* pCallerValue)
{
    m_pfnCallback = pfnCallback;
    m_pCallerValue = pCallerValue;
}

void CFileFinder::Notify(DWORD dwCode)
{
    if (m_pfnCallback != nullptr) {
        m_pfnCallback(this, dwCode, m_pCallerValue);
    }
}

void CFileFinder::SearchFolder(const CString& strFolder, const CSearch& search)
{
    WIN32_FIND_DATAW data;
    if (search.options.m_bRecursive) {
        CFindHandle find(FindFirstFileW(strFolder + L"*.*", &data));
        if (find.valid()) {
            do {
                // A junction or symbolic link to a folder is not followed:
                // it can lead back up the tree or out of the store.
                const DWORD dwAttributes = data.dwFileAttributes;
                if ((dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                    (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 && !IsDotOrDotDot(data.cFileName)) {
                    SearchFolder(strFolder + data.cFileName + L"\\", search);
                }
            } while (!m_bStop && FindNextFileW(find.get(), &data));
        }
    }
    if (m_bStop) {
        return;
    }

    m_strSearchFolder = strFolder;
    Notify(kFolderEntered);

    CFindHandle find(FindFirstFileW(strFolder + search.options.m_strMask, &data));
    if (!find.valid()) {
        return;
    }
    do {
        if (IsDotOrDotDot(data.cFileName)) {
            continue;
        }
        const CString strPath = strFolder + data.cFileName;
        if (PassesFilters(data, strPath, search)) {
            m_results.push_back(strPath);
            Notify(kEntryAdded);
        } else {
            Notify(kEntryRejected);
        }
    } while (!m_bStop && FindNextFileW(find.get(), &data));
}

bool CFileFinder::PassesFilters(const WIN32_FIND_DATAW& data, const CString& strPath, const CSearch& search)
{
    const CFileFinderOptions& o = search.options;
    const DWORD f = o.m_dwFilters;
    if ((f & CFileFinderOptions::kFilterAttributes) != 0 && (data.dwFileAttributes & o.m_dwAttributes) == 0) {
        return false;
    }
    if ((f & CFileFinderOptions::kFilterSize) != 0) {
        const ULONGLONG size = FileSizeOf(data);
        if (size < o.m_nMinSize || size > o.m_nMaxSize) {
            return false;
        }
    }
    if ((f & CFileFinderOptions::kFilterLastWrite) != 0 &&
        (!InRange(data.ftLastWriteTime, o.m_timeLastWriteFrom, o.m_timeLastWriteTo) ||
         CFileTime(data.ftLastWriteTime) < o.m_preciseLastWriteFrom)) {
        return false;
    }
    if ((f & CFileFinderOptions::kFilterCreation) != 0 &&
        !InRange(data.ftCreationTime, o.m_timeCreationFrom, o.m_timeCreationTo)) {
        return false;
    }
    if ((f & CFileFinderOptions::kFilterLastAccess) != 0 &&
        !InRange(data.ftLastAccessTime, o.m_timeLastAccessFrom, o.m_timeLastAccessTo)) {
        return false;
    }
    if ((f & CFileFinderOptions::kFilterText) != 0) {
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            return false;
        }
        return FileContainsText(strPath, search.needle);
    }
    return true;
}

// Reads the file into a window that keeps the last needle-length bytes of
// the previous piece in front of the next one, so that a match across two
// pieces is found; each new piece is upper-cased once.
bool CFileFinder::FileContainsText(const CString& strPath, const std::string& needle)
{
    if (needle.empty()) {
        return false;
    }
    CHandle file(CreateFileW(strPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.valid()) {
        return false;
    }
    const size_t keep = needle.size();
    const size_t windowSize = std::max(kTextReadSize, 2 * keep);
    std::string window(windowSize, '\0');
    size_t carried = 0;
    int nReads = 0;
    while (!m_bStop) {
        DWORD nRead = 0;
        const DWORD want = static_cast<DWORD>(windowSize - carried);
        if (!ReadFile(file.get(), window.data() + carried, want, &nRead, nullptr) || nRead == 0) {
            return false;
        }
        if (++nReads % kReadsPerProgressNotice == 0) {
            Notify(kTextProgress);
        }
        MakeUpperAnsi(window.data() + carried, nRead);
        const size_t filled = carried + nRead;
        if (std::string_view(window.data(), filled).find(needle) != std::string_view::npos) {
            return true;
        }
        carried = std::min(keep, filled);
        std::copy(window.begin() + static_cast<std::ptrdiff_t>(filled - carried),
                  window.begin() + static_cast<std::ptrdiff_t>(filled), window.begin());
    }
    return false;
}
