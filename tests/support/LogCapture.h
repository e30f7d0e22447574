#pragma once

#include <mutex>
#include <vector>

#include "framework/String.h"

// Collects every log line composed while it exists, for tests that assert
// what the program logged. One capture at a time.
class CLogCapture {
public:
    CLogCapture();
    ~CLogCapture();
    CLogCapture(const CLogCapture&) = delete;
    CLogCapture& operator=(const CLogCapture&) = delete;

    std::vector<CString> Lines() const;
    // The message part of each line: the text after the first " - ".
    std::vector<CString> Messages() const;
    int CountMessage(const wchar_t* pszMessage) const;
    bool HasMessage(const wchar_t* pszMessage) const { return CountMessage(pszMessage) > 0; }
    void Clear();

private:
    static void Observe(void* pContext, const CString& strLine);

    mutable std::mutex m_mutex;
    std::vector<CString> m_lines;
};
