// The Windows scalar types that the program uses (BOOL, DWORD,
// UINT, ...). unixODBC's sqltypes.h already defines several of them (BOOL
// as a macro for int, DWORD, WORD, BYTE, HWND), so this one header owns the
// include order: sqltypes.h first, then only what it leaves out. Every
// platform header includes this instead of sqltypes.h directly.
#pragma once

#include <sqltypes.h>

#include <cstdint>

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

using UINT = unsigned int;
using HANDLE = void*;
using LONGLONG = int64_t;
using ULONGLONG = uint64_t;

// unixODBC picks DWORD from the size of long; the program's flags and
// attributes need the Windows width.
static_assert(sizeof(DWORD) == 4 && sizeof(WORD) == 2 && sizeof(BYTE) == 1 && sizeof(UINT) == 4);
