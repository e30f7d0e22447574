#include "app/Config.h"

#include <shlwapi.h>
#include <xmllite.h>

#include <gtest/gtest.h>

#include "framework/Handles.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"

namespace {

// The file read back through XmlLite, a parser apart from the DOM document
// that wrote it, as "name[attr=value]{children}" with attributes in order.
CString ParseIndependently(const CString& strPath)
{
    CLibrary xmllite(LoadLibraryW(L"xmllite.dll"));
    using CreateReader = HRESULT(WINAPI*)(REFIID, void**, IMalloc*);
    auto pfnCreate = reinterpret_cast<CreateReader>(GetProcAddress(xmllite.get(), "CreateXmlReader"));
    if (pfnCreate == nullptr) {
        return L"<no xmllite>";
    }
    CComPtr<IStream> stream;
    if (FAILED(SHCreateStreamOnFileW(strPath, STGM_READ | STGM_SHARE_DENY_NONE, stream.put()))) {
        return L"<cannot open>";
    }
    CComPtr<IXmlReader> reader;
    if (FAILED(pfnCreate(__uuidof(IXmlReader), reader.put_void(), nullptr)) || FAILED(reader->SetInput(stream.get()))) {
        return L"<no reader>";
    }
    CString tree;
    XmlNodeType type;
    HRESULT hr;
    while ((hr = reader->Read(&type)) == S_OK) {
        const wchar_t* pszName = nullptr;
        if (type == XmlNodeType_Element) {
            reader->GetLocalName(&pszName, nullptr);
            tree += pszName;
            for (HRESULT a = reader->MoveToFirstAttribute(); a == S_OK; a = reader->MoveToNextAttribute()) {
                const wchar_t* pszValue = nullptr;
                reader->GetLocalName(&pszName, nullptr);
                reader->GetValue(&pszValue, nullptr);
                tree += CString(L"[") + pszName + L"=" + pszValue + L"]";
            }
            reader->MoveToElement();
            if (reader->IsEmptyElement()) {
                tree += L"{}";
            } else {
                tree += L"{";
            }
        } else if (type == XmlNodeType_EndElement) {
            tree += L"}";
        } else if (type == XmlNodeType_Text) {
            const wchar_t* pszValue = nullptr;
            reader->GetValue(&pszValue, nullptr);
            tree += CString(L"'") + pszValue + L"'";
        }
    }
    if (FAILED(hr)) {
        return L"<not well-formed>";
    }
    return tree;
}

// Wine reports every regular file as FILE_ATTRIBUTE_ARCHIVE, whatever was
// set; the other attributes are exact.
DWORD AttributesOf(const CString& strPath)
{
    return GetFileAttributesW(strPath) & ~static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE);
}

CString Expected(const wchar_t* pszSettings)
{
    return CString(L"configuration{appSettings{") + pszSettings + L"}bookmarks{}}";
}

FILETIME LastWrite(const CString& strPath)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExW(strPath, GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

void SetLastWrite(const CString& strPath, FILETIME time)
{
    CHandle file(CreateFileW(strPath, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file.valid());
    ASSERT_TRUE(SetFileTime(file.get(), nullptr, nullptr, &time));
}

// Each test runs in a fresh current directory, where the store lives.
class Config : public testing::Test {
protected:
    void SetUp() override
    {
        const DWORD cch = GetCurrentDirectoryW(MAX_PATH, m_previous);
        ASSERT_GT(cch, 0u);
        ASSERT_TRUE(SetCurrentDirectoryW(m_folder.Path()));
    }
    void TearDown() override
    {
        SetCurrentDirectoryW(m_previous);
        // The hidden, maybe read-only file must not stop the clean-up.
        SetFileAttributesW(File(), FILE_ATTRIBUTE_NORMAL);
    }
    CString File() const { return m_folder / L"Nulvane.config"; }

    CTempFolder m_folder;
    wchar_t m_previous[MAX_PATH] = {};
};

}  // namespace

TEST_F(Config, TheFirstSettingCreatesTheHiddenFileFromTheDefaultDocument)
{
    {
        CConfig config;
        config.SetValue(L"secureDelete", L"true");
        EXPECT_EQ(config.GetPath(), File());
    }
    EXPECT_EQ(AttributesOf(File()), static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(ParseIndependently(File()), Expected(L"add[key=secureDelete][value=true]{}"));
    EXPECT_NE(ReadTestFile(File()).find("<?xml version=\"1.0\"?>"), std::string::npos);

    CConfig reader;
    CString value;
    ASSERT_TRUE(reader.GetValue(L"secureDelete", value));
    EXPECT_EQ(value, L"true");
    EXPECT_FALSE(reader.GetValue(L"other", value));
}

TEST_F(Config, ANewValueReplacesTheOldOneInPlaceAndAnEqualOneIsNotSaved)
{
    CConfig config;
    config.SetValue(L"secureDelete", L"true");
    config.SetValue(L"secureDelete", L"false");
    EXPECT_EQ(ParseIndependently(File()), Expected(L"add[key=secureDelete][value=false]{}"));
    // Saved over the hidden file, and hidden again.
    EXPECT_EQ(AttributesOf(File()), static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN));
    config.SetValue(L"other", L"1");
    EXPECT_EQ(ParseIndependently(File()),
              Expected(L"add[key=secureDelete][value=false]{}add[key=other][value=1]{}"));

    // A value equal ignoring case, an empty key or value: not written.
    const std::string before = ReadTestFile(File());
    const FILETIME old = {0x12345678, 0x01C00000};
    SetLastWrite(File(), old);
    config.SetValue(L"secureDelete", L"FALSE");
    config.SetValue(L"secureDelete", L"");
    config.SetValue(L"", L"true");
    const FILETIME after = LastWrite(File());
    EXPECT_EQ(CompareFileTime(&after, &old), 0) << "the file was written again";
    EXPECT_EQ(ReadTestFile(File()), before);
}

TEST_F(Config, ReadingAMissingFileOrSettingNothingCreatesNothing)
{
    CConfig empty;
    empty.SetValue(L"secureDelete", L"");
    empty.SetValue(L"", L"true");
    EXPECT_FALSE(TestFileExists(File()));

    CConfig config;
    CString value = L"untouched";
    EXPECT_FALSE(config.GetValue(L"secureDelete", value));
    EXPECT_EQ(value, L"untouched");
    EXPECT_FALSE(TestFileExists(File()));
    EXPECT_EQ(config.GetPath(), File());
    // The store still writes afterwards.
    config.SetValue(L"secureDelete", L"true");
    EXPECT_EQ(ParseIndependently(File()), Expected(L"add[key=secureDelete][value=true]{}"));
}

TEST_F(Config, ACorruptFileIsReplacedByTheDefaultDocumentAndTheSetting)
{
    for (const char* damaged : {"<configuration><appSettings><add key=", "\xFF\xFE\x00garbage\x01", ""}) {
        SetFileAttributesW(File(), FILE_ATTRIBUTE_NORMAL);
        WriteTestFile(File(), damaged);
        CConfig config;
        CString value;
        EXPECT_FALSE(config.GetValue(L"secureDelete", value));
        config.SetValue(L"secureDelete", L"true");
        EXPECT_EQ(ParseIndependently(File()), Expected(L"add[key=secureDelete][value=true]{}"));
        EXPECT_EQ(AttributesOf(File()), static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN));
    }
}

TEST_F(Config, KeepsTheSettingsAndShapeOfAnExistingFile)
{
    WriteTestFile(File(),
                  "<?xml version=\"1.0\"?>\r\n<configuration><appSettings><add key=\"homePage\" value=\"about:blank\"/>"
                  "</appSettings><bookmarks></bookmarks></configuration>\r\n");
    CConfig config;
    CString value;
    ASSERT_TRUE(config.GetValue(L"homePage", value));
    EXPECT_EQ(value, L"about:blank");
    config.SetValue(L"secureDelete", L"false");
    EXPECT_EQ(ParseIndependently(File()),
              Expected(L"add[key=homePage][value=about:blank]{}add[key=secureDelete][value=false]{}"));
}

TEST_F(Config, KeysWithQuotesAreFoundAgainOrRefused)
{
    CLogCapture capture;
    CConfig config;
    config.SetValue(L"it's", L"a");
    config.SetValue(L"it's", L"b");
    CString value;
    ASSERT_TRUE(config.GetValue(L"it's", value));
    EXPECT_EQ(value, L"b");
    EXPECT_EQ(ParseIndependently(File()), Expected(L"add[key=it's][value=b]{}"));
    // No XPath literal holds both quotes: nothing is written.
    config.SetValue(L"both'\"", L"x");
    EXPECT_FALSE(config.GetValue(L"both'\"", value));
    EXPECT_EQ(ParseIndependently(File()), Expected(L"add[key=it's][value=b]{}"));
    EXPECT_FALSE(capture.MessagesContaining(L"cannot be stored").empty());
}

TEST_F(Config, AFailedSaveLeavesTheFileAsItWas)
{
    const std::string original =
        "<configuration><appSettings><add key=\"secureDelete\" value=\"true\"/></appSettings></configuration>";
    WriteTestFile(File(), original);
    ASSERT_TRUE(SetFileAttributesW(File(), FILE_ATTRIBUTE_HIDDEN));
    // Another process holds the file open, letting others only read it.
    CHelperProcess holder;
    ASSERT_TRUE(holder.Start(L"hold-file \"" + File() + L"\" read"));
    CLogCapture capture;
    CConfig config;
    CString value;
    ASSERT_TRUE(config.GetValue(L"secureDelete", value));
    config.SetValue(L"secureDelete", L"false");
    holder.Stop();
    EXPECT_EQ(ReadTestFile(File()), original);
    EXPECT_EQ(AttributesOf(File()), static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN));
    EXPECT_FALSE(capture.MessagesContaining(L"CConfig::Save() cannot save").empty());
}

TEST_F(Config, WorksOnAThreadAlreadyInTheMultithreadedApartment)
{
    CComInitializer com(COINIT_MULTITHREADED);
    ASSERT_TRUE(com.Succeeded());
    {
        CConfig config;
        config.SetValue(L"secureDelete", L"true");
    }
    EXPECT_EQ(ParseIndependently(File()), Expected(L"add[key=secureDelete][value=true]{}"));
}
