// Damaged and hostile stores, made from real ones by deterministic mutation
// and scanned, erasing everything: no crash, no hang, the length kept, and
// exactly the outcome of a plain windowless statement of the scan (the model).
#include "stores/IndexDatParser.h"

#include <wininet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>

#include "framework/Handles.h"
#include "tests/stores/IndexDatImage.h"
#include "tests/stores/RecordingParser.h"
#include "tests/stores/UrlCacheSeed.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestFiles.h"

namespace {

// tools/ builds this file again as a long campaign run by hand.
#ifndef NULVANE_FUZZ_CASES
#define NULVANE_FUZZ_CASES 10000
#endif
constexpr int kCases = NULVANE_FUZZ_CASES;
// Erasures lock (~70 us under Wine), scans that wrote flush (~300 us): few records.
constexpr int kRecordsPerImage = 5;
constexpr DWORD kWindows[] = {64, 200, 4096, 65536};
constexpr uint32_t kUrl = 0x204C5255, kLeak = 0x4B41454C, kRedr = 0x52444552, kHash = 0x48534148;

const char* const kSeedText = getenv("NULVANE_FUZZ_SEED");
const uint32_t kSeed = kSeedText != nullptr ? static_cast<uint32_t>(strtoul(kSeedText, nullptr, 10)) : 20240611u;

uint32_t U32(const std::string& b, uint64_t at)
{
    uint32_t v = 0;
    for (uint64_t i = 0; i < 4 && at + i < b.size(); ++i) {
        v |= static_cast<uint32_t>(static_cast<uint8_t>(b[at + i])) << (8 * i);
    }
    return v;
}

std::string String(const std::string& b, uint64_t at, uint64_t limit)
{
    limit = std::min<uint64_t>(limit, b.size());
    return at < limit ? b.substr(at, std::min(b.find('\0', at), limit) - at) : std::string();
}

// A name that stays inside its folder, or nothing.
CString PlainName(const std::string& name)
{
    const CString text = CString::FromAnsi(name);
    bool plain = !text.IsEmpty() && text != L"." && text != L"..";
    for (int i = 0; plain && i < text.GetLength(); ++i) {
        plain = text[i] >= 0x20 && CString(L"\\/:*?\"<>|").Find(text[i]) < 0;
    }
    return plain ? text : CString();
}

struct CModelScan : CScanOutcome {
    std::string after;  // the file's bytes
};

// The scan stated plainly on the whole image.
CModelScan ModelEraseAllScan(const std::string& bytes, bool bScrub)
{
    CModelScan m{{TRUE, {}}, bytes};
    std::string& f = m.after;
    const uint64_t length = f.size();
    auto zero = [&](uint64_t at, uint64_t n) { f.replace(at, std::min(n, length - at), std::min(n, length - at), '\0'); };
    const uint32_t count = U32(f, 0x48);
    std::vector<CString> prefixes;
    for (uint64_t i = 0; i < std::min<uint32_t>(count, 256) && 0x50 + 12 * i + 8 <= length; ++i) {
        const CString name = PlainName(String(f, 0x50 + 12 * i, 0x58 + 12 * i));
        prefixes.push_back(name.IsEmpty() ? name : name + L"\\");
    }
    uint64_t pos = U32(f, 0x20);
    if (pos < length && length - pos >= 12 && U32(f, pos) != kHash) {
        return {{FALSE, {}}, bytes};
    }
    // The allocation bitmap (bit n from 0x250 for the block at 0x4000 + 128 n), trusted
    // only when it marks the first hash table in use; blocks it does not cover are in use.
    const std::string bitmap = f.substr(std::min<uint64_t>(0x250, length), 0x4000 - 0x250);
    auto bit = [&](uint64_t at) {
        const uint64_t block = (at - 0x4000) / 128;
        return at < 0x4000 || block / 8 >= bitmap.size() || ((static_cast<uint8_t>(bitmap[block / 8]) >> (block % 8)) & 1);
    };
    const bool trusted = pos >= 0x4000 && length >= 0x4000 && bit(pos);
    auto allocated = [&](uint64_t at) { return !trusted || bit(at); };
    while (pos < length && length - pos >= 12) {
        const uint32_t type = U32(f, pos), blocks = U32(f, pos + 4), first = U32(f, pos + 8);
        uint64_t size = blocks == 0 ? 128 : 128ULL * blocks;
        auto inFile = static_cast<DWORD>(std::min(size, length - pos));
        const bool entry = type == kUrl || type == kLeak || type == kRedr;
        const bool released = first == 0x0BADF00D || first == 0xDEADBEEF;
        // A deleted record: only its leading free blocks are its own.
        DWORD free = 0;
        while (entry && !released && !allocated(pos) && free < inFile && !allocated(pos + free)) {
            free += std::min<DWORD>(128, inFile - free);
        }
        if (free > 0 && free < inFile) {
            inFile = free;
            size = (free + 127) / 128 * 128;
        }
        if (!entry && type != kHash) {  // a block of its own, wiped only by the scrub
            zero(pos, bScrub ? 128 : 0);
            pos += 128;
            continue;
        }
        if (entry && released) {
            zero(pos, bScrub ? inFile : 0);
        } else if (type != kHash) {
            CSeenRecord r{type, static_cast<DWORD>(pos), inFile, CString(), CString(), CFileTime()};
            if (type != kRedr) {
                const uint64_t t = U32(f, pos + 0x10) | static_cast<uint64_t>(U32(f, pos + 0x14)) << 32;
                r.time = CFileTime(t);
                r.strUrl = CString::FromAnsi(String(f, pos + 0x68, pos + inFile));
                const uint32_t nameAt = U32(f, pos + 0x3C);
                r.strPath = nameAt != 0 && nameAt < inFile ? PlainName(String(f, pos + nameAt, pos + inFile)) : CString();
                const auto dir = static_cast<uint8_t>(pos + 0x38 < length ? f[pos + 0x38] : 0);
                if (!r.strPath.IsEmpty() && count > 0 && dir < prefixes.size()) {
                    r.strPath = prefixes[dir] + r.strPath;
                }
            }
            m.seen.push_back(r);
            zero(pos, inFile);
        }
        pos += size;
    }
    return m;
}

// One to three kinds of damage: bit flips, fields set to extremes, truncation,
// directory indices, strings without ends, fake records, names that climb out.
std::string Mutate(std::string b, std::mt19937& rng)
{
    auto below = [&](uint64_t n) { return n == 0 ? 0 : static_cast<uint32_t>(rng() % n); };
    // A block start in the record area.
    auto block = [&] { return b.size() <= 0x4000 ? below(b.size()) : 0x4000 + 128ULL * below((b.size() - 0x4000) / 128 + 1); };
    auto extreme = [&] {
        const auto l = static_cast<uint32_t>(b.size());
        const uint32_t v[] = {0, 1, 2, 0x7F, 0x80, 0xFF, 0x100, 0x10000, 0x01000000, 0x7FFFFFFF, 0x80000000,
                              0xFFFFFFFF, l, l - 1, l + 1, l - 12, l - 11, l / 128, 0x4000, 0x4080, kUrl, kLeak,
                              kRedr, kHash, 0x0BADF00D, 0xDEADBEEF, static_cast<uint32_t>(rng())};
        return v[below(std::size(v))];
    };
    auto fill = [&](uint64_t from, uint64_t to, bool bRandom) {
        for (uint64_t p = from; p < std::min<uint64_t>(to, b.size()); ++p) {
            b[p] = static_cast<char>(bRandom ? rng() : 'A' + p % 26);
        }
    };
    auto put32 = [&](uint64_t at, uint32_t v) {
        for (uint64_t i = 0; i < 4 && at + i < b.size(); ++i) {
            b[at + i] = static_cast<char>(v >> (8 * i));
        }
    };
    const uint32_t fields[] = {0, 4, 8, 0x38, 0x3C}, types[] = {kUrl, kLeak, kRedr, kHash};
    const char* names[] = {"..\\..\\xx", "C:\\Windo", "..", "a/b", "*.*", "\x01\x02"};
    for (uint32_t n = 1 + below(3); n > 0 && !b.empty(); --n) {
        const uint64_t at = block(), anywhere = below(b.size());
        const uint32_t kind = below(10);
        if (kind == 0) {  // bit flips
            for (uint32_t k = 1 + below(8); k > 0; --k) {
                b[below(b.size())] ^= static_cast<char>(1 << below(8));
            }
        } else if (kind <= 3) {  // a record field, the first hash table's offset, the directory count
            const uint64_t where[] = {at + fields[below(5)], 0x20, 0x48};
            put32(where[kind - 1], kind == 3 && below(2) == 0 ? below(300) : extreme());
        } else if (kind == 4) {  // anywhere, or a few bytes into a block
            b.resize(below(2) == 0 ? anywhere : std::min<uint64_t>(b.size() - 1, (anywhere & ~127u) + below(16)));
        } else if (kind == 5) {  // a directory index
            fill(at + 0x38, at + 0x39, true);
        } else if (kind == 6) {  // a string without an end
            const uint64_t from = below(2) == 0 ? at + 0x68 : anywhere;
            fill(from, below(2) == 0 ? b.size() : from + 1 + below(600), false);
        } else if (kind == 7) {  // a fake record
            put32(at, types[below(4)]);
            put32(at + 4, extreme());
            put32(at + 8, below(3) == 0 ? 0x0BADF00D : 0);
            put32(at + 0x3C, below(0x200));
        } else if (kind == 8) {  // a name that climbs out
            const std::string name = names[below(std::size(names))];
            const uint64_t to = below(2) == 0 ? 0x50 + 12ULL * below(8) : at + 0x68 + below(0x40);
            if (to < b.size()) {
                b.replace(to, std::min<uint64_t>(name.size(), b.size() - to), name.substr(0, b.size() - to));
            }
        } else {
            fill(anywhere, anywhere + 1 + below(64), true);
        }
    }
    return b;
}

// Stores as WinINet writes them (with an entry it deleted), cut after their
// first records, and one built by hand with what it never writes.
std::vector<std::string> BaseImages()
{
    const CString tag = UniqueTag();
    for (int i = 0; i < 3; ++i) {
        AddCacheEntry(FormatString(L"http://%s.fuzz.example/%d/%s", tag.GetString(), i, CString(L'p', i * 60).GetString()));
        AddCookie(FormatString(L"http://%s%d.fuzz.example/", tag.GetString(), i), L"n", L"v");
        AddHistoryEntry(FormatString(L"http://%s.fuzz.example/h%d", tag.GetString(), i));
    }
    const CString gone = L"http://" + tag + L".fuzz.example/gone";
    EXPECT_TRUE(!AddCacheEntry(gone).IsEmpty() && DeleteUrlCacheEntryW(gone));
    std::vector<std::string> images;
    for (const CStoreFile& store : {CacheStore(), CookieStore(), HistoryStore()}) {
        const std::string image = ReadTestFile(store.strIndex);
        uint64_t pos = U32(image, 0x20);
        for (int records = 0; pos + 12 <= image.size() && records < kRecordsPerImage;) {
            const uint32_t type = U32(image, pos);
            const bool known = type == kUrl || type == kLeak || type == kRedr || type == kHash;
            pos += known ? 128ULL * std::max<uint32_t>(1, U32(image, pos + 4)) : 128;
            records += known && type != kHash ? 1 : 0;
        }
        images.push_back(image.substr(0, pos + 1024));
    }
    CIndexDatImage built({"AAAAAAAA", "BBBBBBBB", "CCCCCCCC"});
    built.AddUrl("URL ", 2, FileTimeOf(1700000000), 1, "http://built/1", "one.htm");
    built.AddRecord("REDR", 1, 0);
    built.AddRecord("URL ", 2, 0x0BADF00D);
    built.AddUrl("LEAK", 3, FileTimeOf(1700000001), 2, "http://built/2", "two.htm");
    built.AddRecord("LEAK", 1, 0xDEADBEEF);
    built.AddRecord("JUNK", 2, 0);
    built.AddUrl("URL ", 0, FileTimeOf(1700000002), 0, "http://z/", "z");
    built.AddBlocks(3, '\0');
    built.AddRecord("HASH", 2, 0);
    built.AddUrl("URL ", 2, FileTimeOf(1700000003), 9, "http://built/3", "three.htm");
    images.push_back(built.Bytes());
    return images;
}

}  // namespace

TEST(IndexDatFuzz, MutatedStoresAreScannedSafelyAndExactly)
{
    const std::vector<std::string> bases = BaseImages();
    CTempFolder folder;
    const CString path = folder / L"index.dat";
    // One handle rewrites and reads the file: opening costs ~180 us under Wine.
    CHandle file(CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file.valid());
    std::mt19937 rng(kSeed);
    CLogCapture log;  // keeps the expected complaints out of the way
    int failures = 0, withRecords = 0, refused = 0, truncated = 0;
    for (int n = 0; n < kCases && failures < 5; ++n) {
        const std::string& base = bases[static_cast<size_t>(n) % bases.size()];
        const std::string input = Mutate(base, rng);
        const bool scrub = n % 8 != 7;
        const DWORD window = kWindows[static_cast<size_t>(n / 3) % std::size(kWindows)];
        DWORD io = 0;
        ASSERT_TRUE(SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN) == 0 &&
                    WriteFile(file.get(), input.data(), static_cast<DWORD>(input.size()), &io, nullptr) &&
                    SetEndOfFile(file.get()));
        const CScanOutcome scan = ScanFile(path, scrub ? TRUE : FALSE, &CRecordingParser::EraseAll, window);
        std::string after(input.size() + 1, '\0');
        SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN);
        ReadFile(file.get(), after.data(), static_cast<DWORD>(after.size()), &io, nullptr);
        after.resize(io);
        // (The model keeps the length and zeroes only from the first hash table on.)
        const CModelScan model = ModelEraseAllScan(input, scrub);
        if (scan.bResult != model.bResult || scan.seen != model.seen || after != model.after) {
            ++failures;
            ADD_FAILURE() << "case " << n << " (seed " << kSeed << ", window " << window << ", scrub " << scrub << "): "
                          << scan.seen.size() << " vs " << model.seen.size() << " records, bytes " << (after == model.after);
        }
        withRecords += scan.seen.empty() ? 0 : 1;
        refused += scan.bResult ? 0 : 1;
        truncated += input.size() < base.size() ? 1 : 0;
    }
    // Worth its time only if the damage reaches every part of the scan.
    EXPECT_GT(withRecords, kCases / 2);
    EXPECT_GT(refused, kCases / 50);
    EXPECT_GT(truncated, kCases / 50);
}
