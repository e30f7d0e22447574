#pragma once

#include <vector>

#include "framework/CmdTarget.h"
#include "framework/String.h"

class CView;

// What a frame's views show. It knows its views but owns none of them.
class CDocument : public CCmdTarget {
public:
    CDocument() = default;
    ~CDocument() override = default;

    // A new, empty document; false fails its creation.
    virtual bool OnNewDocument() { return true; }
    // A document opened on a path (a file name, an address); false fails
    // its creation.
    virtual bool OnOpenDocument(const wchar_t* pszPathName)
    {
        (void)pszPathName;
        return true;
    }

    const CString& GetPathName() const { return m_strPathName; }
    virtual void SetPathName(const wchar_t* pszPathName) { m_strPathName = pszPathName; }

    // What the frame puts in the window's title; empty until set.
    const CString& GetTitle() const { return m_strTitle; }
    void SetTitle(const CString& strTitle) { m_strTitle = strTitle; }

    void AddView(CView* pView);
    void RemoveView(CView* pView);
    const std::vector<CView*>& GetViews() const { return m_views; }

private:
    CString m_strPathName;
    CString m_strTitle;
    std::vector<CView*> m_views;
};
