#include "framework/Registry.h"

#include <gtest/gtest.h>

#include "framework/Handles.h"
#include "tests/support/Printers.h"

namespace {

class Registry : public testing::Test {
protected:
    void SetUp() override
    {
        m_strScratch.Format(L"Software\\NulvaneTests\\Registry-%lu", GetCurrentProcessId());
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, m_strScratch, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  m_key.put(), nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override
    {
        m_key.reset();
        RegDeleteTreeW(HKEY_CURRENT_USER, m_strScratch);
        RegDeleteKeyW(HKEY_CURRENT_USER, m_strScratch);
    }
    void SetRaw(const wchar_t* pszName, DWORD dwType, const void* pData, DWORD cb)
    {
        ASSERT_EQ(RegSetValueExW(m_key.get(), pszName, 0, dwType, static_cast<const BYTE*>(pData), cb), ERROR_SUCCESS);
    }

    CString m_strScratch;
    CRegKey m_key;
};

}  // namespace

TEST_F(Registry, ReadsLongAndMalformedValuesSafelyOrRefusesThem)
{
    const CRegistry registry(m_key.get());
    const CString strLong(L'x', 3000);  // past the first read buffer
    EXPECT_EQ(registry.WriteString(L"a\\b", nullptr, strLong), ERROR_SUCCESS);
    const wchar_t szUnterminated[] = L"abc";
    SetRaw(L"odd", REG_SZ, szUnterminated, 5);  // "ab" and half a character, no terminator
    SetRaw(L"embedded", REG_SZ, L"ab\0cd", 12);
    SetRaw(L"binary", REG_BINARY, "abcd", 4);
    SetRaw(L"short", REG_DWORD, "ab", 2);
    CString strValue = L"unchanged";
    DWORD dwValue = 7;
    EXPECT_EQ(registry.ReadString(L"a\\b", L"", strValue), ERROR_SUCCESS);
    EXPECT_EQ(strValue, strLong);
    EXPECT_EQ(registry.ReadString(L"", L"odd", strValue), ERROR_SUCCESS);
    EXPECT_EQ(strValue, L"ab");
    EXPECT_EQ(registry.ReadString(L"", L"embedded", strValue), ERROR_SUCCESS);
    EXPECT_EQ(strValue, L"ab");
    strValue = L"unchanged";
    EXPECT_EQ(registry.ReadString(L"", L"binary", strValue), ERROR_INVALID_DATA);
    EXPECT_EQ(registry.ReadString(L"", L"missing", strValue), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(registry.ReadString(L"nokey", L"odd", strValue), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(strValue, L"unchanged");
    EXPECT_EQ(registry.ReadDword(L"", L"short", dwValue), ERROR_INVALID_DATA);
    EXPECT_EQ(registry.ReadDword(L"", L"odd", dwValue), ERROR_INVALID_DATA);
    EXPECT_EQ(dwValue, 7u);
}
