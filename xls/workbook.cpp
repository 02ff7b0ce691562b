// Opening a workbook: read the file, tell the container kinds apart (OLE2,
// a bare BIFF stream, a zip, anything else), pick the workbook stream and
// hand it to the globals parser. The public accessors live here too.
#include <algorithm>
#include <memory>
#include <span>
#include <string_view>

#include "xls/cfb.h"
#include "xls/crypto.h"
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

// A zip file: an OpenDocument spreadsheet begins with an uncompressed
// "mimetype" member that says so; any other is taken for an Excel 2007+
// workbook.
[[noreturn]] void refuseZip(detail::Bytes bytes) {
    // Local file header: name length at 26, extra length at 28, name at 30.
    if (bytes.size() >= 30) {
        const size_t nameLength = detail::le16(bytes.data() + 26);
        const size_t extraLength = detail::le16(bytes.data() + 28);
        const size_t dataAt = 30 + nameLength + extraLength;
        constexpr std::string_view kName = "mimetype";
        constexpr std::string_view kOds = "application/vnd.oasis.opendocument.spreadsheet";
        if (nameLength == kName.size() && bytes.size() >= dataAt + kOds.size() &&
            std::equal(kName.begin(), kName.end(), bytes.begin() + 30) &&
            std::equal(kOds.begin(), kOds.end(), bytes.begin() + static_cast<ptrdiff_t>(dataAt))) {
            throw Error(ErrorKind::LooksLikeOds,
                        "container: a zip file holding an OpenDocument spreadsheet (.ods)");
        }
    }
    throw Error(ErrorKind::LooksLikeXlsx,
                "container: a zip file, which looks like an Excel 2007+ (.xlsx) workbook");
}

// How much of a file its head says is worth reading: an OLE2 container no
// more than its FAT sectors can address (plus the header); a bare record
// stream or a zip, all of it (a zip is refused from its head anyway); and
// anything else, only the head, which is enough to refuse it. A file of
// gigabytes that is no workbook is then refused at once.
uint64_t bytesNeeded(std::span<const uint8_t> head, uint64_t fileSize) {
    if (detail::CompoundFile::hasSignature(head)) {
        if (head.size() < 0x30) {
            return fileSize;  // a cut header: the container says why
        }
        // Header: sector shift at 0x1E, the number of FAT sectors at 0x2C.
        const unsigned shift = detail::le16(head.data() + 0x1E);
        const uint64_t fatSectors = detail::le32(head.data() + 0x2C);
        if (shift < 7 || shift > 16) {
            return fileSize;
        }
        const uint64_t sector = uint64_t{1} << shift;
        return std::max(sector, uint64_t{512}) + fatSectors * (sector / 4) * sector;
    }
    if (bareBofType(head) != 0 || (head.size() >= 2 && head[0] == 'P' && head[1] == 'K')) {
        return fileSize;
    }
    return head.size();
}

// Where the workbook stream lies in `bytes`: the Workbook or Book stream of
// an OLE2 container, or all of a bare BIFF file. Empty extents with the
// bytes in `copy` when it cannot be read in place.
bool isZip(detail::Bytes bytes) {
    return bytes.size() >= 4 && bytes[0] == 'P' && bytes[1] == 'K' && bytes[2] == 3 &&
           bytes[3] == 4;
}

std::vector<detail::Extent> findStream(detail::Bytes bytes, std::vector<uint8_t>& copy) {
    if (isZip(bytes)) {
        refuseZip(bytes);
    }
    if (!detail::CompoundFile::hasSignature(bytes)) {
        if (bareBofType(bytes) != 0) {
            return {{0, bytes.size()}};
        }
        throw Error(ErrorKind::NotWorkbook,
                    "container: neither an OLE2 compound file nor an Excel 2.x-4.0 record stream");
    }
    const detail::CompoundFile cf(bytes);
    // Both a BIFF8 "Workbook" and a BIFF5 "Book" (the dual format): the
    // BIFF8 one is read.
    auto entry = cf.findStream(u"Workbook");
    if (!entry) {
        entry = cf.findStream(u"Book");
    }
    if (!entry && cf.findStream(u"EncryptedPackage") && cf.findStream(u"EncryptionInfo")) {
        throw Error(ErrorKind::Encrypted,
                    "container: an encrypted Excel 2007+ workbook (.xlsx) protected with a "
                    "password");
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

// The file's name without its extension, which names the one sheet of an
// Excel 2.x-4.0 worksheet file as the spreadsheet application shows it.
std::u16string sheetNameOf(const std::filesystem::path& path) {
    try {
        std::u16string name = path.stem().u16string();
        if (!name.empty()) {
            return name;
        }
    } catch (const std::exception&) {
        // a name that is not UTF-8: the reader's default stays
    }
    return u"Sheet1";
}

// The file's bytes stay in memory when the stream is read in place from
// them; otherwise only the stream's copy is kept. `fileName` names the
// sheet of a worksheet file.
Workbook load(std::vector<uint8_t> file, detail::Bytes bytes, std::u16string fileName) {
    std::vector<uint8_t> copy;
    const std::vector<detail::Extent> extents = findStream(bytes, copy);
    auto book = std::make_shared<Workbook::Data>();
    book->stream = extents.empty() ? detail::StreamBytes(std::move(copy))
                                   : detail::StreamBytes(std::move(file), extents);
    book->worksheetFileName = std::move(fileName);
    std::shared_ptr<const Workbook::Data> data = detail::parseGlobals(std::move(book));
    detail::releaseGlobals(*data);
    return Workbook(std::move(data));
}

}  // namespace

Workbook Workbook::open(const std::filesystem::path& path) {
    std::vector<uint8_t> file = detail::readFile(path, bytesNeeded);
    const detail::Bytes bytes = file;
    return load(std::move(file), bytes, sheetNameOf(path));
}

Workbook Workbook::open(const std::filesystem::path& path, const PackageReader& package) {
    std::vector<uint8_t> file = detail::readFile(path, bytesNeeded);
    if (isZip(file)) {
        try {
            refuseZip(file);
        } catch (const Error& e) {
            if (e.kind() != ErrorKind::LooksLikeXlsx) {
                throw;
            }
        }
        return package(std::move(file));
    }
    // An encrypted Office Open XML package: a compound file holding the
    // encrypted zip and how to decrypt it, and no workbook stream.
    if (detail::CompoundFile::hasSignature(file)) {
        const detail::CompoundFile cf(file);
        const auto info = cf.findStream(u"EncryptionInfo");
        const auto encrypted = cf.findStream(u"EncryptedPackage");
        if (info && encrypted && !cf.findStream(u"Workbook") && !cf.findStream(u"Book")) {
            return package(detail::decryptPackage(cf.readStream(*info), cf.readStream(*encrypted)));
        }
    }
    const detail::Bytes bytes = file;
    return load(std::move(file), bytes, sheetNameOf(path));
}

Workbook Workbook::fromBytes(std::vector<uint8_t> bytes) {
    const detail::Bytes view = bytes;
    return load(std::move(bytes), view, u"Sheet1");
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
