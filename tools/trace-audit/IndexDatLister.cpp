#include "tools/trace-audit/IndexDatLister.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "framework/Handles.h"

namespace {

constexpr size_t kBlock = 128;
constexpr size_t kFirstHashOffset = 0x20;
constexpr size_t kDirectoryCount = 0x48;
constexpr size_t kDirectoryNames = 0x50;
constexpr size_t kDirectoryEntrySize = 12;
constexpr size_t kUrlOffset = 0x68;
constexpr size_t kFileNameOffsetField = 0x3C;
constexpr size_t kDirectoryIndexField = 0x38;
// One bit per 128-byte block from kFirstBlock on; the platform clears a
// record's bits when it deletes the entry but leaves the record's bytes in
// place, so a freed record still reads as "URL " (seen under Wine).
constexpr size_t kAllocationBitmap = 0x250;
constexpr size_t kFirstBlock = 0x4000;

// False only when the bitmap says the block is free; blocks the bitmap does
// not cover count as allocated.
bool IsAllocated(const std::vector<unsigned char>& data, size_t at)
{
    if (at < kFirstBlock) {
        return true;
    }
    const size_t block = (at - kFirstBlock) / kBlock;
    const size_t byte = kAllocationBitmap + block / 8;
    if (byte >= kFirstBlock || byte >= data.size()) {
        return true;
    }
    return (data[byte] >> (block % 8) & 1) != 0;
}

uint32_t Read32(const std::vector<unsigned char>& data, size_t at)
{
    if (at + 4 > data.size()) {
        return 0;
    }
    uint32_t v;
    memcpy(&v, &data[at], 4);
    return v;
}

// A zero-terminated string that never runs past the end of the data.
std::string ReadString(const std::vector<unsigned char>& data, size_t at)
{
    std::string s;
    for (size_t i = at; i < data.size() && data[i] != 0; ++i) {
        s += static_cast<char>(data[i]);
    }
    return s;
}

}  // namespace

bool ListIndexDatRecords(const CString& strPath, const std::function<void(const CIndexDatRecord&)>& visit,
                         CString& strError)
{
    CHandle file(CreateFileW(strPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        strError = FormatString(L"open failed %lu", GetLastError());
        return false;
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart > 512LL * 1024 * 1024) {
        strError = L"unusable size";
        return false;
    }
    std::vector<unsigned char> data(static_cast<size_t>(size.QuadPart));
    size_t filled = 0;
    while (filled < data.size()) {
        DWORD n = 0;
        if (!ReadFile(file.get(), &data[filled], static_cast<DWORD>(data.size() - filled), &n, nullptr) || n == 0) {
            strError = L"short read";
            return false;
        }
        filled += n;
    }

    std::vector<CString> directories;
    const uint32_t count = Read32(data, kDirectoryCount);
    for (uint32_t i = 0; i < count && kDirectoryNames + kDirectoryEntrySize * i + 8 <= data.size() && i < 4096; ++i) {
        const char* name = reinterpret_cast<const char*>(&data[kDirectoryNames + kDirectoryEntrySize * i]);
        directories.push_back(CString::FromAnsi(name, static_cast<int>(strnlen(name, 8))) + L"\\");
    }

    for (size_t at = Read32(data, kFirstHashOffset); at + 12 <= data.size();) {
        const uint32_t type = Read32(data, at);
        const uint32_t blocks = Read32(data, at + 4);
        const uint32_t first = Read32(data, at + 8);
        size_t recordSize = blocks == 0 ? kBlock : static_cast<size_t>(blocks) * kBlock;
        const bool released = first == 0x0BADF00D || first == 0xDEADBEEF;
        const bool urlOrLeak = memcmp(&data[at], "URL ", 4) == 0 || memcmp(&data[at], "LEAK", 4) == 0;
        const bool redirect = memcmp(&data[at], "REDR", 4) == 0;
        if ((urlOrLeak || redirect) && !released) {
            CIndexDatRecord record;
            record.strType = CString::FromAnsi(reinterpret_cast<const char*>(&data[at]), 4);
            record.strType.TrimRight();
            if (!IsAllocated(data, at)) {
                record.strType += L" free";
            }
            record.ulOffset = static_cast<unsigned long>(at);
            if (urlOrLeak) {
                record.strUrl = CString::FromAnsi(ReadString(data, at + kUrlOffset));
                const uint32_t nameOffset = Read32(data, at + kFileNameOffsetField);
                if (nameOffset != 0 && at + kDirectoryIndexField < data.size()) {
                    const unsigned char dir = data[at + kDirectoryIndexField];
                    const CString prefix = dir < directories.size() ? directories[dir] : CString();
                    record.strLocalFile = prefix + CString::FromAnsi(ReadString(data, at + nameOffset));
                }
            }
            visit(record);
        } else if (!(memcmp(&data[at], "HASH", 4) == 0 || released)) {
            recordSize = kBlock;
        }
        (void)type;
        at += recordSize;
    }
    return true;
}
