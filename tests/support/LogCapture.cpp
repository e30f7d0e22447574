#include "tests/support/LogCapture.h"

#include "framework/Logger.h"

CLogCapture::CLogCapture()
{
    SetLogObserver(&CLogCapture::Observe, this);
}

CLogCapture::~CLogCapture()
{
    SetLogObserver(nullptr, nullptr);
}

void CLogCapture::Observe(void* pContext, const CString& strLine)
{
    auto* self = static_cast<CLogCapture*>(pContext);
    std::lock_guard<std::mutex> lock(self->m_mutex);
    self->m_lines.push_back(strLine);
}

std::vector<CString> CLogCapture::Lines() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lines;
}

std::vector<CString> CLogCapture::Messages() const
{
    std::vector<CString> messages;
    for (const CString& line : Lines()) {
        const int sep = line.Find(L" - ");
        messages.push_back(sep < 0 ? line : line.Mid(sep + 3));
    }
    return messages;
}

int CLogCapture::CountMessage(const wchar_t* pszMessage) const
{
    int n = 0;
    for (const CString& message : Messages()) {
        if (message == pszMessage) {
            ++n;
        }
    }
    return n;
}

void CLogCapture::Clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lines.clear();
}
