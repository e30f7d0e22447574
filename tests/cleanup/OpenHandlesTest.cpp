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

// A helper started from a copy of its image at the given name, holding a file.
CString StartCopy(CHelperProcess& helper, const CTempFolder& folder, const wchar_t* pszImage, const CString& file,
                  const wchar_t* pszShare)
{
    const CString image = folder / pszImage;
    CopyFileW(CHelperProcess::Path(), image, TRUE);
    EXPECT_TRUE(helper.StartImage(image, L"hold-file \"" + file + L"\" " + pszShare));
    return image;
}

// The images of the processes whose handles a scan resolved (it logs each)
// that have the text in their path.
std::vector<CString> Resolved(const CLogCapture& log, const wchar_t* pszText = L"")
{
    std::vector<CString> images = log.Messages();
    std::erase_if(images,
                  [&](const CString& image) { return image.Left(8) != L"\\Device\\" || image.Find(pszText) < 0; });
    return images;
}

// "\Device\HarddiskVolume1" is a prefix of "\Device\HarddiskVolume10\...":
// a target must end at a folder boundary.
TEST(ProcessInspectorTest, DevicePathsTurnBackIntoTheirOwnDriveLetter)
{
    auto targets = [](wchar_t ch) -> CString {
        return ch == L'C' ? L"\\Device\\HarddiskVolume1" : ch == L'D' ? L"\\Device\\HarddiskVolume10" : L"";
    };
    EXPECT_EQ(CProcessInspector::ToDriveLetterPath(L"\\Device\\HarddiskVolume10\\run.exe", targets), L"D:\\run.exe");
    EXPECT_EQ(CProcessInspector::ToDriveLetterPath(L"\\Device\\Mup\\run.exe", targets), L"\\Device\\Mup\\run.exe");
    // With the system's own targets: this process's image is its module.
    EXPECT_EQ(CProcessInspector::ToDriveLetterPath(CProcessInspector().GetProcessFileName(GetCurrentProcess())),
              OwnModulePath());
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

// The scan resolves the processes of one image at a time, the browser's
// first, this program's last, and only as far as a question needs; all from
// one snapshot of the handle table.
TEST(OpenHandlesTest, FindsTheProcessHoldingAFileOneImageGroupAtATime)
{
    CTempFolder folder;
    const CString shared = folder / L"shared.txt", second = folder / L"second.txt", later = folder / L"later.txt",
                  mine = folder / L"mine.txt";
    for (const CString& file : {shared, second, later, mine}) {
        WriteTestFile(file, "x");
    }
    CHelperProcess otherHolder, browserHolder, secondHolder, lateHolder;
    const CString other = StartCopy(otherHolder, folder, L"aaa-helper.exe", shared, L"read");
    const CString browser = StartCopy(browserHolder, folder, L"iexplore-helper.exe", shared, L"read");
    StartCopy(secondHolder, folder, L"aaa-helper.exe", second, L"none");
    CHandle hMine(CreateFileW(mine, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    CLogCapture log;
    COpenHandles handles;

    CString processPath;
    ASSERT_TRUE(handles.FindOpeningProcess(shared, processPath));
    EXPECT_EQ(processPath, browser);
    EXPECT_EQ(Resolved(log, L"iexplore-helper.exe").size(), 1u);
    EXPECT_EQ(Resolved(log, L"aaa-helper.exe").size(), 0u);
    ASSERT_TRUE(handles.FindOpeningProcess(second, processPath));
    EXPECT_EQ(processPath, other);
    EXPECT_EQ(Resolved(log, L"aaa-helper.exe").size(), 2u);
    EXPECT_EQ(Resolved(log, L"cleanup_tests.exe").size(), 0u);
    StartCopy(lateHolder, folder, L"aaa-helper.exe", later, L"none");
    ASSERT_TRUE(handles.FindOpeningProcess(mine, processPath));
    EXPECT_EQ(processPath, OwnModulePath());
    EXPECT_EQ(Resolved(log).back(), CProcessInspector::ToDevicePath(OwnModulePath()));
    EXPECT_FALSE(handles.FindOpeningProcess(later, processPath));
    EXPECT_TRUE(processPath.IsEmpty());
    EXPECT_EQ(Resolved(log, L"iexplore-helper.exe").size(), 1u);
    EXPECT_EQ(Resolved(log, L"aaa-helper.exe").size(), 2u);

    // The images of running programs, and no other.
    CRunningProcesses processes;
    EXPECT_TRUE(processes.IsRunningImage(browser));
    EXPECT_FALSE(processes.IsRunningImage(folder / L"idle-helper.exe"));
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
    // Windows names the file in device form, Wine as "\??\C:\...": both
    // come out as the device path.
    EXPECT_EQ(COpenHandles::NormaliseObjectName(name), CProcessInspector::ToDevicePath(file));
    ASSERT_EQ(handles.m_nQueries.load(), 3);
    EXPECT_NE(handles.m_dwThreads[1].load(), handles.m_dwThreads[0].load());
    EXPECT_EQ(handles.m_dwThreads[2].load(), handles.m_dwThreads[1].load());
}

}  // namespace
