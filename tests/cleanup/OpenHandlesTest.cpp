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

CString CopyHelper(const CTempFolder& folder, const wchar_t* pszName)
{
    const CString path = folder / pszName;
    EXPECT_TRUE(CopyFileW(CHelperProcess::Path(), path, FALSE));
    return path;
}

CString Hold(const CString& file, const wchar_t* pszShare)
{
    return FormatString(L"hold-file \"%s\" %s", file.GetString(), pszShare);
}

// The image paths that the scan logs, one per process that it resolves.
std::vector<CString> Resolved(const CLogCapture& log)
{
    std::vector<CString> images = log.Messages();
    std::erase_if(images, [](const CString& message) { return message.Left(8) != L"\\Device\\"; });
    return images;
}

int ResolvedCount(const CLogCapture& log, const wchar_t* pszText)
{
    const std::vector<CString> images = Resolved(log);
    return static_cast<int>(
        std::count_if(images.begin(), images.end(), [&](const CString& image) { return image.Find(pszText) >= 0; }));
}

wchar_t UnknownDriveLetter()
{
    wchar_t ch = L'Z';
    while (ch > L'D' && !CProcessInspector::QueryDosDeviceTarget(ch).IsEmpty()) {
        --ch;
    }
    return ch;
}

CString FakeTargets(wchar_t chLetter)
{
    return chLetter == L'C' ? L"\\Device\\HarddiskVolume1" : chLetter == L'D' ? L"\\Device\\HarddiskVolume10" : L"";
}

TEST(ProcessInspectorTest, DevicePathsTurnBackIntoTheirOwnDriveLetter)
{
    EXPECT_EQ(CProcessInspector::ToDriveLetterPath(L"\\Device\\HarddiskVolume10\\run.exe", &FakeTargets),
              CString(L"D:\\run.exe"));
    EXPECT_EQ(CProcessInspector::ToDriveLetterPath(L"\\Device\\HarddiskVolume1\\run.exe", &FakeTargets),
              CString(L"C:\\run.exe"));
    EXPECT_EQ(CProcessInspector::ToDriveLetterPath(L"\\Device\\Mup\\run.exe", &FakeTargets),
              CString(L"\\Device\\Mup\\run.exe"));
    // With the system's own targets: this process's image is its module.
    CProcessInspector inspector;
    EXPECT_EQ(CProcessInspector::ToDriveLetterPath(inspector.GetProcessFileName(GetCurrentProcess())),
              OwnModulePath());
    EXPECT_EQ(CProcessInspector::ToDevicePath(FormatString(L"%c:\\x", UnknownDriveLetter())), CString());
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
    EXPECT_FALSE(processes.IsRunningImage(idle));
    EXPECT_EQ(log.CountMessage(L"CRunningProcesses::PopulateCache() start"), 1);
}

TEST(OpenHandlesTest, ImageOrderPutsTheBrowserFirstAndThisProgramLast)
{
    std::vector<CString> paths = {L"b\\nulvane.exe", L"z\\other.exe",   L"a\\nulvane.exe",  L"x\\iexplore.exe",
                                  L"a\\other.exe",   L"c\\IEXPLORE.EXE", L"a\\iexplore.exe"};
    std::sort(paths.begin(), paths.end(), COpenHandles::CImageOrder{L"nulvane.exe"});
    // Substring tests are exact: "IEXPLORE" in capitals is an ordinary path.
    const std::vector<CString> expected = {L"a\\iexplore.exe", L"x\\iexplore.exe", L"a\\other.exe",  L"c\\IEXPLORE.EXE",
                                           L"z\\other.exe",    L"a\\nulvane.exe",  L"b\\nulvane.exe"};
    EXPECT_EQ(paths, expected);
}

TEST(OpenHandlesTest, BrowserGroupAnswersFirstAndTheRestWaitForLaterQuestions)
{
    CTempFolder folder;
    const CString shared = folder / L"shared.txt";
    const CString second = folder / L"second.txt";
    const CString later = folder / L"later.txt";
    WriteTestFile(shared, "shared");
    WriteTestFile(second, "second");
    WriteTestFile(later, "later");
    const CString browser = CopyHelper(folder, L"iexplore-helper.exe");
    const CString other = CopyHelper(folder, L"aaa-helper.exe");
    CHelperProcess browserHolder, otherHolder, secondHolder, lateHolder;
    ASSERT_TRUE(otherHolder.StartImage(other, Hold(shared, L"read")));
    ASSERT_TRUE(browserHolder.StartImage(browser, Hold(shared, L"read")));
    ASSERT_TRUE(secondHolder.StartImage(other, Hold(second, L"none")));
    CLogCapture log;
    COpenHandles handles;

    CString processPath;
    ASSERT_TRUE(handles.FindOpeningProcess(shared, processPath));
    EXPECT_EQ(processPath, browser);
    EXPECT_EQ(ResolvedCount(log, L"iexplore-helper.exe"), 1);
    EXPECT_EQ(ResolvedCount(log, L"aaa-helper.exe"), 0);

    // The next question resolves the other group, both its processes, from
    // the same snapshot: a file opened since is not seen.
    ASSERT_TRUE(handles.FindOpeningProcess(second, processPath));
    EXPECT_EQ(processPath, other);
    EXPECT_EQ(ResolvedCount(log, L"aaa-helper.exe"), 2);
    ASSERT_TRUE(lateHolder.Start(Hold(later, L"none")));
    EXPECT_FALSE(handles.FindOpeningProcess(later, processPath));
    EXPECT_TRUE(processPath.IsEmpty());
    EXPECT_EQ(ResolvedCount(log, L"iexplore-helper.exe"), 1);

    // A drive the system does not know never reaches the table.
    log.Clear();
    COpenHandles fresh;
    EXPECT_FALSE(fresh.FindOpeningProcess(FormatString(L"%c:\\shared.txt", UnknownDriveLetter()), processPath));
    EXPECT_TRUE(log.Lines().empty());
}

TEST(OpenHandlesTest, FileHeldOnlyByThisProgramIsFoundLast)
{
    CTempFolder folder;
    const CString mine = folder / L"mine.txt";
    const CString theirs = folder / L"theirs.txt";
    WriteTestFile(mine, "mine");
    WriteTestFile(theirs, "theirs");
    CHandle hMine(CreateFileW(mine, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    CHelperProcess helper;
    ASSERT_TRUE(helper.Start(Hold(theirs, L"none")));
    CLogCapture log;
    COpenHandles handles;

    CString processPath;
    ASSERT_TRUE(handles.FindOpeningProcess(mine, processPath));

    EXPECT_EQ(processPath, OwnModulePath());
    ASSERT_FALSE(Resolved(log).empty());
    EXPECT_EQ(Resolved(log).back(), CProcessInspector::ToDevicePath(OwnModulePath()));
    EXPECT_EQ(ResolvedCount(log, L"nulvane_test_helper.exe"), 1);
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
    CLogCapture log;
    CBlockingNameQuery handles;

    EXPECT_EQ(handles.GetHandleFileName(hFile.get()), CString());
    const CString name = handles.GetHandleFileName(hFile.get());
    EXPECT_EQ(handles.GetHandleFileName(hFile.get()), name);

    // Windows names the file in device form, Wine as "\??\C:\...": both
    // come out as the device path.
    EXPECT_EQ(COpenHandles::NormaliseObjectName(name), CProcessInspector::ToDevicePath(file));
    EXPECT_EQ(log.CountMessage(L"Timeout getting filename"), 1);
    ASSERT_EQ(handles.m_nQueries.load(), 3);
    EXPECT_NE(handles.m_dwThreads[1].load(), handles.m_dwThreads[0].load());
    EXPECT_EQ(handles.m_dwThreads[2].load(), handles.m_dwThreads[1].load());
}

}  // namespace
