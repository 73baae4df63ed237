#pragma once
// Machine-state snapshots for round-trip tests: capture what a package may
// touch, do something, capture again and compare with a readable diff.
//
// A snapshot is a flat map from a locator ("file:C:\p\a.txt",
// "reg:HKLM\Software\X\\Value", "ini:C:\db.ini[Sec]Key") to a canonical text
// of that thing's state. Each kind of state is a source; new kinds (services,
// INI files, ...) are new sources, the comparison stays the same.
#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kvtest {

using SnapshotState = std::map<std::string, std::string>;

class CSnapshotSource {
public:
    virtual ~CSnapshotSource() {}
    virtual void Capture(SnapshotState& out) const = 0;
};

// Every file and folder below a folder (and the folder itself): bytes, size,
// creation and last-write times, attributes. A missing folder is recorded as
// missing, so its creation shows up as a change.
class CFolderSource : public CSnapshotSource {
public:
    explicit CFolderSource(const std::string& folder) : m_folder(folder) {}
    void Capture(SnapshotState& out) const override;

private:
    std::string m_folder;
};

// The registry view that this build's programs use when a script names none:
// the 32-bit view for the shipped 32-bit build (WOW64), the 64-bit view for
// the 64-bit build. Tests name a view on every registry access, so a fixture
// is written where the program under test will look for it.
#ifdef _WIN64
constexpr REGSAM kProgramView = KEY_WOW64_64KEY;
#else
constexpr REGSAM kProgramView = KEY_WOW64_32KEY;
#endif
// The other view: where a 32-bit build does not look without "x64".
constexpr REGSAM kOtherView = kProgramView == KEY_WOW64_64KEY ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;

// A registry key with its values and all its subkeys, in one view
// (KEY_WOW64_64KEY or KEY_WOW64_32KEY).
class CRegKeySource : public CSnapshotSource {
public:
    CRegKeySource(HKEY root, const std::string& subkey, REGSAM view)
        : m_root(root), m_subkey(subkey), m_view(view) {}
    void Capture(SnapshotState& out) const override;

private:
    HKEY m_root;
    std::string m_subkey;
    REGSAM m_view;
};

// The keys of an INI file as the profile reader sees them (so layout and
// blank lines do not count, values do).
class CIniSource : public CSnapshotSource {
public:
    explicit CIniSource(const std::string& file) : m_file(file) {}
    void Capture(SnapshotState& out) const override;

private:
    std::string m_file;
};

// A service: whether it exists, its state (pending states count as the one
// they lead to, so a slow stop is no difference), start type and image path.
class CServiceSource : public CSnapshotSource {
public:
    explicit CServiceSource(const std::string& name) : m_name(name) {}
    void Capture(SnapshotState& out) const override;

private:
    std::string m_name;
};

class CSnapshot {
public:
    CSnapshot& AddFolder(const std::string& folder);
    CSnapshot& AddRegKey(HKEY root, const std::string& subkey, REGSAM view);
    CSnapshot& AddIni(const std::string& file);
    CSnapshot& AddService(const std::string& name);
    CSnapshot& Add(std::unique_ptr<CSnapshotSource> source);

    SnapshotState Capture() const;

private:
    std::vector<std::unique_ptr<CSnapshotSource>> m_sources;
};

// Decides whether a difference is a trace left on purpose. before/after are
// null where the locator is absent on that side.
using SnapshotTolerance =
    std::function<bool(const std::string& locator, const std::string* before, const std::string* after)>;

// Empty when equal (after tolerance); otherwise one block per difference:
// "+ locator", "- locator" or "~ locator" with the two states.
std::string DiffSnapshots(const SnapshotState& before, const SnapshotState& after,
                          const SnapshotTolerance& tolerate = SnapshotTolerance());

// Tolerances for the usual traces.
// Folders (not files) that appeared below a root, and the root itself.
SnapshotTolerance TolerateNewFoldersUnder(const std::string& root);
// Keys of an INI section that may remain or change (db.ini[Sec]Key).
SnapshotTolerance TolerateIniKeys(const std::string& file, const std::string& section,
                                  const std::vector<std::string>& keys);
// Any one of them tolerates.
SnapshotTolerance AnyOf(std::vector<SnapshotTolerance> list);

// Registry helpers of the tests; each names its view (KEY_WOW64_64KEY or
// KEY_WOW64_32KEY, usually kProgramView).
bool RegKeyExists(HKEY root, const std::string& subkey, REGSAM view);
bool RegReadString(HKEY root, const std::string& subkey, const std::string& name, std::string& value, REGSAM view);
bool RegWriteString(HKEY root, const std::string& subkey, const std::string& name, const std::string& value,
                    REGSAM view);
// Any type; creates the key when missing.
bool RegWriteValue(HKEY root, const std::string& subkey, const std::string& name, DWORD type, const void* data,
                   DWORD size, REGSAM view);
// Type and bytes of a value; false when it is missing.
bool RegReadValue(HKEY root, const std::string& subkey, const std::string& name, DWORD& type, std::string& data,
                  REGSAM view);
bool RegDeleteValueOf(HKEY root, const std::string& subkey, const std::string& name, REGSAM view);
// The key and everything below it, in that view only.
void RegDeleteTree(HKEY root, const std::string& subkey, REGSAM view);

// Puts a string value back as the test found it (or deletes it again).
class CRegValueGuard {
public:
    CRegValueGuard(HKEY root, const std::string& subkey, const std::string& name, REGSAM view);
    ~CRegValueGuard();
    CRegValueGuard(const CRegValueGuard&) = delete;
    CRegValueGuard& operator=(const CRegValueGuard&) = delete;

private:
    HKEY m_root;
    std::string m_subkey, m_name;
    REGSAM m_view;
    bool m_had = false;
    std::string m_old;
};

// The patch database's path setting, in the view the installer reads it.
extern const char kKorvexKey[];
void SetPatchDBPath(const std::string& dbFile);  // empty: delete the value

// Points the patch database at a path of the test and puts the machine's
// setting back when it ends.
class CPatchDBRedirect {
public:
    explicit CPatchDBRedirect(const std::string& dbFile);

private:
    CRegValueGuard m_guard;
};

}  // namespace kvtest
