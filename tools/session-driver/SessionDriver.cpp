// nulvane_session_driver: plays the user's side of a browsing session from
// outside the program, for the demonstration session and the kill runs.
// Under Wine the rendering control downloads pages (cache entries and
// cookies) but records no history, and there are no Flash or Java plug-ins:
// those traces are made here the way the control and the plug-ins make them,
// through WinINet's URL cache and cookie calls, and as Flash and Java files.
//
// Usage: nulvane_session_driver <command> [arguments]
//   seed <tag>              the user's own browsing before the session:
//                           cache entries, cookies (one of them for
//                           127.0.0.1, which the demonstration's loopback site
//                           overwrites), history, Flash and Java files, under
//                           host names made from the tag
//   browse <tag> <n>        what session n adds without a site to browse:
//                           new cache entries, cookies (one of them
//                           overwriting a cookie of the user's), and what
//                           browse-extras adds for its own page
//   browse-extras <tag> <n> [url ...]
//                           what the control cannot make under Wine: history
//                           records of the URLs and of a page the user had
//                           visited before, a changed and a new Flash file,
//                           a Java file
//   wait-window <ms>        waits until a browser window is visible; prints
//                           its handle; exit 1 when none came in time
//   close                   asks every browser window to close (WM_CLOSE);
//                           exit 1 when there was none
//   answer <caption> <id> <ms>
//                           presses button <id> (IDYES is 6) of the message
//                           box with the caption; exit 1 when none came
//   kill                    ends every Nulvane.exe process at once, as a
//                           crash would; exit 1 when there was none
//   compare <before> <during|-> <after> [--list]
//                           compares listings of nulvane_trace_audit and
//                           prints the summary; exit 1 when a trace of the
//                           session was left or one of the user's was lost
#include <windows.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <cstdio>
#include <string>
#include <vector>

#include "framework/Handles.h"
#include "framework/String.h"
#include "tests/stores/UrlCacheSeed.h"
#include "tools/trace-audit/TraceComparison.h"

namespace {

const wchar_t kFrameClassName[] = L"NulvaneMainFrame";
const wchar_t kProgramImage[] = L"Nulvane.exe";

void Print(const std::string& text)
{
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

CString AppData()
{
    wchar_t path[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, path))) {
        return CString();
    }
    return path;
}

bool WriteWholeFile(const CString& path, const std::string& content)
{
    for (int slash = path.Find(L'\\', 3); slash >= 0; slash = path.Find(L'\\', slash + 1)) {
        CreateDirectoryW(path.Left(slash), nullptr);
    }
    CHandle file(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
           written == content.size();
}

CString FlashSite(const CString& tag, const wchar_t* pszSite)
{
    return AppData() + L"\\Macromedia\\Flash Player\\#SharedObjects\\DEMO\\" + tag + pszSite;
}

CString JavaFolder(const CString& tag)
{
    return AppData() + L"\\Sun\\Java\\Deployment\\cache\\6.0\\" + tag;
}

struct CSteps {
    int nFailed = 0;
    void Check(bool bDone, const CString& what)
    {
        if (!bDone) {
            ++nFailed;
            Print("failed: " + what.ToUtf8() + "\n");
        }
    }
};

int Seed(const CString& tag)
{
    CSteps steps;
    const CString before = L"http://" + tag + L".before.example/";
    const CString shop = L"http://" + tag + L".shop.example/";
    steps.Check(!AddCacheEntry(before + L"index.html", "<html>the user's page</html>").IsEmpty(), L"cache entry");
    steps.Check(!AddCacheEntry(before + L"style.css", "body{}").IsEmpty(), L"cache entry");
    steps.Check(AddCookie(shop, L"basket", L"3"), L"cookie");
    steps.Check(AddCookie(shop + L"account/", L"user", L"ann"), L"cookie");
    // Cookies ignore ports: whatever port the loopback site gets, its "visit"
    // cookie replaces this one during the session.
    steps.Check(AddCookie(L"http://127.0.0.1/", L"visit", L"own-" + tag), L"cookie");
    steps.Check(AddHistoryEntry(before + L"index.html"), L"history");
    steps.Check(AddHistoryEntry(L"http://" + tag + L".news.example/today"), L"history");
    steps.Check(WriteWholeFile(FlashSite(tag, L".game.example\\game.swf\\state.sol"), "score=10"), L"Flash file");
    steps.Check(WriteWholeFile(FlashSite(tag, L".video.example\\player.swf\\volume.sol"), "volume=7"), L"Flash file");
    steps.Check(WriteWholeFile(JavaFolder(tag) + L"\\applet.jar", "applet"), L"Java file");
    return steps.nFailed == 0 ? 0 : 1;
}

// The traces the control cannot make under Wine: it records no visits, and
// there are no plug-ins to write Flash or Java files.
int BrowseExtras(const CString& tag, const CString& run, const std::vector<CString>& visited)
{
    CSteps steps;
    for (const CString& url : visited) {
        steps.Check(AddHistoryEntry(url), L"history");
    }
    // A page of the user's visited again: its record must come back as it
    // was, not go with the session's.
    steps.Check(AddHistoryEntry(L"http://" + tag + L".before.example/index.html"), L"history");
    steps.Check(WriteWholeFile(FlashSite(tag, L".game.example\\game.swf\\state.sol"), "score=999999"), L"Flash file");
    steps.Check(WriteWholeFile(FlashSite(tag, L".ads.example\\ad.swf\\tracking" + run + L".sol"), "seen"),
                L"Flash file");
    steps.Check(WriteWholeFile(JavaFolder(tag) + L"\\session" + run + L".jar", "session"), L"Java file");
    return steps.nFailed == 0 ? 0 : 1;
}

int Browse(const CString& tag, const CString& run)
{
    CSteps steps;
    const CString session = L"http://" + tag + L".session" + run + L".example/";
    const CString shop = L"http://" + tag + L".shop.example/";
    steps.Check(!AddCacheEntry(session + L"a.html", "<html>session</html>").IsEmpty(), L"cache entry");
    steps.Check(!AddCacheEntry(session + L"b.js", "var s;").IsEmpty(), L"cache entry");
    steps.Check(!AddCacheEntry(session + L"c.png", "png").IsEmpty(), L"cache entry");
    steps.Check(AddCookie(L"http://" + tag + L".tracker" + run + L".example/", L"id", L"session" + run), L"cookie");
    steps.Check(AddCookie(shop, L"basket", L"99"), L"cookie");
    return BrowseExtras(tag, run, {session + L"a.html"}) == 0 && steps.nFailed == 0 ? 0 : 1;
}

std::vector<HWND> BrowserWindows()
{
    std::vector<HWND> windows;
    EnumWindows(
        [](HWND hWnd, LPARAM lParam) -> BOOL {
            wchar_t name[64] = {};
            if (GetClassNameW(hWnd, name, 64) > 0 && wcscmp(name, kFrameClassName) == 0) {
                reinterpret_cast<std::vector<HWND>*>(lParam)->push_back(hWnd);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&windows));
    return windows;
}

int WaitWindow(DWORD dwTimeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + dwTimeoutMs;
    for (;;) {
        for (HWND hWnd : BrowserWindows()) {
            if (IsWindowVisible(hWnd)) {
                Print(FormatString(L"%lu\n", static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(hWnd))).ToUtf8());
                return 0;
            }
        }
        if (GetTickCount64() >= deadline) {
            return 1;
        }
        Sleep(100);
    }
}

int CloseWindows()
{
    const std::vector<HWND> windows = BrowserWindows();
    for (HWND hWnd : windows) {
        PostMessageW(hWnd, WM_CLOSE, 0, 0);
    }
    return windows.empty() ? 1 : 0;
}

int AnswerBox(const wchar_t* pszCaption, int nButton, DWORD dwTimeoutMs)
{
    for (const ULONGLONG deadline = GetTickCount64() + dwTimeoutMs; GetTickCount64() < deadline; Sleep(100)) {
        const HWND hBox = FindWindowW(L"#32770", pszCaption);
        if (hBox != nullptr && IsWindowVisible(hBox)) {
            // Posted as the button's own click would come.
            PostMessageW(hBox, WM_COMMAND, MAKEWPARAM(nButton, BN_CLICKED), 0);
            return 0;
        }
    }
    return 1;
}

int KillProgram()
{
    CHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry = {sizeof(entry)};
    int nKilled = 0;
    for (BOOL more = snapshot && Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (_wcsicmp(entry.szExeFile, kProgramImage) != 0) {
            continue;
        }
        CHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID));
        if (process && TerminateProcess(process.get(), 99)) {
            WaitForSingleObject(process.get(), 10000);
            ++nKilled;
        }
    }
    return nKilled > 0 ? 0 : 1;
}

std::vector<std::string> ReadLines(const wchar_t* path)
{
    std::vector<std::string> lines;
    if (wcscmp(path, L"-") == 0) {
        return lines;
    }
    CHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    std::string bytes;
    char buffer[65536];
    DWORD read = 0;
    while (file && ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        bytes.append(buffer, read);
    }
    size_t start = 0;
    for (size_t end; (end = bytes.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(bytes.substr(start, end - start));
    }
    return lines;
}

int Compare(const wchar_t* before, const wchar_t* during, const wchar_t* after, bool bList)
{
    const CTraceSummary summary = CTraceComparison::Compare(ReadLines(before), ReadLines(during), ReadLines(after));
    std::string text;
    text += "  traces before the session:          " + std::to_string(summary.nBefore) + "\n";
    if (wcscmp(during, L"-") != 0) {
        text += "  traces the session added:           " + std::to_string(summary.nAdded) + "\n";
        text += "  pre-session traces away meanwhile:  " + std::to_string(summary.nHidden) +
                " (cookies set aside at the start, files the session overwrote)\n";
    }
    text += "  traces kept (before and after):     " + std::to_string(summary.nKept) + " of " +
            std::to_string(summary.nBefore) + "\n";
    text += "  pre-session traces lost:            " + std::to_string(summary.lost.size()) + "\n";
    text += "  traces the session left:            " + std::to_string(summary.left.size()) + "\n";
    if (bList) {
        for (const std::string& line : summary.lost) {
            text += "  lost: " + line + "\n";
        }
        for (const std::string& line : summary.left) {
            text += "  left: " + line + "\n";
        }
    }
    Print(text);
    return summary.lost.empty() && summary.left.empty() ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const CString command = argc >= 2 ? argv[1] : L"";
    if (command == L"seed" && argc == 3) {
        return Seed(argv[2]);
    }
    if (command == L"browse" && argc == 4) {
        return Browse(argv[2], argv[3]);
    }
    if (command == L"browse-extras" && argc >= 4) {
        return BrowseExtras(argv[2], argv[3], std::vector<CString>(argv + 4, argv + argc));
    }
    if (command == L"wait-window" && argc == 3) {
        return WaitWindow(wcstoul(argv[2], nullptr, 10));
    }
    if (command == L"close" && argc == 2) {
        return CloseWindows();
    }
    if (command == L"answer" && argc == 5) {
        return AnswerBox(argv[2], _wtoi(argv[3]), wcstoul(argv[4], nullptr, 10));
    }
    if (command == L"kill" && argc == 2) {
        return KillProgram();
    }
    if (command == L"compare" && (argc == 5 || argc == 6)) {
        return Compare(argv[2], argv[3], argv[4], argc == 6 && wcscmp(argv[5], L"--list") == 0);
    }
    fprintf(stderr, "usage: nulvane_session_driver seed|browse|browse-extras|wait-window|close|answer|kill|compare ...\n");
    return 2;
}
