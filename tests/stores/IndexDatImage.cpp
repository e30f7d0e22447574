#include "tests/stores/IndexDatImage.h"

#include "tests/support/TestFiles.h"

CIndexDatImage::CIndexDatImage(const std::vector<std::string>& directories) : m_bytes(kRecordArea, '\0')
{
    PutBytes(0, std::string("Client UrlCache MMF Ver 5.2") + '\0');
    Put32(0x20, kRecordArea);
    Put32(0x48, static_cast<DWORD>(directories.size()));
    for (DWORD i = 0; i < directories.size(); ++i) {
        Put32(0x4C + i * 12, 1);
        PutBytes(0x50 + i * 12, directories[i].substr(0, 8));
    }
    AddRecord("HASH", 1, 0, '\x03');
}

DWORD CIndexDatImage::AddRecord(const char* pszType, DWORD dwBlocks, DWORD dwFirstWord, char fill)
{
    const DWORD offset = AddBlocks(dwBlocks == 0 ? 1 : dwBlocks, fill);
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
    PutBytes(offset + 0x38, std::string(1, static_cast<char>(directory)));
    PutBytes(offset + 0x68, url + '\0');
    if (!fileName.empty()) {
        const auto nameOffset = static_cast<DWORD>(0x68 + url.size() + 1);
        Put32(offset + 0x3C, nameOffset);
        PutBytes(offset + nameOffset, fileName + '\0');
    }
    return offset;
}

DWORD CIndexDatImage::AddBlocks(DWORD dwBlocks, char fill)
{
    const auto offset = static_cast<DWORD>(m_bytes.size());
    m_bytes.append(dwBlocks * 128u, fill);
    return offset;
}

void CIndexDatImage::MarkBlocks(DWORD dwOffset, DWORD dwBlocks, bool bAllocated)
{
    // One bit per 128-byte block from 0x4000 on, in the bytes from 0x250.
    for (DWORD block = (dwOffset - kRecordArea) / 128; dwBlocks > 0; --dwBlocks, ++block) {
        char& byte = m_bytes.at(0x250 + block / 8);
        const int bit = 1 << (block % 8);
        byte = static_cast<char>(bAllocated ? byte | bit : byte & ~bit);
    }
}

void CIndexDatImage::Put32(DWORD dwOffset, DWORD dwValue)
{
    PutBytes(dwOffset, std::string{static_cast<char>(dwValue), static_cast<char>(dwValue >> 8),
                                   static_cast<char>(dwValue >> 16), static_cast<char>(dwValue >> 24)});
}

void CIndexDatImage::WriteTo(const CString& strPath) const
{
    WriteTestFile(strPath, m_bytes);
}

std::string Zeroed(std::string bytes, size_t offset, size_t count)
{
    return bytes.replace(offset, count, count, '\0');
}

uint64_t FileTimeOf(int64_t unixSeconds)
{
    return static_cast<uint64_t>(unixSeconds) * 10000000ULL + 116444736000000000ULL;
}
