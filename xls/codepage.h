// 8-bit text of BIFF5 workbooks (and BIFF8 writers that store LABEL text as
// bytes), decoded in the workbook's code page through ICU.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "xls/bytes.h"

struct UConverter;

namespace xls::detail {

class CodePage {
public:
    // The CODEPAGE record's value; unknown pages decode as Windows-1252.
    explicit CodePage(uint16_t codePage);
    ~CodePage();
    CodePage(const CodePage&) = delete;
    CodePage& operator=(const CodePage&) = delete;

    void append(Bytes bytes, std::u16string& out) const;

private:
    struct Close {
        void operator()(UConverter* c) const noexcept;
    };
    std::unique_ptr<UConverter, Close> m_converter;
    bool m_latin1 = false;
};

}  // namespace xls::detail
