// The process command line rebuilt from argv, critical sections over
// std::mutex and file attributes from stat.
#include "platform/winapi.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

// An argument that is empty or holds a space or a tab is quoted, so that it
// stays one value. So is an absolute path ("/" followed by more text with
// another "/"): on Windows no path begins with "/", and without the quotes
// the parser would read it as a switch. A bare "/A" stays a switch.
bool IsAbsolutePath(const CString& argument) {
    return argument.GetLength() > 1 && argument[0] == u'/' && argument.Find(u'/', 1) > 0;
}

CString QuotedIfNeeded(const CString& argument) {
    if (argument.IsEmpty() || argument.Find(u' ') >= 0 || argument.Find(u'\t') >= 0 ||
        IsAbsolutePath(argument)) {
        return u"\"" + argument + u"\"";
    }
    return argument;
}

std::vector<CString> ArgumentsOf(int argc, const char* const* argv) {
    std::vector<CString> arguments;
    arguments.reserve(static_cast<size_t>(std::max(argc, 0)));
    for (int i = 0; i < argc; ++i) arguments.push_back(CString::FromUtf8(argv[i] ? argv[i] : ""));
    return arguments;
}

struct ProcessArguments {
    std::vector<CString> arguments;
    CString line;
};

// The arguments of this process, from the kernel's copy of them until main
// hands its argv over.
ProcessArguments& Process() {
    static ProcessArguments process = [] {
        std::ifstream in("/proc/self/cmdline", std::ios::binary);
        const std::string raw((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
        std::vector<std::string> arguments;
        for (size_t start = 0; start < raw.size();) {
            const size_t end = raw.find('\0', start);
            arguments.push_back(raw.substr(start, end - start));
            start = end == std::string::npos ? raw.size() : end + 1;
        }
        std::vector<const char*> argv;
        argv.reserve(arguments.size());
        for (const std::string& a : arguments) argv.push_back(a.c_str());
        const int argc = static_cast<int>(argv.size());
        return ProcessArguments{ArgumentsOf(argc, argv.data()),
                                BuildCommandLine(argc, argv.data())};
    }();
    return process;
}

}  // namespace

CString BuildCommandLine(int argc, const char* const* argv) {
    CString line;
    for (int i = 0; i < argc; ++i) {
        if (i > 0)
            line += u' ';
        line += QuotedIfNeeded(CString::FromUtf8(argv[i] ? argv[i] : ""));
    }
    return line;
}

const char16_t* GetCommandLineW() {
    return Process().line.GetString();
}

const std::vector<CString>& GetCommandLineArguments() {
    return Process().arguments;
}

void SetProcessCommandLine(int argc, char** argv) {
    Process() = ProcessArguments{ArgumentsOf(argc, argv), BuildCommandLine(argc, argv)};
}

void InitializeCriticalSection(CRITICAL_SECTION* section) {
    section->mutex.emplace();
}

void EnterCriticalSection(CRITICAL_SECTION* section) {
    section->mutex.value().lock();
}

void LeaveCriticalSection(CRITICAL_SECTION* section) {
    section->mutex.value().unlock();
}

void DeleteCriticalSection(CRITICAL_SECTION* section) {
    section->mutex.reset();
}

DWORD GetFileAttributesW(const char16_t* path) {
    if (!path)
        return INVALID_FILE_ATTRIBUTES;
    const std::string utf8 = CString(path).ToUtf8();
    struct stat st {};
    if (::stat(utf8.c_str(), &st) != 0)
        return INVALID_FILE_ATTRIBUTES;
    if (S_ISDIR(st.st_mode))
        return FILE_ATTRIBUTE_DIRECTORY;
    if (::access(utf8.c_str(), W_OK) != 0)
        return FILE_ATTRIBUTE_READONLY;
    return FILE_ATTRIBUTE_NORMAL;
}

bool IsSameFile(const char16_t* pathA, const char16_t* pathB) {
    if (!pathA || !pathB)
        return false;
    struct stat a {};
    struct stat b {};
    return ::stat(CString(pathA).ToUtf8().c_str(), &a) == 0 &&
           ::stat(CString(pathB).ToUtf8().c_str(), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}
