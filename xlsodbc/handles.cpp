// Handle ownership: a connection's statements live in the connection.
#include "xlsodbc/handles.h"

#include <algorithm>

namespace xlsodbc {

Connection::~Connection() = default;

Statement& Connection::addStatement() {
    m_statements.push_back(std::make_unique<Statement>(*this));
    return *m_statements.back();
}

void Connection::removeStatement(Statement& statement) {
    std::erase_if(m_statements,
                  [&](const std::unique_ptr<Statement>& s) { return s.get() == &statement; });
}

void Connection::disconnect() {
    m_statements.clear();
    workbook.reset();
    path.clear();
    connectionString.clear();
}

void Statement::closeCursor() {
    executed = false;
    nextRow = 0;
    currentRow.reset();
    rowsetSize = 0;
    getDataColumn = -1;
    piece = {};
}

namespace {

template <typename T>
T* checked(SQLHANDLE handle, HandleTag tag) {
    auto* h = static_cast<Handle*>(handle);
    if (h == nullptr || h->tag() != tag) {
        return nullptr;
    }
    return static_cast<T*>(h);
}

}  // namespace

Environment* asEnvironment(SQLHANDLE handle) {
    return checked<Environment>(handle, HandleTag::Environment);
}
Connection* asConnection(SQLHANDLE handle) {
    return checked<Connection>(handle, HandleTag::Connection);
}
Statement* asStatement(SQLHANDLE handle) {
    return checked<Statement>(handle, HandleTag::Statement);
}

}  // namespace xlsodbc
