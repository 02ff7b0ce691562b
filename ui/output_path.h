// The output path that the dialog derives from a chosen workbook.
#pragma once

#include "platform/cstring.h"

// The part after the last "/" (or "\").
CString FileNamePart(const CString& strPath);
// The output file name for a workbook file name: its final extension
// replaced by ".csv" when it is ".xls", ".xlsx" or ".xlsm" in any letter
// case, ".csv" appended
// otherwise. Folder names are never touched, so the output can never be
// the workbook itself.
CString OutputFileName(const CString& strExcelName);
// The output path beside a workbook: its folder and OutputFileName.
CString OutputPathFor(const CString& strExcelPath);
