// Whole-file reads with the errors a user understands (see file_bytes.h).
#include "xls/file_bytes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "xls/huge_pages.h"
#include "xls/types.h"

namespace xls::detail {
namespace {

[[noreturn]] void ioError(const std::filesystem::path& path, const std::string& reason) {
    throw Error(ErrorKind::Io, "file: cannot open '" + path.string() + "': " + reason);
}

struct Descriptor {
    explicit Descriptor(int descriptor) : fd(descriptor) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    int fd;
};

// Reads up to `count` bytes at `at`; fewer at the end of the file.
size_t readInto(const Descriptor& file, const std::filesystem::path& path, uint8_t* at,
                size_t count) {
    size_t have = 0;
    while (have < count) {
        const ssize_t n = ::read(file.fd, at + have, count - have);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            ioError(path, std::strerror(errno));
        }
        if (n == 0) {
            break;
        }
        have += static_cast<size_t>(n);
    }
    return have;
}

}  // namespace

std::vector<uint8_t> readFile(const std::filesystem::path& path, const BytesNeeded& needed) {
    // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused
    // below as not a regular file. (For a regular file the flag changes
    // nothing.)
    const Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.fd < 0) {
        ioError(path, std::strerror(errno));
    }
    struct stat st {};
    if (::fstat(file.fd, &st) != 0) {
        ioError(path, std::strerror(errno));
    }
    if (S_ISDIR(st.st_mode)) {
        ioError(path, "it is a folder");
    }
    if (!S_ISREG(st.st_mode)) {
        ioError(path, "it is not a regular file");
    }
    // Sized from fstat (and what the head says is worth reading), then read
    // to the real end: a file that grows or shrinks meanwhile gives what was
    // there.
    const auto fileSize = static_cast<uint64_t>(st.st_size);
    uint8_t head[kHeadSize];
    const size_t headSize = readInto(file, path, head, kHeadSize);
    uint64_t wanted = needed ? std::min(fileSize, needed({head, headSize}, fileSize)) : fileSize;
    wanted = std::max<uint64_t>(wanted, headSize);
    std::vector<uint8_t> bytes;
    reserveLarge(bytes, static_cast<size_t>(wanted));
    bytes.assign(head, head + headSize);
    bytes.resize(static_cast<size_t>(wanted));
    const size_t rest = readInto(file, path, bytes.data() + headSize, bytes.size() - headSize);
    bytes.resize(headSize + rest);
    return bytes;
}

}  // namespace xls::detail
