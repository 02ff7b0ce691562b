// Driver discovery: walks the installer's NUL-separated driver list.
#include "odbc/find_excel_driver.h"

#include <odbcinst.h>

#include <array>
#include <string_view>

#include "platform/types.h"

CString FindExcelDriver() {
    constexpr WORD kBufferChars = 2000;
    std::array<SQLWCHAR, kBufferChars + 1> buffer{};
    WORD cbOut = 0;
    if (!SQLGetInstalledDriversW(buffer.data(), kBufferChars, &cbOut))
        return {};
    // SQLWCHAR is a 16-bit UTF-16 unit on unixODBC, so the list reads as char16_t.
    static_assert(sizeof(SQLWCHAR) == sizeof(char16_t));
    std::u16string list(buffer.size(), u'\0');
    for (size_t i = 0; i < buffer.size(); ++i) list[i] = static_cast<char16_t>(buffer[i]);
    for (size_t pos = 0; pos < kBufferChars && list[pos] != u'\0';) {
        const std::u16string_view name(list.c_str() + pos);
        if (name.find(u"Excel") != std::u16string_view::npos)
            return CString(name);
        pos += name.size() + 1;
    }
    return {};
}
