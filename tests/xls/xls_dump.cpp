// A developer's tool: prints a workbook's sheets, names and every cell as
// "sheet<TAB>cell<TAB>type<TAB>text", or the error that refused it.
#include <iostream>

#include "tests/xls/test_util.h"

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        try {
            const xls::Workbook book = xls::Workbook::open(argv[i]);
            std::cout << "BIFF" << book.biffVersion() << (book.date1904() ? " 1904" : "") << "\n";
            for (const auto& n : book.names()) {
                std::cout << "name\t" << xls_test::utf8(n.name) << "\t" << n.sheet << "\t"
                          << n.range.firstRow << ":" << n.range.firstCol << "-" << n.range.lastRow
                          << ":" << n.range.lastCol << "\n";
            }
            std::u16string text;
            for (size_t s = 0; s < book.sheets().size(); ++s) {
                const auto& info = book.sheets()[s];
                std::cout << "sheet\t" << xls_test::utf8(info.name) << "\t"
                          << static_cast<int>(info.type) << (info.hidden ? "\thidden" : "") << "\n";
                const xls::Sheet sheet = book.sheet(s);
                const auto used = sheet.usedRange();
                if (!used) {
                    continue;
                }
                for (uint32_t r = used->firstRow; r <= used->lastRow; ++r) {
                    for (const xls::Cell& c : sheet.row(r)) {
                        sheet.text(c, text);
                        std::cout << s << "\t" << r << "," << c.col << "\t"
                                  << static_cast<int>(c.type) << "\t" << xls_test::utf8(text)
                                  << "\n";
                    }
                }
            }
        } catch (const xls::Error& e) {
            std::cout << "error " << static_cast<int>(e.kind()) << ": " << e.what() << "\n";
        }
    }
}
