#include "cleanup/OpenHandles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <vector>

#include "cleanup/RunningProcesses.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"

namespace {

CString OwnModulePath()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return CString(path);
}

// A copy of the helper under another image name, in the folder.
CString CopyHelper(const CTempFolder& folder, const wchar_t* pszName)
{
    const CString path = folder / pszName;
    EXPECT_TRUE(CopyFileW(CHelperProcess::Path(), path, FALSE)) << path.ToUtf8();
    return path;
}

CString HoldArguments(const CString& file, const wchar_t* pszShare)
{
    return FormatString(L"hold-file \"%s\" %s", file.GetString(), pszShare);
}

// The image-path lines that the scan logs, one per process it resolves.
std::vector<CString> ResolvedImages(const CLogCapture& log)
{
    std::vector<CString> images;
    for (const CString& message : log.Messages()) {
        if (message.Left(8) == L"\\Device\\") {
            images.push_back(message);
        }
    }
    return images;
}

wchar_t UnknownDriveLetter()
{
    for (wchar_t ch = L'Z'; ch >= L'D'; --ch) {
        if (CProcessInspector::QueryDosDeviceTarget(ch).IsEmpty()) {
            return ch;
        }
    }
    return 0;
}

TEST(ProcessInspectorTest, DevicePathsAndBack)
{
    const CString target = CProcessInspector::QueryDosDeviceTarget(L'C');
    ASSERT_FALSE(target.IsEmpty());
    EXPECT_EQ(CProcessInspector::ToDevicePath(L"C:\\dir\\file.txt"), target + L"\\dir\\file.txt");
    EXPECT_EQ(CProcessInspector::ToDevicePath(L"c:\\dir"), target + L"\\dir");
    EXPECT_EQ(CProcessInspector::ToDriveLetterPath(target + L"\\dir\\file.txt"), CString(L"C:\\dir\\file.txt"));
    EXPECT_EQ(CProcessInspector::ToDevicePath(L"\\\\server\\share\\file"), CString());
    EXPECT_EQ(CProcessInspector::ToDevicePath(L""), CString());
    const wchar_t unknown = UnknownDriveLetter();
    ASSERT_NE(unknown, 0);
    EXPECT_EQ(CProcessInspector::ToDevicePath(FormatString(L"%c:\\file", unknown)), CString());

    // This process's image, as the system names it, is its module path.
    CProcessInspector inspector;
    const CString image = inspector.GetProcessFileName(GetCurrentProcess());
    EXPECT_EQ(CProcessInspector::ToDriveLetterPath(image), OwnModulePath());
}

CString FakeTargets(wchar_t chLetter)
{
    switch (chLetter) {
    case L'C':
        return L"\\Device\\HarddiskVolume1";
    case L'D':
        return L"\\Device\\HarddiskVolume10";
    default:
        return CString();
    }
}

TEST(ProcessInspectorTest, VolumeWhoseNameIsAPrefixOfAnotherMapsToItsOwnLetter)
{
    EXPECT_EQ(CProcessInspector::ToDriveLetterPath(L"\\Device\\HarddiskVolume10\\app\\run.exe", &FakeTargets),
              CString(L"D:\\app\\run.exe"));
    EXPECT_EQ(CProcessInspector::ToDriveLetterPath(L"\\Device\\HarddiskVolume1\\app\\run.exe", &FakeTargets),
              CString(L"C:\\app\\run.exe"));
    EXPECT_EQ(CProcessInspector::ToDriveLetterPath(L"\\Device\\Mup\\server\\run.exe", &FakeTargets),
              CString(L"\\Device\\Mup\\server\\run.exe"));
}

TEST(RunningProcessesTest, RecognisesTheImageOfARunningProgramOnly)
{
    CTempFolder folder;
    const CString running = CopyHelper(folder, L"running-helper.exe");
    const CString idle = CopyHelper(folder, L"idle-helper.exe");
    CHelperProcess helper;
    ASSERT_TRUE(helper.StartImage(running, L"idle"));
    CLogCapture log;
    CRunningProcesses processes;

    EXPECT_TRUE(processes.IsRunningImage(running));
    EXPECT_TRUE(processes.IsRunningImage(OwnModulePath()));
    EXPECT_FALSE(processes.IsRunningImage(idle));
    EXPECT_FALSE(processes.IsRunningImage(FormatString(L"%c:\\running-helper.exe", UnknownDriveLetter())));
    // The set was filled once, at the first question.
    EXPECT_EQ(log.CountMessage(L"CRunningProcesses::PopulateCache() start"), 1);
    EXPECT_EQ(log.CountMessage(L"CRunningProcesses::PopulateCache() end"), 1);
}

TEST(OpenHandlesTest, ImageOrderPutsTheBrowserFirstAndThisProgramLast)
{
    const COpenHandles::CImageOrder order{L"nulvane.exe"};
    std::vector<CString> paths = {
        L"\\Device\\V1\\b\\nulvane.exe", L"\\Device\\V1\\z\\other.exe", L"\\Device\\V1\\a\\nulvane.exe",
        L"\\Device\\V1\\x\\iexplore.exe", L"\\Device\\V1\\a\\other.exe", L"\\Device\\V1\\c\\IEXPLORE.EXE",
        L"\\Device\\V1\\a\\iexplore.exe",
    };
    std::sort(paths.begin(), paths.end(), order);
    const std::vector<CString> expected = {
        L"\\Device\\V1\\a\\iexplore.exe", L"\\Device\\V1\\x\\iexplore.exe",
        // "IEXPLORE" in capitals is an ordinary path: the tests are exact.
        L"\\Device\\V1\\a\\other.exe",    L"\\Device\\V1\\c\\IEXPLORE.EXE", L"\\Device\\V1\\z\\other.exe",
        L"\\Device\\V1\\a\\nulvane.exe",  L"\\Device\\V1\\b\\nulvane.exe",
    };
    EXPECT_EQ(paths, expected);
    EXPECT_FALSE(order(paths[0], paths[0]));
}

TEST(OpenHandlesTest, ObjectNamesOfBothSystemsBecomeDevicePaths)
{
    const CString target = CProcessInspector::QueryDosDeviceTarget(L'C');
    EXPECT_EQ(COpenHandles::NormaliseObjectName(L"\\??\\C:\\dir\\file"), target + L"\\dir\\file");
    EXPECT_EQ(COpenHandles::NormaliseObjectName(target + L"\\dir\\file"), target + L"\\dir\\file");
    EXPECT_EQ(COpenHandles::NormaliseObjectName(L"\\Device\\NamedPipe\\pipe"), CString(L"\\Device\\NamedPipe\\pipe"));
    EXPECT_EQ(COpenHandles::NormaliseObjectName(L"\\??\\UNC\\server\\share"), CString(L"\\??\\UNC\\server\\share"));
}

TEST(OpenHandlesTest, NamesTheProgramThatHoldsTheFile)
{
    CTempFolder folder;
    const CString held = folder / L"held.txt";
    const CString free = folder / L"free.txt";
    WriteTestFile(held, "held");
    WriteTestFile(free, "free");
    CHelperProcess helper;
    ASSERT_TRUE(helper.Start(HoldArguments(held, L"none")));
    COpenHandles handles;

    CString processPath = L"stale";
    EXPECT_FALSE(handles.FindOpeningProcess(free, processPath));
    EXPECT_TRUE(processPath.IsEmpty());
    // The first question resolved every group; the second is answered from
    // the cache.
    CLogCapture log;
    ASSERT_TRUE(handles.FindOpeningProcess(held, processPath));
    EXPECT_EQ(processPath, CHelperProcess::Path());
    EXPECT_TRUE(ResolvedImages(log).empty());
}

TEST(OpenHandlesTest, UnknownDriveNeverTakesASnapshot)
{
    CLogCapture log;
    COpenHandles handles;
    CString processPath;
    EXPECT_FALSE(handles.FindOpeningProcess(FormatString(L"%c:\\file.txt", UnknownDriveLetter()), processPath));
    EXPECT_TRUE(log.Lines().empty());
}

TEST(OpenHandlesTest, BrowserGroupAnswersFirstAndTheRestWaitForLaterQuestions)
{
    CTempFolder folder;
    const CString shared = folder / L"shared.txt";
    const CString second = folder / L"second.txt";
    WriteTestFile(shared, "shared");
    WriteTestFile(second, "second");
    const CString browser = CopyHelper(folder, L"iexplore-helper.exe");
    const CString other = CopyHelper(folder, L"aaa-helper.exe");
    CHelperProcess browserHelper;
    CHelperProcess otherHelper;
    CHelperProcess otherHelper2;
    ASSERT_TRUE(otherHelper.StartImage(other, HoldArguments(shared, L"read")));
    ASSERT_TRUE(browserHelper.StartImage(browser, HoldArguments(shared, L"read")));
    ASSERT_TRUE(otherHelper2.StartImage(other, HoldArguments(second, L"none")));
    CLogCapture log;
    COpenHandles handles;

    CString processPath;
    ASSERT_TRUE(handles.FindOpeningProcess(shared, processPath));
    EXPECT_EQ(processPath, browser);
    std::vector<CString> images = ResolvedImages(log);
    ASSERT_FALSE(images.empty());
    EXPECT_NE(images[0].Find(L"iexplore-helper.exe"), -1) << images[0].ToUtf8();
    for (const CString& image : images) {
        EXPECT_EQ(image.Find(L"aaa-helper.exe"), -1) << "resolved before it was needed";
    }

    // The other group is still pending from the same snapshot: both of its
    // processes are resolved now, one line each.
    log.Clear();
    ASSERT_TRUE(handles.FindOpeningProcess(second, processPath));
    EXPECT_EQ(processPath, other);
    images = ResolvedImages(log);
    EXPECT_EQ(std::count_if(images.begin(), images.end(),
                            [](const CString& image) { return image.Find(L"aaa-helper.exe") >= 0; }),
              2);
    EXPECT_TRUE(std::none_of(images.begin(), images.end(),
                             [](const CString& image) { return image.Find(L"iexplore-helper.exe") >= 0; }));

    // A file opened after the snapshot is not seen.
    const CString later = folder / L"later.txt";
    WriteTestFile(later, "later");
    CHelperProcess lateHelper;
    ASSERT_TRUE(lateHelper.Start(HoldArguments(later, L"none")));
    EXPECT_FALSE(handles.FindOpeningProcess(later, processPath));
}

TEST(OpenHandlesTest, FileHeldOnlyByThisProgramIsFoundLast)
{
    CTempFolder folder;
    const CString mine = folder / L"mine.txt";
    const CString theirs = folder / L"theirs.txt";
    WriteTestFile(mine, "mine");
    WriteTestFile(theirs, "theirs");
    CHandle hMine(CreateFileW(mine, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(hMine.valid());
    CHelperProcess helper;
    ASSERT_TRUE(helper.Start(HoldArguments(theirs, L"none")));
    CLogCapture log;
    COpenHandles handles;

    CString processPath;
    ASSERT_TRUE(handles.FindOpeningProcess(mine, processPath));

    EXPECT_EQ(processPath, OwnModulePath());
    const std::vector<CString> images = ResolvedImages(log);
    const CString ownImage = CProcessInspector::ToDevicePath(OwnModulePath());
    ASSERT_GE(images.size(), 2u);
    EXPECT_EQ(images.back(), ownImage);
    EXPECT_EQ(std::count(images.begin(), images.end(), ownImage), 1);
    EXPECT_EQ(std::count(images.begin(), images.end(), CProcessInspector::ToDevicePath(CHelperProcess::Path())), 1);
}

// A scanner whose first name query never returns, and that records which
// thread served each query.
class CBlockingNameQuery : public COpenHandles {
public:
    using COpenHandles::GetHandleFileName;

    std::atomic<int> m_nQueries{0};
    std::atomic<DWORD> m_dwThreads[8] = {};

protected:
    NTSTATUS QueryFileObjectName(HANDLE hFile, wchar_t* pszName, int cchName, int* pcchName) override
    {
        const int n = m_nQueries++;
        if (n < 8) {
            m_dwThreads[n] = GetCurrentThreadId();
        }
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
    ASSERT_TRUE(hFile.valid());
    CLogCapture log;
    {
        CBlockingNameQuery handles;
        EXPECT_EQ(handles.GetHandleFileName(hFile.get()), CString());
        EXPECT_EQ(log.CountMessage(L"Timeout getting filename"), 1);

        const CString name = handles.GetHandleFileName(hFile.get());
        EXPECT_EQ(COpenHandles::NormaliseObjectName(name), CProcessInspector::ToDevicePath(file));
        EXPECT_EQ(handles.GetHandleFileName(hFile.get()), name);
        EXPECT_EQ(log.CountMessage(L"Timeout getting filename"), 1);
        ASSERT_EQ(handles.m_nQueries.load(), 3);
        EXPECT_NE(handles.m_dwThreads[1].load(), handles.m_dwThreads[0].load());
        EXPECT_EQ(handles.m_dwThreads[2].load(), handles.m_dwThreads[1].load());
    }
}

}  // namespace
