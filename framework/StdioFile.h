#pragma once

#include <string>

#include "framework/File.h"

// A narrow text file read and written line by line. Lines end in CR LF on
// disk and are handed over without their line end; a lone LF also ends a
// line when reading.
class CStdioFile : public CFile {
public:
    CStdioFile() = default;

    BOOL Open(const wchar_t* pszFileName, UINT nOpenFlags, CFileException* pError = nullptr) override;

    // FALSE at the end of the file (a last line without line end is still
    // returned first).
    BOOL ReadString(std::string& line);
    // Writes the text as it is; a "\n" inside it is written as CR LF.
    void WriteString(const std::string& text);
    // Writes the text followed by CR LF.
    void WriteLine(const std::string& text);

private:
    BOOL FillBuffer();

    std::string m_buffer;
    size_t m_nPos = 0;
    bool m_bEof = false;
};
