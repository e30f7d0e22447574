#include "cleanup/SecureDeleter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/LogCapture.h"
#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"

namespace {

std::string Letters(size_t size)
{
    std::string content(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        content[i] = static_cast<char>('a' + i * 7 % 26);
    }
    return content;
}

std::vector<CString> FolderEntries(const CString& folder)
{
    std::vector<CString> names;
    WIN32_FIND_DATAW data;
    CFindHandle find(FindFirstFileW(folder + L"\\*", &data));
    while (find.valid()) {
        if (data.cFileName[0] != L'.') {
            names.emplace_back(data.cFileName);
        }
        if (!FindNextFileW(find.get(), &data)) {
            break;
        }
    }
    return names;
}

// Every byte must hold the random pattern, which restarts at each 64 KiB range.
void ExpectThirdPattern(const std::string& content, const CSecureDeleter& deleter)
{
    size_t wrong = 0;
    for (size_t i = 0; i < content.size(); ++i) {
        wrong += static_cast<BYTE>(content[i]) != deleter.GetPattern(2)[i % 65536] ? 1 : 0;
    }
    EXPECT_EQ(wrong, 0u) << "of " << content.size() << " bytes";
}

// Records each write as (offset, length, pass) and each new name; fails a
// chosen write, or makes the file read-only at its last name.
class CObservedDeleter : public CSecureDeleter {
public:
    using CSecureDeleter::CSecureDeleter;

    std::vector<std::tuple<LONGLONG, DWORD, int>> m_writes;
    std::vector<CString> m_names;
    int m_nFailWrite = -1;
    bool m_bReadOnlyAtLastName = false;
    DWORD m_dwAttributes = 0;  // reported instead of the real ones when set
    int m_nMapQueries = 0;

protected:
    DWORD GetAttributes(const CString& strPath) override
    {
        return m_dwAttributes != 0 ? m_dwAttributes : CSecureDeleter::GetAttributes(strPath);
    }
    BOOL WriteChunk(HANDLE hFile, const BYTE* pData, DWORD cbData, DWORD* pcbWritten) override
    {
        LARGE_INTEGER position = {};
        SetFilePointerEx(hFile, LARGE_INTEGER{}, &position, FILE_CURRENT);
        const int pass = pData == GetPattern(0) ? 0 : pData == GetPattern(1) ? 1 : pData == GetPattern(2) ? 2 : -1;
        m_writes.emplace_back(position.QuadPart, cbData, pass);
        if (static_cast<int>(m_writes.size()) - 1 == m_nFailWrite) {
            SetLastError(ERROR_DISK_FULL);
            return FALSE;
        }
        return CSecureDeleter::WriteChunk(hFile, pData, cbData, pcbWritten);
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
        ++m_nMapQueries;
        return CSecureDeleter::QueryRetrievalMap(hFile, llVcn, pMap, cbMap, io);
    }
};

// The hard link shares the file's data: after the delete it shows what is
// left on disk where the file was.
TEST(SecureDeleterTest, LeavesOnlyTheThirdPatternInTheFilesData)
{
    CTempFolder folder;
    const CString file = folder / L"secret.dat";
    const CString link = folder / L"link.dat";
    WriteTestFile(file, Letters(3 * 65536 + 1234));
    ASSERT_TRUE(CreateHardLinkW(link, file, nullptr));
    CSecureDeleter deleter;

    EXPECT_TRUE(deleter.SecureDelete(file));

    ExpectThirdPattern(ReadTestFile(link), deleter);
    EXPECT_EQ(ReadTestFile(link).size(), 3 * 65536 + 1234u);
    EXPECT_EQ(FolderEntries(folder.Path()), std::vector<CString>{L"link.dat"});
    int values[256] = {};
    for (DWORD i = 0; i < CSecureDeleter::kPatternSize; ++i) {
        ASSERT_TRUE(deleter.GetPattern(0)[i] == 0x00 && deleter.GetPattern(1)[i] == 0xFF) << i;
        values[deleter.GetPattern(2)[i]] = 1;
    }
    EXPECT_GT(std::count(std::begin(values), std::end(values), 1), 200) << "the random pattern is not random";
}

TEST(SecureDeleterTest, LastByteFirstThenEachRangeWithItsThreePasses)
{
    CTempFolder folder;
    const CString file = folder / L"odd.bin";
    WriteTestFile(file, Letters(65537));
    CObservedDeleter deleter;
    ASSERT_TRUE(deleter.SecureDelete(file));
    using W = std::tuple<LONGLONG, DWORD, int>;
    const std::vector<W> expected = {W{65536, 1, 0}, W{65536, 1, 1}, W{65536, 1, 2}, W{0, 65536, 0}, W{0, 65536, 1},
                                     W{0, 65536, 2}, W{65536, 1, 0}, W{65536, 1, 1}, W{65536, 1, 2}};
    EXPECT_EQ(deleter.m_writes, expected);

    // An empty file is renamed through the alphabet, keeping its name's
    // length, dots and folder, and deleted with nothing written.
    const CString empty = folder / L"a.b.txt";
    WriteTestFile(empty, "");
    CObservedDeleter emptyDeleter;
    EXPECT_TRUE(emptyDeleter.SecureDelete(empty));
    EXPECT_TRUE(emptyDeleter.m_writes.empty());
    ASSERT_EQ(emptyDeleter.m_names.size(), 26u);
    for (int k = 0; k < 26; ++k) {
        const wchar_t c = static_cast<wchar_t>(L'A' + k);
        EXPECT_EQ(emptyDeleter.m_names[k], folder / FormatString(L"%c.%c.%c%c%c", c, c, c, c, c));
    }
    EXPECT_TRUE(FolderEntries(folder.Path()).empty());
}

TEST(SecureDeleterTest, ExistingScrambledNameStopsTheRenamesAndIsLeftAlone)
{
    CTempFolder folder;
    const CString file = folder / L"a.b.txt";
    WriteTestFile(file, "secret");
    WriteTestFile(folder / L"C.C.CCC", "someone else's");
    CLogCapture log;
    CObservedDeleter deleter;

    EXPECT_TRUE(deleter.SecureDelete(file));

    EXPECT_EQ(deleter.m_names.size(), 3u);
    EXPECT_EQ(log.MessagesContaining(FormatString(L"Failed to rename file %s - ", file.GetString())).size(), 1u);
    EXPECT_EQ(FolderEntries(folder.Path()), std::vector<CString>{L"C.C.CCC"});
    EXPECT_EQ(ReadTestFile(folder / L"C.C.CCC"), "someone else's");
}

TEST(SecureDeleterTest, FailedDeleteRenamesTheOverwrittenFileBack)
{
    CTempFolder folder;
    const CString file = folder / L"stays.txt";
    WriteTestFile(file, Letters(100));
    CLogCapture log;
    CObservedDeleter deleter;
    deleter.m_bReadOnlyAtLastName = true;

    EXPECT_FALSE(deleter.SecureDelete(file));

    EXPECT_EQ(FolderEntries(folder.Path()), std::vector<CString>{L"stays.txt"});
    ExpectThirdPattern(ReadTestFile(file), deleter);
    EXPECT_EQ(log.MessagesContaining(FormatString(L"Failed to delete file %s", (folder / L"ZZZZZ.ZZZ").GetString()))
                  .size(),
              1u);
}

TEST(SecureDeleterTest, AFailedWriteOrPatternStopsBeforeAnyRename)
{
    CTempFolder folder;
    const CString file = folder / L"partial.bin";
    WriteTestFile(file, Letters(200000));
    CLogCapture log;
    CObservedDeleter deleter;
    deleter.m_nFailWrite = 4;
    EXPECT_FALSE(deleter.SecureDelete(file));
    EXPECT_EQ(deleter.m_writes.size(), 5u);
    EXPECT_TRUE(deleter.m_names.empty());
    EXPECT_EQ(log.MessagesContaining(L"Failed to overwrite file data - ").size(), 1u);

    // Without its patterns the deleter refuses every file untouched.
    static int s_nCalls = 0;
    CObservedDeleter unready([](SIZE_T cb) -> void* {
        return ++s_nCalls == 2 ? nullptr : VirtualAlloc(nullptr, cb, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    });
    WriteTestFile(file, "kept");
    EXPECT_FALSE(unready.SecureDelete(file));
    EXPECT_TRUE(unready.m_writes.empty() && unready.m_names.empty());
    EXPECT_EQ(ReadTestFile(file), "kept");
}

// Wine cannot set these attributes, so the seam reports them.
TEST(SecureDeleterTest, AttributesChooseThePath)
{
    struct CCase {
        DWORD dwAttributes;
        BOOL bResult;
        bool bClusters;
        bool bWrites;
    };
    const CCase cases[] = {
        {FILE_ATTRIBUTE_SPARSE_FILE, TRUE, true, true}, {FILE_ATTRIBUTE_COMPRESSED, TRUE, true, true},
        {FILE_ATTRIBUTE_ENCRYPTED, TRUE, true, true},   {FILE_ATTRIBUTE_ARCHIVE, TRUE, false, true},
        {FILE_ATTRIBUTE_DIRECTORY, FALSE, false, false},
        // A link's data is its target's, which may be anybody's file.
        {FILE_ATTRIBUTE_REPARSE_POINT, TRUE, false, false},
    };
    for (const CCase& c : cases) {
        CTempFolder folder;
        const CString file = folder / L"file.bin";
        WriteTestFile(file, Letters(10));
        CObservedDeleter deleter;
        deleter.m_dwAttributes = c.dwAttributes;
        EXPECT_EQ(deleter.SecureDelete(file), c.bResult) << std::hex << c.dwAttributes;
        EXPECT_EQ(deleter.m_nMapQueries > 0, c.bClusters) << std::hex << c.dwAttributes;
        EXPECT_EQ(!deleter.m_writes.empty(), c.bWrites) << std::hex << c.dwAttributes;
        EXPECT_EQ(TestFileExists(file), !c.bResult) << std::hex << c.dwAttributes;
    }
}

}  // namespace
