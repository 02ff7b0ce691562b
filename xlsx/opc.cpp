// Relationships, part names and content types (see opc.h).
#include "xlsx/opc.h"

#include "xlsx/xml.h"

namespace xlsx {
namespace {

class RelationshipsHandler final : public XmlHandler {
public:
    RelationshipsHandler(std::string_view source, std::vector<Relationship>& out)
        : m_source(source), m_out(out) {}
    void start(const XmlName& name, const XmlAttributes& a) override {
        if (name.local != "Relationship") {
            return;
        }
        const char* id = a.get("Id");
        const char* type = a.get("Type");
        const char* target = a.get("Target");
        const char* mode = a.get("TargetMode");
        if (id == nullptr || type == nullptr || target == nullptr) {
            return;
        }
        Relationship r;
        r.id = id;
        const std::string_view t(type);
        r.type = t.substr(t.rfind('/') + 1);
        if (mode == nullptr || std::string_view(mode) != "External") {
            r.target = resolvePart(m_source, target);
        }
        m_out.push_back(std::move(r));
    }
    void end(const XmlName& /*name*/) override {}
    void text(std::string_view /*chars*/) override {}
    [[nodiscard]] bool wantsText() const override { return false; }

private:
    std::string_view m_source;
    std::vector<Relationship>& m_out;
};

class ContentTypesHandler final : public XmlHandler {
public:
    ContentTypesHandler(std::map<std::string, std::string>& defaults,
                        std::map<std::string, std::string>& overrides)
        : m_defaults(defaults), m_overrides(overrides) {}
    void start(const XmlName& name, const XmlAttributes& a) override {
        const char* type = a.get("ContentType");
        if (type == nullptr) {
            return;
        }
        if (name.local == "Default") {
            if (const char* ext = a.get("Extension")) {
                m_defaults[foldName(ext)] = type;
            }
        } else if (name.local == "Override") {
            if (const char* part = a.get("PartName")) {
                m_overrides[foldName(resolvePart("", part))] = type;
            }
        }
    }
    void end(const XmlName& /*name*/) override {}
    void text(std::string_view /*chars*/) override {}
    [[nodiscard]] bool wantsText() const override { return false; }

private:
    std::map<std::string, std::string>& m_defaults;
    std::map<std::string, std::string>& m_overrides;
};

std::string percentDecoded(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && hexDigit(s[i + 1]) >= 0 && hexDigit(s[i + 2]) >= 0) {
            out.push_back(static_cast<char>(hexDigit(s[i + 1]) * 16 + hexDigit(s[i + 2])));
            i += 2;
        } else {
            out.push_back(s[i] == '\\' ? '/' : s[i]);
        }
    }
    return out;
}

}  // namespace

std::string resolvePart(std::string_view source, std::string_view target) {
    const std::string t = percentDecoded(target);
    std::vector<std::string_view> segments;
    std::string base;
    if (t.empty() || t[0] != '/') {
        const size_t slash = source.rfind('/');
        base = slash == std::string_view::npos ? std::string()
                                               : std::string(source.substr(0, slash + 1));
    }
    const std::string whole = base + t;
    size_t pos = 0;
    while (pos <= whole.size()) {
        size_t next = whole.find('/', pos);
        if (next == std::string::npos) {
            next = whole.size();
        }
        const std::string_view seg = std::string_view(whole).substr(pos, next - pos);
        if (seg == "..") {
            if (!segments.empty()) {
                segments.pop_back();
            }
        } else if (!seg.empty() && seg != ".") {
            segments.push_back(seg);
        }
        pos = next + 1;
    }
    std::string out;
    for (const std::string_view seg : segments) {
        if (!out.empty()) {
            out.push_back('/');
        }
        out.append(seg);
    }
    return out;
}

std::vector<Relationship> readRelationships(const ZipArchive& zip, std::string_view source) {
    const size_t slash = source.rfind('/');
    const std::string folder =
        slash == std::string_view::npos ? std::string() : std::string(source.substr(0, slash + 1));
    const std::string file(slash == std::string_view::npos ? source : source.substr(slash + 1));
    const std::string relsName = folder + "_rels/" + file + ".rels";
    std::vector<Relationship> out;
    if (const ZipEntry* e = zip.find(relsName)) {
        RelationshipsHandler handler(source, out);
        parseXml(zip, *e, handler);
    }
    return out;
}

ContentTypes::ContentTypes(const ZipArchive& zip) {
    if (const ZipEntry* e = zip.find("[Content_Types].xml")) {
        ContentTypesHandler handler(m_defaults, m_overrides);
        parseXml(zip, *e, handler);
    }
}

std::string ContentTypes::of(std::string_view part) const {
    const std::string folded = foldName(part);
    if (const auto o = m_overrides.find(folded); o != m_overrides.end()) {
        return o->second;
    }
    const size_t dot = folded.rfind('.');
    if (dot != std::string::npos) {
        if (const auto d = m_defaults.find(folded.substr(dot + 1)); d != m_defaults.end()) {
            return d->second;
        }
    }
    return {};
}

}  // namespace xlsx
