// Reading a recordset the way the program does, for the database tests:
// the column names of a result, and one field of every catalogue row walked
// as the worksheet list walks them.
#pragma once

#include <vector>

#include "odbc/tables.h"

inline std::vector<CString> ColumnNames(const CRecordset& set) {
    std::vector<CString> names;
    CODBCFieldInfo info;
    for (short i = 0; i < set.GetODBCFieldCount(); ++i) {
        set.GetODBCFieldInfo(i, info);
        names.push_back(info.m_strName);
    }
    return names;
}

// While the index is below the count of rows seen so far, take the row's
// field and move on.
inline std::vector<CString> CatalogueColumn(CTables& tables,
                                            CString CTables::*field = &CTables::m_strTableName) {
    std::vector<CString> values;
    for (long row = 0; row < tables.GetRecordCount(); ++row) {
        values.push_back(tables.*field);
        tables.MoveNext();
    }
    return values;
}
