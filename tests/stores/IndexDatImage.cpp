#include "tests/stores/IndexDatImage.h"

#include <gtest/gtest.h>

#include "tests/support/TestFiles.h"

CIndexDatImage::CIndexDatImage(const std::vector<std::string>& directories)
{
    m_bytes.assign(kRecordArea, '\0');
    PutBytes(0, std::string("Client UrlCache MMF Ver 5.2") + '\0');
    Put32(0x20, kRecordArea);
    Put32(0x48, static_cast<DWORD>(directories.size()));
    for (size_t i = 0; i < directories.size(); ++i) {
        const DWORD entry = 0x4C + static_cast<DWORD>(i) * 12;
        Put32(entry, 1);
        PutBytes(entry + 4, directories[i].substr(0, 8));
    }
    AddRecord("HASH", 1, 0, '\x03');
}

DWORD CIndexDatImage::Append(DWORD dwBlocks, char fill)
{
    const auto offset = static_cast<DWORD>(m_bytes.size());
    m_bytes.append(static_cast<size_t>(dwBlocks) * 128, fill);
    return offset;
}

DWORD CIndexDatImage::AddBlocks(DWORD dwBlocks, char fill)
{
    return Append(dwBlocks, fill);
}

DWORD CIndexDatImage::AddRecord(const char* pszType, DWORD dwBlocks, DWORD dwFirstWord, char fill)
{
    const DWORD offset = Append(dwBlocks == 0 ? 1 : dwBlocks, fill);
    PutBytes(offset, std::string(pszType, 4));
    Put32(offset + 4, dwBlocks);
    Put32(offset + 8, dwFirstWord);
    return offset;
}

DWORD CIndexDatImage::AddUrl(const char* pszType, DWORD dwBlocks, uint64_t ullLastAccess, BYTE directory,
                             const std::string& url, const std::string& fileName)
{
    const DWORD offset = AddRecord(pszType, dwBlocks, 0, '\0');
    Put32(offset + 0x10, static_cast<DWORD>(ullLastAccess));
    Put32(offset + 0x14, static_cast<DWORD>(ullLastAccess >> 32));
    Put8(offset + 0x38, directory);
    PutBytes(offset + 0x68, url + '\0');
    if (!fileName.empty()) {
        const auto nameOffset = static_cast<DWORD>(0x68 + url.size() + 1);
        Put32(offset + 0x3C, nameOffset);
        PutBytes(offset + nameOffset, fileName + '\0');
    }
    return offset;
}

void CIndexDatImage::MarkBlocks(DWORD dwOffset, DWORD dwBlocks, bool bAllocated)
{
    // One bit per 128-byte block from 0x4000 on, in the bytes from 0x250.
    for (DWORD i = 0; i < dwBlocks; ++i) {
        const DWORD block = (dwOffset - kRecordArea) / 128 + i;
        const DWORD at = 0x250 + block / 8;
        const BYTE bit = static_cast<BYTE>(1u << (block % 8));
        ASSERT_LT(at, kRecordArea);
        m_bytes[at] = static_cast<char>(bAllocated ? (m_bytes[at] | bit) : (m_bytes[at] & ~bit));
    }
}

void CIndexDatImage::Put32(DWORD dwOffset, DWORD dwValue)
{
    for (int i = 0; i < 4; ++i) {
        Put8(dwOffset + static_cast<DWORD>(i), static_cast<BYTE>(dwValue >> (8 * i)));
    }
}

void CIndexDatImage::Put8(DWORD dwOffset, BYTE value)
{
    ASSERT_LT(dwOffset, m_bytes.size());
    m_bytes[dwOffset] = static_cast<char>(value);
}

void CIndexDatImage::PutBytes(DWORD dwOffset, const std::string& bytes)
{
    ASSERT_LE(dwOffset + bytes.size(), m_bytes.size());
    m_bytes.replace(dwOffset, bytes.size(), bytes);
}

void CIndexDatImage::WriteTo(const CString& strPath) const
{
    WriteTestFile(strPath, m_bytes);
}

uint64_t FileTimeOf(int64_t unixSeconds)
{
    return static_cast<uint64_t>(unixSeconds) * 10000000ULL + 116444736000000000ULL;
}

::testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected)
{
    if (actual == expected) {
        return ::testing::AssertionSuccess();
    }
    size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) {
        ++at;
    }
    return ::testing::AssertionFailure() << "lengths " << actual.size() << " and " << expected.size()
                                         << ", first difference at 0x" << std::hex << at;
}
