#pragma once

#include <windows.h>

#include "framework/Exception.h"
#include "framework/String.h"

// One line per call: "file:line - message", with the text of a system error
// code or of a caught exception appended by the two variants. Formats take
// the Microsoft meaning: "%s" is a wide string. Lines go to a sink that
// writes them nowhere, so a session leaves no log on disk.
void LogMessage(const char* pszSourcePath, int nLine, const wchar_t* pszFormat, ...);
void LogError(const char* pszSourcePath, int nLine, DWORD dwError, const wchar_t* pszFormat, ...);
void LogException(const char* pszSourcePath, int nLine, const CException& e, const wchar_t* pszFormat, ...);

// The once-per-process header: program, browser and system versions.
void LogSystemInfo();

// The program version that LogSystemInfo reports, from the program's version
// resource; set by start-up once it has read the resource.
void SetLogProgramVersion(const CString& strFileVersion, const CString& strBuildDate);

#define LOG_MESSAGE(...) LogMessage(__FILE__, __LINE__, __VA_ARGS__)
#define LOG_ERROR(code, ...) LogError(__FILE__, __LINE__, (code), __VA_ARGS__)
#define LOG_EXCEPTION(e, ...) LogException(__FILE__, __LINE__, (e), __VA_ARGS__)

// ---- Internals, exposed for tests ----

// "text 0x%08X (%d)": the system's text for the code (cut at its first CR)
// or "Unknown error code", the code in hex and its low 16 bits in decimal.
CString FormatErrorText(DWORD dwError);

// The system metrics that name Windows XP editions and Server 2003 R2.
struct COsMetrics {
    int nTabletPc = 0;    // SM_TABLETPC (86)
    int nMediaCenter = 0; // SM_MEDIACENTER (87)
    int nStarter = 0;     // SM_STARTER (88)
    int nServerR2 = 0;    // SM_SERVERR2 (89)
};

// The OS name of the header line for a version record; "Windows %d.%d" when
// the table has no name. An empty name when bHaveVersion is false.
CString GetOsName(const OSVERSIONINFOEXW& osvi, bool bHaveVersion, const COsMetrics& metrics);

// An in-process observer of composed lines, called inside the sink under
// the log lock. Null detaches. Only tests attach one.
using LogObserver = void (*)(void* pContext, const CString& strLine);
void SetLogObserver(LogObserver pfnObserver, void* pContext);
