#include "cleanup/Deleter.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "cleanup/MimeTypeMap.h"
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

// Sets a string (or other) value, creating its key under HKEY_CURRENT_USER.
void SetValue(const CString& strKey, const wchar_t* pszName, const wchar_t* pszValue, DWORD dwType = REG_SZ)
{
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, strKey, pszName, dwType, pszValue,
                              static_cast<DWORD>((wcslen(pszValue) + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
}

CString Find(CMimeTypeMap& map, const wchar_t* pszExtension)
{
    CString type;
    return map.Lookup(pszExtension, type) ? type : CString(L"(none)");
}

}  // namespace

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
            EXPECT_TRUE(deleter.DeleteFile(path, &bIgnored)) << "secure " << bSecure;
            EXPECT_FALSE(bIgnored);
        }
        EXPECT_FALSE(TestFileExists(file));
        // The link shows the file's data: random bytes hold a 'c' about 4 times in 1000.
        const std::string left = ReadTestFile(link);
        EXPECT_EQ(std::count(left.begin(), left.end(), 'c') == 1000, !bSecure);
    }
}

TEST(DeleterTest, OwnExecutableIsIgnoredWhateverTheOptionsButOnlyInItsOwnCase)
{
    const CString own = OwnModulePath();
    for (const BOOL bCheckInUse : {FALSE, TRUE}) {
        BOOL bIgnored = FALSE;
        EXPECT_TRUE(CDeleter(FALSE, bCheckInUse, FALSE).DeleteFile(own, &bIgnored));
        EXPECT_TRUE(bIgnored);
    }
    CString upper = own;
    upper.MakeUpper();
    BOOL bIgnored = TRUE;
    EXPECT_FALSE(CDeleter(FALSE, FALSE, FALSE).DeleteFile(upper, &bIgnored));
    EXPECT_FALSE(bIgnored);
    ASSERT_TRUE(TestFileExists(own));
}

// Files that cannot be deleted because a process holds them: another program
// (the test helper), this program, or a running program's own image.
TEST(DeleterTest, AFileInUseIsIgnoredOnlyWhenTheOptionsAndItsHolderAllow)
{
    // Wine's database maps ".mp3" to an audio type once mshtml is registered
    // in the prefix; where it is not, it is seeded for the test.
    const wchar_t* pszMp3Key = L"MIME\\Database\\Content Type\\audio/mpeg";
    const bool bSeeded =
        RegGetValueW(HKEY_CLASSES_ROOT, pszMp3Key, L"Extension", RRF_RT_REG_SZ, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS &&
        RegSetKeyValueW(HKEY_CLASSES_ROOT, pszMp3Key, L"Extension", REG_SZ, L".mp3", 10) == ERROR_SUCCESS;
    enum Holder { kHelper, kThisProgram, kRunningImage };
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
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(CString(c.pszName).ToUtf8());
        CTempFolder folder;
        const CString file = folder / c.pszName;
        CHelperProcess helper;
        CHandle hOwn;
        if (c.holder == kRunningImage) {
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
        EXPECT_EQ(bIgnored, c.bIgnored);
        EXPECT_TRUE(TestFileExists(file));
        EXPECT_EQ(log.HasMessage(L"Found running process for file " + file), c.holder == kRunningImage);
    }
    if (bSeeded) {
        RegDeleteTreeW(HKEY_CLASSES_ROOT, pszMp3Key);
    }
}

// Only the "Extension" string of a direct subkey names its type. An empty
// table is filled again at the next question, a filled one is kept.
TEST(MimeTypeMapTest, ReadsTheDatabaseOnceItHoldsSomething)
{
    const CString root = FormatString(L"Software\\Nulvane-test-mime-%lu", GetCurrentProcessId());
    CMimeTypeMap map(HKEY_CURRENT_USER, root);
    EXPECT_EQ(Find(map, L".one"), CString(L"(none)"));
    SetValue(root, L"Extension", L".root");
    SetValue(root + L"\\audio/x-first", L"Extension", L".one");
    SetValue(root + L"\\audio/x-first\\deeper", L"Extension", L".deep");
    SetValue(root + L"\\text/x-b", L"Extension", L".shared");
    SetValue(root + L"\\text/x-c", L"Extension", L".shared");
    SetValue(root + L"\\video/x-named", L"extension", L".lower");
    SetValue(root + L"\\video/x-binary", L"Extension", L".bin", REG_BINARY);

    EXPECT_EQ(Find(map, L".one"), CString(L"audio/x-first"));
    EXPECT_EQ(Find(map, L".shared"), CString(L"text/x-c"));  // enumerated later
    for (const wchar_t* pszMissing : {L".deep", L".root", L".lower", L".bin", L".ONE", L""}) {
        EXPECT_EQ(Find(map, pszMissing), CString(L"(none)")) << CString(pszMissing).ToUtf8();
    }
    SetValue(root + L"\\video/mp4", L"Extension", L".mp4");
    EXPECT_EQ(Find(map, L".mp4"), CString(L"(none)"));
    RegDeleteTreeW(HKEY_CURRENT_USER, root);
}
