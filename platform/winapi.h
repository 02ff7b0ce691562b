// Process services of the Windows kernel that the program uses: the
// process command line, critical sections and file attributes.
#pragma once

#include <mutex>
#include <optional>
#include <vector>

#include "platform/cstring.h"
#include "platform/types.h"

// The process command line as one Windows-style string: the arguments
// (program name first) joined by one space, an argument that is empty or
// contains a space or a tab wrapped in double quotes. Other characters,
// double quotes included, are passed on unchanged. Until
// SetProcessCommandLine has run, the line is built from /proc/self/cmdline.
const char16_t* GetCommandLineW();

// The process's arguments one by one (program name first), as main received
// them. A line cannot carry every argument whole (one that begins with a
// space, or holds a double quote before a space), so the program's own
// parser reads these instead.
const std::vector<CString>& GetCommandLineArguments();

// Rebuilds the line and the arguments from main's argv (UTF-8); main calls
// it first, before any thread starts.
void SetProcessCommandLine(int argc, char** argv);

// The Windows-style line for an argument list (what SetProcessCommandLine
// stores).
CString BuildCommandLine(int argc, const char* const* argv);

// A critical section is a std::mutex (not recursive: a thread must not
// enter one that it already holds). The caller owns the object;
// InitializeCriticalSection creates the mutex, DeleteCriticalSection
// destroys it, and the object's own destruction releases it in any case.
struct CriticalSectionObject {
    std::optional<std::mutex> mutex;
};
using CRITICAL_SECTION = CriticalSectionObject;

void InitializeCriticalSection(CRITICAL_SECTION* section);
void EnterCriticalSection(CRITICAL_SECTION* section);
void LeaveCriticalSection(CRITICAL_SECTION* section);
void DeleteCriticalSection(CRITICAL_SECTION* section);

inline constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;
inline constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x00000001;
inline constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x00000010;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x00000080;

// stat of the path: INVALID_FILE_ATTRIBUTES when it does not exist (or
// cannot be examined); FILE_ATTRIBUTE_DIRECTORY for a folder;
// FILE_ATTRIBUTE_READONLY when this process may not write it; otherwise
// FILE_ATTRIBUTE_NORMAL.
DWORD GetFileAttributesW(const char16_t* path);

// TRUE when both paths name one existing file (links followed, any
// spelling of the path).
bool IsSameFile(const char16_t* pathA, const char16_t* pathB);
