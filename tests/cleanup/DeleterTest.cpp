#include "cleanup/Deleter.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "framework/Handles.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"

namespace {

constexpr wchar_t kDatabase[] = L"MIME\\Database\\Content Type";

CString OwnModulePath()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return CString(path);
}

// The registry's MIME database maps ".mp3" to "audio/mpeg" once mshtml is
// registered in the prefix. Where it is not, the keys are seeded for the
// test and removed afterwards.
class CMp3InDatabase {
public:
    CMp3InDatabase()
    {
        CRegKey key;
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, CString(kDatabase) + L"\\audio/mpeg", 0, KEY_READ, key.put()) ==
            ERROR_SUCCESS) {
            return;
        }
        m_bSeeded = RegCreateKeyExW(HKEY_CLASSES_ROOT, CString(kDatabase) + L"\\audio/mpeg", 0, nullptr, 0,
                                    KEY_ALL_ACCESS, nullptr, key.put(), nullptr) == ERROR_SUCCESS;
        EXPECT_TRUE(m_bSeeded);
        const wchar_t value[] = L".mp3";
        RegSetValueExW(key.get(), L"Extension", 0, REG_SZ, reinterpret_cast<const BYTE*>(value), sizeof(value));
    }
    ~CMp3InDatabase()
    {
        if (m_bSeeded) {
            RegDeleteTreeW(HKEY_CLASSES_ROOT, CString(kDatabase) + L"\\audio/mpeg");
        }
    }

private:
    bool m_bSeeded = false;
};

CString HoldArguments(const CString& file, const wchar_t* pszShare)
{
    return FormatString(L"hold-file \"%s\" %s", file.GetString(), pszShare);
}

bool InvestigationRan(const CLogCapture& log)
{
    return log.HasMessage(L"CRunningProcesses::PopulateCache() start");
}

TEST(DeleterTest, DeletesAFileAndLogsItsSteps)
{
    CTempFolder folder;
    const CString file = folder / L"plain.txt";
    WriteTestFile(file, "data");
    CLogCapture log;
    CDeleter deleter(FALSE, FALSE, FALSE);
    BOOL bIgnored = TRUE;

    EXPECT_TRUE(deleter.DeleteFile(file, &bIgnored));

    EXPECT_FALSE(bIgnored);
    EXPECT_FALSE(TestFileExists(file));
    const std::vector<CString> expected = {
        L"CDeleter::DeleteFile start",
        FormatString(L"lpFileName = %s", file.GetString()),
        L"bResult = true",
        L"CDeleter::DeleteFile end",
    };
    EXPECT_EQ(log.Messages(), expected);
}

TEST(DeleterTest, MissingFileOrFolderIsAlreadyDeleted)
{
    CTempFolder folder;
    for (const CString& path : {folder / L"missing.txt", folder / L"no-folder\\missing.txt"}) {
        CLogCapture log;
        CDeleter deleter(FALSE, TRUE, TRUE);
        BOOL bIgnored = TRUE;
        EXPECT_TRUE(deleter.DeleteFile(path, &bIgnored));
        EXPECT_FALSE(bIgnored);
        EXPECT_TRUE(log.HasMessage(FormatString(L"Skipping delete of missing file %s", path.GetString())));
        EXPECT_FALSE(log.HasMessage(L"CDeleter::DeleteFile end"));
    }
}

TEST(DeleterTest, UnreadableAttributesFailWithTheSystemError)
{
    CLogCapture log;
    CDeleter deleter(FALSE, FALSE, FALSE);
    const CString path = L"C:\\bad|name?.txt";
    EXPECT_FALSE(deleter.DeleteFile(path));
    const std::vector<CString> lines = log.MessagesContaining(FormatString(L"Failed to get attributes of %s", path.GetString()));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].Find(L"0x0000007B (123)"), -1) << lines[0].ToUtf8();
}

TEST(DeleterTest, ReadOnlyFileIsMadeWritableThenDeletedPlainlyOrSecurely)
{
    for (const BOOL bSecure : {FALSE, TRUE}) {
        CTempFolder folder;
        const CString file = folder / L"readonly.txt";
        WriteTestFile(file, "protected");
        ASSERT_TRUE(SetFileAttributesW(file, FILE_ATTRIBUTE_READONLY));
        CDeleter deleter(bSecure, FALSE, FALSE);
        EXPECT_TRUE(deleter.DeleteFile(file)) << "secure " << bSecure;
        EXPECT_FALSE(TestFileExists(file));
    }
}

TEST(DeleterTest, SecureDeleteOverwritesBeforeDeleting)
{
    CTempFolder folder;
    const CString file = folder / L"cookie.txt";
    const CString link = folder / L"link.txt";
    WriteTestFile(file, std::string(1000, 'c'));
    ASSERT_TRUE(CreateHardLinkW(link, file, nullptr));
    CDeleter deleter(TRUE, FALSE, FALSE);
    EXPECT_TRUE(deleter.DeleteFile(file));
    EXPECT_FALSE(TestFileExists(file));
    // Random bytes hold a 'c' now and then (about 4 in 1000), never all.
    const std::string left = ReadTestFile(link);
    ASSERT_EQ(left.size(), 1000u);
    EXPECT_LT(std::count(left.begin(), left.end(), 'c'), 40);
}

TEST(DeleterTest, OwnExecutableIsIgnoredWhateverTheOptions)
{
    const CString own = OwnModulePath();
    for (const BOOL bCheckInUse : {FALSE, TRUE}) {
        CLogCapture log;
        CDeleter deleter(FALSE, bCheckInUse, FALSE);
        BOOL bIgnored = FALSE;
        EXPECT_TRUE(deleter.DeleteFile(own, &bIgnored));
        EXPECT_TRUE(bIgnored);
        EXPECT_TRUE(log.HasMessage(FormatString(L"Ignoring failed delete of own executable %s", own.GetString())));
        EXPECT_FALSE(InvestigationRan(log));
        ASSERT_TRUE(TestFileExists(own));
    }
    // The comparison is exact: the same file in other letters is a failure.
    CString upper = own;
    upper.MakeUpper();
    ASSERT_NE(upper, own);
    CLogCapture log;
    CDeleter deleter(FALSE, FALSE, FALSE);
    BOOL bIgnored = TRUE;
    EXPECT_FALSE(deleter.DeleteFile(upper, &bIgnored));
    EXPECT_FALSE(bIgnored);
    EXPECT_TRUE(log.MessagesContaining(L"Ignoring").empty());
    ASSERT_TRUE(TestFileExists(own));
}

TEST(DeleterTest, WithoutTheInUseOptionsALockedFileJustFails)
{
    CTempFolder folder;
    const CString file = folder / L"locked.txt";
    WriteTestFile(file, "locked");
    CHelperProcess helper;
    ASSERT_TRUE(helper.Start(HoldArguments(file, L"none")));
    CLogCapture log;
    CDeleter deleter(FALSE, FALSE, FALSE);
    BOOL bIgnored = TRUE;

    EXPECT_FALSE(deleter.DeleteFile(file, &bIgnored));

    EXPECT_FALSE(bIgnored);
    EXPECT_EQ(log.MessagesContaining(FormatString(L"Failed to delete file %s", file.GetString())).size(), 1u);
    EXPECT_TRUE(log.HasMessage(L"bResult = false"));
    EXPECT_TRUE(log.HasMessage(L"CDeleter::DeleteFile end"));
    EXPECT_FALSE(InvestigationRan(log));
    EXPECT_TRUE(log.MessagesContaining(L"\\Device\\").empty());
    EXPECT_TRUE(TestFileExists(file));
}

TEST(DeleterTest, FileHeldByAnotherProgramIsIgnoredUnlessItIsMedia)
{
    CMp3InDatabase database;
    CTempFolder folder;
    const CString text = folder / L"page.txt";
    const CString song = folder / L"song.mp3";
    const CString upperSong = folder / L"SONG2.MP3";
    WriteTestFile(text, "text");
    WriteTestFile(song, "mp3");
    WriteTestFile(upperSong, "mp3");
    CHelperProcess textHolder;
    CHelperProcess songHolder;
    CHelperProcess upperSongHolder;
    ASSERT_TRUE(textHolder.Start(HoldArguments(text, L"none")));
    ASSERT_TRUE(songHolder.Start(HoldArguments(song, L"none")));
    ASSERT_TRUE(upperSongHolder.Start(HoldArguments(upperSong, L"none")));
    CLogCapture log;
    CDeleter deleter(FALSE, TRUE, FALSE);

    BOOL bIgnored = FALSE;
    EXPECT_TRUE(deleter.DeleteFile(text, &bIgnored));
    EXPECT_TRUE(bIgnored);
    EXPECT_TRUE(log.HasMessage(FormatString(L"Ignoring delete of file %s opened by process %s", text.GetString(),
                                            CHelperProcess::Path().GetString())));

    log.Clear();
    bIgnored = TRUE;
    EXPECT_FALSE(deleter.DeleteFile(song, &bIgnored));
    EXPECT_FALSE(bIgnored);
    EXPECT_TRUE(log.HasMessage(FormatString(L"Got media MIME type audio/mpeg for file %s", song.GetString())));
    EXPECT_TRUE(log.MessagesContaining(L"Ignoring").empty());

    // The database lists ".mp3" in lower case only.
    log.Clear();
    EXPECT_TRUE(deleter.DeleteFile(upperSong, &bIgnored));
    EXPECT_TRUE(bIgnored);
    EXPECT_TRUE(log.MessagesContaining(L"Got media MIME type").empty());

    EXPECT_TRUE(TestFileExists(text));
    EXPECT_TRUE(TestFileExists(song));
    EXPECT_TRUE(TestFileExists(upperSong));
}

TEST(DeleterTest, FileHeldByThisProgramCountsOnlyWhenOwnFilesAreIgnored)
{
    CTempFolder folder;
    const CString file = folder / L"mine.txt";
    WriteTestFile(file, "mine");
    CHandle hFile(CreateFileW(file, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(hFile.valid());
    {
        CLogCapture log;
        CDeleter deleter(FALSE, FALSE, TRUE);
        BOOL bIgnored = FALSE;
        EXPECT_TRUE(deleter.DeleteFile(file, &bIgnored));
        EXPECT_TRUE(bIgnored);
        EXPECT_TRUE(log.HasMessage(FormatString(L"Ignoring failed delete of own file %s", file.GetString())));
    }
    {
        CLogCapture log;
        CDeleter deleter(FALSE, TRUE, FALSE);
        BOOL bIgnored = TRUE;
        EXPECT_FALSE(deleter.DeleteFile(file, &bIgnored));
        EXPECT_FALSE(bIgnored);
        EXPECT_TRUE(log.MessagesContaining(L"Ignoring").empty());
    }
    EXPECT_TRUE(TestFileExists(file));
}

TEST(DeleterTest, ImageOfARunningProgramIsAFailure)
{
    CTempFolder folder;
    const CString image = folder / L"running.exe";
    ASSERT_TRUE(CopyFileW(CHelperProcess::Path(), image, FALSE));
    CHelperProcess helper;
    ASSERT_TRUE(helper.StartImage(image, L"idle"));
    CLogCapture log;
    CDeleter deleter(FALSE, TRUE, FALSE);
    BOOL bIgnored = TRUE;

    EXPECT_FALSE(deleter.DeleteFile(image, &bIgnored));

    EXPECT_FALSE(bIgnored);
    EXPECT_TRUE(log.HasMessage(FormatString(L"Found running process for file %s", image.GetString())));
    EXPECT_TRUE(TestFileExists(image));
}

TEST(DeleterTest, FailedSecureDeleteIsLogged)
{
    CTempFolder folder;
    const CString file = folder / L"held.txt";
    WriteTestFile(file, "held");
    CHelperProcess helper;
    ASSERT_TRUE(helper.Start(HoldArguments(file, L"none")));
    CLogCapture log;
    CDeleter deleter(TRUE, FALSE, FALSE);
    EXPECT_FALSE(deleter.DeleteFile(file));
    EXPECT_TRUE(log.HasMessage(FormatString(L"Failed to secure delete file %s", file.GetString())));
    helper.Stop();
    EXPECT_EQ(ReadTestFile(file), "held");
}

TEST(DeleterTest, DeleteDirectoryRemovesOnlyAnEmptyFolder)
{
    CTempFolder folder;
    const CString empty = folder / L"empty";
    const CString full = folder / L"full";
    CreateTestFolders(empty);
    WriteTestFile(full + L"\\file.txt", "x");
    CLogCapture log;
    EXPECT_TRUE(CDeleter::DeleteDirectory(empty));
    EXPECT_FALSE(CDeleter::DeleteDirectory(full));
    EXPECT_FALSE(TestFileExists(empty));
    EXPECT_TRUE(TestFileExists(full + L"\\file.txt"));
    EXPECT_TRUE(log.Lines().empty());
}

TEST(DeleterTest, MediaTypesByPrefixOrWholeName)
{
    for (const wchar_t* pszType :
         {L"audio/mpeg", L"video/mp4", L"midi/mid", L"application/vnd.rn-realmedia", L"application/x-itunes-ipa",
          L"application/pdf", L"application/x-quicktimeplayer", L"application/x-sdp", L"application/smil"}) {
        EXPECT_TRUE(CDeleter::IsMediaContentType(pszType)) << CString(pszType).ToUtf8();
    }
    for (const wchar_t* pszType : {L"text/plain", L"Audio/mpeg", L"application/pdf2", L"application/x-mpeg2",
                                   L"xaudio/mpeg", L"application/vnd.ms-excel", L""}) {
        EXPECT_FALSE(CDeleter::IsMediaContentType(pszType)) << CString(pszType).ToUtf8();
    }
}

TEST(DeleterTest, ExtensionIsTakenFromTheFileName)
{
    EXPECT_EQ(CDeleter::GetExtension(L"C:\\a\\song.tar.mp3"), CString(L".mp3"));
    EXPECT_EQ(CDeleter::GetExtension(L"C:\\a.d\\noext"), CString());
    EXPECT_EQ(CDeleter::GetExtension(L"C:\\a\\trailing."), CString(L"."));
    EXPECT_EQ(CDeleter::GetExtension(L"noext"), CString());
}

}  // namespace
