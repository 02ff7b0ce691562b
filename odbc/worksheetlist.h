// CWorksheetList: the worksheet names of a workbook, read from the table
// catalogue of its own connection, as the dialog's worksheet list shows
// them. It has no window: the dialog puts the outcome into its controls.
#pragma once

#include <vector>

#include "platform/cstring.h"
#include "platform/types.h"

class CWorksheetList {
public:
    // Connects to the workbook with the driver, reads the catalogue and
    // collects every TABLE_NAME unchanged, in the driver's order. TRUE when
    // the load ran to its end. On failure m_strError holds the message: a
    // database error as "Database error: " and the driver's text, or the
    // text of a catalogue the driver does not support.
    BOOL Load(const CString& strDriver, const CString& strWorkbook);

    // TRUE once the catalogue opened: the list is then to be emptied and
    // filled with m_arrNames (which may stop short when a later row failed).
    // FALSE: the list keeps what it held.
    BOOL m_bReplaced = FALSE;
    std::vector<CString> m_arrNames;
    CString m_strError;
};
