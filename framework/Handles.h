#pragma once

#include <windows.h>

#include <utility>

// Move-only owners of one platform handle each. A traits type names the
// handle type, its "no handle" value and how to close it; the owner closes
// what it holds when it is destroyed, reset or assigned.
template <typename Traits>
class CUniqueHandle {
public:
    using Type = typename Traits::Type;

    CUniqueHandle() = default;
    explicit CUniqueHandle(Type h) : m_h(h) {}
    ~CUniqueHandle() { reset(); }

    CUniqueHandle(const CUniqueHandle&) = delete;
    CUniqueHandle& operator=(const CUniqueHandle&) = delete;
    CUniqueHandle(CUniqueHandle&& other) noexcept : m_h(other.release()) {}
    CUniqueHandle& operator=(CUniqueHandle&& other) noexcept
    {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }

    Type get() const { return m_h; }
    bool valid() const { return !Traits::IsNone(m_h); }
    explicit operator bool() const { return valid(); }

    void reset(Type h = Traits::None())
    {
        Type old = m_h;
        m_h = h;
        if (!Traits::IsNone(old)) {
            Traits::Close(old);
        }
    }

    [[nodiscard]] Type release()
    {
        Type h = m_h;
        m_h = Traits::None();
        return h;
    }

    // For calls that return a handle through an out parameter.
    Type* put()
    {
        reset();
        return &m_h;
    }

private:
    Type m_h = Traits::None();
};

// Handles whose "no handle" value is null, closed by one call.
template <typename T, auto Closer>
struct CNullHandleTraits {
    using Type = T;
    static Type None() { return Type(); }
    static bool IsNone(Type h) { return h == Type(); }
    static void Close(Type h) { Closer(h); }
};

struct CKernelHandleTraits {
    using Type = HANDLE;
    static Type None() { return nullptr; }
    // Some calls report failure with INVALID_HANDLE_VALUE, some with null.
    static bool IsNone(Type h) { return h == nullptr || h == INVALID_HANDLE_VALUE; }
    static void Close(Type h) { CloseHandle(h); }
};

struct CFindHandleTraits {
    using Type = HANDLE;
    static Type None() { return INVALID_HANDLE_VALUE; }
    static bool IsNone(Type h) { return h == INVALID_HANDLE_VALUE || h == nullptr; }
    static void Close(Type h) { FindClose(h); }
};

inline void ReleaseVirtualMemory(void* p)
{
    VirtualFree(p, 0, MEM_RELEASE);
}

// Kernel objects: files, events, mutexes, threads, processes, mappings.
using CHandle = CUniqueHandle<CKernelHandleTraits>;
using CFindHandle = CUniqueHandle<CFindHandleTraits>;
using CRegKey = CUniqueHandle<CNullHandleTraits<HKEY, &RegCloseKey>>;
using CMappedView = CUniqueHandle<CNullHandleTraits<void*, &UnmapViewOfFile>>;
using CLibrary = CUniqueHandle<CNullHandleTraits<HMODULE, &FreeLibrary>>;
using CLocalMemory = CUniqueHandle<CNullHandleTraits<void*, &LocalFree>>;
using CVirtualMemory = CUniqueHandle<CNullHandleTraits<void*, &ReleaseVirtualMemory>>;
using CGlobalAtom = CUniqueHandle<CNullHandleTraits<ATOM, &GlobalDeleteAtom>>;
using CWindowHandle = CUniqueHandle<CNullHandleTraits<HWND, &DestroyWindow>>;
template <typename T>
using CGdiObject = CUniqueHandle<CNullHandleTraits<T, &DeleteObject>>;
using CBrush = CGdiObject<HBRUSH>;
using CFont = CGdiObject<HFONT>;
using CBitmap = CGdiObject<HBITMAP>;
using CIcon = CUniqueHandle<CNullHandleTraits<HICON, &DestroyIcon>>;
using CMemoryDc = CUniqueHandle<CNullHandleTraits<HDC, &DeleteDC>>;

// A window's device context, released to the window it came from.
class CClientDc {
public:
    explicit CClientDc(HWND hWnd) : m_hWnd(hWnd), m_hDc(GetDC(hWnd)) {}
    ~CClientDc()
    {
        if (m_hDc != nullptr) {
            ReleaseDC(m_hWnd, m_hDc);
        }
    }
    CClientDc(const CClientDc&) = delete;
    CClientDc& operator=(const CClientDc&) = delete;

    HDC get() const { return m_hDc; }

private:
    HWND m_hWnd;
    HDC m_hDc;
};

// Ownership of a mutex that this thread acquired; released, not closed.
class CMutexOwnership {
public:
    CMutexOwnership() = default;
    explicit CMutexOwnership(HANDLE hMutex) : m_hMutex(hMutex) {}
    ~CMutexOwnership() { reset(); }
    CMutexOwnership(const CMutexOwnership&) = delete;
    CMutexOwnership& operator=(const CMutexOwnership&) = delete;
    CMutexOwnership(CMutexOwnership&& other) noexcept : m_hMutex(std::exchange(other.m_hMutex, nullptr)) {}
    CMutexOwnership& operator=(CMutexOwnership&& other) noexcept
    {
        if (this != &other) {
            reset();
            m_hMutex = std::exchange(other.m_hMutex, nullptr);
        }
        return *this;
    }

    void reset()
    {
        if (m_hMutex != nullptr) {
            ReleaseMutex(m_hMutex);
            m_hMutex = nullptr;
        }
    }

private:
    HANDLE m_hMutex = nullptr;
};
