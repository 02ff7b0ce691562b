// The condition table (ODBC 3 and ODBC 2 SQLSTATEs) and the record list.
#include "xlsodbc/diagnostics.h"

#include "xlsodbc/text.h"

#include <algorithm>
#include <array>

namespace xlsodbc {
namespace {

struct StateRow {
    State state;
    const char* odbc3;
    const char* odbc2;
};

// ODBC 2 applications (isql, iusql) expect the states of ODBC 2.x where
// they differ; the order follows the enum.
constexpr std::array kStates{
    StateRow{State::GeneralWarning, "01000", "01000"},
    StateRow{State::Truncated, "01004", "01004"},
    StateRow{State::OptionChanged, "01S02", "01S02"},
    StateRow{State::FractionTruncated, "01S07", "01S07"},
    StateRow{State::InvalidColumnNumber, "07009", "S1002"},
    StateRow{State::InvalidParameterNumber, "07009", "S1093"},
    StateRow{State::WrongParameterCount, "07002", "07001"},
    StateRow{State::UnableToConnect, "08001", "08001"},
    StateRow{State::ConnectionInUse, "08002", "08002"},
    StateRow{State::NotConnected, "08003", "08003"},
    StateRow{State::IndicatorRequired, "22002", "22002"},
    StateRow{State::OutOfRange, "22003", "22003"},
    StateRow{State::InvalidDatetime, "22007", "22008"},
    StateRow{State::InvalidCast, "22018", "22005"},
    StateRow{State::InvalidCursorState, "24000", "24000"},
    StateRow{State::SyntaxError, "42000", "37000"},
    StateRow{State::TableNotFound, "42S02", "S0002"},
    StateRow{State::GeneralError, "HY000", "S1000"},
    StateRow{State::Cancelled, "HY008", "S1008"},
    StateRow{State::Timeout, "HYT00", "S1T00"},
    StateRow{State::OutOfMemory, "HY001", "S1001"},
    StateRow{State::InvalidBufferType, "HY003", "S1003"},
    StateRow{State::InvalidNullPointer, "HY009", "S1009"},
    StateRow{State::SequenceError, "HY010", "S1010"},
    StateRow{State::InvalidTransactionCode, "HY012", "S1012"},
    StateRow{State::InvalidAttributeValue, "HY024", "S1009"},
    StateRow{State::InvalidLength, "HY090", "S1090"},
    StateRow{State::InvalidDescriptorField, "HY091", "S1091"},
    StateRow{State::InvalidAttribute, "HY092", "S1092"},
    StateRow{State::InvalidInfoType, "HY096", "S1096"},
    StateRow{State::InvalidColumnType, "HY097", "S1097"},
    StateRow{State::InvalidScopeType, "HY098", "S1098"},
    StateRow{State::InvalidNullableType, "HY099", "S1099"},
    StateRow{State::InvalidUniqueness, "HY100", "S1100"},
    StateRow{State::InvalidAccuracy, "HY101", "S1101"},
    StateRow{State::InvalidParameterType, "HY105", "S1105"},
    StateRow{State::InvalidFetchType, "HY106", "S1106"},
    StateRow{State::NotImplemented, "HYC00", "S1C00"},
    StateRow{State::NotSupported, "IM001", "IM001"},
};

const StateRow& row(State state) {
    const auto& r = kStates[static_cast<size_t>(state)];
    return r;
}

}  // namespace

const char* sqlState(State state, bool odbc2) {
    return odbc2 ? row(state).odbc2 : row(state).odbc3;
}

bool isWarning(State state) {
    return row(state).odbc3[0] == '0' && row(state).odbc3[1] == '1';
}

std::u16string prefixed(std::string_view message) {
    // The names a message quotes are escaped and shortened where it is
    // made; this makes sure of it for any text (a reader's or a system's
    // reason): no control character, and no message longer than a length
    // argument can report.
    static constexpr std::u16string_view kPrefix = u"[Velkor][Excel Driver]";
    std::u16string text(kPrefix);
    text += utf8ToUtf16(echo(utf8ToUtf16(message), kLongestText - kPrefix.size()));
    return text;
}

void Diagnostics::add(State state, std::string_view message, SQLLEN row, SQLINTEGER column) {
    DiagRecord record{state, prefixed(message), row, column};
    if (isWarning(state)) {
        m_records.push_back(std::move(record));
        return;
    }
    const auto firstWarning = std::find_if(m_records.begin(), m_records.end(),
                                           [](const DiagRecord& r) { return isWarning(r.state); });
    m_records.insert(firstWarning, std::move(record));
}

}  // namespace xlsodbc
