#include "cleanup/MimeTypeMap.h"

#include <gtest/gtest.h>

#include "framework/Handles.h"
#include "tests/support/Printers.h"

namespace {

// A database of the test's own under HKEY_CURRENT_USER, removed afterwards.
class CSeededDatabase {
public:
    CSeededDatabase() { m_strRoot.Format(L"Software\\Nulvane-test-mime-%lu", GetCurrentProcessId()); }
    ~CSeededDatabase() { RegDeleteTreeW(HKEY_CURRENT_USER, m_strRoot); }
    CSeededDatabase(const CSeededDatabase&) = delete;
    CSeededDatabase& operator=(const CSeededDatabase&) = delete;

    const CString& Root() const { return m_strRoot; }

    void SetString(const CString& strKey, const wchar_t* pszName, const wchar_t* pszValue)
    {
        CRegKey key = Create(strKey);
        ASSERT_EQ(RegSetValueExW(key.get(), pszName, 0, REG_SZ, reinterpret_cast<const BYTE*>(pszValue),
                                 static_cast<DWORD>((wcslen(pszValue) + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }

    void SetDword(const CString& strKey, const wchar_t* pszName, DWORD dwValue)
    {
        CRegKey key = Create(strKey);
        ASSERT_EQ(RegSetValueExW(key.get(), pszName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwValue),
                                 sizeof(dwValue)),
                  ERROR_SUCCESS);
    }

private:
    CRegKey Create(const CString& strKey)
    {
        const CString path = strKey.IsEmpty() ? m_strRoot : m_strRoot + L"\\" + strKey;
        CRegKey key;
        EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr),
                  ERROR_SUCCESS);
        return key;
    }

    CString m_strRoot;
};

CString Find(CMimeTypeMap& map, const wchar_t* pszExtension)
{
    CString type;
    return map.Lookup(pszExtension, type) ? type : CString(L"(none)");
}

TEST(MimeTypeMapTest, OnlyTheExtensionOfADirectSubkeyNamesItsType)
{
    CSeededDatabase db;
    db.SetString(L"", L"Extension", L".root");
    db.SetString(L"audio/x-first", L"Extension", L".one");
    db.SetString(L"audio/x-first\\deeper", L"Extension", L".deep");
    db.SetString(L"text/x-b", L"Extension", L".shared");
    db.SetString(L"text/x-c", L"Extension", L".shared");
    db.SetString(L"video/x-named", L"extension", L".lower");
    db.SetDword(L"video/x-number", L"Extension", 7);
    db.SetString(L"video/x-other", L"Description", L".description");
    CMimeTypeMap map(HKEY_CURRENT_USER, db.Root());

    EXPECT_EQ(Find(map, L".one"), CString(L"audio/x-first"));
    EXPECT_EQ(Find(map, L".deep"), CString(L"(none)"));
    EXPECT_EQ(Find(map, L".root"), CString(L"(none)"));
    // The key enumerated later wins.
    EXPECT_EQ(Find(map, L".shared"), CString(L"text/x-c"));
    // The value's name is matched exactly, though the registry itself
    // ignores its case.
    EXPECT_EQ(Find(map, L".lower"), CString(L"(none)"));
    EXPECT_EQ(Find(map, L".description"), CString(L"(none)"));
    // Keys are exact: the database lists lower case.
    EXPECT_EQ(Find(map, L".ONE"), CString(L"(none)"));
    EXPECT_EQ(Find(map, L""), CString(L"(none)"));
}

TEST(MimeTypeMapTest, EmptyTableIsFilledAgainButAFilledOneIsKept)
{
    CSeededDatabase db;
    CMimeTypeMap map(HKEY_CURRENT_USER, db.Root());
    EXPECT_EQ(Find(map, L".mp3"), CString(L"(none)"));

    db.SetString(L"audio/mpeg", L"Extension", L".mp3");
    EXPECT_EQ(Find(map, L".mp3"), CString(L"audio/mpeg"));

    db.SetString(L"video/mp4", L"Extension", L".mp4");
    EXPECT_EQ(Find(map, L".mp4"), CString(L"(none)"));
}

}  // namespace
