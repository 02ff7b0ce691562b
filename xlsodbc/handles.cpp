// Handle ownership: slots of connections in their environment, slots of
// statements in their connection.
#include "xlsodbc/handles.h"

#include "xlsodbc/engine_bridge.h"

#include <algorithm>

namespace xlsodbc {

HandleSlot& SlotList::add(HandleTag tag, std::unique_ptr<Handle> handle) {
    const std::lock_guard lock(m_mutex);
    auto free = std::find_if(m_slots.begin(), m_slots.end(),
                             [](const auto& slot) { return slot->tag == HandleTag::Free; });
    if (free == m_slots.end()) {
        m_slots.push_back(std::make_unique<HandleSlot>());
        free = std::prev(m_slots.end());
    }
    HandleSlot& slot = **free;
    slot.handle = std::move(handle);
    slot.tag = tag;
    return slot;
}

void SlotList::release(HandleSlot& slot) noexcept {
    std::unique_ptr<Handle> handle;
    {
        const std::lock_guard lock(m_mutex);
        slot.tag = HandleTag::Free;
        handle = std::move(slot.handle);
    }
}

void SlotList::releaseAll() noexcept {
    const std::lock_guard lock(m_mutex);
    for (const auto& slot : m_slots) {
        slot->tag = HandleTag::Free;
        slot->handle.reset();
    }
}

bool SlotList::anyInUse() {
    const std::lock_guard lock(m_mutex);
    return std::any_of(m_slots.begin(), m_slots.end(),
                       [](const auto& slot) { return slot->tag != HandleTag::Free; });
}

Connection::~Connection() {
    // Statements first: their compiled queries belong to the engine.
    statements.releaseAll();
}

sql::Engine& Connection::engine() {
    const std::lock_guard lock(engineMutex);
    if (!sqlEngine) {
        tables = std::make_unique<WorkbookTables>(
            CatalogSource{*workbook, path, firstRowHasNames, sheetsAsTables});
        sqlEngine = std::make_unique<sql::Engine>(*tables);
    }
    return *sqlEngine;
}

HandleSlot& Connection::addStatement() {
    return statements.add(HandleTag::Statement, std::make_unique<Statement>(*this));
}

void Connection::disconnect() {
    statements.releaseAll();
    sqlEngine.reset();
    tables.reset();
    workbook.reset();
    path.clear();
    connectionString.clear();
    dataSource.clear();
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
    const HandleSlot* slot = slotOf(handle);
    if (slot == nullptr || slot->tag != tag) {
        return nullptr;
    }
    return static_cast<T*>(slot->handle.get());
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
