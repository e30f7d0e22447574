// The parser on stores built by hand, for damaged files, for what the
// fuzz test's model does not state (erasures during the scan, the erasure
// of entries the URL cache still indexes), and for a regression.
#include "stores/IndexDatParser.h"

#include <gtest/gtest.h>

#include "framework/Handles.h"
#include "tests/stores/IndexDatImage.h"
#include "tests/stores/RecordingParser.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestFiles.h"

namespace {

constexpr int64_t kT1 = 1700000000, kT2 = 1710000000;

class IndexDatParserTest : public ::testing::Test {
protected:
    CScanOutcome Scan(const CIndexDatImage& image, BOOL bScrub, CRecordingParser::Decision decide = {},
                      DWORD dwWindow = CIndexDatReader::kMaxWindowSize)
    {
        image.WriteTo(m_path);
        return ScanFile(m_path, bScrub, std::move(decide), dwWindow);
    }
    std::string Contents() const { return ReadTestFile(m_path); }

    CTempFolder m_folder;
    CString m_path = m_folder / L"index.dat";
};

}  // namespace

TEST_F(IndexDatParserTest, AFirstHashTableOffsetThatLeadsNowhereUsableMeansNoScan)
{
    CIndexDatImage image;
    image.AddUrl("URL ", 1, FileTimeOf(kT1), 0, "http://u/");
    image.AddRecord("JUNK", 1, 0);
    // At or past the end: nothing to scan, a success. Anything but a hash
    // table (here the header, which a scrubbing scan would wipe): a failure.
    const std::pair<DWORD, BOOL> cases[] = {{image.Length(), TRUE}, {image.Length() + 1000, TRUE},
                                            {0xFFFFFFFF, TRUE},     {0, FALSE},
                                            {0x80, FALSE},          {0x4080, FALSE}};
    for (const auto& [offset, result] : cases) {
        image.Put32(0x20, offset);
        const CScanOutcome scan = Scan(image, TRUE);
        EXPECT_EQ(scan.bResult, result) << offset;
        EXPECT_TRUE(scan.seen.empty()) << offset;
        EXPECT_EQ(Contents(), image.Bytes()) << offset;
    }
    // A file that cannot be opened is not scanned.
    CRecordingParser parser;
    parser.OpenFile(m_folder / L"missing\\index.dat");
    EXPECT_FALSE(parser.IsFileOpen());
    EXPECT_FALSE(parser.IterateEntries(TRUE));
}

TEST_F(IndexDatParserTest, LocalPathsStayInsideTheStoreFolder)
{
    CIndexDatImage image({"AAAAAAAA", "..\\..\\x"});
    const std::pair<BYTE, std::string> records[] = {
        {0, "in.htm"}, {2, "out.htm"}, {0xFF, "far.htm"}, {1, "bad-dir.htm"},  // index beyond the table, bad name
        {0, "..\\..\\Documents\\a.doc"}, {0, "C:a.txt"}, {0, ".."}, {0, "*.*"},  // names that climb out or glob
    };
    for (const auto& [dir, name] : records) {
        image.AddUrl("URL ", 2, FileTimeOf(kT1), dir, "http://" + name, name);
    }
    image.AddUrl("URL ", 2, FileTimeOf(kT1), 0, "Visited: user@http://site/");
    const std::vector<CString> expected = {L"AAAAAAAA\\in.htm", L"out.htm", L"far.htm", L"bad-dir.htm", L"", L"", L"",
                                           L"", L""};
    // A store without directories (cookies, history) gives bare names.
    for (DWORD count : {DWORD{2}, DWORD{300}, DWORD{0xFFFFFFFF}, DWORD{0}}) {
        image.Put32(0x48, count);
        const CScanOutcome scan = Scan(image, FALSE);
        ASSERT_EQ(scan.seen.size(), expected.size()) << count;
        for (size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(scan.seen[i].strPath, count == 0 && i == 0 ? CString(L"in.htm") : expected[i]) << count << i;
        }
    }
}

TEST_F(IndexDatParserTest, NothingIsReadOrWrittenPastTheEndOfTheRecordOrFile)
{
    CIndexDatImage image({"AAAAAAAA"});
    // A URL that fills its record without a terminator stops at its end.
    const DWORD full = image.AddUrl("URL ", 1, FileTimeOf(kT1), 0, "");
    image.PutBytes(full + 0x68, std::string(24, 'u'));
    image.AddUrl("URL ", 1, FileTimeOf(kT1), 0, "http://next/");
    // A name offset beyond the record gives no name.
    const DWORD outside = image.AddUrl("URL ", 1, FileTimeOf(kT1), 0, "http://o/");
    image.Put32(outside + 0x3C, 0x1000);
    // The last record claims 0x7FFFFFFF blocks and runs to the end of the
    // file without a zero byte.
    const DWORD last = image.AddUrl("URL ", 3, FileTimeOf(kT2), 0, "");
    image.Put32(last + 4, 0x7FFFFFFF);
    image.Put32(last + 0x3C, 0xA0);
    image.PutBytes(last + 0x68, std::string(3 * 128 - 0x68, 'e'));
    image.Truncate(last + 300);

    const CScanOutcome scan = Scan(image, FALSE, &CRecordingParser::EraseAll, 64);
    ASSERT_EQ(scan.seen.size(), 4u);
    EXPECT_EQ(scan.seen[0].strUrl, CString(L'u', 24));
    EXPECT_EQ(scan.seen[1].strUrl, L"http://next/");
    EXPECT_EQ(scan.seen[2].strPath, L"");
    EXPECT_EQ(scan.seen[3].dwSize, 300u);
    EXPECT_EQ(scan.seen[3].strUrl, CString(L'e', 300 - 0x68));
    EXPECT_EQ(scan.seen[3].strPath, L"AAAAAAAA\\" + CString(L'e', 300 - 0xA0));
    EXPECT_TRUE(Contents() == Zeroed(image.Bytes(), full, image.Length() - full));

    // A header cut by the end of the file is not a record; twelve bytes are.
    for (size_t tail : {4u, 11u, 12u}) {
        CIndexDatImage cut;
        const DWORD at = cut.AddRecord("URL ", 1, 0x0BADF00D);
        cut.Truncate(at + tail);
        (void)Scan(cut, TRUE);
        EXPECT_EQ(Contents(), tail < 12 ? cut.Bytes() : Zeroed(cut.Bytes(), at, tail)) << tail;
    }

    // Direct erasures are cut at the end of the file too.
    CIndexDatImage blocks;
    blocks.AddBlocks(4, 'x');
    blocks.WriteTo(m_path);
    CRecordingParser parser;
    parser.OpenFile(m_path);
    parser.RemoveEntry(0x4000 + 100, 300);
    parser.RemoveEntry(blocks.Length() - 10, 100);
    parser.RemoveEntry(blocks.Length() + 5, 10);
    parser.RemoveEntry(0xFFFFFF00u, 0x200);
    parser.CloseFile();
    EXPECT_EQ(Contents(), Zeroed(Zeroed(blocks.Bytes(), 0x4000 + 100, 300), blocks.Length() - 10, 10));
}

TEST_F(IndexDatParserTest, AFailedErasureReleasesItsLocksAndTheScanGoesOn)
{
    CIndexDatImage image;
    const DWORD a = image.AddUrl("URL ", 1, FileTimeOf(kT1), 0, "http://a/");
    const DWORD b = image.AddUrl("URL ", 2, FileTimeOf(kT1), 0, "http://b/");
    const DWORD c = image.AddUrl("URL ", 1, FileTimeOf(kT1), 0, "http://c/");
    image.WriteTo(m_path);
    CFile other(m_path, CFile::modeReadWrite | CFile::shareDenyNone);
    other.LockRange(b + 10, 1);
    const CScanOutcome scan = ScanFile(m_path, FALSE, &CRecordingParser::EraseAll);
    EXPECT_TRUE(scan.bResult);
    EXPECT_EQ(scan.seen.size(), 3u);
    EXPECT_EQ(Contents(), Zeroed(Zeroed(image.Bytes(), a, 128), c, 128));
    other.UnlockRange(b + 10, 1);
    for (DWORD offset : {a, b, c}) {
        other.LockRange(offset, 128);  // throws if the scan still held it
        other.UnlockRange(offset, 128);
    }
}

TEST_F(IndexDatParserTest, ErasuresAreSeenByTheRestOfTheScanWhateverTheWindow)
{
    CIndexDatImage image;
    image.AddUrl("URL ", 1, FileTimeOf(kT1), 0, "http://first/");
    const DWORD nearby = image.AddUrl("URL ", 1, FileTimeOf(kT1), 0, "http://near/");
    image.AddBlocks(600, '\0');
    const DWORD distant = image.AddUrl("URL ", 2, FileTimeOf(kT1), 0, "http://far/");
    const DWORD partly = image.AddUrl("URL ", 1, FileTimeOf(kT1), 0, "http://partly/");
    const DWORD last = image.AddUrl("URL ", 1, FileTimeOf(kT1), 0, "http://last/");
    // Windows below the least and above the most are taken as those.
    for (DWORD window : {1u, 64u, 4096u, 65536u, 1000000u}) {
        const CScanOutcome scan = Scan(
            image, FALSE,
            [&](CRecordingParser& parser, const CSeenRecord& r) {
                if (r.strUrl == L"http://first/") {
                    parser.RemoveEntry(nearby, 128);   // inside the window
                    parser.RemoveEntry(distant, 256);  // beyond it
                    parser.RemoveEntry(partly, 6);     // the type word is enough
                }
                return r.strUrl == L"http://first/" ? FALSE : TRUE;  // the results are and-ed
            },
            window);
        EXPECT_FALSE(scan.bResult);
        ASSERT_EQ(scan.seen.size(), 2u) << window << ::testing::PrintToString(scan.seen);
        EXPECT_EQ(scan.seen[1].dwOffset, last) << window;
    }
}

// (The fuzz test's model tells deleted records apart on stores as the
// cache writes them and on stores with no trusted bitmap.)
TEST_F(IndexDatParserTest, ADeletedRecordWrittenOverIsErasedOnlyInItsOwnFreeBlocks)
{
    // The cache deleted a four-block record and later wrote a one-block
    // entry over its third block; the old header still claims all four.
    CIndexDatImage reused;
    reused.MarkBlocks(CIndexDatImage::kRecordArea, 1);
    const DWORD old = reused.AddUrl("URL ", 4, FileTimeOf(kT1), 0, "http://freed/" + std::string(300, 'f'));
    reused.PutBytes(old + 256, std::string(128, '\0'));
    reused.PutBytes(old + 256, "URL ");
    reused.Put32(old + 256 + 4, 1);
    reused.PutBytes(old + 256 + 0x68, std::string("http://new/") + '\0');
    reused.MarkBlocks(old + 256, 1);
    reused.MarkBlocks(reused.AddUrl("URL ", 1, FileTimeOf(kT1), 0, "http://after/"), 1);
    // Only the deleted record's own free blocks go; the entry written over
    // it is visited and survives.
    const CScanOutcome scan = Scan(reused, FALSE, [](CRecordingParser& parser, const CSeenRecord& r) {
        if (!parser.Allocated(r.dwOffset)) {
            parser.RemoveEntry(r.dwOffset, r.dwSize);
        }
        return TRUE;
    });
    ASSERT_EQ(scan.seen.size(), 3u);
    EXPECT_EQ(scan.seen[0].dwSize, 256u);
    EXPECT_EQ(scan.seen[0].strUrl, L"http://freed/" + CString(L'f', 256 - 0x68 - 13));
    EXPECT_EQ(std::make_pair(scan.seen[1].strUrl, scan.seen[1].dwOffset), std::make_pair(CString(L"http://new/"), old + 256));
    EXPECT_EQ(scan.seen[2].strUrl, L"http://after/");
    EXPECT_TRUE(Contents() == Zeroed(reused.Bytes(), old, 256));
}

TEST_F(IndexDatParserTest, OnlyALiveUrlRecordIsDeletedThroughTheCacheAndZeroedOnlyIfItStillHoldsItsUrl)
{
    CIndexDatImage image;
    image.MarkBlocks(CIndexDatImage::kRecordArea, 1);
    auto add = [&](const char* type, const std::string& url, bool bAllocated) {
        const DWORD at = image.AddUrl(type, 2, FileTimeOf(kT1), 0, url);
        image.MarkBlocks(at, bAllocated ? 2 : 0);
        return at;
    };
    const DWORD live = add("URL ", "http://live/", true);
    // The cache deleted this one; it keeps an entry of the same URL elsewhere.
    const DWORD freed = add("URL ", "http://live/", false);
    const DWORD leak = add("LEAK", "http://leak/", true);
    const DWORD redirect = image.AddRecord("REDR", 1, 0x11111111);
    image.MarkBlocks(redirect, 1);
    const DWORD locked = add("URL ", "http://locked/", true);
    const DWORD refused = add("URL ", "http://refused/", true);
    // Meanwhile someone else's entry takes this one's blocks.
    const DWORD taken = add("URL ", "http://taken/", true);
    // A store the cache does not index: it answers "not found".
    const DWORD unknown = add("URL ", "Visited: user@http://not-cached/", true);
    image.WriteTo(m_path);

    CLogCapture log;
    std::vector<std::pair<DWORD, BOOL>> erased;
    CRecordingParser parser([&](CRecordingParser& p, const CSeenRecord& r) {
        erased.emplace_back(r.dwOffset, p.Erase(r));
        return TRUE;
    });
    parser.m_deleteCacheEntry = [&](const CString& strUrl) {
        if (strUrl == L"http://taken/") {
            CHandle other(CreateFileW(m_path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
            const std::string url = std::string("http://someone-else/") + '\0';
            DWORD written = 0;
            SetFilePointer(other.get(), static_cast<LONG>(taken + 0x68), nullptr, FILE_BEGIN);
            EXPECT_TRUE(WriteFile(other.get(), url.data(), static_cast<DWORD>(url.size()), &written, nullptr));
        }
        const DWORD error = strUrl == L"http://locked/"    ? ERROR_SHARING_VIOLATION
                            : strUrl == L"http://refused/" ? ERROR_ACCESS_DENIED
                            : strUrl.Find(L"not-cached") > 0 ? ERROR_FILE_NOT_FOUND
                                                             : ERROR_SUCCESS;
        SetLastError(error);
        return error == ERROR_SUCCESS ? TRUE : FALSE;
    };
    parser.OpenFile(m_path);
    EXPECT_TRUE(parser.IterateEntries(FALSE));
    parser.CloseFile();

    // Asked about the records it indexes, and about nothing else: not the
    // freed copy, which would have deleted the live entry of its URL.
    const std::vector<CString> asked = {L"http://live/", L"http://locked/", L"http://refused/", L"http://taken/",
                                        L"Visited: user@http://not-cached/"};
    EXPECT_EQ(parser.m_deletedKeys, asked);
    const std::vector<std::pair<DWORD, BOOL>> expected = {{live, TRUE},    {freed, TRUE},    {leak, TRUE},
                                                          {redirect, TRUE}, {locked, FALSE}, {refused, TRUE},
                                                          {taken, FALSE},   {unknown, TRUE}};
    EXPECT_EQ(erased, expected);
    std::string after = image.Bytes();
    for (DWORD at : {live, freed, leak, refused, unknown}) {
        after = Zeroed(after, at, 256);
    }
    after = Zeroed(after, redirect, 128).replace(taken + 0x68, 21, std::string("http://someone-else/") + '\0');
    EXPECT_TRUE(Contents() == after);
    // A refusal other than "not found" is worth a complaint.
    EXPECT_EQ(log.MessagesContaining(L"through the URL cache").size(), 1u);
}
