#pragma once
// Native fuzzing build only: the one platform call the path texts make
// (util/PathText.cpp), for the code pages the targets use. Lead-byte ranges
// as the platform's tables give them for the double-byte code pages; every
// other code page is single-byte.
typedef unsigned char BYTE;
typedef int BOOL;
#define FALSE 0
#define TRUE 1
#define CP_ACP 0

inline BOOL IsDBCSLeadByteEx(unsigned codePage, BYTE b)
{
    switch (codePage) {
    case 932:
        return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
    case 936:
    case 949:
    case 950:
        return b >= 0x81 && b <= 0xFE;
    default:
        return FALSE;
    }
}
