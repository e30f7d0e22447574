// The Java cache cleaner: where "deployment.properties" puts the cache, and
// the rules of the clean-up that the whole clean-up test does not reach.
#include "stores/JavaFiles.h"
#include "stores/JavaProperties.h"

#include <gtest/gtest.h>

#include "cleanup/Deleter.h"
#include "tests/stores/JavaDeployment.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"

namespace {

const CString kDeployment = L"C:\\Users\\u\\AppData\\Roaming\\Sun\\Java\\Deployment\\";
const CString kDefault = kDeployment + L"cache";

}  // namespace

TEST(JavaFiles, TheCacheFolderIsReadAsTheJavaRuntimeWritesIt)
{
    const std::pair<std::string, CString> cases[] = {
        {"deployment.user.cachedir=C\\:\\\\Users\\\\me\\\\cache\n", L"C:\\Users\\me\\cache"},
        // Relative to the deployment folder.
        {"deployment.user.cachedir=$USER_HOME\\\\cache2\n", kDeployment + L"cache2"},
        {"   deployment.user.cachedir  :  E\\:\\\\j  \r\nother=1\r\n", L"E:\\j"},
        {"deployment.user.cachedir=C:/a/b/../c/./d/\n", L"C:\\a\\c\\d"},
        {"deployment.user.cachedir=C\\:\\\\Users\\\\\\u0418\\u0432\\u0430\\u043d\\\\c\n",
         L"C:\\Users\\\x0418\x0432\x0430\x043D\\c"},
        {"deployment.user.cachedir=\\\\\\\\server\\\\share\\\\cache\n", L"\\\\server\\share\\cache"},
        // A later setting wins; one that names no usable folder does not.
        {"deployment.user.cachedir=C\\:\\\\first\ndeployment.user.cachedir=C\\:\\\\second\n", L"C:\\second"},
        {"deployment.user.cachedir=C\\:\\\\first\ndeployment.user.cachedir=relative\\\\dir\n", L"C:\\first"},
        // Nothing that names no folder, or one whose files are all the user's.
        {"#deployment.user.cachedir=C\\:\\\\commented\n", kDefault},
        {"deployment.user.cachedir.locked\n", kDefault},
        {"deployment.user.cachedirectory=C\\:\\\\other\n", kDefault},
        {"deployment.user.cachedir=\n", kDefault},
        {"deployment.user.cachedir=C\\:\\\\\n", kDefault},
        {"deployment.user.cachedir=C\\:\\\\a\\\\..\n", kDefault},
        {"deployment.user.cachedir=\\\\\\\\server\\\\share\n", kDefault},
        {"deployment.user.cachedir=C\\:\\\\" + std::string(300, 'x') + "\n", kDefault},
        {"", kDefault},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(CJavaFiles::CacheFolderFromProperties(text, kDeployment, kDefault), expected) << text;
    }
    // Keys of odd length, every hex digit, an escape that starts the value.
    const std::vector<CJavaProperties::CEntry> entries = CJavaProperties::Parse("odd=\\u0039\\u00e91\\\\x\n");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].strKey, L"odd");
    EXPECT_EQ(entries[0].strValue, L"9\u00e91\\x");
}

TEST(JavaFiles, TheRealPropertiesFileMovesTheCacheAndOnlyTheSessionsFilesAndFoldersGo)
{
    const CString properties = CDeploymentProperties::Path();
    const CString byDefault = properties.Left(properties.ReverseFind(L'\\')) + L"\\cache";
    CDeleter deleter(FALSE, FALSE, FALSE);
    // Without an application data folder nothing is recorded or touched.
    CJavaFiles none(L"");
    none.SetDeleter(&deleter);
    EXPECT_FALSE(none.SnapshotCache());
    EXPECT_TRUE(none.GetStartSet().IsEmpty() && none.RunBackgroundTask());

    CTempFolder moved;
    const CString cache = moved / L"cache";
    CDeploymentProperties written("#deployment.properties\ndeployment.user.cachedir=" + AsPropertyValue(cache) +
                                 "\ndeployment.version=6.0\n");
    {
        // A properties file another program holds without sharing: the default stays.
        CHelperProcess holder;
        ASSERT_TRUE(holder.Start(L"hold-file \"" + properties + L"\" none"));
        EXPECT_EQ(CJavaFiles().GetCacheFolder(), byDefault);
    }
    CJavaFiles java;
    ASSERT_EQ(java.GetCacheFolder(), cache);
    java.SetDeleter(&deleter);
    const CString jar = cache + L"\\6.0\\12\\applet.jar";
    WriteTestFile(jar, "applet");
    ASSERT_TRUE(java.SnapshotCache());

    // The session changes a file of the start and adds others: in new folders, in the
    // cache folder itself, beside a new empty folder.
    WriteTestFile(jar, "the session's version of the applet");
    const std::vector<CString> added = {cache + L"\\6.0\\new\\deep\\c.class", cache + L"\\top.tmp",
                                        cache + L"\\mixed\\e.jar"};
    for (const CString& path : added) {
        WriteTestFile(path, "session");
    }
    CreateTestFolders(cache + L"\\mixed\\empty");
    // One of them held open by another program: the run fails, the next one succeeds.
    {
        CHelperProcess holder;
        ASSERT_TRUE(holder.Start(L"hold-file \"" + added[0] + L"\" none"));
        EXPECT_FALSE(java.RunBackgroundTask());
        EXPECT_TRUE(TestFileExists(added[0]) && !TestFileExists(added[1]));
    }
    ASSERT_TRUE(java.RunBackgroundTask());
    EXPECT_EQ(ReadTestFile(jar), "the session's version of the applet");
    for (const CString& path : added) {
        EXPECT_FALSE(TestFileExists(path)) << path.ToUtf8();
    }
    EXPECT_TRUE(!TestFileExists(cache + L"\\6.0\\new") && TestFileExists(cache + L"\\mixed\\empty"));

    // A cache that the clean-up empties keeps its own folder; a folder the
    // session did not empty is not the clean-up's to remove.
    ASSERT_TRUE(DeleteFileW(jar));
    ASSERT_TRUE(java.SnapshotCache());
    WriteTestFile(cache + L"\\only\\f.jar", "f");
    ASSERT_TRUE(java.RunBackgroundTask());
    EXPECT_FALSE(TestFileExists(cache + L"\\only"));
    EXPECT_TRUE(TestFileExists(cache) && TestFileExists(cache + L"\\6.0\\12"));
}
