#include "app/Config.h"

#include <gtest/gtest.h>

#include "framework/Handles.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"

namespace {

// A fresh current directory, where the store lives.
class Config : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_GT(GetCurrentDirectoryW(MAX_PATH, m_previous), 0u);
        ASSERT_TRUE(SetCurrentDirectoryW(m_folder.Path()));
    }
    void TearDown() override
    {
        SetCurrentDirectoryW(m_previous);
        // The hidden, maybe read-only file must not stop the clean-up.
        SetFileAttributesW(File(), FILE_ATTRIBUTE_NORMAL);
    }
    CString File() const { return m_folder / L"Nulvane.config"; }
    // What a fresh store reads from the file; "-" when it holds no value.
    static CString Read(const wchar_t* pszKey)
    {
        CConfig config;
        CString value = L"-";
        return config.GetValue(pszKey, value) ? value : CString(L"-");
    }
    // Wine reports every regular file as archive, whatever was set.
    DWORD Attributes() const { return GetFileAttributesW(File()) & ~static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE); }

    CTempFolder m_folder;
    wchar_t m_previous[MAX_PATH] = {};
};

}  // namespace

TEST_F(Config, SettingsGoToAHiddenFileThatAFreshStoreReadsBack)
{
    CConfig config;
    CString value = L"untouched";
    EXPECT_FALSE(config.GetValue(L"secureDelete", value));
    EXPECT_EQ(value, L"untouched");
    config.SetValue(L"secureDelete", L"");
    config.SetValue(L"", L"true");
    EXPECT_FALSE(TestFileExists(File()));

    config.SetValue(L"secureDelete", L"true");
    EXPECT_EQ(Attributes(), static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(Read(L"secureDelete"), L"true");
    // A new value replaces the old one in place; saved over the hidden file.
    config.SetValue(L"secureDelete", L"false");
    config.SetValue(L"it's", L"a");
    config.SetValue(L"it's", L"b");
    EXPECT_EQ(Read(L"secureDelete"), L"false");
    EXPECT_EQ(Read(L"it's"), L"b");
    const std::string text = ReadTestFile(File());
    EXPECT_EQ(text.find("secureDelete"), text.rfind("secureDelete"));
    EXPECT_EQ(Attributes(), static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN));

    // A value equal ignoring case, an empty one, a key no XPath literal holds: no change.
    config.SetValue(L"secureDelete", L"FALSE");
    config.SetValue(L"secureDelete", L"");
    config.SetValue(L"both'\"", L"x");
    EXPECT_EQ(ReadTestFile(File()), text);

    // A save while another process holds the file (sharing only reading) changes nothing.
    CHelperProcess holder;
    ASSERT_TRUE(holder.Start(L"hold-file \"" + File() + L"\" read"));
    EXPECT_EQ(Read(L"secureDelete"), L"false");
    config.SetValue(L"secureDelete", L"true");
    holder.Stop();
    EXPECT_EQ(ReadTestFile(File()), text);
    EXPECT_EQ(Attributes(), static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN));
}

TEST_F(Config, ACorruptFileGivesWayToTheDefaultDocumentAndAGoodOneKeepsItsSettings)
{
    // Also on a thread already in the multithreaded apartment.
    CComInitializer com(COINIT_MULTITHREADED);
    ASSERT_TRUE(com.Succeeded());
    const std::string good = "<?xml version=\"1.0\"?>\r\n<configuration><appSettings><add key=\"homePage\" "
                             "value=\"about:blank\"/></appSettings><bookmarks></bookmarks></configuration>\r\n";
    for (const std::string& content : {std::string("<configuration><appSettings><add key="),
                                       std::string("\xFF\xFE\x00garbage\x01", 11), std::string(), good}) {
        SetFileAttributesW(File(), FILE_ATTRIBUTE_NORMAL);
        WriteTestFile(File(), content);
        {
            CConfig config;
            config.SetValue(L"secureDelete", L"true");
        }
        EXPECT_EQ(Read(L"secureDelete"), L"true");
        EXPECT_EQ(Read(L"homePage"), content == good ? L"about:blank" : L"-");
        EXPECT_NE(ReadTestFile(File()).find("<bookmarks"), std::string::npos);
        EXPECT_EQ(Attributes(), static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN));
    }
}
