#pragma once

#include <vector>

#include "framework/String.h"

// The program's command line: the raw text, in which the clean-up switches
// are looked for, and the argument list without the program's name, from
// which the URL and "--register" are taken.
class CCommandLine {
public:
    // Switches found anywhere in the raw text, case-sensitively. The two
    // clean-up switches carry the blank before them.
    static constexpr const wchar_t* kSilentCleanupSwitch = L" --silentcleanup";
    static constexpr const wchar_t* kRecoveryCleanupSwitch = L" --recoverycleanup";
    static constexpr const wchar_t* kCleanupGateSwitch = L"--cleanup";
    // Only as the first argument, exactly.
    static constexpr const wchar_t* kRegisterSwitch = L"--register";

    CCommandLine() = default;
    CCommandLine(const CString& strRaw, std::vector<CString> arguments);
    // The running process's command line, split as the runtime splits it.
    static CCommandLine FromProcess();
    // Splits a raw command line whose first item is the program.
    static CCommandLine FromRaw(const CString& strRaw);

    const CString& GetRaw() const { return m_strRaw; }
    const std::vector<CString>& GetArguments() const { return m_arguments; }

    bool IsRegisterRun() const;
    // The first argument that begins with neither "-" nor "/"; empty when
    // there is none.
    CString GetUrl() const;
    bool Contains(const wchar_t* pszSwitch) const;

private:
    CString m_strRaw;
    std::vector<CString> m_arguments;
};
