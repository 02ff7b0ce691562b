// Opening a workbook: read the file, tell the container kinds apart (OLE2,
// a bare BIFF stream, a zip, anything else), pick the workbook stream and
// hand it to the globals parser. The public accessors live here too.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "xls/cfb.h"
#include "xls/data.h"
#include "xls/records.h"

namespace xls {
namespace {

struct FileCloser {
    void operator()(std::FILE* f) const noexcept { std::fclose(f); }
};

[[noreturn]] void ioError(const std::filesystem::path& path, const std::string& reason) {
    throw Error(ErrorKind::Io, "file: cannot open '" + path.string() + "': " + reason);
}

std::vector<uint8_t> readFile(const std::filesystem::path& path) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        ioError(path, "it is a folder");
    }
    std::unique_ptr<std::FILE, FileCloser> f(std::fopen(path.c_str(), "rb"));
    if (!f) {
        ioError(path, std::strerror(errno));
    }
    std::vector<uint8_t> bytes;
    bytes.reserve(static_cast<size_t>(std::filesystem::file_size(path, ec)));
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f.get())) > 0) {
        bytes.insert(bytes.end(), buf, buf + n);
    }
    if (std::ferror(f.get())) {
        ioError(path, std::strerror(errno));
    }
    return bytes;
}

// A BIFF2-4 file or a bare BIFF5/8 stream starts with a BOF record.
uint16_t bareBofType(const std::vector<uint8_t>& b) {
    if (b.size() < 8) {
        return 0;
    }
    const uint16_t type = detail::le16(b.data());
    const uint16_t len = detail::le16(b.data() + 2);
    const bool bof = type == detail::rec::kBof || type == detail::rec::kBof2 ||
                     type == detail::rec::kBof3 || type == detail::rec::kBof4;
    return bof && len >= 4 && len <= 20 ? type : 0;
}

std::vector<uint8_t> workbookStream(const std::vector<uint8_t>& bytes) {
    const detail::CompoundFile cf(bytes);
    // Both a BIFF8 "Workbook" and a BIFF5 "Book" (the dual format): the
    // BIFF8 one is read.
    auto entry = cf.findStream(u"Workbook");
    if (!entry) {
        entry = cf.findStream(u"Book");
    }
    if (!entry) {
        throw Error(ErrorKind::NotWorkbook,
                    "container: no Workbook or Book stream; not an Excel 97-2003 or 5/95 workbook");
    }
    return cf.readStream(*entry);
}

}  // namespace

Workbook Workbook::open(const std::filesystem::path& path) {
    return fromBytes(readFile(path));
}

Workbook Workbook::fromBytes(std::vector<uint8_t> bytes) {
    if (bytes.size() >= 4 && bytes[0] == 'P' && bytes[1] == 'K' && bytes[2] == 3 && bytes[3] == 4) {
        throw Error(ErrorKind::LooksLikeXlsx,
                    "container: a zip file, which looks like an Excel 2007+ (.xlsx) workbook");
    }
    if (detail::CompoundFile::hasSignature(bytes)) {
        return Workbook(detail::parseGlobals(workbookStream(bytes)));
    }
    if (bareBofType(bytes) != 0) {
        return Workbook(detail::parseGlobals(std::move(bytes)));
    }
    throw Error(ErrorKind::NotWorkbook,
                "container: not an OLE2 compound file; not an Excel 97-2003 or 5/95 workbook");
}

Workbook::Workbook(std::shared_ptr<const Data> data) : m_data(std::move(data)) {}

int Workbook::biffVersion() const {
    return m_data->biff;
}
bool Workbook::date1904() const {
    return m_data->date1904;
}
const std::vector<SheetInfo>& Workbook::sheets() const {
    return m_data->sheets;
}
const std::vector<DefinedName>& Workbook::names() const {
    return m_data->names;
}

Sheet Workbook::sheet(size_t index) const {
    if (index >= m_data->sheets.size()) {
        throw std::out_of_range("xls::Workbook::sheet: no sheet " + std::to_string(index));
    }
    return Sheet(detail::parseSheet(*m_data, index));
}

}  // namespace xls
