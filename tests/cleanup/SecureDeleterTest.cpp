#include "cleanup/SecureDeleter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <iterator>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"

namespace {

constexpr LONGLONG kSparse = -1;
constexpr NTSTATUS kSuccess = 0;
constexpr NTSTATUS kOverflow = static_cast<NTSTATUS>(0x80000005);
constexpr NTSTATUS kInvalidParameter = static_cast<NTSTATUS>(0xC000000D);

struct CPage {
    NTSTATUS status;
    LONGLONG llStartingVcn;
    std::vector<std::pair<LONGLONG, LONGLONG>> extents;  // next VCN, LCN
    DWORD dwClaimedCount = 0;                            // claimed instead, when set
};

using Write = std::tuple<LONGLONG, LONGLONG, int>;  // offset, length, pass

// Records writes and names, fails a chosen write, makes the file read-only at its
// last name; plays a cluster map and a 2 TiB volume (an event) of 4 KiB clusters.
class CProbedDeleter : public CSecureDeleter {
public:
    using CSecureDeleter::CSecureDeleter;

    std::vector<Write> m_writes;
    std::vector<CString> m_names;
    std::vector<LONGLONG> m_requestedVcns;
    std::vector<CPage> m_pages;  // none: the platform's own map
    int m_nFailWrite = -1;
    bool m_bReadOnlyAtLastName = false, m_bVolumeOpens = true;
    DWORD m_dwAttributes = 0;  // reported instead of the real ones when set
    LONGLONG m_llPosition = 0;

    // Every byte of the file holds the random pattern.
    bool LeftOnlyThirdPattern(const std::string& content) const
    {
        const auto* p = reinterpret_cast<const char*>(GetPattern(2));
        const std::string pattern = p != nullptr ? std::string(p, kPatternSize) : std::string();
        return !content.empty() && (pattern + pattern).substr(0, content.size()) == content;
    }

protected:
    DWORD GetAttributes(const CString& strPath) override
    {
        return m_dwAttributes != 0 ? m_dwAttributes : CSecureDeleter::GetAttributes(strPath);
    }
    CHandle OpenVolume(const CString&) override
    {
        SetLastError(ERROR_ACCESS_DENIED);
        return CHandle(m_bVolumeOpens ? CreateEventW(nullptr, TRUE, FALSE, nullptr) : nullptr);
    }
    BOOL GetVolumeGeometry(const CString&, CVolumeGeometry& geometry) override
    {
        geometry = {8, 512, 0x20000000};
        return TRUE;
    }
    BOOL SetPosition(HANDLE hFile, LONGLONG llDistance, DWORD dwMoveMethod) override
    {
        m_llPosition = dwMoveMethod == FILE_BEGIN ? llDistance : m_llPosition + llDistance;
        return GetFileType(hFile) != FILE_TYPE_DISK || CSecureDeleter::SetPosition(hFile, llDistance, dwMoveMethod);
    }
    BOOL WriteChunk(HANDLE hFile, const BYTE* pData, DWORD cbData, DWORD* pcbWritten) override
    {
        const int pass = pData == GetPattern(0) ? 0 : pData == GetPattern(1) ? 1 : pData == GetPattern(2) ? 2 : -1;
        m_writes.emplace_back(m_llPosition, cbData, pass);
        m_llPosition += cbData;
        if (static_cast<int>(m_writes.size()) - 1 == m_nFailWrite) {
            SetLastError(ERROR_DISK_FULL);
            return FALSE;
        }
        *pcbWritten = cbData;
        return GetFileType(hFile) != FILE_TYPE_DISK || CSecureDeleter::WriteChunk(hFile, pData, cbData, pcbWritten);
    }
    BOOL RenameFile(const CString& strFrom, const CString& strTo) override
    {
        m_names.push_back(strTo);
        const BOOL bResult = CSecureDeleter::RenameFile(strFrom, strTo);
        if (bResult && m_bReadOnlyAtLastName && m_names.size() == 26) {
            SetFileAttributesW(strTo, FILE_ATTRIBUTE_READONLY);
        }
        return bResult;
    }
    NTSTATUS QueryRetrievalMap(HANDLE hFile, LONGLONG llVcn, void* pMap, ULONG cbMap, IO_STATUS_BLOCK& io) override
    {
        m_requestedVcns.push_back(llVcn);
        if (m_pages.empty()) {
            return CSecureDeleter::QueryRetrievalMap(hFile, llVcn, pMap, cbMap, io);
        }
        const CPage& page = m_pages[m_requestedVcns.size() - 1];
        const native::CRetrievalMapHeader header{
            page.dwClaimedCount != 0 ? page.dwClaimedCount : static_cast<DWORD>(page.extents.size()),
            page.llStartingVcn};
        memcpy(pMap, &header, sizeof(header));
        memcpy(static_cast<BYTE*>(pMap) + sizeof(header), page.extents.data(), page.extents.size() * 16);
        return page.status;
    }
};

}  // namespace

// The file's data, seen through a hard link, tells how each path left it. The
// plain path writes the last byte first, then each 64 KiB with three passes,
// and renames through the alphabet, stopping at a name that is somebody else's
// file. Compressed, sparse and encrypted files go through the volume only when
// their cluster map is complete and inside it, else through their own handle.
TEST(SecureDeleterTest, EachPathLeavesNothingOfTheFilesDataOrStopsSafely)
{
    enum Outcome { kThroughHandle, kThroughVolume, kUntouched, kPartly };
    const struct {
        const char* pszName;
        std::vector<CPage> pages;
        DWORD dwAttributes = FILE_ATTRIBUTE_COMPRESSED;
        Outcome outcome = kThroughHandle;
        size_t nSize = 30000;  // 8 clusters
        bool bVolumeOpens = true, bNameTaken = false, bReadOnlyAtLastName = false, bNoPatterns = false;
        int nFailWrite = -1;
        BOOL bResult = TRUE;
        size_t nNames = 26;
    } cases[] = {
        {.pszName = "odd size", .dwAttributes = FILE_ATTRIBUTE_ARCHIVE, .nSize = 65537},
        {.pszName = "empty", .dwAttributes = FILE_ATTRIBUTE_ARCHIVE, .outcome = kUntouched, .nSize = 0},
        {.pszName = "scrambled name taken", .dwAttributes = 0, .bNameTaken = true, .nNames = 3},
        {.pszName = "delete fails", .dwAttributes = 0, .bReadOnlyAtLastName = true, .bResult = FALSE, .nNames = 27},
        {.pszName = "write fails", .dwAttributes = 0, .outcome = kPartly, .nSize = 200000, .nFailWrite = 4,
         .bResult = FALSE, .nNames = 0},
        {.pszName = "no patterns", .dwAttributes = 0, .outcome = kUntouched, .bNoPatterns = true, .bResult = FALSE,
         .nNames = 0},
        // Wine's map: one extent ending before it starts, at the boot sector.
        {.pszName = "the platform's own map", .dwAttributes = FILE_ATTRIBUTE_SPARSE_FILE},
        {"every run on disk", {{kOverflow, 0, {{2, 100}, {5, kSparse}, {7, 0x1FFFFFF0}}}, {kSuccess, 7, {{9, 50}}}},
         FILE_ATTRIBUTE_COMPRESSED, kThroughVolume},
        // Raw volume access needs administrator rights: without them, the handle.
        {.pszName = "volume that cannot be opened", .pages = {{kSuccess, 0, {{8, 100}}}}, .bVolumeOpens = false},
        {.pszName = "volume write that fails", .pages = {{kSuccess, 0, {{8, 100}}}}, .nFailWrite = 2},
        {"ends before the file does", {{kSuccess, 0, {{2, 100}}}}, FILE_ATTRIBUTE_ENCRYPTED},
        {"runs past the end of the volume", {{kSuccess, 0, {{8, 0x20000000 - 4}}}}},
        {"starts past the end of the volume", {{kSuccess, 0, {{8, 0x30000000}}}}},
        {"negative cluster", {{kSuccess, 0, {{8, -5}}}}},
        {"extent that goes backwards", {{kSuccess, 0, {{4, 100}, {3, 200}, {8, 300}}}}},
        {"first page not at cluster 0", {{kSuccess, 1, {{9, 100}}}}},
        {"continuation not where asked", {{kOverflow, 0, {{4, 100}}}, {kSuccess, 2, {{8, 200}}}}},
        {"map that breaks off", {{kOverflow, 0, {{4, 100}}}, {kInvalidParameter, 4, {}}}},
        {"overflow without progress", {{kOverflow, 0, {{4, 100}}}, {kOverflow, 4, {}}}},
        {"more extents than the buffer holds", {{kSuccess, 0, {{8, 100}}, 9000}}},
        {"resident data", {{static_cast<NTSTATUS>(0xC0000011), 0, {}}}},  // end of file
        {"only sparse runs", {{kSuccess, 0, {{4, kSparse}, {8, kSparse}}}}},
        {.pszName = "directory", .dwAttributes = FILE_ATTRIBUTE_DIRECTORY, .outcome = kUntouched, .bResult = FALSE,
         .nNames = 0},
        // A link's data is its target's, anybody's file: the link only loses its name.
        {.pszName = "link", .dwAttributes = FILE_ATTRIBUTE_REPARSE_POINT, .outcome = kUntouched},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        CTempFolder folder;
        const CString file = folder / L"a.b.txt";
        const std::string content(c.nSize, 'q');
        WriteTestFile(file, content);
        ASSERT_TRUE(CreateHardLinkW(folder / L"link.bin", file, nullptr));
        if (c.bNameTaken) {
            WriteTestFile(folder / L"C.C.CCC", "someone else's");
        }
        CProbedDeleter deleter(c.bNoPatterns ? nullptr : +[](SIZE_T cb) -> void* {
            return VirtualAlloc(nullptr, cb, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        });
        deleter.m_dwAttributes = c.dwAttributes;
        deleter.m_pages = c.pages;
        deleter.m_bVolumeOpens = c.bVolumeOpens;
        deleter.m_nFailWrite = c.nFailWrite;
        deleter.m_bReadOnlyAtLastName = c.bReadOnlyAtLastName;

        EXPECT_EQ(deleter.SecureDelete(file), c.bResult);
        EXPECT_EQ(deleter.m_requestedVcns.empty(), (c.dwAttributes & 0x4A00) == 0);
        // Beside the link and somebody else's file, only a file kept under its own name.
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Path().GetString()), {}),
                  (c.bResult ? 1 : 2) + (c.bNameTaken ? 1 : 0));
        EXPECT_EQ(TestFileExists(file), !c.bResult);
        EXPECT_EQ(deleter.m_names.size(), c.nNames);
        const std::string linked = ReadTestFile(folder / L"link.bin");
        EXPECT_EQ(deleter.LeftOnlyThirdPattern(linked), c.outcome == kThroughHandle);
        EXPECT_EQ(linked == content, c.outcome == kThroughVolume || c.outcome == kUntouched);
        EXPECT_TRUE(!c.bNameTaken || ReadTestFile(folder / L"C.C.CCC") == "someone else's");
        if (c.nSize == 65537) {
            EXPECT_EQ(deleter.m_writes, (std::vector<Write>{{65536, 1, 0}, {65536, 1, 1}, {65536, 1, 2}, {0, 65536, 0},
                                                            {0, 65536, 1}, {0, 65536, 2}, {65536, 1, 0},
                                                            {65536, 1, 1}, {65536, 1, 2}}));
            EXPECT_TRUE(deleter.m_names[0] == folder / L"A.A.AAA" && deleter.m_names[25] == folder / L"Z.Z.ZZZ");
        }
        if (c.outcome == kThroughVolume) {
            // Every run on disk with three passes; the one past 4 GiB needs 64 bits.
            const LONGLONG llFar = 0x1FFFFFF0LL * 4096;
            EXPECT_EQ(deleter.m_requestedVcns, (std::vector<LONGLONG>{0, 7}));
            EXPECT_EQ(deleter.m_writes, (std::vector<Write>{{409600, 8192, 0}, {409600, 8192, 1}, {409600, 8192, 2},
                                                            {llFar, 8192, 0}, {llFar, 8192, 1}, {llFar, 8192, 2},
                                                            {204800, 8192, 0}, {204800, 8192, 1}, {204800, 8192, 2}}));
        }
    }
    // The passes write zeros, ones, and bytes that are neither.
    CProbedDeleter deleter;
    const auto pattern = [&](int n) {
        return std::string(reinterpret_cast<const char*>(deleter.GetPattern(n)), 65536);
    };
    const std::string random = pattern(2);
    EXPECT_EQ(pattern(0) + pattern(1), std::string(65536, '\0') + std::string(65536, '\xFF'));
    EXPECT_GT(std::set<char>(random.begin(), random.end()).size(), 200u);
}
