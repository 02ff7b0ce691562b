// Read-only file mapping (see mapped_file.h).
#include "xls/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "xls/workbook.h"

namespace xls::detail {
namespace {

[[noreturn]] void ioError(const std::filesystem::path& path, const std::string& reason) {
    throw Error(ErrorKind::Io, "file: cannot open '" + path.string() + "': " + reason);
}

// Closes the descriptor unless the mapping takes it over.
struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    int release() { return std::exchange(fd, -1); }
};

}  // namespace

MappedFile::MappedFile(const std::filesystem::path& path) {
    Descriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
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
    if (st.st_size == 0) {
        return;
    }
    const auto size = static_cast<size_t>(st.st_size);
    void* p = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, file.fd, 0);
    if (p == MAP_FAILED) {
        ioError(path, std::strerror(errno));
    }
    // Records are read front to back: ask for read-ahead.
    ::madvise(p, size, MADV_SEQUENTIAL);
    m_data = static_cast<const uint8_t*>(p);
    m_size = size;
    m_fd = file.release();
}

bool MappedFile::intact() const noexcept {
    struct stat st {};
    return m_fd < 0 || (::fstat(m_fd, &st) == 0 && static_cast<uint64_t>(st.st_size) >= m_size);
}

MappedFile::~MappedFile() {
    reset();
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)),
      m_size(std::exchange(other.m_size, 0)),
      m_fd(std::exchange(other.m_fd, -1)) {}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
    if (this != &other) {
        reset();
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

void MappedFile::reset() noexcept {
    if (m_data) {
        ::munmap(const_cast<uint8_t*>(m_data), m_size);
        m_data = nullptr;
        m_size = 0;
    }
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

void MappedFile::release(const uint8_t* begin, size_t size) const noexcept {
    if (!m_data || begin < m_data || begin >= m_data + m_size) {
        return;
    }
    // Whole pages inside the range only.
    const auto page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto from = (reinterpret_cast<uintptr_t>(begin) + page - 1) & ~(page - 1);
    const uintptr_t end = std::min(reinterpret_cast<uintptr_t>(begin) + size,
                                   reinterpret_cast<uintptr_t>(m_data + m_size)) &
                          ~(page - 1);
    if (end > from) {
        ::madvise(reinterpret_cast<void*>(from), end - from, MADV_DONTNEED);
    }
}

}  // namespace xls::detail
