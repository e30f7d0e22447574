#include "cleanup/Deleter.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "framework/Handles.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"

namespace {

CString OwnModulePath()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return CString(path);
}

CString Hold(const CString& file)
{
    return FormatString(L"hold-file \"%s\" none", file.GetString());
}

bool InvestigationRan(const CLogCapture& log)
{
    return log.HasMessage(L"CRunningProcesses::PopulateCache() start");
}

// The registry's MIME database maps ".mp3" to an audio type once mshtml is
// registered in the prefix; where it is not, a key is seeded and removed.
class CMp3InDatabase {
public:
    CMp3InDatabase()
    {
        CRegKey key;
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, kKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
            m_bSeeded = RegCreateKeyExW(HKEY_CLASSES_ROOT, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(),
                                        nullptr) == ERROR_SUCCESS;
            RegSetValueExW(key.get(), L"Extension", 0, REG_SZ, reinterpret_cast<const BYTE*>(L".mp3"), 10);
        }
    }
    ~CMp3InDatabase()
    {
        if (m_bSeeded) {
            RegDeleteTreeW(HKEY_CLASSES_ROOT, kKey);
        }
    }

private:
    static constexpr const wchar_t* kKey = L"MIME\\Database\\Content Type\\audio/mpeg";
    bool m_bSeeded = false;
};

TEST(DeleterTest, DeletesAFileAndCountsAMissingOneAsDeleted)
{
    CTempFolder folder;
    const CString file = folder / L"plain.txt";
    WriteTestFile(file, "data");
    CLogCapture log;
    CDeleter deleter(FALSE, TRUE, TRUE);
    BOOL bIgnored = TRUE;

    EXPECT_TRUE(deleter.DeleteFile(file, &bIgnored));
    EXPECT_FALSE(bIgnored);
    EXPECT_FALSE(TestFileExists(file));
    const std::vector<CString> expected = {L"CDeleter::DeleteFile start",
                                           FormatString(L"lpFileName = %s", file.GetString()), L"bResult = true",
                                           L"CDeleter::DeleteFile end"};
    EXPECT_EQ(log.Messages(), expected);

    for (const CString& missing : {file, folder / L"no-folder\\missing.txt"}) {
        log.Clear();
        bIgnored = TRUE;
        EXPECT_TRUE(deleter.DeleteFile(missing, &bIgnored));
        EXPECT_FALSE(bIgnored);
        EXPECT_TRUE(log.HasMessage(FormatString(L"Skipping delete of missing file %s", missing.GetString())));
        EXPECT_FALSE(log.HasMessage(L"CDeleter::DeleteFile end"));
    }
}

TEST(DeleterTest, ReadOnlyFileIsMadeWritableThenDeletedPlainlyOrSecurely)
{
    for (const BOOL bSecure : {FALSE, TRUE}) {
        CTempFolder folder;
        const CString file = folder / L"readonly.txt";
        const CString link = folder / L"link.txt";
        WriteTestFile(file, std::string(1000, 'c'));
        ASSERT_TRUE(SetFileAttributesW(file, FILE_ATTRIBUTE_READONLY));
        ASSERT_TRUE(CreateHardLinkW(link, file, nullptr));
        CDeleter deleter(bSecure, FALSE, FALSE);
        EXPECT_TRUE(deleter.DeleteFile(file)) << "secure " << bSecure;
        EXPECT_FALSE(TestFileExists(file));
        // Random bytes hold a 'c' about 4 times in 1000.
        const std::string left = ReadTestFile(link);
        EXPECT_EQ(std::count(left.begin(), left.end(), 'c') == 1000, !bSecure);
    }
}

TEST(DeleterTest, OwnExecutableIsIgnoredWhateverTheOptionsButOnlyInItsOwnCase)
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
    }
    CString upper = own;
    upper.MakeUpper();
    CDeleter deleter(FALSE, FALSE, FALSE);
    BOOL bIgnored = TRUE;
    EXPECT_FALSE(deleter.DeleteFile(upper, &bIgnored));
    EXPECT_FALSE(bIgnored);
    ASSERT_TRUE(TestFileExists(own));
}

TEST(DeleterTest, WithoutTheInUseOptionsALockedFileJustFails)
{
    CTempFolder folder;
    const CString file = folder / L"locked.txt";
    WriteTestFile(file, "locked");
    CHelperProcess helper;
    ASSERT_TRUE(helper.Start(Hold(file)));
    CLogCapture log;
    CDeleter deleter(FALSE, FALSE, FALSE);
    BOOL bIgnored = TRUE;

    EXPECT_FALSE(deleter.DeleteFile(file, &bIgnored));

    EXPECT_FALSE(bIgnored);
    EXPECT_EQ(log.MessagesContaining(FormatString(L"Failed to delete file %s - ", file.GetString())).size(), 1u);
    EXPECT_TRUE(log.HasMessage(L"bResult = false") && log.HasMessage(L"CDeleter::DeleteFile end"));
    EXPECT_FALSE(InvestigationRan(log));
}

TEST(DeleterTest, FileHeldByAnotherProgramIsIgnoredUnlessItIsMedia)
{
    CMp3InDatabase database;
    CTempFolder folder;
    const CString text = folder / L"page.txt";
    const CString song = folder / L"song.mp3";
    const CString upperSong = folder / L"SONG2.MP3";
    CHelperProcess holders[3];
    int i = 0;
    for (const CString& file : {text, song, upperSong}) {
        WriteTestFile(file, "held");
        ASSERT_TRUE(holders[i++].Start(Hold(file)));
    }
    CLogCapture log;
    CDeleter deleter(FALSE, TRUE, FALSE);

    BOOL bIgnored = FALSE;
    EXPECT_TRUE(deleter.DeleteFile(text, &bIgnored));
    EXPECT_TRUE(bIgnored);
    EXPECT_TRUE(log.HasMessage(FormatString(L"Ignoring delete of file %s opened by process %s", text.GetString(),
                                            CHelperProcess::Path().GetString())));

    EXPECT_FALSE(deleter.DeleteFile(song, &bIgnored));
    EXPECT_FALSE(bIgnored);
    // Wine's database lists ".mp3" under "audio/mpeg" and then "audio/mpg".
    const std::vector<CString> media = log.MessagesContaining(L"Got media MIME type audio/mp");
    ASSERT_EQ(media.size(), 1u);
    EXPECT_EQ(media[0].Right(song.GetLength() + 9), FormatString(L"for file %s", song.GetString()));

    // The database lists ".mp3" in lower case only.
    EXPECT_TRUE(deleter.DeleteFile(upperSong, &bIgnored));
    EXPECT_TRUE(bIgnored);
    EXPECT_EQ(log.MessagesContaining(L"Got media MIME type").size(), 1u);
    EXPECT_TRUE(TestFileExists(text) && TestFileExists(song) && TestFileExists(upperSong));
}

TEST(DeleterTest, FileHeldByThisProgramCountsOnlyWhenOwnFilesAreIgnored)
{
    CTempFolder folder;
    const CString file = folder / L"mine.txt";
    WriteTestFile(file, "mine");
    CHandle hFile(CreateFileW(file, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    CLogCapture log;
    BOOL bIgnored = FALSE;
    EXPECT_TRUE(CDeleter(FALSE, FALSE, TRUE).DeleteFile(file, &bIgnored));
    EXPECT_TRUE(bIgnored);
    EXPECT_TRUE(log.HasMessage(FormatString(L"Ignoring failed delete of own file %s", file.GetString())));

    log.Clear();
    EXPECT_FALSE(CDeleter(FALSE, TRUE, FALSE).DeleteFile(file, &bIgnored));
    EXPECT_FALSE(bIgnored);
    EXPECT_TRUE(log.MessagesContaining(L"Ignoring").empty());
}

TEST(DeleterTest, ImageOfARunningProgramIsAFailure)
{
    CTempFolder folder;
    const CString image = folder / L"running.exe";
    ASSERT_TRUE(CopyFileW(CHelperProcess::Path(), image, FALSE));
    CHelperProcess helper;
    ASSERT_TRUE(helper.StartImage(image, L"idle"));
    CLogCapture log;
    BOOL bIgnored = TRUE;
    EXPECT_FALSE(CDeleter(FALSE, TRUE, FALSE).DeleteFile(image, &bIgnored));
    EXPECT_FALSE(bIgnored);
    EXPECT_TRUE(log.HasMessage(FormatString(L"Found running process for file %s", image.GetString())));
}

TEST(DeleterTest, MediaTypesByPrefixOrWholeName)
{
    for (const wchar_t* pszType : {L"audio/mpeg", L"video/mp4", L"midi/mid", L"application/vnd.rn-realmedia",
                                   L"application/x-itunes-ipa", L"application/pdf", L"application/x-sdp"}) {
        EXPECT_TRUE(CDeleter::IsMediaContentType(pszType)) << CString(pszType).ToUtf8();
    }
    for (const wchar_t* pszType :
         {L"text/plain", L"Audio/mpeg", L"application/pdf2", L"xaudio/mpeg", L"application/vnd.ms-excel"}) {
        EXPECT_FALSE(CDeleter::IsMediaContentType(pszType)) << CString(pszType).ToUtf8();
    }
}

}  // namespace
