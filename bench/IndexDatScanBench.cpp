// Scanning a large index.dat: our windowed scan against the literal pattern
// of one small positioned read per field, with a plain sequential read of
// the same file in 64 KiB pieces as the floor. All three run in the same
// process on the same cached file; each figure is the best of its runs.
//
//   index_dat_bench.exe [records, default 100000]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/BenchClock.h"
#include "framework/File.h"
#include "framework/FileTime.h"
#include "framework/Handles.h"
#include "framework/String.h"
#include "framework/Time.h"
#include "stores/IndexDatLayout.h"
#include "stores/IndexDatParser.h"

using namespace IndexDat;

namespace {

void Put32(std::string& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i) {
        b[at + static_cast<size_t>(i)] = static_cast<char>(v >> (8 * i));
    }
}

// A store laid out the way Wine's WinINet writes one: the header with four
// cache directories, a 32-block hash table for every 448 entries placed
// where the next entry would go, and two-block "URL " records with a local
// file, the unused rest of each record filled with 0xDEADBEEF.
std::string BuildStore(int nRecords)
{
    std::string b(0x4000, '\0');
    b.replace(0, 28, std::string("WINE URLCache Ver 0.2012001") + '\0');
    Put32(b, kFirstHashTableOffset, 0x4000);
    Put32(b, kDirectoryCount, 4);
    const char* dirs[] = {"0QGMOAEJ", "WI29LQJY", "867CVD6Q", "4YUZSTA5"};
    for (uint32_t i = 0; i < 4; ++i) {
        b.replace(kDirectoryTable + kDirectoryEntrySize * i + kDirectoryNameInEntry, 8, dirs[i], 8);
    }
    auto addHash = [&] {
        const size_t at = b.size();
        b.append(32 * kBlockSize, '\x03');
        Put32(b, at, kSignatureHash);
        Put32(b, at + 4, 32);
    };
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    for (int i = 0; i < nRecords; ++i) {
        if (i % 448 == 0) {
            addHash();
        }
        const size_t at = b.size();
        b.append(2 * kBlockSize, '\0');
        for (size_t p = at; p < at + 2 * kBlockSize; p += 4) {
            Put32(b, p, 0xDEADBEEF);
        }
        for (size_t p = at; p < at + kUrlLocation; p += 4) {
            Put32(b, p, 0);
        }
        const std::string url = "http://www.site" + std::to_string(i % 977) + ".example/images/resource" +
                                std::to_string(i) + ".png?v=" + std::to_string(i * 7);
        const std::string name = "resource" + std::to_string(i) + "[1].png";
        Put32(b, at, kSignatureUrl);
        Put32(b, at + kRecordBlockCount, 2);
        Put32(b, at + kUrlLastAccess, now.dwLowDateTime - static_cast<DWORD>(i) * 10000000u);
        Put32(b, at + kUrlLastAccess + 4, now.dwHighDateTime);
        b[at + kUrlDirectoryIndex] = static_cast<char>(i % 4);
        const auto nameOffset = static_cast<uint32_t>(kUrlLocation + url.size() + 1);
        Put32(b, at + kUrlFileNameOffset, nameOffset);
        b.replace(at + kUrlLocation, url.size() + 1, url.c_str(), url.size() + 1);
        b.replace(at + nameOffset, name.size() + 1, name.c_str(), name.size() + 1);
        if (nameOffset + name.size() + 1 > 2 * kBlockSize) {
            fprintf(stderr, "record %d does not fit\n", i);
            exit(2);
        }
    }
    b.append(64 * kBlockSize, '\0');
    Put32(b, 0x1C, static_cast<uint32_t>(b.size()));
    return b;
}

// What each scan produces from a record, so that all do the same work.
struct CTally {
    long long records = 0;
    long long urlChars = 0;
    long long pathChars = 0;
    long long times = 0;

    void Add(const CString& url, const CString& path, const CFileTime& t)
    {
        ++records;
        urlChars += url.GetLength();
        pathChars += path.GetLength();
        times += static_cast<long long>(t.GetTicks() & 0xFF);
    }
    bool operator==(const CTally&) const = default;
};

class CCountingParser : public CIndexDatParser {
public:
    CTally m_tally;

protected:
    BOOL ProcessEntry(DWORD, DWORD, DWORD, CString strUrl, CString strLocalPath, CFileTime time) override
    {
        m_tally.Add(strUrl, strLocalPath, time);
        return TRUE;
    }
};

// The literal pattern: every field and every 32 bytes of a string is its
// own positioned read (a seek and a read) through the framework's file.
class CLiteralScan {
public:
    explicit CLiteralScan(const wchar_t* pszPath) : m_file(pszPath, CFile::modeReadWrite | CFile::shareDenyNone) {}

    CTally Run()
    {
        CTally tally;
        const ULONGLONG length = m_file.GetLength();
        ULONGLONG pos = Dword(kFirstHashTableOffset);
        const DWORD count = Dword(kDirectoryCount);
        std::vector<CString> prefixes;
        for (DWORD i = 0; i < count; ++i) {
            char name[9] = {};
            ReadAt(kDirectoryTable + kDirectoryEntrySize * i + kDirectoryNameInEntry, name, 8);
            prefixes.push_back(CString::FromAnsi(name) + L"\\");
        }
        while (pos < length) {
            const DWORD type = Dword(pos);
            const DWORD blocks = Dword(pos + kRecordBlockCount);
            const DWORD first = Dword(pos + kRecordFirstWord);
            ULONGLONG size = blocks == 0 ? kBlockSize : static_cast<ULONGLONG>(blocks) * kBlockSize;
            const bool entry = type == kSignatureUrl || type == kSignatureLeak || type == kSignatureRedirect;
            if (entry && (first == kReleasedMarker || first == kReleasedMarkerAlt)) {
                // released: nothing to hand on
            } else if (type == kSignatureUrl || type == kSignatureLeak) {
                ULONGLONG ft64 = 0;
                ReadAt(pos + kUrlLastAccess, &ft64, 8);
                FILETIME ft;
                ft.dwLowDateTime = static_cast<DWORD>(ft64);
                ft.dwHighDateTime = static_cast<DWORD>(ft64 >> 32);
                const CFileTime time(ft);
                CString dir;
                if (!prefixes.empty()) {
                    BYTE index = 0;
                    ReadAt(pos + kUrlDirectoryIndex, &index, 1);
                    dir = index < prefixes.size() ? prefixes[index] : CString();
                }
                const CString url = String(pos + kUrlLocation);
                const DWORD nameOffset = Dword(pos + kUrlFileNameOffset);
                const CString path = nameOffset != 0 ? dir + String(pos + nameOffset) : CString();
                tally.Add(url, path, time);
            } else if (type != kSignatureHash && type != kSignatureRedirect) {
                size = kBlockSize;
            }
            pos += size;
        }
        return tally;
    }

private:
    void ReadAt(ULONGLONG pos, void* p, UINT n)
    {
        m_file.Seek(static_cast<LONGLONG>(pos), CFile::begin);
        m_file.Read(p, n);
    }
    DWORD Dword(ULONGLONG pos)
    {
        DWORD v = 0;
        ReadAt(pos, &v, 4);
        return v;
    }
    // A 260-byte buffer, doubled when 32 more bytes might not fit, filled
    // 32 bytes at a time until a read brings a zero.
    CString String(ULONGLONG pos)
    {
        std::vector<char> buffer(260);
        size_t fill = 0;
        m_file.Seek(static_cast<LONGLONG>(pos), CFile::begin);
        for (;;) {
            if (fill + 32 >= buffer.size()) {
                buffer.resize(buffer.size() * 2);
            }
            const UINT n = m_file.Read(buffer.data() + fill, 32);
            if (n == 0 || std::find(buffer.begin() + static_cast<std::ptrdiff_t>(fill),
                                    buffer.begin() + static_cast<std::ptrdiff_t>(fill + n), '\0') !=
                              buffer.begin() + static_cast<std::ptrdiff_t>(fill + n)) {
                fill += n;
                break;
            }
            fill += n;
        }
        return CString::FromAnsi(buffer.data(), static_cast<int>(std::find(buffer.begin(), buffer.begin() +
                                                                           static_cast<std::ptrdiff_t>(fill), '\0') -
                                                                 buffer.begin()));
    }

    CFile m_file;
};

double SequentialRead(const wchar_t* pszPath, ULONGLONG* pBytes)
{
    std::vector<char> buffer(64 * 1024);
    const double t0 = Seconds();
    CHandle h(CreateFileW(pszPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD n = 0;
    *pBytes = 0;
    while (ReadFile(h.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &n, nullptr) && n > 0) {
        *pBytes += n;
    }
    return Seconds() - t0;
}

void WriteFileBytes(const wchar_t* pszPath, const std::string& bytes)
{
    CHandle h(CreateFileW(pszPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD n = 0;
    if (!h || !WriteFile(h.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr) || n != bytes.size()) {
        fprintf(stderr, "cannot write the store\n");
        exit(2);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const int nRecords = argc > 1 ? _wtoi(argv[1]) : 100000;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const CString path = CString(temp) + L"nulvane-bench-index.dat";
    const CString copy = CString(temp) + L"nulvane-bench-erase.dat";
    const std::string store = BuildStore(nRecords);
    WriteFileBytes(path, store);
    const double mb = static_cast<double>(store.size()) / (1024.0 * 1024.0);
    printf("store: %d URL records with local files, %.1f MiB\n", nRecords, mb);

    ULONGLONG bytes = 0;
    SequentialRead(path, &bytes);  // into the cache
    double floor = 1e9;
    for (int i = 0; i < 5; ++i) {
        floor = std::min(floor, SequentialRead(path, &bytes));
    }

    double ours = 1e9;
    CTally oursTally;
    for (int i = 0; i < 5; ++i) {
        CCountingParser parser;
        parser.OpenFile(path);
        const double t0 = Seconds();
        const BOOL ok = parser.IterateEntries(FALSE);
        ours = std::min(ours, Seconds() - t0);
        parser.CloseFile();
        oursTally = parser.m_tally;
        if (!ok) {
            fprintf(stderr, "scan failed\n");
            return 2;
        }
    }

    double literal = 1e9;
    CTally literalTally;
    for (int i = 0; i < 2; ++i) {
        CLiteralScan scan(path);
        const double t0 = Seconds();
        literalTally = scan.Run();
        literal = std::min(literal, Seconds() - t0);
    }
    if (!(literalTally == oursTally) || oursTally.records != nRecords) {
        fprintf(stderr, "the scans disagree: %lld vs %lld records\n", oursTally.records, literalTally.records);
        return 2;
    }

    // Erasing every tenth record of a copy: each erasure takes a byte-range
    // lock, writes its pieces and unlocks.
    WriteFileBytes(copy, store);
    struct CEraser : CIndexDatParser {
        int n = 0;
        BOOL ProcessEntry(DWORD, DWORD dwOffset, DWORD dwSize, CString, CString, CFileTime) override
        {
            if (n++ % 10 == 0) {
                RemoveEntry(dwOffset, dwSize);
            }
            return TRUE;
        }
    } eraser;
    eraser.OpenFile(copy);
    double t0 = Seconds();
    const BOOL erased = eraser.IterateEntries(TRUE);
    const double erase = Seconds() - t0;
    eraser.CloseFile();
    DeleteFileW(copy);
    DeleteFileW(path);

    const double records = static_cast<double>(nRecords);
    printf("%-34s %9s %12s %14s\n", "", "ms", "MiB/s", "records/s");
    printf("%-34s %9.1f %12.1f %14s\n", "sequential 64 KiB reads (floor)", floor * 1e3, mb / floor, "-");
    printf("%-34s %9.1f %12.1f %14.0f\n", "literal: one read per field", literal * 1e3, mb / literal, records / literal);
    printf("%-34s %9.1f %12.1f %14.0f\n", "windowed scan (CIndexDatParser)", ours * 1e3, mb / ours, records / ours);
    printf("%-34s %9.1f %12s %14.0f  (%d erasures, %s)\n", "scan erasing every 10th record", erase * 1e3, "-",
           records / erase, (nRecords + 9) / 10, erased ? "ok" : "FAILED");
    printf("\nscan vs literal: %.1fx faster (target >= 10x: %s)\n", literal / ours, literal / ours >= 10 ? "met" : "MISSED");
    printf("scan rate: %.0f records/s (target >= 500000: %s)\n", records / ours,
           records / ours >= 500000 ? "met" : "MISSED");
    printf("scan vs floor: %.1fx the time of a plain sequential read\n", ours / floor);
    return 0;
}
