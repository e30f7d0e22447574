#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "cleanup/SecureDeleter.h"
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

// The cluster path against a scripted retrieval map and a volume that
// records its writes as (offset, length, pass), joining consecutive chunks.
class CFakeVolumeDeleter : public CSecureDeleter {
public:
    using CSecureDeleter::SecureDeleteClusters;

    std::vector<CPage> m_pages;
    bool m_bRealMap = false;
    bool m_bVolumeOpens = true;
    int m_nFailVolumeWrite = -1;
    std::vector<LONGLONG> m_requestedVcns;
    std::vector<std::tuple<LONGLONG, LONGLONG, int>> m_volumeWrites;

protected:
    // An event stands in for the volume: a file handle that later gets the
    // same value is still told apart by its type.
    CHandle OpenVolume(const CString&) override
    {
        SetLastError(ERROR_ACCESS_DENIED);
        return CHandle(m_bVolumeOpens ? CreateEventW(nullptr, TRUE, FALSE, nullptr) : nullptr);
    }
    BOOL GetVolumeGeometry(const CString&, CVolumeGeometry& geometry) override
    {
        geometry = {8, 512, 0x20000000};  // 4 KiB clusters, 2 TiB
        return TRUE;
    }
    // Every run of writes starts with a move, so the type is checked here and
    // not for each chunk.
    BOOL SetPosition(HANDLE hFile, LONGLONG llDistance, DWORD dwMoveMethod) override
    {
        m_hPositioned = hFile;
        m_bOnVolume = GetFileType(hFile) != FILE_TYPE_DISK;
        if (!m_bOnVolume) {
            return CSecureDeleter::SetPosition(hFile, llDistance, dwMoveMethod);
        }
        m_llPosition = dwMoveMethod == FILE_BEGIN ? llDistance : m_llPosition + llDistance;
        return TRUE;
    }
    BOOL WriteChunk(HANDLE hFile, const BYTE* pData, DWORD cbData, DWORD* pcbWritten) override
    {
        if (hFile != m_hPositioned || !m_bOnVolume) {
            return CSecureDeleter::WriteChunk(hFile, pData, cbData, pcbWritten);
        }
        if (m_nVolumeChunks++ == m_nFailVolumeWrite) {
            return FALSE;
        }
        const int pass = pData == GetPattern(0) ? 0 : pData == GetPattern(1) ? 1 : 2;
        if (!m_volumeWrites.empty() && std::get<2>(m_volumeWrites.back()) == pass &&
            std::get<0>(m_volumeWrites.back()) + std::get<1>(m_volumeWrites.back()) == m_llPosition) {
            std::get<1>(m_volumeWrites.back()) += cbData;
        } else {
            m_volumeWrites.emplace_back(m_llPosition, cbData, pass);
        }
        m_llPosition += cbData;
        *pcbWritten = cbData;
        return TRUE;
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
    HANDLE m_hPositioned = nullptr;
    bool m_bOnVolume = false;
    LONGLONG m_llPosition = 0;
    int m_nVolumeChunks = 0;
};

// A file with a hard link that shows its data after the delete.
struct CLinkedFile {
    CTempFolder folder;
    CString path = folder / L"compressed.bin";
    CString link = folder / L"link.bin";
    std::string content = std::string(30000, 'q');  // 8 clusters

    CLinkedFile()
    {
        WriteTestFile(path, content);
        EXPECT_TRUE(CreateHardLinkW(link, path, nullptr));
    }
    bool OverwrittenThroughItsHandle(const CSecureDeleter& deleter) const
    {
        const std::string left = ReadTestFile(link);
        return left.size() == content.size() && memcmp(left.data(), deleter.GetPattern(2), left.size()) == 0;
    }
};

TEST(SecureDeleterClustersTest, WritesEveryRunOnDiskThroughTheVolume)
{
    CLinkedFile file;
    CFakeVolumeDeleter deleter;
    deleter.m_pages = {
        {kOverflow, 0, {{2, 100}, {5, kSparse}, {7, 0x1FFFFFF0}}},
        {kSuccess, 7, {{9, 50}}},
    };

    EXPECT_TRUE(deleter.SecureDeleteClusters(file.path));

    EXPECT_EQ(deleter.m_requestedVcns, (std::vector<LONGLONG>{0, 7}));
    using W = std::tuple<LONGLONG, LONGLONG, int>;
    const LONGLONG llFar = 0x1FFFFFF0LL * 4096;  // past 4 GiB: needs all 64 bits
    const std::vector<W> expected = {W{409600, 8192, 0}, W{409600, 8192, 1}, W{409600, 8192, 2},
                                     W{llFar, 8192, 0},  W{llFar, 8192, 1},  W{llFar, 8192, 2},
                                     W{204800, 8192, 0}, W{204800, 8192, 1}, W{204800, 8192, 2}};
    EXPECT_EQ(deleter.m_volumeWrites, expected);
    // Renamed and deleted; its data was written on the volume, not through it.
    EXPECT_FALSE(TestFileExists(file.path));
    EXPECT_EQ(ReadTestFile(file.link), file.content);
}

// Maps that would have the deleter write over other files' clusters or leave
// part of this one, and maps with nothing on disk: the file is overwritten
// through its own handle instead.
TEST(SecureDeleterClustersTest, UntrustedOrEmptyMapsAreNeverWrittenThrough)
{
    const std::vector<std::pair<const char*, std::vector<CPage>>> cases = {
        {"ends before the file does", {{kSuccess, 0, {{2, 100}}}}},
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
        // Wine's answer for every file: one extent ending before it starts, at
        // cluster 0, which is the volume's boot sector.
        {"the platform's own map", {}},
    };
    for (const auto& [pszName, pages] : cases) {
        SCOPED_TRACE(pszName);
        CLinkedFile file;
        CFakeVolumeDeleter deleter;
        deleter.m_pages = pages;
        deleter.m_bRealMap = pages.empty();
        EXPECT_TRUE(deleter.SecureDeleteClusters(file.path));
        EXPECT_TRUE(deleter.m_volumeWrites.empty());
        EXPECT_FALSE(TestFileExists(file.path));
        EXPECT_TRUE(file.OverwrittenThroughItsHandle(deleter));
    }
}

// Raw volume access needs administrator rights: without them the file is
// still overwritten, through its handle, before it goes.
TEST(SecureDeleterClustersTest, VolumeThatCannotBeOpenedOrWrittenFallsBackToTheFilesHandle)
{
    for (const bool bOpens : {false, true}) {
        CLinkedFile file;
        CFakeVolumeDeleter deleter;
        deleter.m_bVolumeOpens = bOpens;
        deleter.m_nFailVolumeWrite = 2;
        deleter.m_pages = {{kSuccess, 0, {{8, 100}}}};
        EXPECT_TRUE(deleter.SecureDeleteClusters(file.path));
        EXPECT_FALSE(TestFileExists(file.path));
        EXPECT_TRUE(file.OverwrittenThroughItsHandle(deleter)) << bOpens;
    }
}

}  // namespace
