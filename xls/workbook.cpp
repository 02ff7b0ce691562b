// Opening a workbook: map the file, tell the container kinds apart (OLE2,
// a bare BIFF stream, a zip, anything else), pick the workbook stream and
// hand it to the globals parser. The public accessors live here too.
#include <memory>

#include "xls/cfb.h"
#include "xls/data.h"
#include "xls/file_bytes.h"
#include "xls/records.h"

namespace xls {
namespace {

// A BIFF2-4 file or a bare BIFF5/8 stream starts with a BOF record.
uint16_t bareBofType(detail::Bytes b) {
    if (b.size() < 8) {
        return 0;
    }
    const uint16_t type = detail::le16(b.data());
    const uint16_t len = detail::le16(b.data() + 2);
    const bool bof = type == detail::rec::kBof || type == detail::rec::kBof2 ||
                     type == detail::rec::kBof3 || type == detail::rec::kBof4;
    return bof && len >= 4 && len <= 20 ? type : 0;
}

// Where the workbook stream lies in `bytes`: the Workbook or Book stream of
// an OLE2 container, or all of a bare BIFF file. Empty extents with the
// bytes in `copy` when it cannot be read in place.
std::vector<detail::Extent> findStream(detail::Bytes bytes, std::vector<uint8_t>& copy) {
    if (bytes.size() >= 4 && bytes[0] == 'P' && bytes[1] == 'K' && bytes[2] == 3 && bytes[3] == 4) {
        throw Error(ErrorKind::LooksLikeXlsx,
                    "container: a zip file, which looks like an Excel 2007+ (.xlsx) workbook");
    }
    if (!detail::CompoundFile::hasSignature(bytes)) {
        if (bareBofType(bytes) != 0) {
            return {{0, bytes.size()}};
        }
        throw Error(ErrorKind::NotWorkbook,
                    "container: not an OLE2 compound file; not an Excel 97-2003 or 5/95 workbook");
    }
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
    std::vector<detail::Extent> extents = cf.streamExtents(*entry);
    if (extents.empty()) {
        copy = cf.readStream(*entry);
    }
    return extents;
}

// The file's bytes stay in memory when the stream is read in place from
// them; otherwise only the stream's copy is kept.
Workbook load(std::vector<uint8_t> file, detail::Bytes bytes) {
    std::vector<uint8_t> copy;
    const std::vector<detail::Extent> extents = findStream(bytes, copy);
    auto book = std::make_shared<Workbook::Data>();
    book->stream = extents.empty() ? detail::StreamBytes(std::move(copy))
                                   : detail::StreamBytes(std::move(file), extents);
    return Workbook(detail::parseGlobals(std::move(book)));
}

}  // namespace

Workbook Workbook::open(const std::filesystem::path& path) {
    std::vector<uint8_t> file = detail::readFile(path);
    const detail::Bytes bytes = file;
    return load(std::move(file), bytes);
}

Workbook Workbook::fromBytes(std::vector<uint8_t> bytes) {
    const detail::Bytes view = bytes;
    return load(std::move(bytes), view);
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
