#pragma once

#include <memory>
#include <vector>

#include "framework/DocTemplate.h"

// The document templates of a thread or an application, and the commands
// that open documents through them.
class CDocManager {
public:
    CDocManager() = default;
    virtual ~CDocManager();
    CDocManager(const CDocManager&) = delete;
    CDocManager& operator=(const CDocManager&) = delete;

    void AddDocTemplate(std::unique_ptr<CSingleDocTemplate> pTemplate);
    CSingleDocTemplate* GetFirstTemplate() const { return m_templates.empty() ? nullptr : m_templates.front().get(); }

    // Opens the path with the first template; null on failure.
    virtual CDocument* OpenDocumentFile(const wchar_t* pszPathName);
    // A command from the shell's DDE conversation; true when accepted.
    virtual bool OnDDECommand(const wchar_t* pszCommand);
    // A new, empty document with the first template.
    virtual void OnFileNew();
    // Asks for a document to open; nothing here.
    virtual void OnFileOpen() {}

private:
    std::vector<std::unique_ptr<CSingleDocTemplate>> m_templates;
};
