#include "app/CommandLine.h"

#include <shellapi.h>

#include "framework/Handles.h"

CCommandLine::CCommandLine(const CString& strRaw, std::vector<CString> arguments)
    : m_strRaw(strRaw), m_arguments(std::move(arguments))
{
}

CCommandLine CCommandLine::FromProcess()
{
    return FromRaw(GetCommandLineW());
}

CCommandLine CCommandLine::FromRaw(const CString& strRaw)
{
    std::vector<CString> arguments;
    int nCount = 0;
    // An empty text would make the system split the running program's own
    // path instead.
    if (!strRaw.IsEmpty()) {
        CLocalMemory argv(CommandLineToArgvW(strRaw, &nCount));
        auto* const* ppszArgs = static_cast<wchar_t* const*>(argv.get());
        for (int i = 1; ppszArgs != nullptr && i < nCount; ++i) {
            arguments.emplace_back(ppszArgs[i]);
        }
    }
    return CCommandLine(strRaw, std::move(arguments));
}

bool CCommandLine::IsRegisterRun() const
{
    return !m_arguments.empty() && m_arguments.front() == kRegisterSwitch;
}

CString CCommandLine::GetUrl() const
{
    for (const CString& strArgument : m_arguments) {
        if (strArgument.IsEmpty()) {
            continue;
        }
        const wchar_t chFirst = strArgument[0];
        if (chFirst != L'-' && chFirst != L'/') {
            return strArgument;
        }
    }
    return CString();
}

bool CCommandLine::Contains(const wchar_t* pszSwitch) const
{
    return m_strRaw.Find(pszSwitch) >= 0;
}
