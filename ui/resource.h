// Resource ids of the dialog program: the dialog template, its controls,
// the string table and the icon.
#pragma once

#include "platform/types.h"

inline constexpr UINT IDD_CONVERT_DIALOG = 102;
inline constexpr UINT IDR_MAINFRAME = 128;
inline constexpr UINT IDS_PROCESSING_RECORD = 129;
inline constexpr UINT IDS_TOTAL_RECORDS = 130;

inline constexpr int IDC_CONVERT = 1000;
inline constexpr int IDC_EXCEL_FILE = 1002;
inline constexpr int IDC_BROWSE_EXCEL = 1003;
inline constexpr int IDC_TEXT_FILE = 1004;
inline constexpr int IDC_BROWSE_TEXT = 1005;
inline constexpr int IDC_CHARSET = 1007;
inline constexpr int IDC_DELIMITER = 1008;
inline constexpr int IDC_WORKSHEET = 1010;
inline constexpr int IDC_STOP = 1012;
inline constexpr int IDC_PROGRESS_LABEL = 1013;
inline constexpr int IDC_RECORD_COUNT = 1014;
inline constexpr int IDC_FILE_FORMAT = 1015;
inline constexpr int IDC_VALUES_DISPLAYED = 1016;
inline constexpr int ID_HELP = 57670;
