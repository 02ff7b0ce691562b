// A file mapped read-only into memory for as long as its owner lives. The
// workbook stream is read in place from the mapping, so a large workbook is
// neither copied nor read twice. A mapped file that another program cuts
// short would fault on the next read of a page past its new end, so readers
// check intact() before each pass over the mapping.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>

namespace xls::detail {

class MappedFile {
public:
    MappedFile() = default;
    // Maps the whole file. Throws Error(Io) when it cannot be opened or
    // mapped; an empty file maps to no bytes.
    explicit MappedFile(const std::filesystem::path& path);
    ~MappedFile();
    MappedFile(MappedFile&& other) noexcept;
    MappedFile& operator=(MappedFile&& other) noexcept;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    [[nodiscard]] std::span<const uint8_t> bytes() const { return {m_data, m_size}; }
    // False when the file has become shorter than the mapping.
    [[nodiscard]] bool intact() const noexcept;
    // Gives the pages of [begin, begin + size) back to the system; they read
    // the same on the next access (the mapping is private and never written).
    void release(const uint8_t* begin, size_t size) const noexcept;
    void reset() noexcept;

private:
    const uint8_t* m_data = nullptr;
    size_t m_size = 0;
    int m_fd = -1;  // kept open to see whether the file shrinks
};

}  // namespace xls::detail
