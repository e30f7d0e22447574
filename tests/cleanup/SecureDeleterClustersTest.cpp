#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cleanup/NativeApi.h"
#include "cleanup/SecureDeleter.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"

namespace {

constexpr LONGLONG kSparse = -1;
constexpr NTSTATUS kSuccess = 0;
constexpr NTSTATUS kOverflow = static_cast<NTSTATUS>(0x80000005);
constexpr NTSTATUS kEndOfFile = static_cast<NTSTATUS>(0xC0000011);
constexpr NTSTATUS kInvalidParameter = static_cast<NTSTATUS>(0xC000000D);
constexpr NTSTATUS kPending = 0x103;

struct CPage {
    NTSTATUS status;
    LONGLONG llStartingVcn;
    std::vector<std::pair<LONGLONG, LONGLONG>> extents;  // next VCN, LCN
    DWORD dwClaimedCount = 0;  // when set, the count the page claims instead
    NTSTATUS completedStatus = kSuccess;  // for a pending page
};

// A run of writes of one pattern to consecutive offsets of the volume.
struct CVolumeWrite {
    LONGLONG llOffset;
    LONGLONG llLength;
    int nPass;
};

// The cluster path against a scripted retrieval map and a volume that
// records what is written to it. The file itself is real.
class CFakeVolumeDeleter : public CSecureDeleter {
public:
    using CSecureDeleter::SecureDeleteClusters;

    std::vector<CPage> m_pages;
    bool m_bRealMap = false;
    std::vector<LONGLONG> m_requestedVcns;
    CVolumeGeometry m_geometry{8, 512, 0x20000000};  // 4 KiB clusters, 2 TiB
    bool m_bGeometryFails = false;
    bool m_bVolumeOpens = true;
    int m_nFailVolumeWrite = -1;
    CString m_strVolumePath;
    std::vector<CVolumeWrite> m_volumeWrites;
    int m_nVolumeChunks = 0;

protected:
    CHandle OpenVolume(const CString& strVolumePath) override
    {
        m_strVolumePath = strVolumePath;
        if (!m_bVolumeOpens) {
            SetLastError(ERROR_ACCESS_DENIED);
            return CHandle();
        }
        // An event stands in for the volume: no file handle can be taken
        // for it, even when one later gets the same handle value.
        return CHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    }

    BOOL GetVolumeGeometry(const CString&, CVolumeGeometry& geometry) override
    {
        if (m_bGeometryFails) {
            SetLastError(ERROR_NOT_READY);
            return FALSE;
        }
        geometry = m_geometry;
        return TRUE;
    }

    BOOL SetPosition(HANDLE hFile, LONGLONG llDistance, DWORD dwMoveMethod) override
    {
        // Every run of writes starts with a move, so the check that costs a
        // server call is made here, not for each of up to 200,000 chunks.
        m_hPositioned = hFile;
        m_bPositionedOnVolume = GetFileType(hFile) != FILE_TYPE_DISK;
        if (!m_bPositionedOnVolume) {
            return CSecureDeleter::SetPosition(hFile, llDistance, dwMoveMethod);
        }
        m_llPosition = dwMoveMethod == FILE_BEGIN ? llDistance : m_llPosition + llDistance;
        return m_llPosition >= 0;
    }

    BOOL WriteChunk(HANDLE hFile, const BYTE* pData, DWORD cbData, DWORD* pcbWritten) override
    {
        if (hFile != m_hPositioned || !m_bPositionedOnVolume) {
            return CSecureDeleter::WriteChunk(hFile, pData, cbData, pcbWritten);
        }
        if (m_nVolumeChunks++ == m_nFailVolumeWrite) {
            SetLastError(ERROR_WRITE_PROTECT);
            return FALSE;
        }
        int pass = -1;
        for (int i = 0; i < kPasses; ++i) {
            if (pData == GetPattern(i)) {
                pass = i;
            }
        }
        if (!m_volumeWrites.empty() && m_volumeWrites.back().nPass == pass &&
            m_volumeWrites.back().llOffset + m_volumeWrites.back().llLength == m_llPosition) {
            m_volumeWrites.back().llLength += cbData;
        } else {
            m_volumeWrites.push_back(CVolumeWrite{m_llPosition, cbData, pass});
        }
        m_llPosition += cbData;
        *pcbWritten = cbData;
        return TRUE;
    }

    NTSTATUS QueryRetrievalMap(HANDLE hFile, LONGLONG llStartingVcn, void* pMap, ULONG cbMap,
                               IO_STATUS_BLOCK& ioStatus) override
    {
        m_requestedVcns.push_back(llStartingVcn);
        if (m_bRealMap) {
            return CSecureDeleter::QueryRetrievalMap(hFile, llStartingVcn, pMap, cbMap, ioStatus);
        }
        const size_t index = m_requestedVcns.size() - 1;
        if (index >= m_pages.size()) {
            return kInvalidParameter;
        }
        const CPage& page = m_pages[index];
        native::CRetrievalMapHeader header{};
        header.dwExtentCount =
            page.dwClaimedCount != 0 ? page.dwClaimedCount : static_cast<DWORD>(page.extents.size());
        header.llStartingVcn = page.llStartingVcn;
        memcpy(pMap, &header, sizeof(header));
        auto* pExtents = static_cast<BYTE*>(pMap) + sizeof(header);
        for (size_t i = 0; i < page.extents.size(); ++i) {
            const native::CRetrievalExtent extent{page.extents[i].first, page.extents[i].second};
            memcpy(pExtents + i * sizeof(extent), &extent, sizeof(extent));
        }
        if (page.status == kPending) {
            // A completed read leaves the file handle signalled, as the
            // completion of the pending request would.
            char byte = 0;
            DWORD n = 0;
            SetFilePointer(hFile, 0, nullptr, FILE_BEGIN);
            ReadFile(hFile, &byte, 1, &n, nullptr);
            ioStatus.Status = page.completedStatus;
        }
        return page.status;
    }

private:
    HANDLE m_hPositioned = nullptr;
    bool m_bPositionedOnVolume = false;
    LONGLONG m_llPosition = 0;
};

std::string Content(size_t size)
{
    std::string content(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        content[i] = static_cast<char>('A' + i % 23);
    }
    return content;
}

// A file with a hard link that shows its data after the delete.
struct CLinkedFile {
    CTempFolder folder;
    CString path;
    CString link;
    std::string content;

    explicit CLinkedFile(size_t size) : path(folder / L"compressed.bin"), link(folder / L"link.bin"), content(Content(size))
    {
        WriteTestFile(path, content);
        EXPECT_TRUE(CreateHardLinkW(link, path, nullptr));
    }
};

void ExpectOverwrittenThroughTheFile(const CLinkedFile& file, const CSecureDeleter& deleter)
{
    const std::string left = ReadTestFile(file.link);
    ASSERT_EQ(left.size(), file.content.size());
    const BYTE* pRandom = deleter.GetPattern(2);
    for (size_t i = 0; i < left.size(); ++i) {
        ASSERT_EQ(static_cast<BYTE>(left[i]), pRandom[i % 65536]) << "byte " << i;
    }
}

TEST(SecureDeleterClustersTest, WritesEveryRunOnDiskThroughTheVolume)
{
    CLinkedFile file(30000);  // 8 clusters of 4 KiB
    CLogCapture log;
    CFakeVolumeDeleter deleter;
    deleter.m_pages = {
        {kOverflow, 0, {{2, 100}, {5, kSparse}, {7, 0x1FFFFFF0}}},
        {kSuccess, 7, {{9, 50}}},
    };

    EXPECT_TRUE(deleter.SecureDeleteClusters(file.path));

    EXPECT_EQ(deleter.m_strVolumePath, CString(L"\\\\.\\") + file.path.Left(2));
    EXPECT_EQ(deleter.m_requestedVcns, (std::vector<LONGLONG>{0, 7}));
    const std::vector<std::tuple<LONGLONG, LONGLONG, int>> expected = {
        {100 * 4096LL, 2 * 4096, 0}, {100 * 4096LL, 2 * 4096, 1}, {100 * 4096LL, 2 * 4096, 2},
        // Past 4 GiB on the volume: the offset needs all 64 bits.
        {0x1FFFFFF0LL * 4096, 2 * 4096, 0}, {0x1FFFFFF0LL * 4096, 2 * 4096, 1}, {0x1FFFFFF0LL * 4096, 2 * 4096, 2},
        {50 * 4096LL, 2 * 4096, 0}, {50 * 4096LL, 2 * 4096, 1}, {50 * 4096LL, 2 * 4096, 2},
    };
    ASSERT_EQ(deleter.m_volumeWrites.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(deleter.m_volumeWrites[i].llOffset, std::get<0>(expected[i])) << "run " << i;
        EXPECT_EQ(deleter.m_volumeWrites[i].llLength, std::get<1>(expected[i])) << "run " << i;
        EXPECT_EQ(deleter.m_volumeWrites[i].nPass, std::get<2>(expected[i])) << "run " << i;
    }
    // The data went to the volume, not through the file; then the file was
    // renamed and deleted.
    EXPECT_FALSE(TestFileExists(file.path));
    EXPECT_EQ(ReadTestFile(file.link), file.content);
}

TEST(SecureDeleterClustersTest, RunLongerThan4GiBIsWrittenWhole)
{
    CLinkedFile file(100);
    CFakeVolumeDeleter deleter;
    deleter.m_geometry = {128, 512, 0x100000};  // 64 KiB clusters
    // 0x10001 clusters of 64 KiB: 4 GiB and one cluster.
    deleter.m_pages = {{kSuccess, 0, {{0x10001, 0x20000}}}};

    EXPECT_TRUE(deleter.SecureDeleteClusters(file.path));

    const LONGLONG llLength = 0x10001LL * 65536;
    ASSERT_EQ(deleter.m_volumeWrites.size(), 3u);
    for (int pass = 0; pass < 3; ++pass) {
        EXPECT_EQ(deleter.m_volumeWrites[pass].llOffset, 0x20000LL * 65536);
        EXPECT_EQ(deleter.m_volumeWrites[pass].llLength, llLength);
        EXPECT_EQ(deleter.m_volumeWrites[pass].nPass, pass);
    }
    EXPECT_FALSE(TestFileExists(file.path));
}

// Maps that would have the deleter write over clusters that may belong to
// other files, or leave part of this one: each is refused, and the file is
// overwritten through its own handle instead.
TEST(SecureDeleterClustersTest, UntrustedMapsAreNeverWrittenThrough)
{
    struct CCase {
        const char* pszName;
        std::vector<CPage> pages;
    };
    const std::vector<CCase> cases = {
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
    };
    for (const CCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        CLinkedFile file(30000);
        CLogCapture log;
        CFakeVolumeDeleter deleter;
        deleter.m_pages = c.pages;

        EXPECT_TRUE(deleter.SecureDeleteClusters(file.path));

        EXPECT_TRUE(deleter.m_volumeWrites.empty());
        EXPECT_FALSE(TestFileExists(file.path));
        ExpectOverwrittenThroughTheFile(file, deleter);
        EXPECT_TRUE(log.HasMessage(FormatString(L"Untrusted cluster map for %s, overwriting through the file",
                                                file.path.GetString())));
    }
}

// Wine answers every file with one extent that ends before it starts, at
// cluster 0: taken at its word it would overwrite the volume's boot sector.
TEST(SecureDeleterClustersTest, PlatformMapUnderWineIsNotTrusted)
{
    CLinkedFile file(5000);
    CFakeVolumeDeleter deleter;
    deleter.m_bRealMap = true;
    EXPECT_TRUE(deleter.SecureDeleteClusters(file.path));
    EXPECT_TRUE(deleter.m_volumeWrites.empty());
    EXPECT_FALSE(TestFileExists(file.path));
    ExpectOverwrittenThroughTheFile(file, deleter);
}

TEST(SecureDeleterClustersTest, FileWithNoClustersOnDiskTakesThePlainPath)
{
    const std::vector<std::vector<CPage>> maps = {
        {{kEndOfFile, 0, {}}},                          // resident in its file record
        {{kSuccess, 0, {{4, kSparse}, {8, kSparse}}}},  // all sparse
    };
    for (const std::vector<CPage>& pages : maps) {
        CLinkedFile file(300);
        CLogCapture log;
        CFakeVolumeDeleter deleter;
        deleter.m_pages = pages;
        EXPECT_TRUE(deleter.SecureDeleteClusters(file.path));
        EXPECT_TRUE(deleter.m_volumeWrites.empty());
        EXPECT_FALSE(TestFileExists(file.path));
        ExpectOverwrittenThroughTheFile(file, deleter);
        EXPECT_TRUE(log.MessagesContaining(L"Untrusted").empty());
    }
}

TEST(SecureDeleterClustersTest, VolumeThatCannotBeOpenedFallsBackToTheFilesHandle)
{
    CLinkedFile file(30000);
    CLogCapture log;
    CFakeVolumeDeleter deleter;
    deleter.m_bVolumeOpens = false;
    deleter.m_pages = {{kSuccess, 0, {{8, 100}}}};

    EXPECT_TRUE(deleter.SecureDeleteClusters(file.path));

    EXPECT_EQ(log.MessagesContaining(FormatString(L"Failed to open volume \\\\.\\%c:", file.path[0])).size(), 1u);
    EXPECT_FALSE(TestFileExists(file.path));
    ExpectOverwrittenThroughTheFile(file, deleter);
}

TEST(SecureDeleterClustersTest, FailedVolumeWriteFallsBackToTheFilesHandle)
{
    CLinkedFile file(30000);
    CFakeVolumeDeleter deleter;
    deleter.m_nFailVolumeWrite = 2;
    deleter.m_pages = {{kSuccess, 0, {{8, 100}}}};

    EXPECT_TRUE(deleter.SecureDeleteClusters(file.path));

    EXPECT_EQ(deleter.m_nVolumeChunks, 3);
    EXPECT_FALSE(TestFileExists(file.path));
    ExpectOverwrittenThroughTheFile(file, deleter);
}

TEST(SecureDeleterClustersTest, MissingFreeSpaceFiguresLeaveTheFileAlone)
{
    CLinkedFile file(300);
    CLogCapture log;
    CFakeVolumeDeleter deleter;
    deleter.m_bGeometryFails = true;
    EXPECT_FALSE(deleter.SecureDeleteClusters(file.path));
    EXPECT_EQ(log.MessagesContaining(L"Failed to get free disk space").size(), 1u);
    EXPECT_EQ(ReadTestFile(file.path), file.content);
}

TEST(SecureDeleterClustersTest, PendingRequestIsWaitedFor)
{
    {
        CLinkedFile file(30000);
        CFakeVolumeDeleter deleter;
        deleter.m_pages = {{kPending, 0, {{8, 100}}, 0, kSuccess}};
        EXPECT_TRUE(deleter.SecureDeleteClusters(file.path));
        EXPECT_EQ(deleter.m_volumeWrites.size(), 3u);
        EXPECT_FALSE(TestFileExists(file.path));
    }
    {
        CLinkedFile file(30000);
        CLogCapture log;
        CFakeVolumeDeleter deleter;
        deleter.m_pages = {{kPending, 0, {{8, 100}}, 0, kInvalidParameter}};
        EXPECT_FALSE(deleter.SecureDeleteClusters(file.path));
        EXPECT_TRUE(log.HasMessage(L"Unexpected file status 0xC000000D (3221225485l)"));
        EXPECT_TRUE(deleter.m_volumeWrites.empty());
        EXPECT_EQ(ReadTestFile(file.path), file.content);
    }
}

}  // namespace
