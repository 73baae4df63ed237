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
