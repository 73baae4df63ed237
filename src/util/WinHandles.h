#pragma once
// Small owners for Win32 handles: every handle is closed by the scope that
// opened it, on every path.
#include <windows.h>
#include <winsvc.h>

template <typename T, typename Traits>
class CWinHandle {
public:
    CWinHandle() : m_h(Traits::Invalid()) {}
    explicit CWinHandle(T h) : m_h(h) {}
    ~CWinHandle() { Close(); }
    CWinHandle(const CWinHandle&) = delete;
    CWinHandle& operator=(const CWinHandle&) = delete;
    CWinHandle(CWinHandle&& o) noexcept : m_h(o.Release()) {}
    CWinHandle& operator=(CWinHandle&& o) noexcept { if (this != &o) { Close(); m_h = o.Release(); } return *this; }

    T Get() const { return m_h; }
    bool Valid() const { return Traits::IsValid(m_h); }
    explicit operator bool() const { return Valid(); }
    T Release() { T h = m_h; m_h = Traits::Invalid(); return h; }
    void Reset(T h = Traits::Invalid()) { Close(); m_h = h; }
    void Close() { if (Traits::IsValid(m_h)) Traits::Free(m_h); m_h = Traits::Invalid(); }
    // For out-parameters of creating calls: closes what was held first.
    T* Put() { Close(); return &m_h; }

private:
    T m_h;
};

struct CFileHandleTraits {
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(HANDLE h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void Free(HANDLE h) { ::CloseHandle(h); }
};
struct CFindHandleTraits {
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(HANDLE h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void Free(HANDLE h) { ::FindClose(h); }
};
struct CRegKeyTraits {
    static HKEY Invalid() { return nullptr; }
    static bool IsValid(HKEY h) { return h != nullptr; }
    static void Free(HKEY h) { ::RegCloseKey(h); }
};
struct CScHandleTraits {
    static SC_HANDLE Invalid() { return nullptr; }
    static bool IsValid(SC_HANDLE h) { return h != nullptr; }
    static void Free(SC_HANDLE h) { ::CloseServiceHandle(h); }
};
struct CLibraryTraits {
    static HMODULE Invalid() { return nullptr; }
    static bool IsValid(HMODULE h) { return h != nullptr; }
    static void Free(HMODULE h) { ::FreeLibrary(h); }
};

typedef CWinHandle<HANDLE, CFileHandleTraits> CHandle;      // files, processes, events, ...
typedef CWinHandle<HANDLE, CFindHandleTraits> CFindHandle;  // FindFirstFile
typedef CWinHandle<HKEY, CRegKeyTraits> CRegKey;
typedef CWinHandle<SC_HANDLE, CScHandleTraits> CScHandle;
typedef CWinHandle<HMODULE, CLibraryTraits> CLibrary;
