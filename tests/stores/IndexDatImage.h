#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "framework/String.h"
#include "tests/support/TestFiles.h"

// An index.dat store built byte by byte. Offsets are spelled out here, not
// taken from the parser's layout table, so that a wrong constant shows up.
class CIndexDatImage {
public:
    static constexpr DWORD kRecordArea = 0x4000;

    // A header naming the directories, the first hash table (one block) at 0x4000.
    explicit CIndexDatImage(const std::vector<std::string>& directories = {});
    // Appends a record: type, block count, first body word, the rest filled.
    DWORD AddRecord(const char* pszType, DWORD dwBlocks, DWORD dwFirstWord, char fill = '\x5A');
    // A "URL " or "LEAK" record; an empty file name leaves the name offset 0.
    DWORD AddUrl(const char* pszType, DWORD dwBlocks, uint64_t ullLastAccess, BYTE directory, const std::string& url,
                 const std::string& fileName = std::string());
    DWORD AddBlocks(DWORD dwBlocks, char fill)
    {
        m_bytes.append(dwBlocks * 128u, fill);
        return Length() - dwBlocks * 128u;
    }
    // Marks the blocks from dwOffset allocated in the bitmap, as the URL cache does.
    CIndexDatImage& MarkBlocks(DWORD dwOffset, DWORD dwBlocks);
    void Put32(DWORD dwOffset, DWORD dwValue) { PutBytes(dwOffset, std::string(reinterpret_cast<const char*>(&dwValue), 4)); }
    void PutBytes(DWORD dwOffset, const std::string& bytes) { m_bytes.replace(dwOffset, bytes.size(), bytes); }
    void Truncate(size_t length) { m_bytes.resize(length); }
    const std::string& Bytes() const { return m_bytes; }
    DWORD Length() const { return static_cast<DWORD>(m_bytes.size()); }
    void WriteTo(const CString& strPath) const { WriteTestFile(strPath, m_bytes); }

private:
    std::string m_bytes;
};

inline std::string Zeroed(std::string bytes, size_t offset, size_t count)
{
    return bytes.replace(offset, count, count, '\0');
}
// A Unix time as the FILETIME count that records store.
inline uint64_t FileTimeOf(int64_t unixSeconds)
{
    return static_cast<uint64_t>(unixSeconds) * 10000000ULL + 116444736000000000ULL;
}
