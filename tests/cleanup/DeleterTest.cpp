#include "cleanup/Deleter.h"
#include "cleanup/MimeTypeMap.h"
#include "cleanup/OpenHandles.h"
#include "cleanup/SecureDeleter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "framework/Handles.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"

namespace {

constexpr LONGLONG kSparse = -1;
constexpr NTSTATUS kSuccess = 0;
constexpr NTSTATUS kOverflow = static_cast<NTSTATUS>(0x80000005);
constexpr NTSTATUS kInvalidParameter = static_cast<NTSTATUS>(0xC000000D);

struct CPage {
    NTSTATUS status;
    LONGLONG llStartingVcn;
    std::vector<std::pair<LONGLONG, LONGLONG>> extents;  // next VCN, LCN
    DWORD dwClaimedCount = 0;                            // claimed instead, when set
};

using Write = std::tuple<LONGLONG, LONGLONG, int>;  // offset, length, pass
enum Outcome { kThroughHandle, kThroughVolume, kUntouched, kPartly };

// What the probe plays, and how the file's data and names end.
struct CCase {
    const char* pszName;
    std::vector<CPage> pages;                        // none: the platform's own map
    DWORD dwAttributes = FILE_ATTRIBUTE_COMPRESSED;  // reported instead of the real ones when set
    Outcome outcome = kThroughHandle;
    size_t nSize = 30000;  // 8 clusters
    bool bVolumeOpens = true, bNameTaken = false, bReadOnlyAtLastName = false, bNoPatterns = false;
    bool bSeekBackFails = false;  // the seek back to the start between passes
    int nFailWrite = -1;
    BOOL bResult = TRUE;
    size_t nNames = 26;
};

void* Allocate(SIZE_T cb) { return VirtualAlloc(nullptr, cb, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE); }

// Records writes and names, fails a chosen write, makes the file read-only at its
// last name; plays a cluster map and a 2 TiB volume (an event) of 4 KiB clusters.
class CProbedDeleter : public CSecureDeleter {
public:
    explicit CProbedDeleter(const CCase& c) : CSecureDeleter(c.bNoPatterns ? nullptr : &Allocate), m_case(c) {}

    std::vector<Write> m_writes;
    std::vector<CString> m_names;
    std::vector<LONGLONG> m_requestedVcns;
    LONGLONG m_llPosition = 0;
    const CCase& m_case;

protected:
    DWORD GetAttributes(const CString& strPath) override
    {
        return m_case.dwAttributes != 0 ? m_case.dwAttributes : CSecureDeleter::GetAttributes(strPath);
    }
    CHandle OpenVolume(const CString&) override
    {
        SetLastError(ERROR_ACCESS_DENIED);
        return CHandle(m_case.bVolumeOpens ? CreateEventW(nullptr, TRUE, FALSE, nullptr) : nullptr);
    }
    BOOL GetVolumeGeometry(const CString&, CVolumeGeometry& g) override { return g = {8, 512, 0x20000000}, TRUE; }
    BOOL SetPosition(HANDLE hFile, LONGLONG llDistance, DWORD dwMoveMethod) override
    {
        if (m_case.bSeekBackFails && dwMoveMethod == FILE_CURRENT && llDistance < 0) {
            SetLastError(ERROR_SEEK);
            return FALSE;
        }
        m_llPosition = dwMoveMethod == FILE_BEGIN ? llDistance : m_llPosition + llDistance;
        return GetFileType(hFile) != FILE_TYPE_DISK || CSecureDeleter::SetPosition(hFile, llDistance, dwMoveMethod);
    }
    BOOL WriteChunk(HANDLE hFile, const BYTE* pData, DWORD cbData, DWORD* pcbWritten) override
    {
        const int pass = pData == GetPattern(0) ? 0 : pData == GetPattern(1) ? 1 : pData == GetPattern(2) ? 2 : -1;
        m_writes.emplace_back(m_llPosition, cbData, pass);
        m_llPosition += cbData;
        if (static_cast<int>(m_writes.size()) - 1 == m_case.nFailWrite) {
            SetLastError(ERROR_DISK_FULL);
            return FALSE;
        }
        *pcbWritten = cbData;
        return GetFileType(hFile) != FILE_TYPE_DISK || CSecureDeleter::WriteChunk(hFile, pData, cbData, pcbWritten);
    }
    BOOL RenameFile(const CString& strFrom, const CString& strTo) override
    {
        m_names.push_back(strTo);
        const BOOL bResult = CSecureDeleter::RenameFile(strFrom, strTo);
        if (bResult && m_case.bReadOnlyAtLastName && m_names.size() == 26) {
            SetFileAttributesW(strTo, FILE_ATTRIBUTE_READONLY);
        }
        return bResult;
    }
    NTSTATUS QueryRetrievalMap(HANDLE hFile, LONGLONG llVcn, void* pMap, ULONG cbMap, IO_STATUS_BLOCK& io) override
    {
        m_requestedVcns.push_back(llVcn);
        if (m_case.pages.empty()) {
            return CSecureDeleter::QueryRetrievalMap(hFile, llVcn, pMap, cbMap, io);
        }
        const CPage& page = m_case.pages[m_requestedVcns.size() - 1];
        const native::CRetrievalMapHeader header{
            page.dwClaimedCount != 0 ? page.dwClaimedCount : static_cast<DWORD>(page.extents.size()),
            page.llStartingVcn};
        memcpy(pMap, &header, sizeof(header));
        memcpy(static_cast<BYTE*>(pMap) + sizeof(header), page.extents.data(), page.extents.size() * 16);
        return page.status;
    }
};

// The file's data, seen through a hard link, tells how each path left it. The
// plain path writes the last byte first, then each 64 KiB with three passes,
// and renames through the alphabet, stopping at a name that is somebody else's
// file. Compressed, sparse and encrypted files go through the volume only when
// their cluster map is complete and inside it, else through their own handle.
TEST(SecureDeleterTest, EachPathLeavesNothingOfTheFilesDataOrStopsSafely)
{
    const CCase cases[] = {
        {.pszName = "odd size", .dwAttributes = FILE_ATTRIBUTE_ARCHIVE, .nSize = 65537},
        {.pszName = "empty", .dwAttributes = FILE_ATTRIBUTE_ARCHIVE, .outcome = kUntouched, .nSize = 0},
        {.pszName = "scrambled name taken", .dwAttributes = 0, .bNameTaken = true, .nNames = 3},
        {.pszName = "delete fails", .dwAttributes = 0, .bReadOnlyAtLastName = true, .bResult = FALSE, .nNames = 27},
        {.pszName = "write fails", .dwAttributes = 0, .outcome = kPartly, .nSize = 200000, .nFailWrite = 4,
         .bResult = FALSE, .nNames = 0},
        {.pszName = "no patterns", .dwAttributes = 0, .outcome = kUntouched, .bNoPatterns = true, .bResult = FALSE,
         .nNames = 0},
        // Failures of the platform are failures, never a file reported gone.
        {.pszName = "attributes that cannot be read", .dwAttributes = INVALID_FILE_ATTRIBUTES, .outcome = kUntouched,
         .bResult = FALSE, .nNames = 0},
        {.pszName = "seek back between passes fails", .dwAttributes = 0, .outcome = kPartly, .bSeekBackFails = true,
         .bResult = FALSE, .nNames = 0},
        // Wine's map: one extent ending before it starts, at the boot sector.
        {.pszName = "the platform's own map", .dwAttributes = FILE_ATTRIBUTE_SPARSE_FILE},
        {"every run on disk", {{kOverflow, 0, {{2, 100}, {5, kSparse}, {7, 0x1FFFFFF0}}}, {kSuccess, 7, {{9, 50}}}},
         FILE_ATTRIBUTE_COMPRESSED, kThroughVolume},
        // Raw volume access needs administrator rights: without them, the handle.
        {.pszName = "volume that cannot be opened", .pages = {{kSuccess, 0, {{8, 100}}}}, .bVolumeOpens = false},
        {.pszName = "volume write that fails", .pages = {{kSuccess, 0, {{8, 100}}}}, .nFailWrite = 2},
        {"ends before the file does", {{kSuccess, 0, {{2, 100}}}}, FILE_ATTRIBUTE_ENCRYPTED},
        {"runs past the end of the volume", {{kSuccess, 0, {{8, 0x20000000 - 4}}}}},
        {"starts past the end of the volume", {{kSuccess, 0, {{8, 0x30000000}}}}},
        {"negative cluster", {{kSuccess, 0, {{8, -5}}}}},
        {"extent that goes backwards", {{kSuccess, 0, {{4, 100}, {3, 200}, {8, 300}}}}},
        {"first page not at cluster 0", {{kSuccess, 1, {{9, 100}}}}},
        {"continuation not where asked", {{kOverflow, 0, {{4, 100}}}, {kSuccess, 2, {{8, 200}}}}},
        {"map that breaks off", {{kOverflow, 0, {{4, 100}}}, {kInvalidParameter, 4, {}}}},
        {"overflow without progress", {{kOverflow, 0, {{4, 100}}}, {kOverflow, 4, {}}}},
        {"more extents than the buffer holds", {{kSuccess, 0, {{8, 100}}, 9000}}},
        {"resident data", {{static_cast<NTSTATUS>(0xC0000011), 0, {}}}},  // end of file
        {"only sparse runs", {{kSuccess, 0, {{4, kSparse}, {8, kSparse}}}}},
        {.pszName = "directory", .dwAttributes = FILE_ATTRIBUTE_DIRECTORY, .outcome = kUntouched, .bResult = FALSE,
         .nNames = 0},
        // A link's data is its target's, anybody's file: the link only loses its name.
        {.pszName = "link", .dwAttributes = FILE_ATTRIBUTE_REPARSE_POINT, .outcome = kUntouched},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        CTempFolder folder;
        const CString file = folder / L"a.b.txt";
        const std::string content(c.nSize, 'q');
        WriteTestFile(file, content);
        ASSERT_TRUE(CreateHardLinkW(folder / L"link.bin", file, nullptr));
        if (c.bNameTaken) {
            WriteTestFile(folder / L"C.C.CCC", "someone else's");
        }
        CProbedDeleter deleter(c);
        EXPECT_EQ(deleter.SecureDelete(file), c.bResult);
        EXPECT_EQ(deleter.m_requestedVcns.empty(), (c.dwAttributes & 0x4A00) == 0 || c.dwAttributes == INVALID_FILE_ATTRIBUTES);
        // Beside the link and somebody else's file, only a file kept under its own name.
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Path().GetString()), {}),
                  (c.bResult ? 1 : 2) + (c.bNameTaken ? 1 : 0));
        EXPECT_EQ(TestFileExists(file), !c.bResult);
        EXPECT_EQ(deleter.m_names.size(), c.nNames);
        const std::string linked = ReadTestFile(folder / L"link.bin");
        const auto* pRandom = reinterpret_cast<const char*>(deleter.GetPattern(2));
        const std::string random = pRandom != nullptr ? std::string(pRandom, CSecureDeleter::kPatternSize) : "";
        EXPECT_EQ(!linked.empty() && (random + random).substr(0, linked.size()) == linked, c.outcome == kThroughHandle);
        EXPECT_EQ(linked == content, c.outcome == kThroughVolume || c.outcome == kUntouched);
        EXPECT_TRUE(!c.bNameTaken || ReadTestFile(folder / L"C.C.CCC") == "someone else's");
        if (c.nSize == 65537) {
            EXPECT_EQ(deleter.m_writes, (std::vector<Write>{{65536, 1, 0}, {65536, 1, 1}, {65536, 1, 2}, {0, 65536, 0},
                                                            {0, 65536, 1}, {0, 65536, 2}, {65536, 1, 0},
                                                            {65536, 1, 1}, {65536, 1, 2}}));
            EXPECT_TRUE(deleter.m_names[0] == folder / L"A.A.AAA" && deleter.m_names[25] == folder / L"Z.Z.ZZZ");
        }
        if (c.outcome == kThroughVolume) {
            // Every run on disk with three passes; the one past 4 GiB needs 64 bits.
            const LONGLONG llFar = 0x1FFFFFF0LL * 4096;
            EXPECT_EQ(deleter.m_requestedVcns, (std::vector<LONGLONG>{0, 7}));
            EXPECT_EQ(deleter.m_writes, (std::vector<Write>{{409600, 8192, 0}, {409600, 8192, 1}, {409600, 8192, 2},
                                                            {llFar, 8192, 0}, {llFar, 8192, 1}, {llFar, 8192, 2},
                                                            {204800, 8192, 0}, {204800, 8192, 1}, {204800, 8192, 2}}));
        }
    }
    // The passes write zeros, ones, and bytes that are neither.
    const CSecureDeleter deleter;
    const auto pattern = [&](int n) { return std::string((const char*)deleter.GetPattern(n), 65536); };
    const std::string random = pattern(2);
    EXPECT_EQ(pattern(0) + pattern(1), std::string(65536, '\0') + std::string(65536, '\xFF'));
    EXPECT_GT(std::set<char>(random.begin(), random.end()).size(), 200u);
}

TEST(DeleterTest, DeletesReadOnlyFilesPlainlyOrSecurelyAndCountsMissingOnesAsDeleted)
{
    for (const BOOL bSecure : {FALSE, TRUE}) {
        CTempFolder folder;
        const CString file = folder / L"readonly.txt", link = folder / L"link.txt";
        WriteTestFile(file, std::string(1000, 'c'));
        ASSERT_TRUE(SetFileAttributesW(file, FILE_ATTRIBUTE_READONLY));
        ASSERT_TRUE(CreateHardLinkW(link, file, nullptr));
        CDeleter deleter(bSecure, TRUE, TRUE);
        for (const CString& path : {file, file, folder / L"no-folder\\missing.txt"}) {
            BOOL bIgnored = TRUE;
            EXPECT_TRUE(deleter.DeleteFile(path, &bIgnored) && !bIgnored) << "secure " << bSecure;
        }
        EXPECT_FALSE(TestFileExists(file));
        // The link shows the file's data: random bytes hold a 'c' about 4 times in 1000.
        const std::string left = ReadTestFile(link);
        EXPECT_EQ(std::count(left.begin(), left.end(), 'c') == 1000, !bSecure);
    }
}

// Files held by another program, by this one, or a running program's image.
TEST(DeleterTest, AFileInUseIsIgnoredOnlyWhenTheOptionsAndItsHolderAllow)
{
    // Wine's database maps ".mp3" once mshtml is registered; else it is seeded.
    const wchar_t* pszMp3Key = L"MIME\\Database\\Content Type\\audio/mpeg";
    const bool bSeeded =
        RegGetValueW(HKEY_CLASSES_ROOT, pszMp3Key, L"Extension", RRF_RT_REG_SZ, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS &&
        RegSetKeyValueW(HKEY_CLASSES_ROOT, pszMp3Key, L"Extension", REG_SZ, L".mp3", 10) == ERROR_SUCCESS;
    enum Holder { kHelper, kThisProgram, kRunningImage, kOwnImage };
    const struct {
        const wchar_t* pszName;
        Holder holder;
        BOOL bCheckInUse, bIgnoreOwn, bResult, bIgnored;
    } cases[] = {
        {L"locked.txt", kHelper, FALSE, FALSE, FALSE, FALSE},  // without the options it just fails
        {L"page.txt", kHelper, TRUE, FALSE, TRUE, TRUE},
        {L"song.mp3", kHelper, TRUE, FALSE, FALSE, FALSE},   // media is a failure
        {L"SONG2.MP3", kHelper, TRUE, FALSE, TRUE, TRUE},    // the database lists ".mp3" in lower case only
        {L"mine.txt", kThisProgram, FALSE, TRUE, TRUE, TRUE},
        {L"mine2.txt", kThisProgram, TRUE, FALSE, FALSE, FALSE},
        {L"running.exe", kRunningImage, TRUE, FALSE, FALSE, FALSE},
        // The program's own image, whatever the options, but only in its own case.
        {L"", kOwnImage, FALSE, FALSE, TRUE, TRUE},
        {L"", kOwnImage, TRUE, FALSE, TRUE, TRUE},
        {L"upper", kOwnImage, FALSE, FALSE, FALSE, FALSE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(CString(c.pszName).ToUtf8());
        CTempFolder folder;
        CString file = folder / c.pszName;
        CHelperProcess helper;
        CHandle hOwn;
        if (c.holder == kOwnImage) {
            file = TestProgramFolder() + (*c.pszName != L'\0' ? L"CLEANUP_TESTS.EXE" : L"cleanup_tests.exe");
        } else if (c.holder == kRunningImage) {
            ASSERT_TRUE(CopyFileW(CHelperProcess::Path(), file, FALSE));
            ASSERT_TRUE(helper.StartImage(file, L"idle"));
        } else {
            WriteTestFile(file, "held");
            if (c.holder == kHelper) {
                ASSERT_TRUE(helper.Start(L"hold-file \"" + file + L"\" none"));
            } else {
                hOwn.reset(CreateFileW(file, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
            }
        }
        CLogCapture log;
        BOOL bIgnored = !c.bIgnored;
        EXPECT_EQ(CDeleter(FALSE, c.bCheckInUse, c.bIgnoreOwn).DeleteFile(file, &bIgnored), c.bResult);
        EXPECT_TRUE(bIgnored == c.bIgnored && TestFileExists(file));
        EXPECT_EQ(log.HasMessage(L"Found running process for file " + file), c.holder == kRunningImage);
    }
    if (bSeeded) {
        RegDeleteTreeW(HKEY_CLASSES_ROOT, pszMp3Key);
    }
}

// Only a direct subkey's "Extension" string names its type; an empty table is read again.
TEST(MimeTypeMapTest, ReadsTheDatabaseOnceItHoldsSomething)
{
    const CString root = FormatString(L"Software\\Nulvane-test-mime-%lu", GetCurrentProcessId());
    CMimeTypeMap map(HKEY_CURRENT_USER, root);
    CString type;
    EXPECT_FALSE(map.Lookup(L".one", type));
    const std::tuple<const wchar_t*, const wchar_t*, const wchar_t*, DWORD> values[] = {
        {L"", L"Extension", L".root", REG_SZ}, {L"\\audio/x-first", L"Extension", L".one", REG_SZ},
        {L"\\audio/x-first\\deeper", L"Extension", L".deep", REG_SZ},
        {L"\\video/x-named", L"extension", L".lower", REG_SZ},
        {L"\\video/x-binary", L"Extension", L".bin", REG_BINARY}};
    for (const auto& [pszKey, pszName, pszExtension, dwType] : values) {
        RegSetKeyValueW(HKEY_CURRENT_USER, root + pszKey, pszName, dwType, pszExtension, 2 * wcslen(pszExtension) + 2);
    }
    EXPECT_TRUE(map.Lookup(L".one", type) && type == L"audio/x-first");
    for (const wchar_t* pszMissing : {L".deep", L".root", L".lower", L".bin", L".ONE", L""}) {
        EXPECT_FALSE(map.Lookup(pszMissing, type)) << CString(pszMissing).ToUtf8();
    }
    RegDeleteTreeW(HKEY_CURRENT_USER, root);
}

// A helper started from a copy of its image at the given name, holding a file.
CString StartCopy(CHelperProcess& helper, const CTempFolder& folder, const wchar_t* pszImage, const CString& file,
                  const wchar_t* pszShare)
{
    const CString image = folder / pszImage;
    CopyFileW(CHelperProcess::Path(), image, TRUE);
    EXPECT_TRUE(helper.StartImage(image, L"hold-file \"" + file + L"\" " + pszShare));
    return image;
}

// The logged images of the processes a scan resolved, with the text in their path.
std::vector<CString> Resolved(const CLogCapture& log, const wchar_t* pszText = L"")
{
    std::vector<CString> images = log.Messages();
    std::erase_if(images,
                  [&](const CString& image) { return image.Left(8) != L"\\Device\\" || image.Find(pszText) < 0; });
    return images;
}

// "\Device\HarddiskVolume1" is a prefix of "\Device\HarddiskVolume10\...".
TEST(OpenHandlesTest, DevicePathsTurnBackIntoTheirDriveLetterAndImagesSortForTheScan)
{
    auto targets = [](wchar_t ch) -> CString {
        return ch == L'C' ? L"\\Device\\HarddiskVolume1" : ch == L'D' ? L"\\Device\\HarddiskVolume10" : L"";
    };
    EXPECT_EQ(CProcessInspector::ToDriveLetterPath(L"\\Device\\HarddiskVolume10\\run.exe", targets), L"D:\\run.exe");
    EXPECT_EQ(CProcessInspector::ToDriveLetterPath(L"\\Device\\Mup\\run.exe", targets), L"\\Device\\Mup\\run.exe");

    // Scans take the browser's images first and this program's last.
    std::vector<CString> paths = {L"b\\nulvane.exe", L"z\\other.exe",   L"a\\nulvane.exe",  L"x\\iexplore.exe",
                                  L"a\\other.exe",   L"c\\IEXPLORE.EXE", L"a\\iexplore.exe"};
    std::sort(paths.begin(), paths.end(), COpenHandles::CImageOrder{L"nulvane.exe"});
    // Substring tests are exact: "IEXPLORE" in capitals is an ordinary path.
    const std::vector<CString> expected = {L"a\\iexplore.exe", L"x\\iexplore.exe", L"a\\other.exe",  L"c\\IEXPLORE.EXE",
                                           L"z\\other.exe",    L"a\\nulvane.exe",  L"b\\nulvane.exe"};
    EXPECT_EQ(paths, expected);
}

// One image's processes at a time, the browser's first, this program's last,
// only as far as a question needs; all from one snapshot of the handle table.
TEST(OpenHandlesTest, FindsTheProcessHoldingAFileOneImageGroupAtATime)
{
    CTempFolder folder;
    const CString shared = folder / L"shared.txt", later = folder / L"later.txt", mine = folder / L"mine.txt";
    for (const CString& file : {shared, later, mine}) {
        WriteTestFile(file, "x");
    }
    CHelperProcess otherHolder, browserHolder, lateHolder;
    StartCopy(otherHolder, folder, L"aaa-helper.exe", shared, L"read");
    const CString browser = StartCopy(browserHolder, folder, L"iexplore-helper.exe", shared, L"read");
    CHandle hMine(CreateFileW(mine, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    CLogCapture log;
    COpenHandles handles;

    CString processPath;
    ASSERT_TRUE(handles.FindOpeningProcess(shared, processPath));
    EXPECT_EQ(processPath, browser);
    EXPECT_TRUE(Resolved(log, L"iexplore-helper.exe").size() == 1 && Resolved(log, L"aaa-helper.exe").empty());
    StartCopy(lateHolder, folder, L"aaa-helper.exe", later, L"none");
    ASSERT_TRUE(handles.FindOpeningProcess(mine, processPath));
    EXPECT_EQ(processPath, TestProgramFolder() + L"cleanup_tests.exe");
    EXPECT_EQ(Resolved(log).back(), CProcessInspector::ToDevicePath(TestProgramFolder() + L"cleanup_tests.exe"));
    EXPECT_TRUE(!handles.FindOpeningProcess(later, processPath) && processPath.IsEmpty());
    EXPECT_TRUE(Resolved(log, L"iexplore-helper.exe").size() == 1 && Resolved(log, L"aaa-helper.exe").size() == 1);
}

// The first name query never returns; each query records its thread.
class CBlockingNameQuery : public COpenHandles {
public:
    using COpenHandles::GetHandleFileName;
    std::atomic<int> m_nQueries{0};
    std::atomic<DWORD> m_dwThreads[3] = {};

protected:
    NTSTATUS QueryFileObjectName(HANDLE hFile, wchar_t* pszName, int cchName, int* pcchName) override
    {
        const int n = m_nQueries++;
        m_dwThreads[n < 3 ? n : 2] = GetCurrentThreadId();
        if (n == 0) {
            Sleep(INFINITE);
        }
        return COpenHandles::QueryFileObjectName(hFile, pszName, cchName, pcchName);
    }
};

TEST(OpenHandlesTest, HangingNameQueryCostsOneTimeoutAndAFreshWorker)
{
    CTempFolder folder;
    const CString file = folder / L"named.txt";
    WriteTestFile(file, "x");
    CHandle hFile(CreateFileW(file, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    CBlockingNameQuery handles;

    EXPECT_EQ(handles.GetHandleFileName(hFile.get()), CString());
    const CString name = handles.GetHandleFileName(hFile.get());
    EXPECT_EQ(handles.GetHandleFileName(hFile.get()), name);
    // Windows names it in device form, Wine as "\??\C:\...": both end as the device path.
    EXPECT_EQ(COpenHandles::NormaliseObjectName(name), CProcessInspector::ToDevicePath(file));
    ASSERT_EQ(handles.m_nQueries.load(), 3);
    EXPECT_NE(handles.m_dwThreads[1].load(), handles.m_dwThreads[0].load());
    EXPECT_EQ(handles.m_dwThreads[2].load(), handles.m_dwThreads[1].load());
}

}  // namespace
