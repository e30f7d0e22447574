#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "framework/String.h"

// An index.dat store built byte by byte, for the cases the platform never
// writes. Offsets here are spelled out on their own, not taken from the
// parser's layout table, so that a wrong constant there shows up.
class CIndexDatImage {
public:
    static constexpr DWORD kRecordArea = 0x4000;

    // A header naming the directories, with the first hash table (one
    // block) at 0x4000.
    explicit CIndexDatImage(const std::vector<std::string>& directories = {});
    // Appends a record of any type word with its block count and first
    // body word on the next block; the rest is filled with the byte given.
    DWORD AddRecord(const char* pszType, DWORD dwBlocks, DWORD dwFirstWord, char fill = '\x5A');
    // A "URL " or "LEAK" record; an empty file name leaves the name offset 0.
    DWORD AddUrl(const char* pszType, DWORD dwBlocks, uint64_t ullLastAccess, BYTE directory, const std::string& url,
                 const std::string& fileName = std::string());
    DWORD AddBlocks(DWORD dwBlocks, char fill);
    // Sets or clears the allocation bitmap's bits of dwBlocks blocks from
    // the one at dwOffset, as the URL cache does when it allocates or frees.
    void MarkBlocks(DWORD dwOffset, DWORD dwBlocks, bool bAllocated = true);
    void Put32(DWORD dwOffset, DWORD dwValue);
    void PutBytes(DWORD dwOffset, const std::string& bytes) { m_bytes.replace(dwOffset, bytes.size(), bytes); }
    void Truncate(size_t length) { m_bytes.resize(length); }
    const std::string& Bytes() const { return m_bytes; }
    DWORD Length() const { return static_cast<DWORD>(m_bytes.size()); }
    void WriteTo(const CString& strPath) const;

private:
    std::string m_bytes;
};

// The bytes with a range zeroed.
std::string Zeroed(std::string bytes, size_t offset, size_t count);
// A Unix time as the FILETIME count that records store.
uint64_t FileTimeOf(int64_t unixSeconds);
