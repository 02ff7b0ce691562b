// Output paths derived from workbook paths.
#include "ui/output_path.h"

#include <algorithm>

namespace {

int LastSeparator(const CString& strPath) {
    return std::max(strPath.ReverseFind(u'/'), strPath.ReverseFind(u'\\'));
}

}  // namespace

CString FileNamePart(const CString& strPath) {
    return strPath.Mid(LastSeparator(strPath) + 1);
}

CString OutputFileName(const CString& strExcelName) {
    const int n = strExcelName.GetLength();
    for (const char16_t* szExtension : {u".xls", u".xlsx", u".xlsm"}) {
        const int nExtension = CString(szExtension).GetLength();
        if (n >= nExtension && strExcelName.Right(nExtension).CompareNoCase(szExtension) == 0)
            return strExcelName.Left(n - nExtension) + u".csv";
    }
    return strExcelName + u".csv";
}

CString OutputPathFor(const CString& strExcelPath) {
    const int nSlash = LastSeparator(strExcelPath);
    return strExcelPath.Left(nSlash + 1) + OutputFileName(strExcelPath.Mid(nSlash + 1));
}
