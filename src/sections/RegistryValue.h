#pragma once
// What the registry sections share: the access mask of the keys they open,
// the item key names, and the test that a value's undo can put back exactly
// what is stored.
//
// The install record carries a registry value as text and a type that is
// either REG_SZ or REG_DWORD. A value outside that (another type, a DWORD of
// another size, a string with data after its terminating NUL, too long for
// the reader or with characters the system code page lacks) would come back
// as something else, so the sections refuse to change it instead of
// recording it.
#include <windows.h>

#include <string>

#include "interpreter/Section.h"

class CHFS_Interpreter;

// Status of a change that is refused because its undo could not be exact.
const LONG kRegNotRestorable = ERROR_UNSUPPORTED_TYPE;

REGSAM RegSectionAccess(int b64BitView);

// "Reg3.Key" and the like.
std::string RegItemKey(int n, const char* suffix);

// The stored type and bytes of a value, whatever their size.
LONG ReadStoredRegValue(HKEY key, const std::string& name, DWORD& type, std::string& bytes);

// Whether the value, written back with asType from its text, would be the
// value that is stored now.
bool RegValueRestorable(DWORD storedType, const std::string& bytes, DWORD asType);
// The same for a value of an open key, whose text must also survive the
// system code page: a character it lacks would come back as another one.
bool RegStoredValueRestorable(HKEY key, const std::string& name, DWORD storedType, const std::string& bytes,
                              DWORD asType);

// The text the record keeps for a restorable value: a DWORD as signed
// decimal, a string up to its NUL.
std::string RegValueText(DWORD type, const std::string& bytes);

// A REG_DWORD from record text: signed decimal, or the unsigned range; other
// text gives 0 and numbers beyond 32 bits are held at the nearest end.
DWORD RegDecimalDword(const std::string& text);

// ---- what undoing a registry item would meet (sections/UndoSeal.h)

// Where an item's description points.
struct CRegItemPlace {
    std::string desc;
    DWORD type = 0;
    HKEY root = nullptr;
    std::string path, name;
    int b64 = 0;
};
// Reads and splits Reg<n>.Key of the section; false when it is missing or
// malformed (the splitter has logged why).
bool ReadRegItemPlace(CHFS_Section& section, CHFS_Interpreter& interp, int n, CRegItemPlace& place);

// The state of a value: absent when it or its key is not there, otherwise
// its type and content, "REG_SZ:<text>", "REG_DWORD:<signed decimal>", or
// for what the record cannot carry as text "<type>#<SHA-256 of the stored
// bytes>". Read as stored, in UTF-16, so that a character the code page
// lacks is not taken for another. ERROR_SUCCESS, or the error that kept it
// from being read.
LONG RegValueState(HKEY root, const std::string& path, const std::string& name, int b64, std::string& state);
// A key: absent, or present.
LONG RegKeyState(HKEY root, const std::string& path, int b64, std::string& state);
// The state of a value written back from the record's text with that type.
std::string RegStateOfText(DWORD type, const std::string& text);
std::string RegKeyPresentState();

// The targets of a value item and of a key item of place: left is the
// sealed state (empty: not known), previous the state before the patch.
CHFS_UndoTarget RegValueUndo(const CRegItemPlace& place, const std::string& name, const std::string& left,
                             const std::string& previous);
CHFS_UndoTarget RegKeyUndo(const CRegItemPlace& place, const std::string& left);

// The path without its last level; empty for a key right below the root.
std::string RegParentPath(const std::string& path);
// How many levels at the end of path do not exist, which is what creating
// it would make.
int RegMissingLevels(HKEY root, const std::string& path, int b64);
