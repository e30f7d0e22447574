#include "framework/ComPtr.h"
#include "framework/Dialog.h"
#include "framework/File.h"
#include "framework/FrameWindow.h"
#include "framework/Handles.h"
#include "framework/Registry.h"
#include "framework/StdioFile.h"
#include "framework/String.h"
#include "framework/StringSet.h"
#include "framework/Time.h"
#include "framework/View.h"
#include "framework/WinThread.h"
#include "framework/Window.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "resources/Resource.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestWindow.h"

namespace {

bool IsOpenHandle(HANDLE h)
{
    DWORD flags = 0;
    return GetHandleInformation(h, &flags) != FALSE;
}

ULONG Refs(IUnknown* p) { return p->AddRef(), p->Release(); }

// Records its steps; its thread posts itself two messages (the first
// handler throws) and a quit with 7, or fails or throws in InitInstance.
class CRecordingThread : public CWinThread {
public:
    enum Mode { run, fail, throwInInit };
    CRecordingThread(std::vector<std::string>& steps, Mode mode) : m_steps(steps), m_mode(mode) {}
    ~CRecordingThread() override { m_steps.push_back("deleted"); }

protected:
    BOOL InitInstance() override
    {
        m_steps.push_back(GetCurrent() == this ? "init" : "init, not current");
        if (m_mode == throwInInit) {
            throw std::runtime_error("init");
        }
        PostThreadMessageW(GetCurrentThreadId(), WM_APP + 1, 0, 0);
        PostThreadMessageW(GetCurrentThreadId(), WM_APP + 2, 0, 0);
        PostQuitMessage(7);
        return m_mode == run;
    }
    int ExitInstance() override { return CWinThread::ExitInstance() + 100 * static_cast<int>(m_steps.size()); }
    void OnThreadMessage(const MSG& msg) override
    {
        m_steps.push_back(std::to_string(msg.message - WM_APP));
        if (msg.message == WM_APP + 1) {
            throw std::runtime_error("handler");
        }
    }
    void OnUnhandledException(const wchar_t*) noexcept override { m_steps.push_back("caught"); }

private:
    std::vector<std::string>& m_steps;
    Mode m_mode;
};

class CProbeWindow : public CWindow {
public:
    bool bThrowAtCreate = false;
    int nCaught = 0;

    bool Create()
    {
        return RegisterWindowClass(L"FrameworkWindowTest", 0, nullptr, nullptr, nullptr) &&
               CreateEx(0, L"FrameworkWindowTest", L"probe", WS_POPUP, 0, 0, 50, 50, nullptr, 0);
    }

protected:
    int OnCreate(const CREATESTRUCTW&) override
    {
        if (bThrowAtCreate) {
            throw std::runtime_error("create");
        }
        return 0;
    }
    bool OnMessage(UINT uMsg, WPARAM, LPARAM, LRESULT&) override
    {
        if (uMsg == WM_APP) {
            throw std::runtime_error("handler");
        }
        return false;
    }
    void OnUnhandledException(const wchar_t*) noexcept override { ++nCaught; }
};

// Any template will do: the program's clean-up dialog, without its code.
class CPlainDialog : public CDialog {
public:
    explicit CPlainDialog(HWND hParent, UINT nIDTemplate = IDD_CLEANUP) : CDialog(nIDTemplate, hParent) {}
    std::function<void()> onInit;

protected:
    BOOL OnInitDialog() override
    {
        onInit();
        return TRUE;
    }
};

}  // namespace

TEST(String, FormatKeepsTheMicrosoftConversionsAtAnyLengthAndConversionsReportLoss)
{
    CString s;
    s.Format(L"%s|%S|%d|0x%08X|%I64d|%c", L"wide", "narrow", -42, 0xC0000004u, 1LL << 40, L'z');
    EXPECT_EQ(s.ToUtf8(), "wide|narrow|-42|0xC0000004|1099511627776|z");
    // Past any fixed buffer.
    s.Format(L"[%s]", CString(L'x', 5000).GetString());
    EXPECT_EQ(s.GetLength(), 5002);
    s.AppendFormat(L"%d", 12);
    EXPECT_EQ(s.Right(4), L"x]12");
    s.AppendFormat(nullptr);
    EXPECT_EQ(s.GetLength(), 5004);

    // Conversions keep every character, or say they could not.
    s = L"a\u00e9\u4e2d\U0001F600z";
    EXPECT_EQ(s.ToUtf8(), "a\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80z");
    EXPECT_EQ(CString::FromUtf8(s.ToUtf8()), s);
    EXPECT_EQ(CString::FromAnsi("abc\0def", 7).GetLength(), 7);
    bool lossy = true;
    EXPECT_EQ(CString(L"plain").ToAnsi(&lossy), "plain");
    EXPECT_FALSE(lossy);
    // A CJK character is outside every single-byte Western code page.
    if (GetACP() != CP_UTF8 && GetACP() != 936 && GetACP() != 950 && GetACP() != 932 && GetACP() != 949) {
        EXPECT_NE(CString::FromAnsi(CString(L"x\u4e2dy").ToAnsi(&lossy)), CString(L"x\u4e2dy"));
        EXPECT_TRUE(lossy);
    }
}

TEST(String, OutOfRangePositionsAreClampedOrFoundNowhere)
{
    const CString s(L"C:\\a\\b.c\\d.txt");
    const CString list(L",a,,bc,");
    int pos = 0;
    const CString tokens[] = {list.Tokenize(L",", pos), list.Tokenize(L",", pos), list.Tokenize(L",", pos)};
    const int found[][2] = {{s.Find(L'\\', 3), 4}, {s.Find(L"b.c"), 5}, {s.Find(L'a', 100), -1},
                            {s.Find(L"a", -1), -1}, {s.ReverseFind(L'\\'), 8}, {s.FindOneOf(L".\\"), 2}, {pos, -1},
                            {CString(L"\u00c9T\u00c9").CompareNoCase(L"\u00e9t\u00e9"), 0},
                            {CString(L"abc").CompareNoCase(L"AB") > 0, 1}};
    for (size_t i = 0; i < std::size(found); ++i) {
        EXPECT_EQ(found[i][0], found[i][1]) << "case " << i;
    }
    CString replaced(L"aaaa");
    EXPECT_EQ(replaced.Replace(L"aa", L"b"), 2);
    const CString t(L"abcdef");
    const std::pair<CString, const wchar_t*> parts[] = {
        {t.Left(-1), L""}, {t.Left(99), L"abcdef"}, {t.Mid(9), L""}, {t.Mid(-2), L"abcdef"}, {t.Mid(4, 10), L"ef"},
        {t.Mid(2, -1), L""}, {t.Right(10), L"abcdef"}, {tokens[0] + L"|" + tokens[1] + L"|" + tokens[2], L"a|bc|"},
        {CString(L" \t\r\n value \r\n").Trim(), L"value"}, {replaced, L"bb"},
        {CString(L"\u00e9t\u00e9 MiXed").MakeUpper(), L"\u00c9T\u00c9 MIXED"}};
    for (size_t i = 0; i < std::size(parts); ++i) {
        EXPECT_EQ(parts[i].first, parts[i].second) << "case " << i;
    }
    EXPECT_THROW(t.GetAt(6), std::out_of_range);
    EXPECT_THROW(t.GetAt(-1), std::out_of_range);
    // Sets compare by content, exactly.
    CStringSet a, b;
    EXPECT_TRUE(a.Add(L"x") && b.Add(L"X") && !(a == b));
    EXPECT_TRUE(b.Remove(L"X") && b.Add(L"x") && a == b);
}

TEST(Time, FileTimesConvertAsThePlatformDoesAndUnusableOnesGiveZero)
{
    constexpr ULONGLONG kEpoch = 116444736000000000;  // 1970 in 100 ns steps from 1601
    auto fileTime = [](ULONGLONG t) { return FILETIME{static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)}; };
    // Before the epoch a fraction rounds down, not towards zero; after it, it is cut.
    const std::pair<ULONGLONG, int64_t> times[] = {
        {kEpoch, 0}, {kEpoch - 5000000, -1}, {kEpoch + 16148340078900000, 1614834007}};
    for (const auto& [t, seconds] : times) {
        EXPECT_EQ(CTime::FromFileTime(fileTime(t)).GetTime(), seconds) << t;
    }
}

TEST(File, TruncatesOnlyWhenAskedAndReadsLinesOfAnyLength)
{
    CTempFolder folder;
    const CString path = folder / L"data.bin";
    CFile(path, CFile::modeCreate | CFile::modeWrite).Write("0123456789", 10);
    EXPECT_EQ(CFile(path, CFile::modeCreate | CFile::modeWrite).GetLength(), 0u);

    const std::string longLine(10000, 'q');  // spans the read buffer
    WriteTestFile(path, "first\r\n\r\nthird\n" + longLine + "\r\nlast without end");
    EXPECT_EQ(CFile(path, CFile::modeRead).Seek(7, CFile::begin), 7u);
    CStdioFile lines;
    ASSERT_TRUE(lines.Open(path, CFile::modeRead | CFile::shareDenyWrite));
    std::string line;
    std::vector<std::string> read;
    while (lines.ReadString(line)) {
        read.push_back(line);
    }
    EXPECT_EQ(read, (std::vector<std::string>{"first", "", "third", longLine, "last without end"}));
}

TEST(File, FailuresCarryCauseOsErrorAndPathAndShareModesHoldAgainstAnotherProcess)
{
    CTempFolder folder;
    const CString missing = folder / L"missing.txt";
    const CString path = folder / L"w.txt";
    const CString held = folder / L"held.txt";
    WriteTestFile(path, std::string(512, 'x'));
    WriteTestFile(held, "held");
    CFile writeOnly(path, CFile::modeWrite | CFile::shareDenyNone);
    CFile locker(path, CFile::modeReadWrite | CFile::shareDenyNone);
    locker.LockRange(128, 128);
    CHelperProcess exclusive;
    ASSERT_TRUE(exclusive.Start(L"hold-file \"" + held + L"\" none"));
    char buf[4];
    // The call, and the cause, system error and file name it throws.
    const std::tuple<std::function<void()>, int, LONG, CString> cases[] = {
        {[&] { CFile(missing, CFile::modeRead); }, CFileException::fileNotFound, ERROR_FILE_NOT_FOUND, missing},
        {[&] { CFile(folder / L"no\\dir\\x", CFile::modeRead); }, CFileException::badPath, ERROR_PATH_NOT_FOUND,
         folder / L"no\\dir\\x"},
        {[&] { CFile(held, CFile::modeReadWrite | CFile::shareDenyNone); }, CFileException::sharingViolation,
         ERROR_SHARING_VIOLATION, held},
        {[&] { writeOnly.Read(buf, 3); }, CFileException::accessDenied, ERROR_ACCESS_DENIED, path},
        {[&] { writeOnly.LockRange(200, 10); }, CFileException::lockViolation, ERROR_LOCK_VIOLATION, path},
        {[&] { writeOnly.UnlockRange(0, 1); }, CFileException::lockViolation, ERROR_LOCK_VIOLATION, path}};
    for (const auto& [call, nCause, lOsError, strFile] : cases) {
        try {
            call();
            ADD_FAILURE() << "no exception: " << lOsError;
        } catch (const CFileException& e) {
            EXPECT_EQ(e.m_cause, nCause) << lOsError;
            EXPECT_EQ(e.m_lOsError, lOsError);
            EXPECT_EQ(e.m_strFileName, strFile);
        }
    }
    EXPECT_EQ(exclusive.Stop(), 0);

    // Our exclusive open must fail while the helper has the file open at all.
    CHelperProcess sharing;
    ASSERT_TRUE(sharing.Start(L"hold-file \"" + held + L"\" readwrite"));
    CFile file;
    EXPECT_TRUE(file.Open(held, CFile::modeReadWrite | CFile::shareDenyNone));
    file.Close();
    EXPECT_FALSE(file.Open(held, CFile::modeRead | CFile::shareExclusive));
}

TEST(Registry, ReadsLongAndMalformedValuesSafelyOrRefusesThem)
{
    const CString strScratch = FormatString(L"Software\\NulvaneTests\\Registry-%lu", GetCurrentProcessId());
    CRegKey key;
    ASSERT_EQ(
        RegCreateKeyExW(HKEY_CURRENT_USER, strScratch, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr),
        ERROR_SUCCESS);
    const CRegistry registry(key.get());
    const CString strLong(L'x', 3000);  // past the first read buffer
    EXPECT_EQ(registry.WriteString(L"a\\b", nullptr, strLong), ERROR_SUCCESS);
    // Name, type, data, size, and what ReadString says ("ab" when it reads): text ends
    // at the first null or the end of the data; a number is four bytes of REG_DWORD.
    const std::tuple<const wchar_t*, DWORD, const void*, DWORD, LSTATUS> values[] = {
        {L"odd", REG_SZ, L"abc", 5, ERROR_SUCCESS},  // half a character, no terminator
        {L"embedded", REG_SZ, L"ab\0cd", 12, ERROR_SUCCESS},
        {L"binary", REG_BINARY, "abcd", 4, ERROR_INVALID_DATA},
        {L"short", REG_DWORD, "ab", 2, ERROR_INVALID_DATA}};
    CString strValue;
    DWORD dwValue = 7;
    for (const auto& [pszName, dwType, pData, cb, nString] : values) {
        RegSetValueExW(key.get(), pszName, 0, dwType, static_cast<const BYTE*>(pData), cb);
        strValue = L"unchanged";
        EXPECT_EQ(registry.ReadString(L"", pszName, strValue), nString) << pszName;
        EXPECT_EQ(strValue, nString == ERROR_SUCCESS ? L"ab" : L"unchanged") << pszName;
        EXPECT_EQ(registry.ReadDword(L"", pszName, dwValue), ERROR_INVALID_DATA) << pszName;
    }
    EXPECT_EQ(dwValue, 7u);
    EXPECT_EQ(registry.ReadString(L"", L"missing", strValue), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(registry.ReadDword(L"", L"missing", dwValue), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(registry.ReadString(L"a\\b", L"", strValue), ERROR_SUCCESS);
    EXPECT_EQ(strValue, strLong);
    key.reset();
    RegDeleteTreeW(HKEY_CURRENT_USER, strScratch);
}

TEST(Owners, CloseOrReleaseWhatTheyHoldOnResetAndDestructionButNotAfterAMove)
{
    HANDLE first = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE second = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    {
        CHandle a(first);
        a.reset(second);
        EXPECT_FALSE(IsOpenHandle(first));
        CHandle b(std::move(a));
        EXPECT_FALSE(a.valid());
        CHandle c;
        c = std::move(b);
        EXPECT_EQ(c.get(), second);
    }
    EXPECT_FALSE(IsOpenHandle(second));
    // INVALID_HANDLE_VALUE is no handle for the owners that hold it.
    EXPECT_FALSE(CHandle(CreateFileW(L"C:\\no\\such", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)).valid());

    // A COM pointer counts every copy, none for a move.
    IStream* pObject = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &pObject), S_OK);
    {
        CComPtr<IStream> a(pObject);
        CComPtr<IStream> b(a);
        CComPtr<IStream> c(std::move(b));
        EXPECT_FALSE(b);
        c = a;
        EXPECT_EQ(Refs(pObject), 3u);
        c.reset();
        EXPECT_EQ(Refs(pObject), 2u);
    }
    EXPECT_EQ(pObject->Release(), 0u);
    CComPtr<IUnknown> none;
    EXPECT_EQ(CComPtr<IUnknown>().QueryInterface(none), E_POINTER);
}

TEST(WinThread, RunsItsLoopUntilQuitStopsEveryExceptionThenExitsAndDeletesItself)
{
    // A throwing handler stops at the thread, which carries on; ExitInstance
    // runs when initialisation fails or throws too. The exit code shows how
    // many steps came before ExitInstance.
    const struct {
        CRecordingThread::Mode mode;
        DWORD dwExitCode;
        std::vector<std::string> steps;
    } runs[] = {{CRecordingThread::run, 407, {"init", "1", "caught", "2", "deleted"}},
                {CRecordingThread::fail, 100, {"init", "deleted"}},
                {CRecordingThread::throwInInit, 200, {"init", "caught", "deleted"}}};
    for (const auto& run : runs) {
        std::vector<std::string> steps;
        CWinThread* pThread = new CRecordingThread(steps, run.mode);
        ASSERT_TRUE(pThread->CreateThread());
        // Taken over: the thread must not close it when it ends.
        const CHandle hThread = pThread->DetachThreadHandle();
        DWORD dwExitCode = 0;
        EXPECT_TRUE(WaitForSingleObject(hThread.get(), 10000) == WAIT_OBJECT_0 &&
                    GetExitCodeThread(hThread.get(), &dwExitCode));
        EXPECT_EQ(dwExitCode, run.dwExitCode);
        EXPECT_EQ(steps, run.steps);
    }
}

TEST(Window, StopsEveryExceptionAndNeverTakesAnotherClasssWindowForOne)
{
    CProbeWindow window;
    ASSERT_TRUE(window.Create());
    const HWND hWnd = window.GetSafeHwnd();
    EXPECT_EQ(CWindow::FromHandle(hWnd), &window);
    EXPECT_EQ(SendMessageW(hWnd, WM_APP, 0, 0), 0);
    EXPECT_EQ(window.nCaught, 1);
    EXPECT_TRUE(window.DestroyWindow());
    EXPECT_EQ(CWindow::FromHandle(hWnd), nullptr);

    // Whatever the other window's user data holds.
    HWND hStatic = CreateWindowExW(0, L"Static", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    SetWindowLongPtrW(hStatic, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&window));
    EXPECT_EQ(CWindow::FromHandle(hStatic), nullptr);
    DestroyWindow(hStatic);

    CProbeWindow throwing;
    throwing.bThrowAtCreate = true;
    EXPECT_FALSE(throwing.Create());
    EXPECT_EQ(throwing.GetSafeHwnd(), nullptr);
    EXPECT_EQ(throwing.nCaught, 1);
}

TEST(FrameWindow, OwnsTheViewsItMakesAndMakesNoneWithoutAFactory)
{
    CFrameWindow frame;
    ASSERT_TRUE(frame.LoadFrame(0, WS_OVERLAPPEDWINDOW, nullptr, nullptr));
    const CView* pView = frame.CreateView([] { return std::make_unique<CView>(); }, nullptr, CFrameWindow::kFirstViewId);
    ASSERT_NE(pView, nullptr);
    EXPECT_TRUE(IsChild(frame.GetSafeHwnd(), pView->GetSafeHwnd()));
    EXPECT_EQ(frame.CreateView({}, nullptr, CFrameWindow::kFirstViewId + 1), nullptr);
    EXPECT_EQ(frame.GetViews().size(), 1u);
    EXPECT_TRUE(frame.DestroyWindow());
}

TEST(Dialog, AQuitEndsItAndReachesTheOuterLoopAndTheOwnerIsDisabledOnlyWhileItRuns)
{
    CTestParentWindow owner;
    CPlainDialog quit(owner.Get());
    bool bOwnerEnabledDuring = true;
    quit.onInit = [&] {
        bOwnerEnabledDuring = IsWindowEnabled(owner.Get()) != FALSE;
        PostQuitMessage(10);
    };
    EXPECT_EQ(quit.DoModal(), IDCANCEL);
    EXPECT_FALSE(bOwnerEnabledDuring);
    MSG msg;
    EXPECT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) && msg.wParam == 10);
    EXPECT_TRUE(IsWindowEnabled(owner.Get()));
    // Without a template: refused, and the owner stays usable.
    EXPECT_EQ(CPlainDialog(owner.Get(), 4242).DoModal(), -1);
    EXPECT_TRUE(IsWindowEnabled(owner.Get()));
}
