#include "framework/StdioFile.h"

BOOL CStdioFile::Open(const wchar_t* pszFileName, UINT nOpenFlags, CFileException* pError)
{
    m_buffer.clear();
    m_nPos = 0;
    m_bEof = false;
    return CFile::Open(pszFileName, nOpenFlags, pError);
}

BOOL CStdioFile::FillBuffer()
{
    if (m_bEof) {
        return FALSE;
    }
    char chunk[4096];
    const UINT n = Read(chunk, sizeof(chunk));
    if (n == 0) {
        m_bEof = true;
        return FALSE;
    }
    m_buffer.erase(0, m_nPos);
    m_nPos = 0;
    m_buffer.append(chunk, n);
    return TRUE;
}

BOOL CStdioFile::ReadString(std::string& line)
{
    line.clear();
    for (;;) {
        const size_t lf = m_buffer.find('\n', m_nPos);
        if (lf != std::string::npos) {
            line.assign(m_buffer, m_nPos, lf - m_nPos);
            m_nPos = lf + 1;
            break;
        }
        if (!FillBuffer()) {
            if (m_nPos >= m_buffer.size()) {
                return FALSE;
            }
            line.assign(m_buffer, m_nPos, std::string::npos);
            m_nPos = m_buffer.size();
            break;
        }
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return TRUE;
}

void CStdioFile::WriteString(const std::string& text)
{
    std::string out;
    out.reserve(text.size() + 16);
    for (char ch : text) {
        if (ch == '\n') {
            out += '\r';
        }
        out += ch;
    }
    Write(out.data(), static_cast<UINT>(out.size()));
}

void CStdioFile::WriteLine(const std::string& text)
{
    WriteString(text);
    Write("\r\n", 2);
}
