#include "cleanup/Deleter.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "cleanup/MimeTypeMap.h"
#include "framework/Handles.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"

TEST(DeleterTest, DeletesReadOnlyFilesPlainlyOrSecurelyAndCountsMissingOnesAsDeleted)
{
    for (const BOOL bSecure : {FALSE, TRUE}) {
        CTempFolder folder;
        const CString file = folder / L"readonly.txt";
        const CString link = folder / L"link.txt";
        WriteTestFile(file, std::string(1000, 'c'));
        ASSERT_TRUE(SetFileAttributesW(file, FILE_ATTRIBUTE_READONLY));
        ASSERT_TRUE(CreateHardLinkW(link, file, nullptr));
        CDeleter deleter(bSecure, TRUE, TRUE);
        for (const CString& path : {file, file, folder / L"no-folder\\missing.txt"}) {
            BOOL bIgnored = TRUE;
            EXPECT_TRUE(deleter.DeleteFile(path, &bIgnored) && !bIgnored) << "secure " << bSecure;
        }
        EXPECT_FALSE(TestFileExists(file));
        // The link shows the file's data: random bytes hold a 'c' about 4 times in 1000.
        const std::string left = ReadTestFile(link);
        EXPECT_EQ(std::count(left.begin(), left.end(), 'c') == 1000, !bSecure);
    }
}

// Files held by another program, by this one, or a running program's image.
TEST(DeleterTest, AFileInUseIsIgnoredOnlyWhenTheOptionsAndItsHolderAllow)
{
    // Wine's database maps ".mp3" once mshtml is registered; else it is seeded.
    const wchar_t* pszMp3Key = L"MIME\\Database\\Content Type\\audio/mpeg";
    const bool bSeeded =
        RegGetValueW(HKEY_CLASSES_ROOT, pszMp3Key, L"Extension", RRF_RT_REG_SZ, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS &&
        RegSetKeyValueW(HKEY_CLASSES_ROOT, pszMp3Key, L"Extension", REG_SZ, L".mp3", 10) == ERROR_SUCCESS;
    enum Holder { kHelper, kThisProgram, kRunningImage, kOwnImage };
    const struct {
        const wchar_t* pszName;
        Holder holder;
        BOOL bCheckInUse, bIgnoreOwn, bResult, bIgnored;
    } cases[] = {
        {L"locked.txt", kHelper, FALSE, FALSE, FALSE, FALSE},  // without the options it just fails
        {L"page.txt", kHelper, TRUE, FALSE, TRUE, TRUE},
        {L"song.mp3", kHelper, TRUE, FALSE, FALSE, FALSE},   // media is a failure
        {L"SONG2.MP3", kHelper, TRUE, FALSE, TRUE, TRUE},    // the database lists ".mp3" in lower case only
        {L"mine.txt", kThisProgram, FALSE, TRUE, TRUE, TRUE},
        {L"mine2.txt", kThisProgram, TRUE, FALSE, FALSE, FALSE},
        {L"running.exe", kRunningImage, TRUE, FALSE, FALSE, FALSE},
        // The program's own image, whatever the options, but only in its own case.
        {L"", kOwnImage, FALSE, FALSE, TRUE, TRUE},
        {L"", kOwnImage, TRUE, FALSE, TRUE, TRUE},
        {L"upper", kOwnImage, FALSE, FALSE, FALSE, FALSE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(CString(c.pszName).ToUtf8());
        CTempFolder folder;
        CString file = folder / c.pszName;
        CHelperProcess helper;
        CHandle hOwn;
        if (c.holder == kOwnImage) {
            file = TestProgramFolder() + (*c.pszName != L'\0' ? L"CLEANUP_TESTS.EXE" : L"cleanup_tests.exe");
        } else if (c.holder == kRunningImage) {
            ASSERT_TRUE(CopyFileW(CHelperProcess::Path(), file, FALSE));
            ASSERT_TRUE(helper.StartImage(file, L"idle"));
        } else {
            WriteTestFile(file, "held");
            if (c.holder == kHelper) {
                ASSERT_TRUE(helper.Start(L"hold-file \"" + file + L"\" none"));
            } else {
                hOwn.reset(CreateFileW(file, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
            }
        }
        CLogCapture log;
        BOOL bIgnored = !c.bIgnored;
        EXPECT_EQ(CDeleter(FALSE, c.bCheckInUse, c.bIgnoreOwn).DeleteFile(file, &bIgnored), c.bResult);
        EXPECT_TRUE(bIgnored == c.bIgnored && TestFileExists(file));
        EXPECT_EQ(log.HasMessage(L"Found running process for file " + file), c.holder == kRunningImage);
    }
    if (bSeeded) {
        RegDeleteTreeW(HKEY_CLASSES_ROOT, pszMp3Key);
    }
}

// Only a direct subkey's "Extension" string names its type; an empty table is read again.
TEST(MimeTypeMapTest, ReadsTheDatabaseOnceItHoldsSomething)
{
    const CString root = FormatString(L"Software\\Nulvane-test-mime-%lu", GetCurrentProcessId());
    CMimeTypeMap map(HKEY_CURRENT_USER, root);
    CString type;
    EXPECT_FALSE(map.Lookup(L".one", type));
    const struct {
        const wchar_t *pszKey, *pszName, *pszExtension;
        DWORD dwType;
    } values[] = {{L"", L"Extension", L".root", REG_SZ},
                  {L"\\audio/x-first", L"Extension", L".one", REG_SZ},
                  {L"\\audio/x-first\\deeper", L"Extension", L".deep", REG_SZ},
                  {L"\\video/x-named", L"extension", L".lower", REG_SZ},
                  {L"\\video/x-binary", L"Extension", L".bin", REG_BINARY}};
    for (const auto& v : values) {
        ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, root + v.pszKey, v.pszName, v.dwType, v.pszExtension,
                                  static_cast<DWORD>(wcslen(v.pszExtension) + 1) * 2),
                  0);
    }
    EXPECT_TRUE(map.Lookup(L".one", type) && type == L"audio/x-first");
    for (const wchar_t* pszMissing : {L".deep", L".root", L".lower", L".bin", L".ONE", L""}) {
        EXPECT_FALSE(map.Lookup(pszMissing, type)) << CString(pszMissing).ToUtf8();
    }
    RegDeleteTreeW(HKEY_CURRENT_USER, root);
}
