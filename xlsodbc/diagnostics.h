// Diagnostics are data: each handle keeps a list of records; each condition
// the driver reports is a State with its ODBC 3 and ODBC 2 SQLSTATE; the
// driver throws DriverError and the entry point's boundary (api.h) turns
// it into a record.
#pragma once

#include "xlsodbc/odbc.h"

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace xlsodbc {

// The conditions the driver reports, one per SQLSTATE.
enum class State : unsigned char {
    GeneralWarning,          // 01000
    Truncated,               // 01004
    OptionChanged,           // 01S02
    FractionTruncated,       // 01S07
    InvalidColumnNumber,     // 07009
    InvalidParameterNumber,  // 07009 (ODBC 2: S1093)
    WrongParameterCount,     // 07002
    UnableToConnect,         // 08001
    ConnectionInUse,         // 08002
    NotConnected,            // 08003
    IndicatorRequired,       // 22002
    OutOfRange,              // 22003
    InvalidDatetime,         // 22007
    InvalidCast,             // 22018
    InvalidCursorState,      // 24000
    SyntaxError,             // 42000
    TableNotFound,           // 42S02
    GeneralError,            // HY000
    Cancelled,               // HY008
    Timeout,                 // HYT00
    OutOfMemory,             // HY001
    InvalidBufferType,       // HY003
    InvalidNullPointer,      // HY009
    SequenceError,           // HY010
    InvalidTransactionCode,  // HY012
    InvalidAttributeValue,   // HY024
    InvalidLength,           // HY090
    InvalidDescriptorField,  // HY091
    InvalidAttribute,        // HY092
    InvalidInfoType,         // HY096
    InvalidColumnType,       // HY097
    InvalidScopeType,        // HY098
    InvalidNullableType,     // HY099
    InvalidUniqueness,       // HY100
    InvalidAccuracy,         // HY101
    InvalidParameterType,    // HY105
    InvalidFetchType,        // HY106
    NotImplemented,          // HYC00
    NotSupported,            // IM001
};

// The SQLSTATE an application of the given ODBC version sees.
const char* sqlState(State state, bool odbc2);
bool isWarning(State state);

// The driver's failure: a condition and a message in words a user
// understands (UTF-8, without the "[Velkor][Excel Driver]" prefix).
class DriverError : public std::runtime_error {
public:
    DriverError(State state, const std::string& message)
        : std::runtime_error(message), m_state(state) {}
    [[nodiscard]] State state() const noexcept { return m_state; }

private:
    State m_state;
};

struct DiagRecord {
    State state = State::GeneralError;
    std::u16string message;  // with the driver's prefix
    SQLLEN row = SQL_NO_ROW_NUMBER;
    SQLINTEGER column = SQL_NO_COLUMN_NUMBER;
};

// The records of one handle, errors before warnings as ODBC orders them.
class Diagnostics {
public:
    void clear() { m_records.clear(); }
    void add(State state, std::string_view message, SQLLEN row = SQL_NO_ROW_NUMBER,
             SQLINTEGER column = SQL_NO_COLUMN_NUMBER);
    [[nodiscard]] const std::vector<DiagRecord>& records() const { return m_records; }
    [[nodiscard]] bool empty() const { return m_records.empty(); }

private:
    std::vector<DiagRecord> m_records;
};

// "[Velkor][Excel Driver]" followed by the message, its control characters
// escaped and, past kLongestText, shortened in its middle (see echo()).
std::u16string prefixed(std::string_view message);

}  // namespace xlsodbc
