// The package layer over the zip: part names (relative and absolute
// targets resolved against their source part), relationships, and the
// content types that say what a part holds.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "xlsx/zip.h"

namespace xlsx {

struct Relationship {
    std::string id;
    std::string type;    // the last segment of the type URI: "worksheet", "styles" ...
    std::string target;  // the resolved part name; empty for an external target
};

// The relationships of part `source` ("" for the package's own), from its
// .rels part; empty when there is none. Throws xls::Error(Damaged) for a
// .rels part that is not well-formed.
std::vector<Relationship> readRelationships(const ZipArchive& zip, std::string_view source);

// `target` resolved against the folder of part `source`: "/x/y" is taken
// from the package's root, "../x" climbs, %XX escapes are decoded.
std::string resolvePart(std::string_view source, std::string_view target);

class ContentTypes {
public:
    // From [Content_Types].xml; none when it is missing.
    explicit ContentTypes(const ZipArchive& zip);
    // The content type of a part (an override, else by extension); empty
    // when it has none.
    [[nodiscard]] std::string of(std::string_view part) const;

private:
    std::map<std::string, std::string> m_defaults;   // folded extension -> type
    std::map<std::string, std::string> m_overrides;  // folded part name -> type
};

}  // namespace xlsx
