// Opening a package: the package relationships lead to the workbook part;
// its relationships to the sheets, the styles and the shared strings. The
// workbook part gives the sheets in order with their state, the date
// system and the defined names; the styles give each cell format's number
// format, which decides whether a number reads as a date or a time; the
// shared strings are read whole, plain or rich (runs joined, phonetic
// guides left out). Sheets are read later, one by one, when asked for.
#include <charconv>
#include <map>

#include "xls/bytes.h"
#include "xls/render.h"
#include "xlsx/opc.h"
#include "xlsx/package.h"
#include "xlsx/xlsx.h"
#include "xlsx/xml.h"

namespace xlsx {
namespace {

using xls::CellType;
using xls::Error;
using xls::ErrorKind;
using xls::SheetType;
using xls::detail::damaged;

std::u16string utf16(std::string_view utf8) {
    std::u16string out;
    // Names are short; the escapes of cell text do not apply to them.
    for (size_t i = 0; i < utf8.size();) {
        size_t len = 0;
        const uint32_t cp = decodeUtf8At(utf8, i, len);
        if (len == 0) {
            break;
        }
        i += len;
        appendUtf16(cp, out);
    }
    return out;
}

bool isTrue(const char* v) {
    return v != nullptr && (std::string_view(v) == "1" || std::string_view(v) == "true");
}

struct PendingSheet {
    std::u16string name;
    std::string relId;
    bool hidden = false;
};

struct PendingName {
    std::string name;
    std::string formula;
    long localSheet = -1;
    bool hidden = false;
};

class WorkbookHandler final : public XmlHandler {
public:
    std::vector<PendingSheet> sheets;
    std::vector<PendingName> names;
    bool date1904 = false;
    bool sawWorkbook = false;

    void start(const XmlName& name, const XmlAttributes& a) override {
        if (name.ns != Ns::Main) {
            return;
        }
        if (name.local == "workbook") {
            sawWorkbook = true;
        } else if (name.local == "workbookPr") {
            date1904 = isTrue(a.get("date1904"));
        } else if (name.local == "sheet") {
            PendingSheet s;
            const char* n = a.get("name");
            const char* id = a.relationship("id");
            const char* state = a.get("state");
            s.name = utf16(n != nullptr ? n : "");
            s.relId = id != nullptr ? id : "";
            s.hidden = state != nullptr && std::string_view(state) != "visible";
            sheets.push_back(std::move(s));
        } else if (name.local == "definedName") {
            PendingName p;
            const char* n = a.get("name");
            p.name = n != nullptr ? n : "";
            p.hidden = isTrue(a.get("hidden"));
            if (const char* local = a.get("localSheetId")) {
                const std::string_view v(local);
                std::from_chars(v.data(), v.data() + v.size(), p.localSheet);
            }
            names.push_back(std::move(p));
            m_inName = true;
        }
    }
    void end(const XmlName& name) override {
        if (name.is("definedName")) {
            m_inName = false;
        }
    }
    void text(std::string_view chars) override {
        if (names.back().formula.size() < 8192) {
            names.back().formula.append(chars);
        }
    }
    [[nodiscard]] bool wantsText() const override { return m_inName; }

private:
    bool m_inName = false;
};

class StylesHandler final : public XmlHandler {
public:
    std::vector<CellType> kinds;
    std::vector<uint32_t> formats;             // each cell format's number format id
    std::map<uint32_t, std::u16string> codes;  // the workbook's own formats by id

    void start(const XmlName& name, const XmlAttributes& a) override {
        if (name.ns != Ns::Main) {
            return;
        }
        if (name.local == "numFmt") {
            const char* id = a.get("numFmtId");
            const char* code = a.get("formatCode");
            if (id != nullptr && code != nullptr) {
                std::u16string text = utf16(code);
                m_formats[number(id)] = xls::detail::classifyFormat(text);
                codes[number(id)] = std::move(text);
            }
        } else if (name.local == "cellXfs") {
            m_inXfs = true;
        } else if (name.local == "xf" && m_inXfs) {
            const char* id = a.get("numFmtId");
            const uint32_t f = id != nullptr ? number(id) : 0;
            formats.push_back(f);
            const auto custom = m_formats.find(f);
            kinds.push_back(custom != m_formats.end() ? custom->second
                            : f <= UINT16_MAX
                                ? xls::detail::builtinFormatKind(static_cast<uint16_t>(f))
                                : CellType::Number);
        }
    }
    void end(const XmlName& name) override {
        if (name.is("cellXfs")) {
            m_inXfs = false;
        }
    }
    void text(std::string_view /*chars*/) override {}
    [[nodiscard]] bool wantsText() const override { return false; }

private:
    static uint32_t number(std::string_view v) {
        uint32_t n = UINT32_MAX;
        std::from_chars(v.data(), v.data() + v.size(), n);
        return n;
    }
    bool m_inXfs = false;
    std::map<uint32_t, CellType> m_formats;
};

class SharedStringsHandler final : public XmlHandler {
public:
    explicit SharedStringsHandler(xls::detail::StringTable& out) : m_out(out) {}

    void start(const XmlName& name, const XmlAttributes& /*a*/) override {
        if (name.ns != Ns::Main) {
            return;
        }
        // Excel 2007's beta named a string <sstItem>.
        if (name.local == "si" || name.local == "sstItem") {
            m_raw.clear();
            m_inSi = true;
        } else if (name.local == "t" && m_inSi && m_phonetic == 0) {
            m_inT = true;
        } else if (name.local == "rPh") {
            ++m_phonetic;
        }
    }
    void end(const XmlName& name) override {
        if (name.ns != Ns::Main) {
            return;
        }
        if (name.local == "t") {
            m_inT = false;
        } else if (name.local == "rPh") {
            --m_phonetic;
        } else if ((name.local == "si" || name.local == "sstItem") && m_inSi) {
            m_inSi = false;
            m_text.clear();
            appendSpreadsheetText(m_raw, m_text, detail::kMaxString);
            if (m_out.chars.size() + m_text.size() >= UINT32_MAX ||
                m_out.size() >= UINT32_MAX / 2) {
                damaged("shared strings: more text than a workbook can hold");
            }
            m_out.add(m_text);
        }
    }
    void text(std::string_view chars) override {
        constexpr size_t kMaxRaw = detail::kMaxString * 7;
        if (m_raw.size() < kMaxRaw) {
            m_raw.append(chars.substr(0, kMaxRaw - m_raw.size()));
        }
    }
    [[nodiscard]] bool wantsText() const override { return m_inT; }

private:
    xls::detail::StringTable& m_out;
    std::string m_raw;
    std::u16string m_text;
    bool m_inSi = false;
    bool m_inT = false;
    int m_phonetic = 0;
};

// A sheet name as a reference writes it: 'quoted, with '' for a quote' or bare.
bool splitSheet(std::string_view f, std::string& sheet, std::string_view& rest) {
    if (!f.empty() && f[0] == '\'') {
        size_t i = 1;
        for (; i < f.size(); ++i) {
            if (f[i] == '\'') {
                if (i + 1 < f.size() && f[i + 1] == '\'') {
                    sheet.push_back('\'');
                    ++i;
                    continue;
                }
                break;
            }
            sheet.push_back(f[i]);
        }
        if (i + 1 >= f.size() || f[i + 1] != '!') {
            return false;
        }
        rest = f.substr(i + 2);
        return true;
    }
    const size_t bang = f.find('!');
    if (bang == std::string_view::npos || bang == 0) {
        return false;
    }
    sheet = std::string(f.substr(0, bang));
    if (sheet.find_first_of("()[],;:+-*/&^<>=\" ") != std::string::npos) {
        return false;
    }
    rest = f.substr(bang + 1);
    return true;
}

// A defined name's formula that is one rectangle of one sheet: "Sheet1!$A$1:$C$9",
// "'My data'!$B$2", whole columns "Sheet1!$A:$C" or rows "Sheet1!$2:$5".
bool parseArea(std::string_view f, std::string& sheet, xls::Range& range) {
    while (!f.empty() && (f.front() == ' ' || f.front() == '=')) {
        f.remove_prefix(1);
    }
    while (!f.empty() && f.back() == ' ') {
        f.remove_suffix(1);
    }
    std::string_view area;
    if (!splitSheet(f, sheet, area)) {
        return false;
    }
    const size_t colon = area.find(':');
    const std::string_view a = area.substr(0, colon);
    const std::string_view b = colon == std::string_view::npos ? a : area.substr(colon + 1);
    uint32_t r1 = 0, c1 = 0, r2 = 0, c2 = 0;
    if (!detail::parseCellRef(a, r1, c1, true) || !detail::parseCellRef(b, r2, c2, true)) {
        return false;
    }
    // Whole columns or whole rows on both ends, or cells on both.
    if ((r1 == UINT32_MAX) != (r2 == UINT32_MAX) || (c1 == UINT32_MAX) != (c2 == UINT32_MAX)) {
        return false;
    }
    if (r1 == UINT32_MAX) {
        r1 = 0;
        r2 = detail::kRows - 1;
    }
    if (c1 == UINT32_MAX) {
        c1 = 0;
        c2 = detail::kColumns - 1;
    }
    range = {std::min(r1, r2), std::max(r1, r2), static_cast<uint16_t>(std::min(c1, c2)),
             static_cast<uint16_t>(std::max(c1, c2))};
    return true;
}

std::u16string foldedName(std::u16string_view s) {
    std::u16string out(s);
    for (char16_t& c : out) {
        if (c >= u'A' && c <= u'Z') {
            c = static_cast<char16_t>(c + 32);
        }
    }
    return out;
}

// Each name is looked up among the worksheets by a map built once: a
// workbook part may hold many thousands of both.
void resolveNames(const std::vector<PendingName>& pending, xls::Workbook::Data& book) {
    std::map<std::u16string, size_t> worksheets;
    for (size_t i = book.sheets.size(); i-- > 0;) {
        if (book.sheets[i].type == SheetType::Worksheet) {
            worksheets[foldedName(book.sheets[i].name)] = i;  // the first of a name wins
        }
    }
    for (const PendingName& p : pending) {
        // Hidden names and the built-in ones (print areas, filter ranges)
        // are no tables.
        if (p.hidden || p.name.empty() || p.name.starts_with("_xlnm.")) {
            continue;
        }
        std::string sheet;
        xls::Range range;
        if (!parseArea(p.formula, sheet, range)) {
            continue;
        }
        const auto found = worksheets.find(foldedName(utf16(sheet)));
        if (found == worksheets.end()) {
            continue;
        }
        xls::DefinedName n;
        n.name = utf16(p.name);
        n.sheet = static_cast<uint32_t>(found->second);
        n.range = range;
        n.scope = p.localSheet >= 0 && static_cast<size_t>(p.localSheet) < book.sheets.size()
                      ? static_cast<uint32_t>(p.localSheet) + 1
                      : 0;
        book.names.push_back(std::move(n));
    }
}

SheetType sheetType(std::string_view relType) {
    if (relType == "worksheet") {
        return SheetType::Worksheet;
    }
    if (relType == "chartsheet") {
        return SheetType::Chart;
    }
    if (relType == "dialogsheet") {
        return SheetType::Dialog;
    }
    if (relType == "xlMacrosheet" || relType == "xlIntlMacrosheet") {
        return SheetType::Macro;
    }
    return SheetType::Other;
}

bool endsWith(std::string_view s, std::string_view tail) {
    return s.size() >= tail.size() && foldName(s.substr(s.size() - tail.size())) == tail;
}

// The workbook part: the package's officeDocument relationship, or where
// writers put it when that relationship is missing. Refuses the packages
// that hold no workbook this reader can read, saying what they hold.
std::string findWorkbookPart(const ZipArchive& zip) {
    std::string part;
    std::vector<Relationship> rels;
    try {
        rels = readRelationships(zip, "");
    } catch (const Error&) {
        // Damaged package relationships: the workbook is looked for where
        // writers put it.
    }
    for (const Relationship& r : rels) {
        if (r.type == "officeDocument" && !r.target.empty()) {
            part = r.target;
            break;
        }
    }
    if (part.empty() || zip.find(part) == nullptr) {
        for (const char* candidate : {"xl/workbook.xml", "xl/workbook.bin", "workbook.xml"}) {
            if (zip.find(candidate) != nullptr) {
                part = candidate;
                break;
            }
        }
    }
    const ContentTypes types(zip);
    const std::string type = part.empty() ? std::string() : types.of(part);
    if (endsWith(part, ".bin") || type.find("sheet.binary") != std::string::npos) {
        throw Error(ErrorKind::LooksLikeXlsb, "package: the workbook part \"" + part +
                                                  "\" is an Excel binary workbook (.xlsb)");
    }
    if (type.find("wordprocessingml") != std::string::npos) {
        throw Error(ErrorKind::NotWorkbook, "package: a Word document (.docx), not a workbook");
    }
    if (type.find("presentationml") != std::string::npos) {
        throw Error(ErrorKind::NotWorkbook,
                    "package: a PowerPoint presentation (.pptx), not a workbook");
    }
    if (part.empty() || zip.find(part) == nullptr) {
        if (zip.find("content.xml") != nullptr && zip.find("mimetype") != nullptr) {
            throw Error(ErrorKind::LooksLikeOds,
                        "container: a zip file holding an OpenDocument spreadsheet (.ods)");
        }
        throw Error(ErrorKind::NotWorkbook,
                    "package: a zip file without a workbook part (xl/workbook.xml)");
    }
    return part;
}

}  // namespace

xls::Workbook readPackage(std::vector<uint8_t> bytes) {
    auto package = std::make_shared<detail::Package>();
    package->bytes = std::move(bytes);
    package->zip = std::make_unique<ZipArchive>(package->bytes);
    const ZipArchive& zip = *package->zip;
    const std::string workbookPart = findWorkbookPart(zip);

    WorkbookHandler workbook;
    parseXml(zip, *zip.find(workbookPart), workbook);
    if (!workbook.sawWorkbook) {
        damaged("package: the part \"" + workbookPart + "\" holds no workbook");
    }
    std::map<std::string, Relationship> byId;
    std::string stylesPart, stringsPart;
    for (Relationship& r : readRelationships(zip, workbookPart)) {
        if (r.type == "styles" && stylesPart.empty()) {
            stylesPart = r.target;
        } else if (r.type == "sharedStrings" && stringsPart.empty()) {
            stringsPart = r.target;
        }
        byId.emplace(r.id, std::move(r));
    }

    auto book = std::make_shared<xls::Workbook::Data>();
    book->biff = 12;
    book->date1904 = workbook.date1904;
    package->date1904 = workbook.date1904;
    for (PendingSheet& s : workbook.sheets) {
        xls::SheetInfo info;
        info.name = std::move(s.name);
        info.hidden = s.hidden;
        std::string part;
        // A sheet without its relationship is listed, and holds no cells.
        if (const auto r = byId.find(s.relId); r != byId.end()) {
            info.type = sheetType(r->second.type);
            part = r->second.target;
        }
        package->sheetParts.push_back(info.type == SheetType::Worksheet ? part : std::string());
        book->sheets.push_back(std::move(info));
    }
    resolveNames(workbook.names, *book);

    if (const ZipEntry* e = stylesPart.empty() ? nullptr : zip.find(stylesPart)) {
        StylesHandler styles;
        parseXml(zip, *e, styles);
        package->xfKinds = std::move(styles.kinds);
        package->xfFormats = std::move(styles.formats);
        package->formatCodes = std::move(styles.codes);
    }
    auto sst = std::make_shared<xls::detail::StringTable>();
    if (const ZipEntry* e = stringsPart.empty() ? nullptr : zip.find(stringsPart)) {
        SharedStringsHandler strings(*sst);
        parseXml(zip, *e, strings);
        // The table lives as long as the workbook: no room is kept beyond
        // its strings (growth by doubling leaves up to half of it empty).
        sst->chars.shrink_to_fit();
        sst->ends.shrink_to_fit();
    }
    package->sst = sst;
    book->sst = std::move(sst);
    book->xfKinds = package->xfKinds;
    book->readSheet = [package](size_t index, xls::Sheet::Data& out) {
        detail::readWorksheet(*package, index, out);
    };
    return xls::Workbook(std::move(book));
}

xls::Workbook openWorkbook(const std::filesystem::path& path) {
    return xls::Workbook::open(path, readPackage);
}

}  // namespace xlsx
