// What the parser makes of the store's allocation bitmap, and its erasure
// of entries the URL cache still indexes, on stores built by hand.
#include "stores/IndexDatParser.h"

#include <gtest/gtest.h>

#include "framework/Handles.h"
#include "tests/stores/IndexDatImage.h"
#include "tests/stores/RecordingParser.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"

namespace {

constexpr DWORD kUrl = 0x204C5255;
constexpr int64_t kT = 1700000000;

class IndexDatAllocationTest : public ::testing::Test {
protected:
    CTempFolder m_folder;
    CString m_path = m_folder / L"index.dat";
};

}  // namespace

TEST_F(IndexDatAllocationTest, DeletedRecordsAreToldApartOnlyByABitmapThatMarksTheHashTable)
{
    CIndexDatImage image;
    const DWORD live = image.AddUrl("URL ", 2, FileTimeOf(kT), 0, "http://live/");
    const DWORD freed = image.AddUrl("URL ", 3, FileTimeOf(kT), 0, "http://freed/");
    const DWORD leak = image.AddUrl("LEAK", 1, FileTimeOf(kT), 0, "http://leak/");
    image.MarkBlocks(CIndexDatImage::kRecordArea, 1);  // the hash table
    image.MarkBlocks(live, 2);
    image.MarkBlocks(leak, 1);

    for (const bool bMarkHashTable : {true, false}) {
        image.MarkBlocks(CIndexDatImage::kRecordArea, 1, bMarkHashTable);
        image.WriteTo(m_path);
        CLogCapture log;
        std::vector<std::pair<CString, bool>> allocation;
        const CScanOutcome scan = ScanFile(m_path, FALSE, [&](CRecordingParser& parser, const CSeenRecord& r) {
            allocation.emplace_back(r.strUrl, parser.Allocated(r.dwOffset) && parser.Allocated(r.dwOffset + 127));
            return TRUE;
        });
        EXPECT_TRUE(scan.bResult);
        const std::vector<std::pair<CString, bool>> expected = {
            {L"http://live/", true}, {L"http://freed/", !bMarkHashTable}, {L"http://leak/", true}};
        EXPECT_EQ(allocation, expected) << bMarkHashTable;
        // A freed record is handed on whole and the scan moves past it.
        ASSERT_EQ(scan.seen.size(), 3u);
        EXPECT_EQ(scan.seen[1].dwOffset, freed);
        EXPECT_EQ(scan.seen[1].dwSize, 3u * 128);
        EXPECT_EQ(log.HasMessage(FormatString(L"CIndexDatParser::IterateEntries: the allocation bitmap of %s does "
                                              L"not mark its hash table in use; every record counts as allocated",
                                              m_path.GetString())),
                  !bMarkHashTable);
    }
}

TEST_F(IndexDatAllocationTest, ADeletedRecordEndsWhereTheCacheHasGivenItsBlocksToAnotherEntry)
{
    // The cache deleted a four-block record and later wrote a one-block
    // entry over its third block; the old header still claims all four.
    CIndexDatImage image;
    image.MarkBlocks(CIndexDatImage::kRecordArea, 1);
    const DWORD freed = image.AddUrl("URL ", 4, FileTimeOf(kT), 0, "http://freed/" + std::string(300, 'f'));
    image.PutBytes(freed + 256, std::string(128, '\0'));
    image.PutBytes(freed + 256, "URL ");
    image.Put32(freed + 256 + 4, 1);
    image.PutBytes(freed + 256 + 0x68, std::string("http://new/") + '\0');
    image.MarkBlocks(freed + 256, 1);
    const DWORD after = image.AddUrl("URL ", 1, FileTimeOf(kT), 0, "http://after/");
    image.MarkBlocks(after, 1);
    image.WriteTo(m_path);

    // Erase what the parser hands on as the deleted record: only its own
    // free blocks go; the entry written over it is visited and survives.
    const CScanOutcome scan = ScanFile(m_path, FALSE, [](CRecordingParser& parser, const CSeenRecord& r) {
        if (!parser.Allocated(r.dwOffset)) {
            parser.RemoveEntry(r.dwOffset, r.dwSize);
        }
        return TRUE;
    });
    ASSERT_EQ(scan.seen.size(), 3u);
    EXPECT_EQ(scan.seen[0].dwOffset, freed);
    EXPECT_EQ(scan.seen[0].dwSize, 256u);
    EXPECT_EQ(scan.seen[0].strUrl, L"http://freed/" + CString(L'f', 256 - 0x68 - 13));
    EXPECT_EQ(scan.seen[1].strUrl, L"http://new/");
    EXPECT_EQ(scan.seen[1].dwOffset, freed + 256);
    EXPECT_EQ(scan.seen[2].strUrl, L"http://after/");
    std::string expected = image.Bytes();
    expected.replace(freed, 256, 256, '\0');
    EXPECT_TRUE(SameBytes(ReadTestFile(m_path), expected));
}

TEST_F(IndexDatAllocationTest, AnIndexedEntryIsDeletedThroughTheCacheBeforeWhatIsLeftIsZeroed)
{
    CIndexDatImage image;
    image.MarkBlocks(CIndexDatImage::kRecordArea, 1);
    const DWORD first = image.AddUrl("URL ", 2, FileTimeOf(kT), 0, "Visited: user@http://one/");
    const DWORD second = image.AddUrl("URL ", 2, FileTimeOf(kT), 0, "Visited: user@http://two/");
    image.MarkBlocks(first, 4);

    // The cache deletes the entry and leaves its bytes: they are zeroed.
    image.WriteTo(m_path);
    {
        CRecordingParser parser([](CRecordingParser& p, const CSeenRecord& r) {
            if (r.dwOffset == CIndexDatImage::kRecordArea + 128) {
                (void)p.Erase(r);
            }
            return TRUE;
        });
        parser.m_deleteCacheEntry = [](const CString&) { return TRUE; };
        parser.OpenFile(m_path);
        EXPECT_TRUE(parser.IterateEntries(FALSE));
        parser.CloseFile();
        EXPECT_EQ(parser.m_deletedKeys, std::vector<CString>{L"Visited: user@http://one/"});
    }
    std::string expected = image.Bytes();
    expected.replace(first, 256, 256, '\0');
    EXPECT_TRUE(SameBytes(ReadTestFile(m_path), expected));

    // Meanwhile someone else's entry took the blocks: nothing is zeroed.
    image.WriteTo(m_path);
    {
        CLogCapture log;
        CRecordingParser parser([&](CRecordingParser& p, const CSeenRecord& r) {
            if (r.dwOffset == second) {
                (void)p.Erase(r);
            }
            return TRUE;
        });
        parser.m_deleteCacheEntry = [&](const CString&) {
            CHandle other(CreateFileW(m_path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
            const std::string url = std::string("http://someone-else/") + '\0';
            DWORD written = 0;
            SetFilePointer(other.get(), static_cast<LONG>(second + 0x68), nullptr, FILE_BEGIN);
            return WriteFile(other.get(), url.data(), static_cast<DWORD>(url.size()), &written, nullptr);
        };
        parser.OpenFile(m_path);
        EXPECT_TRUE(parser.IterateEntries(FALSE));
        parser.CloseFile();
        EXPECT_TRUE(log.HasMessage(FormatString(L"CIndexDatParser::EraseRecord: the record of %s at 0x%08lX "
                                                L"changed; it is left as it is",
                                                L"Visited: user@http://two/", second)));
    }
    expected = image.Bytes();
    expected.replace(second + 0x68, 21, std::string("http://someone-else/") + '\0');
    EXPECT_TRUE(SameBytes(ReadTestFile(m_path), expected));

    // A store the cache does not index (here a file of our own): the
    // cache answers "not found" and the record is only zeroed, quietly.
    image.WriteTo(m_path);
    CLogCapture log;
    const CScanOutcome scan = ScanFile(m_path, FALSE, [](CRecordingParser& p, const CSeenRecord& r) {
        (void)p.Erase(r);
        return TRUE;
    });
    EXPECT_EQ(scan.seen.size(), 2u);
    EXPECT_TRUE(SameBytes(ReadTestFile(m_path), std::string(image.Bytes()).replace(first, 512, 512, '\0')));
    EXPECT_TRUE(log.MessagesContaining(L"EraseRecord").empty());
}

TEST_F(IndexDatAllocationTest, OnlyALiveUrlRecordIsDeletedThroughTheCacheAndALockedOneStays)
{
    CIndexDatImage image;
    image.MarkBlocks(CIndexDatImage::kRecordArea, 1);
    const DWORD live = image.AddUrl("URL ", 2, FileTimeOf(kT), 0, "http://live/");
    image.MarkBlocks(live, 2);
    // The cache deleted this one; it keeps an entry of the same URL elsewhere.
    const DWORD freed = image.AddUrl("URL ", 2, FileTimeOf(kT), 0, "http://live/");
    const DWORD leak = image.AddUrl("LEAK", 2, FileTimeOf(kT), 0, "http://leak/");
    image.MarkBlocks(leak, 2);
    const DWORD redirect = image.AddRecord("REDR", 1, 0x11111111);
    image.MarkBlocks(redirect, 1);
    const DWORD locked = image.AddUrl("URL ", 2, FileTimeOf(kT), 0, "http://locked/");
    image.MarkBlocks(locked, 2);
    const DWORD refused = image.AddUrl("URL ", 2, FileTimeOf(kT), 0, "http://refused/");
    image.MarkBlocks(refused, 2);
    image.WriteTo(m_path);

    CLogCapture log;
    std::vector<std::pair<DWORD, BOOL>> erased;
    CRecordingParser parser([&](CRecordingParser& p, const CSeenRecord& r) {
        erased.emplace_back(r.dwOffset, p.Erase(r));
        return TRUE;
    });
    parser.m_deleteCacheEntry = [](const CString& strUrl) {
        if (strUrl == L"http://locked/") {
            SetLastError(ERROR_SHARING_VIOLATION);
            return FALSE;
        }
        if (strUrl == L"http://refused/") {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        return TRUE;
    };
    parser.OpenFile(m_path);
    EXPECT_TRUE(parser.IterateEntries(FALSE));
    parser.CloseFile();

    // Asked about the records it indexes, and about nothing else: not the
    // freed copy, which would have deleted the live entry of its URL.
    EXPECT_EQ(parser.m_deletedKeys, (std::vector<CString>{L"http://live/", L"http://locked/", L"http://refused/"}));
    const std::vector<std::pair<DWORD, BOOL>> expected = {{live, TRUE},   {freed, TRUE},   {leak, TRUE},
                                                          {redirect, TRUE}, {locked, FALSE}, {refused, TRUE}};
    EXPECT_EQ(erased, expected);
    std::string after = image.Bytes();
    for (const auto& [at, size] : {std::pair{live, 256}, {freed, 256}, {leak, 256}, {redirect, 128}, {refused, 256}}) {
        after.replace(at, size, size, '\0');
    }
    EXPECT_TRUE(SameBytes(ReadTestFile(m_path), after));
    EXPECT_TRUE(log.HasMessage(L"CIndexDatParser::EraseRecord: the URL cache still holds http://locked/; its record is kept"));
    EXPECT_EQ(log.MessagesContaining(L"CIndexDatParser::EraseRecord cannot delete http://refused/ through the URL cache")
                  .size(),
              1u);
}
