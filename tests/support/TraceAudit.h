#pragma once

#include <string>
#include <vector>

#include "framework/String.h"

// Runs nulvane_trace_audit.exe (built into ..\bin beside the test folder)
// as its own process with the arguments and returns its output lines: a
// fresh process's view of the stores.
std::vector<std::string> RunTraceAudit(const CString& strArguments, int* pExitCode = nullptr);

std::vector<std::string> LinesStartingWith(const std::vector<std::string>& lines, const std::string& text);
std::vector<std::string> LinesContaining(const std::vector<std::string>& lines, const std::string& text);
