// Reading a workbook file whole into memory. The reader works on this
// private copy, a snapshot taken at open time: another program that
// rewrites or cuts the file short later cannot make a read fault, as a
// mapping of the file would (a page past the new end kills the process).
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

namespace xls::detail {

// The file's bytes. Throws Error(Io) with the system's reason when it
// cannot be opened or read, or is a folder or not a regular file.
std::vector<uint8_t> readFile(const std::filesystem::path& path);

}  // namespace xls::detail
