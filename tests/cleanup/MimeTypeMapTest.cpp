#include "cleanup/MimeTypeMap.h"

#include <gtest/gtest.h>

#include "framework/Handles.h"
#include "tests/support/Printers.h"

namespace {

// A database of the test's own under HKEY_CURRENT_USER, removed afterwards.
struct CSeededDatabase {
    CString strRoot = FormatString(L"Software\\Nulvane-test-mime-%lu", GetCurrentProcessId());
    ~CSeededDatabase() { RegDeleteTreeW(HKEY_CURRENT_USER, strRoot); }

    void Set(const wchar_t* pszKey, const wchar_t* pszName, const wchar_t* pszValue, DWORD dwType = REG_SZ)
    {
        CRegKey key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, *pszKey ? strRoot + L"\\" + pszKey : strRoot, 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, key.put(), nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(key.get(), pszName, 0, dwType, reinterpret_cast<const BYTE*>(pszValue),
                                 static_cast<DWORD>((wcslen(pszValue) + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }
};

CString Find(CMimeTypeMap& map, const wchar_t* pszExtension)
{
    CString type;
    return map.Lookup(pszExtension, type) ? type : CString(L"(none)");
}

TEST(MimeTypeMapTest, OnlyTheExtensionOfADirectSubkeyNamesItsType)
{
    CSeededDatabase db;
    db.Set(L"", L"Extension", L".root");
    db.Set(L"audio/x-first", L"Extension", L".one");
    db.Set(L"audio/x-first\\deeper", L"Extension", L".deep");
    db.Set(L"text/x-b", L"Extension", L".shared");
    db.Set(L"text/x-c", L"Extension", L".shared");
    db.Set(L"video/x-named", L"extension", L".lower");
    db.Set(L"video/x-binary", L"Extension", L".bin", REG_BINARY);
    CMimeTypeMap map(HKEY_CURRENT_USER, db.strRoot);

    EXPECT_EQ(Find(map, L".one"), CString(L"audio/x-first"));
    EXPECT_EQ(Find(map, L".shared"), CString(L"text/x-c"));  // enumerated later
    for (const wchar_t* pszMissing : {L".deep", L".root", L".lower", L".bin", L".ONE", L""}) {
        EXPECT_EQ(Find(map, pszMissing), CString(L"(none)")) << CString(pszMissing).ToUtf8();
    }
}

TEST(MimeTypeMapTest, EmptyTableIsFilledAgainButAFilledOneIsKept)
{
    CSeededDatabase db;
    CMimeTypeMap map(HKEY_CURRENT_USER, db.strRoot);
    EXPECT_EQ(Find(map, L".mp3"), CString(L"(none)"));
    db.Set(L"audio/mpeg", L"Extension", L".mp3");
    EXPECT_EQ(Find(map, L".mp3"), CString(L"audio/mpeg"));
    db.Set(L"video/mp4", L"Extension", L".mp4");
    EXPECT_EQ(Find(map, L".mp4"), CString(L"(none)"));
}

}  // namespace
