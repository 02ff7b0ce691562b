// Reading a workbook file whole into memory. The reader works on this
// private copy, a snapshot taken at open time: another program that
// rewrites or cuts the file short later cannot make a read fault, as a
// mapping of the file would (a page past the new end kills the process).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <vector>

namespace xls::detail {

// The head of a file (its first kHeadSize bytes, fewer for a short file)
// and the file's size give how many of its bytes are worth reading.
inline constexpr size_t kHeadSize = 512;
using BytesNeeded = std::function<uint64_t(std::span<const uint8_t> head, uint64_t fileSize)>;

// The file's bytes, as many as `needed` says from its head (all of them
// when it is empty): a file that is no workbook is then told apart without
// reading gigabytes first. Throws Error(Io) with the system's reason when
// it cannot be opened or read, or is a folder or not a regular file.
std::vector<uint8_t> readFile(const std::filesystem::path& path, const BytesNeeded& needed = {});

}  // namespace xls::detail
