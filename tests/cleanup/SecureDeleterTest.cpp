#include "cleanup/SecureDeleter.h"

#include <gtest/gtest.h>

#include <set>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"

namespace {

constexpr LONGLONG kSparse = -1;
constexpr NTSTATUS kSuccess = 0;
constexpr NTSTATUS kOverflow = static_cast<NTSTATUS>(0x80000005);
constexpr NTSTATUS kEndOfFile = static_cast<NTSTATUS>(0xC0000011);
constexpr NTSTATUS kInvalidParameter = static_cast<NTSTATUS>(0xC000000D);

struct CPage {
    NTSTATUS status;
    LONGLONG llStartingVcn;
    std::vector<std::pair<LONGLONG, LONGLONG>> extents;  // next VCN, LCN
    DWORD dwClaimedCount = 0;                            // claimed instead, when set
};

using Write = std::tuple<LONGLONG, LONGLONG, int>;  // offset, length, pass

std::vector<CString> FolderEntries(const CTempFolder& folder)
{
    std::vector<CString> names;
    WIN32_FIND_DATAW data;
    CFindHandle find(FindFirstFileW(folder / L"*", &data));
    for (bool bMore = find.valid(); bMore; bMore = FindNextFileW(find.get(), &data)) {
        if (data.cFileName[0] != L'.') {
            names.emplace_back(data.cFileName);
        }
    }
    return names;
}

// Records each write and each new name; fails a chosen write, reports chosen
// attributes, makes the file read-only at its last name. For the cluster path
// it plays a scripted retrieval map and a 2 TiB volume of 4 KiB clusters,
// whose writes it records instead of making them.
class CProbedDeleter : public CSecureDeleter {
public:
    using CSecureDeleter::CSecureDeleter;

    std::vector<Write> m_writes;
    int m_nVolumeWrites = 0;
    std::vector<CString> m_names;
    std::vector<LONGLONG> m_requestedVcns;
    int m_nFailWrite = -1;
    bool m_bReadOnlyAtLastName = false;
    DWORD m_dwAttributes = 0;  // reported instead of the real ones when set
    std::vector<CPage> m_pages;
    bool m_bRealMap = true;
    bool m_bVolumeOpens = true;

    // Every byte of a file (of at most 64 KiB) holds the random pattern.
    bool LeftOnlyThirdPattern(const std::string& content) const
    {
        return !content.empty() && content.size() <= kPatternSize &&
               memcmp(content.data(), GetPattern(2), content.size()) == 0;
    }

protected:
    DWORD GetAttributes(const CString& strPath) override
    {
        return m_dwAttributes != 0 ? m_dwAttributes : CSecureDeleter::GetAttributes(strPath);
    }
    // An event stands in for the volume: a file handle that later gets the
    // same value is still told apart by its type.
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
        if (GetFileType(hFile) == FILE_TYPE_DISK) {
            return CSecureDeleter::SetPosition(hFile, llDistance, dwMoveMethod);
        }
        m_llVolumePosition = dwMoveMethod == FILE_BEGIN ? llDistance : m_llVolumePosition + llDistance;
        return TRUE;
    }
    BOOL WriteChunk(HANDLE hFile, const BYTE* pData, DWORD cbData, DWORD* pcbWritten) override
    {
        const bool bVolume = GetFileType(hFile) != FILE_TYPE_DISK;
        LARGE_INTEGER position = {};
        SetFilePointerEx(hFile, LARGE_INTEGER{}, &position, FILE_CURRENT);
        const int pass = pData == GetPattern(0) ? 0 : pData == GetPattern(1) ? 1 : pData == GetPattern(2) ? 2 : -1;
        m_writes.emplace_back(bVolume ? m_llVolumePosition : position.QuadPart, cbData, pass);
        m_nVolumeWrites += bVolume ? 1 : 0;
        if (static_cast<int>(m_writes.size()) - 1 == m_nFailWrite) {
            SetLastError(ERROR_DISK_FULL);
            return FALSE;
        }
        if (!bVolume) {
            return CSecureDeleter::WriteChunk(hFile, pData, cbData, pcbWritten);
        }
        m_llVolumePosition += cbData;
        *pcbWritten = cbData;
        return TRUE;
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
        if (m_bRealMap) {
            return CSecureDeleter::QueryRetrievalMap(hFile, llVcn, pMap, cbMap, io);
        }
        if (m_requestedVcns.size() > m_pages.size()) {
            return kInvalidParameter;
        }
        const CPage& page = m_pages[m_requestedVcns.size() - 1];
        const native::CRetrievalMapHeader header{
            page.dwClaimedCount != 0 ? page.dwClaimedCount : static_cast<DWORD>(page.extents.size()),
            page.llStartingVcn};
        memcpy(pMap, &header, sizeof(header));
        memcpy(static_cast<BYTE*>(pMap) + sizeof(header), page.extents.data(), page.extents.size() * 16);
        return page.status;
    }

private:
    LONGLONG m_llVolumePosition = 0;
};

}  // namespace

// The file's own data, seen through a hard link after the delete, tells how
// each path left it. Compressed, sparse and encrypted files go by their
// cluster map, written through the volume only when the map is complete and
// lies inside it; a map that would have the deleter write over other files'
// clusters, or leave part of this one, and a map with nothing on disk send it
// through the file's own handle instead.
TEST(SecureDeleterTest, EachPathLeavesNothingOfTheFilesData)
{
    enum Outcome { kThroughHandle, kThroughVolume, kUntouched };
    const struct {
        const char* pszName;
        std::vector<CPage> pages;  // none: the platform's own map
        DWORD dwAttributes = FILE_ATTRIBUTE_COMPRESSED;
        Outcome outcome = kThroughHandle;
        bool bVolumeOpens = true;
        int nFailWrite = -1;
    } cases[] = {
        {"plain file", {}, FILE_ATTRIBUTE_ARCHIVE},
        // Wine's answer for every file: one extent ending before it starts, at
        // cluster 0, which is the volume's boot sector.
        {"the platform's own map", {}, FILE_ATTRIBUTE_SPARSE_FILE},
        {"every run on disk", {{kOverflow, 0, {{2, 100}, {5, kSparse}, {7, 0x1FFFFFF0}}}, {kSuccess, 7, {{9, 50}}}},
         FILE_ATTRIBUTE_COMPRESSED, kThroughVolume},
        // Raw volume access needs administrator rights: without them the file
        // is still overwritten, through its handle, before it goes.
        {"volume that cannot be opened", {{kSuccess, 0, {{8, 100}}}}, FILE_ATTRIBUTE_COMPRESSED, kThroughHandle, false},
        {"volume write that fails", {{kSuccess, 0, {{8, 100}}}}, FILE_ATTRIBUTE_COMPRESSED, kThroughHandle, true, 2},
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
        {"resident data", {{kEndOfFile, 0, {}}}},
        {"only sparse runs", {{kSuccess, 0, {{4, kSparse}, {8, kSparse}}}}},
        {"directory", {}, FILE_ATTRIBUTE_DIRECTORY, kUntouched},
        // A link's data is its target's, which may be anybody's file: the
        // link only loses its name.
        {"link", {}, FILE_ATTRIBUTE_REPARSE_POINT, kUntouched},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        CTempFolder folder;
        const CString file = folder / L"compressed.bin";
        const CString link = folder / L"link.bin";
        const std::string content = std::string(30000, 'q');  // 8 clusters
        WriteTestFile(file, content);
        ASSERT_TRUE(CreateHardLinkW(link, file, nullptr));
        CProbedDeleter deleter;
        deleter.m_dwAttributes = c.dwAttributes;
        deleter.m_pages = c.pages;
        deleter.m_bRealMap = c.pages.empty();
        deleter.m_bVolumeOpens = c.bVolumeOpens;
        deleter.m_nFailWrite = c.nFailWrite;

        const bool bDirectory = c.dwAttributes == FILE_ATTRIBUTE_DIRECTORY;
        EXPECT_EQ(deleter.SecureDelete(file), !bDirectory);
        EXPECT_EQ(deleter.m_requestedVcns.empty(), (c.dwAttributes & 0x4A00) == 0);
        EXPECT_EQ(FolderEntries(folder).size(), bDirectory ? 2u : 1u);
        EXPECT_EQ(deleter.LeftOnlyThirdPattern(ReadTestFile(link)), c.outcome == kThroughHandle);
        EXPECT_EQ(ReadTestFile(link) == content, c.outcome != kThroughHandle);
        EXPECT_EQ(deleter.m_nVolumeWrites > 0, c.outcome == kThroughVolume || c.nFailWrite >= 0);
        if (c.outcome == kThroughVolume) {
            // Every run on disk, each with its three passes; the far one past
            // 4 GiB needs all 64 bits.
            const LONGLONG llFar = 0x1FFFFFF0LL * 4096;
            EXPECT_EQ(deleter.m_requestedVcns, (std::vector<LONGLONG>{0, 7}));
            EXPECT_EQ(deleter.m_writes, (std::vector<Write>{{409600, 8192, 0}, {409600, 8192, 1}, {409600, 8192, 2},
                                                            {llFar, 8192, 0}, {llFar, 8192, 1}, {llFar, 8192, 2},
                                                            {204800, 8192, 0}, {204800, 8192, 1}, {204800, 8192, 2}}));
        }
    }
}

// The plain path: the last byte first, then each 64 KiB range with its three
// passes; then the name through the alphabet, keeping its length, dots and
// folder. A scrambled name that exists already is somebody else's file: the
// renames stop there and the file goes under the last name reached. A file
// that cannot be deleted gets its own name back; a failed write stops before
// any rename.
TEST(SecureDeleterTest, OverwritesRenamesAndDeletesOrStopsSafely)
{
    const struct {
        const char* pszName;
        size_t nSize;
        bool bNameTaken, bReadOnlyAtLastName;
        int nFailWrite;
        size_t nWrites, nNames;
        std::vector<CString> left;
    } cases[] = {
        {"odd size", 65537, false, false, -1, 9, 26, {}},
        {"empty", 0, false, false, -1, 0, 26, {}},
        {"scrambled name taken", 6, true, false, -1, 6, 3, {L"C.C.CCC"}},
        {"delete fails", 100, false, true, -1, 6, 27, {L"a.b.txt"}},
        {"write fails", 200000, false, false, 4, 5, 0, {L"a.b.txt"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        CTempFolder folder;
        const CString file = folder / L"a.b.txt";
        WriteTestFile(file, std::string(c.nSize, 'q'));
        if (c.bNameTaken) {
            WriteTestFile(folder / L"C.C.CCC", "someone else's");
        }
        CProbedDeleter deleter;
        deleter.m_bReadOnlyAtLastName = c.bReadOnlyAtLastName;
        deleter.m_nFailWrite = c.nFailWrite;
        EXPECT_EQ(deleter.SecureDelete(file), c.left.empty() || c.bNameTaken);
        EXPECT_EQ(deleter.m_writes.size(), c.nWrites);
        EXPECT_EQ(deleter.m_names.size(), c.nNames);
        EXPECT_EQ(FolderEntries(folder), c.left);
        if (c.bNameTaken) {
            EXPECT_EQ(ReadTestFile(folder / L"C.C.CCC"), "someone else's");
        }
        if (c.bReadOnlyAtLastName) {
            EXPECT_TRUE(deleter.LeftOnlyThirdPattern(ReadTestFile(file)));
        }
        if (c.nSize == 65537) {
            EXPECT_EQ(deleter.m_writes, (std::vector<Write>{{65536, 1, 0}, {65536, 1, 1}, {65536, 1, 2}, {0, 65536, 0},
                                                            {0, 65536, 1}, {0, 65536, 2}, {65536, 1, 0},
                                                            {65536, 1, 1}, {65536, 1, 2}}));
        }
        for (size_t k = 0; c.nSize == 0 && k < 26; ++k) {
            const wchar_t ch = static_cast<wchar_t>(L'A' + k);
            EXPECT_EQ(deleter.m_names[k], folder / FormatString(L"%c.%c.%c%c%c", ch, ch, ch, ch, ch));
        }
    }
}

TEST(SecureDeleterTest, PatternsAreZerosOnesAndRandomAndWithoutThemNothingIsTouched)
{
    CProbedDeleter deleter;
    const auto* p = reinterpret_cast<const char*>(deleter.GetPattern(0));
    EXPECT_EQ(std::string(p, 65536) + std::string(reinterpret_cast<const char*>(deleter.GetPattern(1)), 65536),
              std::string(65536, '\0') + std::string(65536, '\xFF'));
    const BYTE* pRandom = deleter.GetPattern(2);
    EXPECT_GT(std::set<BYTE>(pRandom, pRandom + 65536).size(), 200u) << "the random pattern is not random";

    static int s_nCalls = 0;
    CProbedDeleter unready([](SIZE_T cb) -> void* {
        return ++s_nCalls == 2 ? nullptr : VirtualAlloc(nullptr, cb, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    });
    CTempFolder folder;
    WriteTestFile(folder / L"kept.txt", "kept");
    EXPECT_FALSE(unready.SecureDelete(folder / L"kept.txt"));
    EXPECT_TRUE(unready.m_writes.empty() && unready.m_names.empty());
    EXPECT_EQ(ReadTestFile(folder / L"kept.txt"), "kept");
}
