#include "framework/DocManager.h"

CDocManager::~CDocManager()
{
    // Later templates may show documents of earlier ones' kinds: close in
    // reverse order of creation.
    while (!m_templates.empty()) {
        m_templates.pop_back();
    }
}

void CDocManager::AddDocTemplate(std::unique_ptr<CSingleDocTemplate> pTemplate)
{
    if (pTemplate != nullptr) {
        m_templates.push_back(std::move(pTemplate));
    }
}

CDocument* CDocManager::OpenDocumentFile(const wchar_t* pszPathName)
{
    CSingleDocTemplate* pTemplate = GetFirstTemplate();
    return pTemplate != nullptr ? pTemplate->OpenDocumentFile(pszPathName) : nullptr;
}

bool CDocManager::OnDDECommand(const wchar_t* pszCommand)
{
    (void)pszCommand;
    return false;
}

void CDocManager::OnFileNew()
{
    if (CSingleDocTemplate* pTemplate = GetFirstTemplate()) {
        pTemplate->OpenDocumentFile(nullptr);
    }
}
