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
//   exit <code>
//       signals ready and ends at once with that exit code
#include <windows.h>

#include <cwchar>

#include "framework/Handles.h"

namespace {

constexpr DWORD kMaxLifetimeMs = 60000;

DWORD ShareModeFromName(const wchar_t* name)
{
    if (wcscmp(name, L"read") == 0) {
        return FILE_SHARE_READ;
    }
    if (wcscmp(name, L"write") == 0) {
        return FILE_SHARE_WRITE;
    }
    if (wcscmp(name, L"readwrite") == 0) {
        return FILE_SHARE_READ | FILE_SHARE_WRITE;
    }
    if (wcscmp(name, L"delete") == 0) {
        return FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
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
    } else if (wcscmp(command, L"exit") == 0 && argc >= 5) {
        SetEvent(ready.get());
        return _wtoi(argv[4]);
    } else {
        return 2;
    }
    SetEvent(ready.get());
    WaitForSingleObject(quit.get(), kMaxLifetimeMs);
    return 0;
}
