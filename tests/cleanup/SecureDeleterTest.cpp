#include "cleanup/SecureDeleter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/HelperProcess.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"

namespace {

// Bytes that no pattern pass produces as a whole: a file still holding them
// after a secure delete kept its data.
std::string OriginalContent(size_t size)
{
    std::string content(size, '\0');
    unsigned state = 12345;
    for (char& ch : content) {
        state = state * 1103515245u + 12345u;
        ch = static_cast<char>('a' + (state >> 16) % 26);
    }
    return content;
}

// What the file must hold after the three passes: the random pattern,
// restarting at every 64 KiB range, and within a range at every write.
void ExpectThirdPattern(const std::string& content, const CSecureDeleter& deleter, size_t cbWrite = 65536)
{
    const BYTE* pRandom = deleter.GetPattern(2);
    ASSERT_NE(pRandom, nullptr);
    size_t wrong = 0;
    for (size_t i = 0; i < content.size(); ++i) {
        if (static_cast<BYTE>(content[i]) != pRandom[i % 65536 % cbWrite]) {
            ++wrong;
        }
    }
    EXPECT_EQ(wrong, 0u) << "of " << content.size() << " bytes";
}

std::vector<CString> FolderEntries(const CString& folder)
{
    std::vector<CString> names;
    WIN32_FIND_DATAW data;
    CFindHandle find(FindFirstFileW(folder + L"\\*", &data));
    if (find.valid()) {
        do {
            const CString name(data.cFileName);
            if (name != L"." && name != L"..") {
                names.push_back(name);
            }
        } while (FindNextFileW(find.get(), &data));
    }
    return names;
}

struct CWrite {
    LONGLONG llOffset;
    DWORD cbLength;
    int nPass;  // 0, 1, 2, or -1 for a buffer that is no pattern
};

// A secure deleter whose writes and renames are recorded, and that fails or
// shortens them on request.
class CObservedDeleter : public CSecureDeleter {
public:
    using CSecureDeleter::CSecureDeleter;
    using CSecureDeleter::SecureDeleteFile;

    std::vector<CWrite> m_writes;
    std::vector<std::pair<CString, CString>> m_renames;
    int m_nFailWrite = -1;          // index of the write that fails
    DWORD m_cbMaxWrite = 0;         // when set, no write does more than this
    bool m_bZeroWrites = false;     // each write succeeds without writing
    bool m_bReadOnlyAtLastName = false;
    DWORD m_dwAttributes = INVALID_FILE_ATTRIBUTES;  // real attributes unless set
    int m_nMapQueries = 0;

protected:
    DWORD GetAttributes(const CString& strPath) override
    {
        return m_dwAttributes != INVALID_FILE_ATTRIBUTES ? m_dwAttributes : CSecureDeleter::GetAttributes(strPath);
    }

    BOOL WriteChunk(HANDLE hFile, const BYTE* pData, DWORD cbData, DWORD* pcbWritten) override
    {
        LARGE_INTEGER position = {};
        SetFilePointerEx(hFile, LARGE_INTEGER{}, &position, FILE_CURRENT);
        int pass = -1;
        for (int i = 0; i < kPasses; ++i) {
            if (pData == GetPattern(i)) {
                pass = i;
            }
        }
        const int index = static_cast<int>(m_writes.size());
        m_writes.push_back(CWrite{position.QuadPart, cbData, pass});
        if (index == m_nFailWrite) {
            SetLastError(ERROR_DISK_FULL);
            return FALSE;
        }
        if (m_bZeroWrites) {
            *pcbWritten = 0;
            return TRUE;
        }
        if (m_cbMaxWrite != 0 && cbData > m_cbMaxWrite) {
            cbData = m_cbMaxWrite;
        }
        return CSecureDeleter::WriteChunk(hFile, pData, cbData, pcbWritten);
    }

    BOOL RenameFile(const CString& strFrom, const CString& strTo) override
    {
        m_renames.emplace_back(strFrom, strTo);
        const BOOL bResult = CSecureDeleter::RenameFile(strFrom, strTo);
        if (bResult && m_bReadOnlyAtLastName && m_renames.size() == 26) {
            SetFileAttributesW(strTo, FILE_ATTRIBUTE_READONLY);
        }
        return bResult;
    }

    NTSTATUS QueryRetrievalMap(HANDLE hFile, LONGLONG llStartingVcn, void* pMap, ULONG cbMap,
                               IO_STATUS_BLOCK& ioStatus) override
    {
        ++m_nMapQueries;
        return CSecureDeleter::QueryRetrievalMap(hFile, llStartingVcn, pMap, cbMap, ioStatus);
    }
};

TEST(SecureDeleterTest, PatternsAreZerosOnesAndRandomBytes)
{
    CSecureDeleter deleter;
    const BYTE* pZeros = deleter.GetPattern(0);
    const BYTE* pOnes = deleter.GetPattern(1);
    const BYTE* pRandom = deleter.GetPattern(2);
    ASSERT_TRUE(pZeros != nullptr && pOnes != nullptr && pRandom != nullptr);
    EXPECT_EQ(deleter.GetPattern(3), nullptr);
    int distinct[256] = {};
    for (DWORD i = 0; i < CSecureDeleter::kPatternSize; ++i) {
        ASSERT_EQ(pZeros[i], 0x00) << i;
        ASSERT_EQ(pOnes[i], 0xFF) << i;
        distinct[pRandom[i]] = 1;
    }
    int values = 0;
    for (int seen : distinct) {
        values += seen;
    }
    EXPECT_GT(values, 200) << "the third pattern should use most byte values";
}

// The hard link shares the file's data: after the secure delete it shows
// what is left on disk where the file was.
TEST(SecureDeleterTest, LeavesOnlyTheThirdPatternInTheFilesData)
{
    CTempFolder folder;
    const CString file = folder / L"secret.dat";
    const CString link = folder / L"link.dat";
    const size_t size = 3 * 65536 + 1234;
    WriteTestFile(file, OriginalContent(size));
    ASSERT_TRUE(CreateHardLinkW(link, file, nullptr));

    CSecureDeleter deleter;
    EXPECT_TRUE(deleter.SecureDelete(file));

    EXPECT_FALSE(TestFileExists(file));
    const std::string left = ReadTestFile(link);
    ASSERT_EQ(left.size(), size);
    ExpectThirdPattern(left, deleter);
    // Only the link remains: no scrambled name was left behind.
    EXPECT_EQ(FolderEntries(folder.Path()), std::vector<CString>{L"link.dat"});
}

TEST(SecureDeleterTest, EmptyFileIsRenamedAndDeletedWithoutAWrite)
{
    CTempFolder folder;
    const CString file = folder / L"empty.txt";
    WriteTestFile(file, "");
    CObservedDeleter deleter;
    EXPECT_TRUE(deleter.SecureDelete(file));
    EXPECT_TRUE(deleter.m_writes.empty());
    EXPECT_EQ(deleter.m_renames.size(), 26u);
    EXPECT_TRUE(FolderEntries(folder.Path()).empty());
}

TEST(SecureDeleterTest, LastByteIsOverwrittenFirstThenEachRangeGetsItsThreePasses)
{
    CTempFolder folder;
    const CString file = folder / L"odd.bin";
    WriteTestFile(file, OriginalContent(65537));
    CObservedDeleter deleter;
    ASSERT_TRUE(deleter.SecureDelete(file));

    const std::vector<std::tuple<LONGLONG, DWORD, int>> expected = {
        {65536, 1, 0}, {65536, 1, 1}, {65536, 1, 2},              // the last byte
        {0, 65536, 0}, {0, 65536, 1}, {0, 65536, 2},              // the first range
        {65536, 1, 0}, {65536, 1, 1}, {65536, 1, 2},              // the last byte again
    };
    ASSERT_EQ(deleter.m_writes.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(deleter.m_writes[i].llOffset, std::get<0>(expected[i])) << "write " << i;
        EXPECT_EQ(deleter.m_writes[i].cbLength, std::get<1>(expected[i])) << "write " << i;
        EXPECT_EQ(deleter.m_writes[i].nPass, std::get<2>(expected[i])) << "write " << i;
    }
}

TEST(SecureDeleterTest, RenamesThroughTheAlphabetKeepingLengthDotsAndFolder)
{
    CTempFolder folder;
    const CString file = folder / L"a.b.txt";
    WriteTestFile(file, "x");
    CObservedDeleter deleter;
    ASSERT_TRUE(deleter.SecureDelete(file));

    ASSERT_EQ(deleter.m_renames.size(), 26u);
    CString previous = file;
    for (int k = 0; k < 26; ++k) {
        const wchar_t ch = static_cast<wchar_t>(L'A' + k);
        CString name;
        name.Format(L"%c.%c.%c%c%c", ch, ch, ch, ch, ch);
        EXPECT_EQ(deleter.m_renames[k].first, previous);
        EXPECT_EQ(deleter.m_renames[k].second, folder / name);
        previous = folder / name;
    }
    EXPECT_TRUE(FolderEntries(folder.Path()).empty());
}

TEST(SecureDeleterTest, ExistingScrambledNameStopsTheRenamesAndIsLeftAlone)
{
    CTempFolder folder;
    const CString file = folder / L"a.b.txt";
    const CString bystander = folder / L"C.C.CCC";
    WriteTestFile(file, "secret");
    WriteTestFile(bystander, "someone else's");
    CLogCapture log;
    CObservedDeleter deleter;

    EXPECT_TRUE(deleter.SecureDelete(file));

    EXPECT_EQ(deleter.m_renames.size(), 3u);
    EXPECT_EQ(log.MessagesContaining(L"Failed to rename file ").size(), 1u);
    EXPECT_EQ(log.MessagesContaining(FormatString(L"Failed to rename file %s", file.GetString())).size(), 1u);
    EXPECT_EQ(ReadTestFile(bystander), "someone else's");
    EXPECT_EQ(FolderEntries(folder.Path()), std::vector<CString>{L"C.C.CCC"});
}

TEST(SecureDeleterTest, FailedDeleteRenamesTheFileBack)
{
    CTempFolder folder;
    const CString file = folder / L"stays.txt";
    WriteTestFile(file, OriginalContent(100));
    CLogCapture log;
    CObservedDeleter deleter;
    deleter.m_bReadOnlyAtLastName = true;

    EXPECT_FALSE(deleter.SecureDelete(file));

    ASSERT_TRUE(TestFileExists(file));
    EXPECT_EQ(FolderEntries(folder.Path()), std::vector<CString>{L"stays.txt"});
    ExpectThirdPattern(ReadTestFile(file), deleter);
    EXPECT_EQ(log.MessagesContaining(FormatString(L"Failed to delete file %s", (folder / L"ZZZZZ.ZZZ").GetString()))
                  .size(),
              1u);
}

TEST(SecureDeleterTest, DirectoryIsRefused)
{
    CTempFolder folder;
    const CString directory = folder / L"sub";
    CreateTestFolders(directory);
    CLogCapture log;
    CObservedDeleter deleter;
    EXPECT_FALSE(deleter.SecureDelete(directory));
    EXPECT_TRUE(log.HasMessage(FormatString(L"Unable to secure delete directory %s", directory.GetString())));
    EXPECT_TRUE(deleter.m_renames.empty());
    EXPECT_TRUE(TestFileExists(directory));
}

TEST(SecureDeleterTest, FileHeldOpenElsewhereIsLeftUntouched)
{
    CTempFolder folder;
    const CString file = folder / L"held.txt";
    const std::string content = OriginalContent(5000);
    WriteTestFile(file, content);
    CHelperProcess helper;
    ASSERT_TRUE(helper.Start(FormatString(L"hold-file \"%s\" none", file.GetString())));
    CLogCapture log;
    CObservedDeleter deleter;

    EXPECT_FALSE(deleter.SecureDelete(file));

    EXPECT_EQ(log.MessagesContaining(FormatString(L"Failed to open file %s", file.GetString())).size(), 1u);
    EXPECT_TRUE(deleter.m_writes.empty());
    helper.Stop();
    EXPECT_EQ(ReadTestFile(file), content);
}

TEST(SecureDeleterTest, FailedWriteStopsBeforeTheRenames)
{
    CTempFolder folder;
    const CString file = folder / L"partial.bin";
    WriteTestFile(file, OriginalContent(200000));
    CLogCapture log;
    CObservedDeleter deleter;
    deleter.m_nFailWrite = 4;

    EXPECT_FALSE(deleter.SecureDelete(file));

    EXPECT_EQ(deleter.m_writes.size(), 5u);
    EXPECT_TRUE(deleter.m_renames.empty());
    EXPECT_TRUE(TestFileExists(file));
    EXPECT_EQ(log.MessagesContaining(L"Failed to overwrite file data").size(), 1u);
}

TEST(SecureDeleterTest, ShortWritesStillCoverEveryByte)
{
    CTempFolder folder;
    const CString file = folder / L"short.bin";
    const CString link = folder / L"link.bin";
    WriteTestFile(file, OriginalContent(100000));
    ASSERT_TRUE(CreateHardLinkW(link, file, nullptr));
    CObservedDeleter deleter;
    deleter.m_cbMaxWrite = 1000;

    ASSERT_TRUE(deleter.SecureDelete(file));

    // Each write takes the pattern from its start again.
    ExpectThirdPattern(ReadTestFile(link), deleter, 1000);
}

TEST(SecureDeleterTest, WriteWithoutProgressFailsInsteadOfSpinning)
{
    CTempFolder folder;
    const CString file = folder / L"stuck.bin";
    WriteTestFile(file, "data");
    CObservedDeleter deleter;
    deleter.m_bZeroWrites = true;
    EXPECT_FALSE(deleter.SecureDelete(file));
    EXPECT_EQ(deleter.m_writes.size(), 1u);
    EXPECT_EQ(ReadTestFile(file), "data");
}

TEST(SecureDeleterTest, RefusesEveryFileWhenAPatternCannotBeAllocated)
{
    CTempFolder folder;
    const CString file = folder / L"kept.txt";
    WriteTestFile(file, "kept");
    CLogCapture log;
    static int s_nCalls;
    s_nCalls = 0;
    CObservedDeleter deleter([](SIZE_T cb) -> void* {
        return ++s_nCalls == 2 ? nullptr : VirtualAlloc(nullptr, cb, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    });
    EXPECT_EQ(deleter.GetPattern(1), nullptr);

    EXPECT_FALSE(deleter.SecureDelete(file));

    EXPECT_TRUE(log.HasMessage(L"Failed to allocate the overwrite patterns"));
    EXPECT_TRUE(deleter.m_writes.empty());
    EXPECT_TRUE(deleter.m_renames.empty());
    EXPECT_EQ(ReadTestFile(file), "kept");
}

// Wine cannot set these attributes, so the seam reports them.
TEST(SecureDeleterTest, SparseCompressedAndEncryptedFilesAskForTheirClusters)
{
    for (const DWORD dwAttribute :
         {DWORD{FILE_ATTRIBUTE_SPARSE_FILE}, DWORD{FILE_ATTRIBUTE_COMPRESSED}, DWORD{FILE_ATTRIBUTE_ENCRYPTED},
          DWORD{FILE_ATTRIBUTE_ARCHIVE}, DWORD{FILE_ATTRIBUTE_NORMAL}}) {
        CTempFolder folder;
        const CString file = folder / L"file.bin";
        WriteTestFile(file, OriginalContent(10));
        CObservedDeleter deleter;
        deleter.m_dwAttributes = dwAttribute;
        EXPECT_TRUE(deleter.SecureDelete(file));
        const bool bClusters = (dwAttribute & 0x4A00) != 0;
        EXPECT_EQ(deleter.m_nMapQueries > 0, bClusters) << std::hex << dwAttribute;
        EXPECT_FALSE(TestFileExists(file));
    }
}

TEST(SecureDeleterTest, LinkLosesItsNameWithoutItsTargetBeingWritten)
{
    CTempFolder folder;
    const CString file = folder / L"shortcut.lnk";
    WriteTestFile(file, "target data");
    CLogCapture log;
    CObservedDeleter deleter;
    deleter.m_dwAttributes = FILE_ATTRIBUTE_REPARSE_POINT;

    EXPECT_TRUE(deleter.SecureDelete(file));

    EXPECT_TRUE(deleter.m_writes.empty());
    EXPECT_EQ(deleter.m_renames.size(), 26u);
    EXPECT_FALSE(TestFileExists(file));
}

}  // namespace
