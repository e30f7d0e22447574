// The second process of the tests. Usage:
//   nulvane_test_helper <ready-event> <quit-event> <command> [arguments]
// It carries out the command, signals the ready event, and holds what it
// took until the quit event is signalled (or a minute has passed, so that a
// crashed test leaves no helper behind).
//
// Commands:
//   hold-file <path> <none|read|write|readwrite|delete>
//       opens the file for reading with that share mode and keeps it open
//   own-mutex <name>
//       creates the named mutex as its initial owner
//   idle
//       takes nothing; keeps its own image running until told to quit
//   url-cache-list <output>
//       writes every URL-cache entry this process's WinINet enumerates to
//       the output file, one UTF-8 line each: URL, tab, local file, tab,
//       entry type in hex
//   set-cookie <url> <cookie data> <flags>
//       sets the cookie through InternetSetCookieExW with the flags (decimal)
//       and ends at once, as a browser process of the user's would
//   url-cache-roundtrip <key>
//       records the key as a history entry, looks it up, deletes it and
//       looks it up again; signals ready and ends with 0 when every step
//       did what the URL cache promises, else with the number of the step
//       that failed (11 to 14)
//   session <application-data folder> <script>
//       does what a browsing start does before its first window: the
//       cleaners' snapshots of the user's stores, the recovery file in the
//       folder's "Nulvane" (exit code 5 when it cannot be written) and the
//       cookie removal; then leaves the traces the script names, as the
//       browsing would. Script lines, UTF-8, tab-separated:
//         cache <url> | cookie <url> <name> <value> | history <url> |
//         file <path> <content>
//       Tests end it with TerminateProcess: a session that never cleaned up.
//
// Started as "nulvane_test_helper --register", it does what the program's
// elevated copy does: the machine-wide registration for its own path.
#include <windows.h>
#include <wininet.h>

#include <cwchar>
#include <sstream>
#include <string>
#include <vector>

#include "app/MSDIApp.h"
#include "framework/Handles.h"
#include "framework/String.h"
#include "shell/DefaultBrowser.h"
#include "tests/stores/UrlCacheSeed.h"

namespace {

constexpr DWORD kMaxLifetimeMs = 60000;

DWORD ShareModeFromName(const CString& name)
{
    const DWORD all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    return name == L"read" ? FILE_SHARE_READ
           : name == L"write" ? FILE_SHARE_WRITE
           : name == L"readwrite" ? FILE_SHARE_READ | FILE_SHARE_WRITE
           : name == L"delete" ? all
                               : 0;
}

// Creates the file's missing folders too.
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

bool WriteUtf8File(const wchar_t* output, const CString& text)
{
    return WriteWholeFile(output, text.ToUtf8());
}

bool ListUrlCache(const wchar_t* output)
{
    CString text;
    std::vector<BYTE> buffer(65536);
    auto* e = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOW*>(buffer.data());
    DWORD size = static_cast<DWORD>(buffer.size());
    HANDLE find = FindFirstUrlCacheEntryW(nullptr, e, &size);
    for (BOOL more = find != nullptr; more; more = FindNextUrlCacheEntryW(find, e, &size)) {
        text.AppendFormat(L"%s\t%s\t%08lX\n", e->lpszSourceUrlName,
                          e->lpszLocalFileName != nullptr ? e->lpszLocalFileName : L"", e->CacheEntryType);
        size = static_cast<DWORD>(buffer.size());
    }
    if (find != nullptr) {
        FindCloseUrlCache(find);
    }
    return WriteUtf8File(output, text);
}

CString ModulePath()
{
    wchar_t path[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

// Every step a user's later browsing takes with a URL: record it, find
// it, delete it, and find it gone.
int RoundTripHistoryEntry(const wchar_t* key)
{
    const FILETIME never = {0, 0};
    if (!CommitUrlCacheEntryW(key, nullptr, never, never, URLHISTORY_CACHE_ENTRY | NORMAL_CACHE_ENTRY, nullptr, 0,
                              nullptr, nullptr)) {
        return 11;
    }
    std::vector<BYTE> buffer(65536);
    DWORD size = static_cast<DWORD>(buffer.size());
    if (!GetUrlCacheEntryInfoW(key, reinterpret_cast<INTERNET_CACHE_ENTRY_INFOW*>(buffer.data()), &size)) {
        return 12;
    }
    if (!DeleteUrlCacheEntryW(key)) {
        return 13;
    }
    size = static_cast<DWORD>(buffer.size());
    if (GetUrlCacheEntryInfoW(key, reinterpret_cast<INTERNET_CACHE_ENTRY_INFOW*>(buffer.data()), &size) ||
        GetLastError() != ERROR_FILE_NOT_FOUND) {
        return 14;
    }
    return 0;
}

std::vector<CString> SplitTabs(const CString& line)
{
    std::vector<CString> fields;
    int start = 0;
    for (int tab; (tab = line.Find(L'\t', start)) >= 0; start = tab + 1) {
        fields.push_back(line.Mid(start, tab - start));
    }
    fields.push_back(line.Mid(start));
    return fields;
}

bool RunTraceScript(const wchar_t* script)
{
    std::string bytes;
    {
        CHandle file(CreateFileW(script, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        char buffer[4096];
        DWORD read = 0;
        while (file && ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) {
            bytes.append(buffer, read);
        }
    }
    std::istringstream lines(bytes);
    for (std::string utf8; std::getline(lines, utf8);) {
        const std::vector<CString> f = SplitTabs(CString::FromUtf8(utf8));
        bool done = false;
        if (f[0] == L"cache" && f.size() == 2) {
            done = !AddCacheEntry(f[1], "session").IsEmpty();
        } else if (f[0] == L"cookie" && f.size() == 4) {
            done = AddCookie(f[1], f[2], f[3]);
        } else if (f[0] == L"history" && f.size() == 2) {
            done = AddHistoryEntry(f[1]);
        } else if (f[0] == L"file" && f.size() == 3) {
            done = WriteWholeFile(f[1], f[2].ToUtf8());
        }
        if (!done) {
            return false;
        }
    }
    return true;
}

int RunSession(const wchar_t* appDataFolder, const wchar_t* script)
{
    CMSDIApp app;
    app.SetAppDataFolder(appDataFolder);
    app.GetTempInternetFiles().SetStartTime(CFileTime::GetCurrentTime());
    if (!app.GetCookies().ReadCookies()) {
        return 6;
    }
    (void)app.GetFlashSharedObjects().SnapshotSharedObjects(FALSE);
    (void)app.GetJavaFiles().SnapshotCache();
    app.GetHistory().ReadHistory();
    if (!app.WriteRecoveryFile()) {
        return 5;
    }
    CDeleter startupDeleter(TRUE, FALSE, FALSE);
    if (!app.GetCookies().StartRemoval(&startupDeleter)) {
        return 6;
    }
    app.GetCookies().WaitForBackgroundTask();
    return RunTraceScript(script) ? 0 : 7;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc >= 2 && CDefaultBrowser::kRegisterSwitch == CString(argv[1])) {
        CDefaultBrowser browser(ModulePath());
        return browser.RegisterMachineWide() ? 0 : 1;
    }
    if (argc < 4) {
        return 2;
    }
    CHandle ready(OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[1]));
    CHandle quit(OpenEventW(SYNCHRONIZE, FALSE, argv[2]));
    if (!ready || !quit) {
        return 3;
    }
    const wchar_t* command = argv[3];
    CHandle held;
    if (wcscmp(command, L"hold-file") == 0 && argc >= 6) {
        held.reset(CreateFileW(argv[4], GENERIC_READ, ShareModeFromName(argv[5]), nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!held) {
            return 4;
        }
    } else if (wcscmp(command, L"own-mutex") == 0 && argc >= 5) {
        held.reset(CreateMutexW(nullptr, TRUE, argv[4]));
        if (!held) {
            return 4;
        }
    } else if (wcscmp(command, L"idle") == 0) {
        // Nothing to take: the running image is the point.
    } else if (wcscmp(command, L"url-cache-list") == 0 && argc >= 5) {
        if (!ListUrlCache(argv[4])) {
            return 5;
        }
    } else if (wcscmp(command, L"set-cookie") == 0 && argc >= 7) {
        const DWORD flags = wcstoul(argv[6], nullptr, 10);
        const DWORD state = InternetSetCookieExW(argv[4], nullptr, argv[5], flags, 0);
        SetEvent(ready.get());
        return state != 0 ? 0 : 6;
    } else if (wcscmp(command, L"url-cache-roundtrip") == 0 && argc >= 5) {
        const int code = RoundTripHistoryEntry(argv[4]);
        SetEvent(ready.get());
        return code;
    } else if (wcscmp(command, L"session") == 0 && argc >= 6) {
        const int code = RunSession(argv[4], argv[5]);
        if (code != 0) {
            return code;
        }
    } else {
        return 2;
    }
    SetEvent(ready.get());
    WaitForSingleObject(quit.get(), kMaxLifetimeMs);
    return 0;
}
