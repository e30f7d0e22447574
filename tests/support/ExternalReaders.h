#pragma once

#include <set>
#include <string>
#include <vector>

#include "framework/String.h"
#include "tests/support/TestFiles.h"

// The independent readers that tests hold the program's results against:
// the trace-audit tool, run as its own process, and libmsiecf's
// msiecfexport on the host.

// Runs nulvane_trace_audit with the arguments; returns its output lines
// (sorted per section, tab-separated UTF-8).
std::vector<std::string> RunTraceAudit(const CString& strArguments, int* pExitCode = nullptr);
// The lines that begin with the text.
std::vector<std::string> LinesStartingWith(const std::vector<std::string>& lines, const std::string& text);
// The lines that contain the text.
std::vector<std::string> LinesContaining(const std::vector<std::string>& lines, const std::string& text);

// The "Location" of every record that msiecfexport lists in the mode
// ("items", "recovered", "all") for a copy of the index file, given the
// signature that reader insists on. Work files go to the folder.
std::multiset<CString> ExportIndexLocations(const CTempFolder& folder, const CString& strIndex, const wchar_t* pszMode);

// tools/loopback-site.py on the host, on 127.0.0.1, for a session that the
// program itself browses. It ends by itself two minutes after its start.
class CLoopbackSite {
public:
    CLoopbackSite();
    // "http://127.0.0.1:<port><path>"; empty when the site did not start.
    CString Url(const wchar_t* pszPath) const { return m_strBase.IsEmpty() ? CString() : m_strBase + pszPath; }

private:
    CTempFolder m_folder;
    CString m_strBase;
};
