#pragma once
// Splitting the descriptions of variable references ([Reg:...], [INI:...],
// [FileInfo:...], [ServiceStatus:...]) into their fields. Pure text work: the
// interpreter adds the log lines and the registry handles, and the native
// fuzzing build compiles it as it is.
#include <string>

// The registry's type codes for the two accepted types.
const unsigned long kKvRegSz = 1;     // REG_SZ
const unsigned long kKvRegDword = 4;  // REG_DWORD

// Root names in the order of the interpreter's root table; compared without
// regard to case.
enum { kKvRegRootCount = 4 };
extern const char* const kKvRegRootNames[kKvRegRootCount];

struct CKvRegDescription {
    std::string typeField;
    std::string rootField;
    unsigned long type = 0;
    int rootIndex = -1;  // into kKvRegRootNames
    std::string key;
    std::string valueName;
    bool x64 = false;  // the flag field is exactly "x64"
};

// 0 valid, -1 malformed, -2 type not accepted, -3 root not accepted. The
// fields found so far are filled whatever the result.
int KvSplitRegDescription(const std::string& description, CKvRegDescription& out);
// 0 or -1 (a part missing, or the file name empty).
int KvSplitINIDescription(const std::string& description, std::string& file, std::string& section,
                          std::string& key);
// 0 or -1.
int KvSplitFileInfoDescription(const std::string& description, std::string& path, std::string& kind);
// A value that holds marker and a ']': the description from its second
// character up to the last ']'.
bool KvTakeDescription(const std::string& value, const char* marker, std::string& description);
// The service name of a [ServiceStatus:...] value: between the marker and
// the last ']'. False when the marker or the bracket is missing.
bool KvServiceStatusName(const std::string& value, std::string& name);
