#include "app/InstanceWnd.h"

bool CInstanceWnd::Register()
{
    return RegisterWindowClass(kClassName, 0, nullptr, nullptr, nullptr);
}

bool CInstanceWnd::Create()
{
    return CreateEx(0, kClassName, kTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                    CW_USEDEFAULT, nullptr, 0);
}

HWND CInstanceWnd::Find()
{
    return FindWindowW(kClassName, kTitle);
}
