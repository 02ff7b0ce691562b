// Expat under the package's parts (see xml.h). Callbacks run inside expat's
// C code: an exception is caught there, the parser stopped, and the
// exception thrown again once expat has returned.
#include "xlsx/xml.h"

#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include <expat.h>

#include "xls/bytes.h"

namespace xlsx {
namespace {

// Expanded names are "URI\x01local"; names without a namespace are "local".
constexpr char kSep = '\x01';

constexpr std::string_view kMainUris[] = {
    "http://schemas.openxmlformats.org/spreadsheetml/2006/main",
    "http://purl.oclc.org/ooxml/spreadsheetml/main",
    // Excel 2007's beta wrote this one.
    "http://schemas.microsoft.com/office/excel/2006/2",
};
constexpr std::string_view kRelUris[] = {
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships",
    "http://purl.oclc.org/ooxml/officeDocument/relationships",
};
constexpr std::string_view kPackageUris[] = {
    "http://schemas.openxmlformats.org/package/2006/relationships",
    "http://schemas.openxmlformats.org/package/2006/content-types",
};
// Members from this size on are inflated ahead of the parser (see
// InflateAhead); below it a thread costs more than it saves.
constexpr uint64_t kInflateAheadFrom = uint64_t{1} << 20U;

constexpr std::string_view kMcUri = "http://schemas.openxmlformats.org/markup-compatibility/2006";

template <size_t N>
bool oneOf(std::string_view uri, const std::string_view (&uris)[N]) {
    for (const std::string_view u : uris) {
        if (uri == u) {
            return true;
        }
    }
    return false;
}

struct Split {
    std::string_view uri;
    std::string_view local;
};

// The usual name, in the Transitional spreadsheet namespace, is told by one
// comparison of its start, without measuring the whole name first.
bool inMainNamespace(const char* expanded, std::string_view& local) {
    const std::string_view uri = kMainUris[0];
    if (std::strncmp(expanded, uri.data(), uri.size()) != 0 || expanded[uri.size()] != kSep) {
        return false;
    }
    local = std::string_view(expanded + uri.size() + 1);
    return true;
}

Split split(const char* expanded) {
    const std::string_view s(expanded);
    const size_t sep = s.rfind(kSep);
    if (sep == std::string_view::npos) {
        return {{}, s};
    }
    return {s.substr(0, sep), s.substr(sep + 1)};
}

XmlName classify(const Split& s) {
    XmlName name;
    name.local = s.local;
    if (s.uri.empty() || oneOf(s.uri, kMainUris)) {
        name.ns = Ns::Main;
    } else if (oneOf(s.uri, kRelUris)) {
        name.ns = Ns::Relationships;
    } else if (oneOf(s.uri, kPackageUris)) {
        name.ns = Ns::Package;
    }
    return name;
}

struct ParserDeleter {
    void operator()(XML_Parser p) const { XML_ParserFree(p); }
};

class Session {
public:
    Session(std::string_view partName, XmlHandler& handler)
        : m_part(partName), m_handler(handler), m_parser(XML_ParserCreateNS(nullptr, kSep)) {
        if (!m_parser) {
            throw std::bad_alloc();
        }
        XML_Parser p = m_parser.get();
        XML_SetUserData(p, this);
        XML_SetElementHandler(p, &Session::onStart, &Session::onEnd);
        XML_SetCharacterDataHandler(p, &Session::onText);
        XML_SetStartDoctypeDeclHandler(p, &Session::onDoctype);
        XML_SetEntityDeclHandler(p, &Session::onEntity);
        XML_SetParamEntityParsing(p, XML_PARAM_ENTITY_PARSING_NEVER);
    }

    // Feeds `n` bytes at the parser's own buffer; `last` for the end.
    void feed(size_t n, bool last) {
        const XML_Status status = XML_ParseBuffer(m_parser.get(), static_cast<int>(n), last);
        check(status);
    }
    void feedCopy(std::string_view bytes, bool last) {
        const XML_Status status =
            XML_Parse(m_parser.get(), bytes.data(), static_cast<int>(bytes.size()), last);
        check(status);
    }
    void* buffer(size_t n) {
        void* b = XML_GetBuffer(m_parser.get(), static_cast<int>(n));
        if (b == nullptr) {
            throw std::bad_alloc();
        }
        return b;
    }

private:
    void check(XML_Status status) {
        if (m_error) {
            std::rethrow_exception(m_error);
        }
        if (status != XML_STATUS_OK) {
            XML_Parser p = m_parser.get();
            xls::detail::damaged("part \"" + m_part + "\": XML error at line " +
                                 std::to_string(XML_GetCurrentLineNumber(p)) + ": " +
                                 XML_ErrorString(XML_GetErrorCode(p)));
        }
    }

    void stop(std::exception_ptr e) {
        if (!m_error) {
            m_error = std::move(e);
        }
        XML_StopParser(m_parser.get(), XML_FALSE);
    }

    // Markup compatibility: depth inside a skipped mc:Choice (0: none).
    // mc:AlternateContent and mc:Fallback themselves are not reported.
    void start(const char* name, const char** atts) {
        if (m_skip > 0) {
            ++m_skip;
            return;
        }
        XmlName main{Ns::Main, {}};
        if (inMainNamespace(name, main.local)) {
            m_handler.start(main, XmlAttributes(atts));
            return;
        }
        const Split s = split(name);
        if (s.uri == kMcUri) {
            if (s.local == "Choice") {
                m_skip = 1;
            }
            return;
        }
        m_handler.start(classify(s), XmlAttributes(atts));
    }
    void end(const char* name) {
        if (m_skip > 0) {
            --m_skip;
            return;
        }
        XmlName main{Ns::Main, {}};
        if (inMainNamespace(name, main.local)) {
            m_handler.end(main);
            return;
        }
        const Split s = split(name);
        if (s.uri == kMcUri) {
            return;
        }
        m_handler.end(classify(s));
    }

    static void XMLCALL onStart(void* self, const XML_Char* name, const XML_Char** atts) {
        auto* s = static_cast<Session*>(self);
        try {
            s->start(name, atts);
        } catch (...) {
            s->stop(std::current_exception());
        }
    }
    static void XMLCALL onEnd(void* self, const XML_Char* name) {
        auto* s = static_cast<Session*>(self);
        try {
            s->end(name);
        } catch (...) {
            s->stop(std::current_exception());
        }
    }
    static void XMLCALL onText(void* self, const XML_Char* chars, int len) {
        auto* s = static_cast<Session*>(self);
        if (s->m_skip > 0 || !s->m_handler.wantsText()) {
            return;
        }
        try {
            s->m_handler.text(std::string_view(chars, static_cast<size_t>(len)));
        } catch (...) {
            s->stop(std::current_exception());
        }
    }
    static void XMLCALL onDoctype(void* self, const XML_Char* /*name*/, const XML_Char* /*sysid*/,
                                  const XML_Char* /*pubid*/, int /*internal*/) {
        auto* s = static_cast<Session*>(self);
        s->refuseDtd();
    }
    static void XMLCALL onEntity(void* self, const XML_Char* /*name*/, int /*parameter*/,
                                 const XML_Char* /*value*/, int /*length*/,
                                 const XML_Char* /*base*/, const XML_Char* /*sysid*/,
                                 const XML_Char* /*pubid*/, const XML_Char* /*notation*/) {
        auto* s = static_cast<Session*>(self);
        s->refuseDtd();
    }
    void refuseDtd() {
        try {
            xls::detail::damaged("part \"" + m_part +
                                 "\" holds a document type declaration (DTD), which a package may "
                                 "not hold (entity expansion)");
        } catch (...) {
            stop(std::current_exception());
        }
    }

    std::string m_part;
    XmlHandler& m_handler;
    std::unique_ptr<XML_ParserStruct, ParserDeleter> m_parser;
    std::exception_ptr m_error;
    size_t m_skip = 0;
};

// A large member is inflated on a thread of its own, a few chunks ahead of
// the parser, so that inflating and parsing share the time of two cores.
class InflateAhead {
public:
    InflateAhead(const ZipArchive& zip, const ZipEntry& entry)
        : m_reader(zip, entry), m_thread([this] { run(); }) {}
    InflateAhead(const InflateAhead&) = delete;
    InflateAhead& operator=(const InflateAhead&) = delete;
    InflateAhead(InflateAhead&&) = delete;
    InflateAhead& operator=(InflateAhead&&) = delete;
    ~InflateAhead() {
        {
            const std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }

    // The next chunk (empty at the member's end), valid until the next call.
    // Throws what inflating threw.
    std::span<const uint8_t> next() {
        std::unique_lock lock(m_mutex);
        if (!m_current.empty()) {
            m_free.push_back(std::move(m_current));
            m_changed.notify_all();
        }
        m_changed.wait(lock, [this] { return !m_filled.empty() || m_error || m_ended; });
        if (!m_filled.empty()) {
            m_current = std::move(m_filled.front());
            m_filled.pop_front();
            m_changed.notify_all();
            return m_current;
        }
        if (m_error) {
            std::rethrow_exception(m_error);
        }
        return {};
    }

private:
    static constexpr size_t kChunk = size_t{256} << 10U;
    static constexpr size_t kChunks = 4;

    void run() {
        try {
            for (;;) {
                std::vector<uint8_t> buffer;
                {
                    std::unique_lock lock(m_mutex);
                    m_changed.wait(lock, [this] {
                        return m_stop || !m_free.empty() || m_filled.size() + 1 < kChunks;
                    });
                    if (m_stop) {
                        return;
                    }
                    if (!m_free.empty()) {
                        buffer = std::move(m_free.back());
                        m_free.pop_back();
                    }
                }
                buffer.resize(kChunk);
                size_t n = 0;
                for (size_t got = 1; n < kChunk && got > 0;) {
                    got = m_reader.read(buffer.data() + n, kChunk - n);
                    n += got;
                }
                buffer.resize(n);
                const std::lock_guard lock(m_mutex);
                if (n == 0) {
                    m_ended = true;
                } else {
                    m_filled.push_back(std::move(buffer));
                }
                m_changed.notify_all();
                if (n == 0) {
                    return;
                }
            }
        } catch (...) {
            const std::lock_guard lock(m_mutex);
            m_error = std::current_exception();
            m_changed.notify_all();
        }
    }

    ZipReader m_reader;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::vector<uint8_t>> m_filled;
    std::vector<std::vector<uint8_t>> m_free;
    std::vector<uint8_t> m_current;
    std::exception_ptr m_error;
    bool m_stop = false;
    bool m_ended = false;
    std::thread m_thread;  // last: it starts once everything above is built
};

}  // namespace

const char* XmlAttributes::get(std::string_view local) const {
    for (const char** a = m_a; *a != nullptr; a += 2) {
        if (std::strchr(*a, kSep) == nullptr && local == *a) {
            return a[1];
        }
    }
    return nullptr;
}

const char* XmlAttributes::relationship(std::string_view local) const {
    for (const char** a = m_a; *a != nullptr; a += 2) {
        const Split s = split(*a);
        if (s.local == local && oneOf(s.uri, kRelUris)) {
            return a[1];
        }
    }
    return nullptr;
}

void parseXml(const ZipArchive& zip, const ZipEntry& entry, XmlHandler& handler) {
    Session session(entry.name, handler);
    if (entry.compressedSize >= kInflateAheadFrom) {
        InflateAhead ahead(zip, entry);
        for (;;) {
            const std::span<const uint8_t> chunk = ahead.next();
            session.feedCopy(
                std::string_view(reinterpret_cast<const char*>(chunk.data()), chunk.size()),
                chunk.empty());
            if (chunk.empty()) {
                return;
            }
        }
    }
    ZipReader reader(zip, entry);
    constexpr size_t kChunk = size_t{256} * 1024;
    for (;;) {
        auto* buf = static_cast<uint8_t*>(session.buffer(kChunk));
        const size_t n = reader.read(buf, kChunk);
        session.feed(n, n == 0);
        if (n == 0) {
            return;
        }
    }
}

void parseXml(std::string_view xml, std::string_view partName, XmlHandler& handler) {
    Session session(partName, handler);
    session.feedCopy(xml, true);
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

namespace {

// The unit of an _xHHHH_ escape at s[i], or -1.
int32_t escapeAt(std::string_view s, size_t i) {
    if (s.size() - i < 7 || s[i + 1] != 'x' || s[i + 6] != '_') {
        return -1;
    }
    int32_t v = 0;
    for (size_t k = 2; k < 6; ++k) {
        const int d = hexDigit(s[i + k]);
        if (d < 0) {
            return -1;
        }
        v = v * 16 + d;
    }
    return v;
}

}  // namespace

bool appendSpreadsheetText(std::string_view s, std::u16string& out, size_t limit) {
    size_t i = 0;
    while (i < s.size()) {
        if (out.size() >= limit) {
            return false;
        }
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            const int32_t escaped = c == '_' ? escapeAt(s, i) : -1;
            if (escaped >= 0) {
                out.push_back(static_cast<char16_t>(escaped));
                i += 7;
            } else {
                out.push_back(c);
                ++i;
            }
            continue;
        }
        size_t len = 0;
        const uint32_t cp = decodeUtf8At(s, i, len);
        if (len == 0) {
            break;
        }
        i += len;
        if (cp >= 0x10000 && out.size() + 2 > limit) {
            return false;
        }
        appendUtf16(cp, out);
    }
    return true;
}

}  // namespace xlsx
