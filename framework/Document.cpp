#include "framework/Document.h"

#include <algorithm>

void CDocument::AddView(CView* pView)
{
    if (pView != nullptr && std::find(m_views.begin(), m_views.end(), pView) == m_views.end()) {
        m_views.push_back(pView);
    }
}

void CDocument::RemoveView(CView* pView)
{
    m_views.erase(std::remove(m_views.begin(), m_views.end(), pView), m_views.end());
}
