// SQLBindCol, SQLFetch/SQLFetchScroll (one row or a block of rows into
// bound columns, column- or row-wise) and SQLGetData (one field, in pieces).
#include "xlsodbc/api.h"

namespace xlsodbc {
namespace {

ResultSet& openResult(Statement& s) {
    if (!s.executed || !s.result) {
        throw DriverError(State::InvalidCursorState, "No result is open on this statement");
    }
    return *s.result;
}

uint32_t rowLimit(const Statement& s) {
    const uint32_t rows = s.result->rowCount();
    return s.maxRows != 0 && s.maxRows < rows ? static_cast<uint32_t>(s.maxRows) : rows;
}

// The address of row `row` of a bound buffer: column-wise binding steps by
// the element size, row-wise by the structure size; the bind offset moves
// every address.
template <typename T>
T* element(T* base, size_t row, size_t elementSize, const Statement& s) {
    if (base == nullptr) {
        return nullptr;
    }
    auto* p = reinterpret_cast<char*>(base);
    if (s.bindOffset != nullptr) {
        p += *s.bindOffset;
    }
    p += row * (s.bindType == SQL_BIND_BY_COLUMN ? elementSize : s.bindType);
    return reinterpret_cast<T*>(p);
}

void addConversionRecord(Statement& s, Converted result, SQLLEN row, SQLINTEGER column) {
    if (result == Converted::Truncated) {
        s.diagnostics.add(State::Truncated, "A value was cut to fit its buffer", row, column);
    } else if (result == Converted::FractionTruncated) {
        s.diagnostics.add(State::FractionTruncated, "A value lost its fractional part", row,
                          column);
    }
}

// Writes the bound columns of the current row into rowset position `i`;
// returns the row's status.
SQLUSMALLINT fillRow(Statement& s, ResultSet& r, size_t i, SQLLEN rowNumber) {
    SQLUSMALLINT status = SQL_ROW_SUCCESS;
    for (size_t c = 0; c < s.bindings.size() && c < r.columnCount(); ++c) {
        const Binding& b = s.bindings[c];
        if (b.data == nullptr && b.indicator == nullptr) {
            continue;
        }
        const size_t size = fixedSize(b.cType);
        Target target{b.cType,
                      element(static_cast<char*>(b.data), i,
                              size != 0 ? size : static_cast<size_t>(b.capacity), s),
                      b.capacity, element(b.indicator, i, sizeof(SQLLEN), s)};
        try {
            const std::optional<std::u16string_view> value = r.field(static_cast<uint16_t>(c));
            if (copyWholeWideText(value, target)) {
                continue;
            }
            Piece piece;
            const Converted result = convert(value, target, piece, s.scratch);
            if (result != Converted::Ok) {
                addConversionRecord(s, result, rowNumber, static_cast<SQLINTEGER>(c + 1));
                status = SQL_ROW_SUCCESS_WITH_INFO;
            }
        } catch (const DriverError& e) {
            if (s.rowArraySize == 1) {
                throw;
            }
            s.diagnostics.add(e.state(), e.what(), rowNumber, static_cast<SQLINTEGER>(c + 1));
            status = SQL_ROW_ERROR;
        }
    }
    return status;
}

SQLRETURN fetchRowset(Statement& s) {
    ResultSet& r = openResult(s);
    const uint32_t limit = rowLimit(s);
    s.getDataColumn = -1;
    s.piece = {};
    if (s.nextRow >= limit) {
        storeLength(s.rowsFetched, 0);
        s.currentRow.reset();
        s.rowsetSize = 0;
        return SQL_NO_DATA;
    }
    const auto count = static_cast<uint32_t>(std::min<SQLULEN>(s.rowArraySize, limit - s.nextRow));
    size_t errors = 0;
    for (uint32_t i = 0; i < count; ++i) {
        r.seek(s.nextRow + i);
        const SQLUSMALLINT status = s.retrieveData == SQL_RD_ON
                                        ? fillRow(s, r, i, static_cast<SQLLEN>(i) + 1)
                                        : SQLUSMALLINT{SQL_ROW_SUCCESS};
        errors += status == SQL_ROW_ERROR ? 1 : 0;
        if (s.rowStatus != nullptr) {
            s.rowStatus[i] = status;
        }
    }
    for (SQLULEN i = count; s.rowStatus != nullptr && i < s.rowArraySize; ++i) {
        s.rowStatus[i] = SQL_ROW_NOROW;
    }
    s.currentRow = s.nextRow;
    s.rowsetSize = count;
    s.nextRow += count;
    storeLength(s.rowsFetched, count);
    if (count > 1) {
        r.seek(*s.currentRow);  // SQLGetData reads the rowset's first row
    }
    if (errors == count) {
        throw DriverError(State::GeneralError,
                          "No row of the rowset could be converted (see the other records)");
    }
    return SQL_SUCCESS;
}

}  // namespace

SQLRETURN bindCol(SQLHSTMT stmt, SQLUSMALLINT column, SQLSMALLINT cType, SQLPOINTER data,
                  SQLLEN capacity, SQLLEN* indicator) noexcept {
    return guard<Statement>(stmt, [&](Statement& s) {
        if (column == 0) {
            throw DriverError(State::InvalidColumnNumber, "Bookmark columns are not supported");
        }
        if (capacity < 0) {
            throw DriverError(State::InvalidLength, "The buffer length is negative");
        }
        if (s.bindings.size() < column) {
            s.bindings.resize(column);
        }
        Binding& b = s.bindings[column - 1];
        if (data == nullptr && indicator == nullptr) {
            b = Binding{};  // unbinds the column
            return SQL_SUCCESS;
        }
        SQLSMALLINT type = cType;
        if (type == SQL_C_DEFAULT) {
            type = s.result && column <= s.result->columnCount()
                       ? defaultCType(s.result->column(static_cast<uint16_t>(column - 1)).sqlType)
                       : SQL_C_WCHAR;
        }
        fixedSize(type);  // refuses C types the driver does not convert to
        b = Binding{type, data, capacity, indicator};
        return SQL_SUCCESS;
    });
}

SQLRETURN fetch(SQLHSTMT stmt) noexcept {
    return guard<Statement>(stmt, fetchRowset);
}

SQLRETURN fetchScroll(SQLHSTMT stmt, SQLSMALLINT orientation, SQLLEN /*offset*/) noexcept {
    return guard<Statement>(stmt, [&](Statement& s) {
        if (orientation != SQL_FETCH_NEXT) {
            throw DriverError(State::InvalidFetchType,
                              "The cursor is forward-only: only SQL_FETCH_NEXT is supported");
        }
        return fetchRowset(s);
    });
}

SQLRETURN getData(SQLHSTMT stmt, SQLUSMALLINT column, SQLSMALLINT cType, SQLPOINTER data,
                  SQLLEN capacity, SQLLEN* indicator) noexcept {
    return guard<Statement>(stmt, [&](Statement& s) -> SQLRETURN {
        ResultSet& r = openResult(s);
        if (!s.currentRow) {
            throw DriverError(State::InvalidCursorState, "No row has been fetched");
        }
        if (column < 1 || column > r.columnCount()) {
            throw DriverError(State::InvalidColumnNumber,
                              "Column " + std::to_string(column) + " does not exist");
        }
        if (capacity < 0) {
            throw DriverError(State::InvalidLength, "The buffer length is negative");
        }
        const auto col = static_cast<uint16_t>(column - 1);
        if (s.getDataColumn != col) {
            s.getDataColumn = col;
            s.piece = {};
        }
        // The column's description is looked at only for SQL_C_DEFAULT: sizing
        // a worksheet's columns reads the whole sheet.
        const SQLSMALLINT type =
            cType == SQL_C_DEFAULT ? defaultCType(r.column(col).sqlType) : cType;
        const Target target{type, data, capacity, indicator};
        const Converted result = convert(r.field(col), target, s.piece, s.scratch);
        if (result == Converted::NoData) {
            return SQL_NO_DATA;
        }
        addConversionRecord(s, result, SQL_NO_ROW_NUMBER, column);
        return SQL_SUCCESS;
    });
}

}  // namespace xlsodbc
