#include "framework/ComPtr.h"
#include "framework/Handles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

bool IsOpenHandle(HANDLE h)
{
    DWORD flags = 0;
    return GetHandleInformation(h, &flags) != FALSE;
}

// Counts its references so the tests can see every AddRef and Release.
class CCountedObject : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_IUnknown) {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
    STDMETHODIMP_(ULONG) Release() override { return --m_refs; }

    std::atomic<ULONG> m_refs{1};
};

}  // namespace

TEST(UniqueHandle, ClosesOnResetAndDestructionButNotAfterAMoveOrRelease)
{
    HANDLE raw = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    {
        CHandle h(raw);
        EXPECT_TRUE(h.valid());
    }
    EXPECT_FALSE(IsOpenHandle(raw));

    HANDLE first = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE second = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    CHandle a(first);
    a.reset(second);
    EXPECT_FALSE(IsOpenHandle(first));
    CHandle b(std::move(a));
    EXPECT_FALSE(a.valid());
    CHandle c;
    c = std::move(b);
    EXPECT_EQ(c.get(), second);
    HANDLE released = c.release();
    EXPECT_FALSE(c.valid());
    EXPECT_TRUE(IsOpenHandle(released));
    c.reset(released);
    c.reset();
    EXPECT_FALSE(IsOpenHandle(second));

    // INVALID_HANDLE_VALUE is no handle for the owners that hold it.
    CHandle file(CreateFileW(L"C:\\no\\such\\file", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(file.valid());
    CFindHandle find;
    EXPECT_FALSE(find.valid());
}

TEST(UniqueHandle, PutClosesTheOldKeyFirst)
{
    CRegKey key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, key.put()), ERROR_SUCCESS);
    HKEY first = key.get();
    DWORD subkeys = 0;
    ASSERT_EQ(RegQueryInfoKeyW(first, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr),
              ERROR_SUCCESS);
    HKEY* slot = key.put();
    EXPECT_EQ(*slot, nullptr);
    // The first key is closed before the slot is handed out.
    EXPECT_NE(RegQueryInfoKeyW(first, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, slot), ERROR_SUCCESS);
    EXPECT_TRUE(key.valid());
}

TEST(MutexOwnership, ReleasesTheMutexButKeepsTheHandle)
{
    CHandle mutex(CreateMutexW(nullptr, TRUE, nullptr));
    {
        CMutexOwnership owned(mutex.get());
    }
    // Released: a wait from another thread succeeds at once.
    DWORD result = WAIT_FAILED;
    std::thread other([&] {
        result = WaitForSingleObject(mutex.get(), 0);
        if (result == WAIT_OBJECT_0) {
            ReleaseMutex(mutex.get());
        }
    });
    other.join();
    EXPECT_EQ(result, WAIT_OBJECT_0);
    EXPECT_TRUE(IsOpenHandle(mutex.get()));
}

TEST(ComPtr, CountsReferencesAcrossCopiesMovesAndResets)
{
    CCountedObject object;
    {
        CComPtr<IUnknown> a(&object);
        EXPECT_EQ(object.m_refs, 2u);
        CComPtr<IUnknown> b(a);
        EXPECT_EQ(object.m_refs, 3u);
        CComPtr<IUnknown> c(std::move(b));
        EXPECT_EQ(object.m_refs, 3u);
        EXPECT_FALSE(b);
        c = a;
        EXPECT_EQ(object.m_refs, 3u);
        c = c;
        EXPECT_EQ(object.m_refs, 3u);
        CComPtr<IUnknown> queried;
        EXPECT_EQ(a.QueryInterface(queried), S_OK);
        EXPECT_EQ(object.m_refs, 4u);
        c.reset();
        EXPECT_EQ(object.m_refs, 3u);
    }
    EXPECT_EQ(object.m_refs, 1u);

    CComPtr<IUnknown> attached;
    object.AddRef();
    attached.Attach(&object);
    EXPECT_EQ(object.m_refs, 2u);
    IUnknown* detached = attached.Detach();
    EXPECT_EQ(object.m_refs, 2u);
    detached->Release();
    EXPECT_EQ(object.m_refs, 1u);

    CComPtr<IUnknown> empty;
    CComPtr<IUnknown> none;
    EXPECT_EQ(empty.QueryInterface(none), E_POINTER);
}
