// The handle registry, and what connections do with their statements.
#include "xlsodbc/handles.h"

#include "xlsodbc/engine_bridge.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <unordered_map>

namespace xlsodbc {
namespace {

class Registry {
public:
    struct Shard {
        std::mutex mutex;
        std::unordered_map<const void*, std::shared_ptr<Handle>> live;
    };

    // Handles are aligned allocations: the address's low bits are always
    // zero, so the shard comes from a multiplicative hash's high bits.
    Shard& shardOf(const void* address) {
        const uint64_t bits = reinterpret_cast<uintptr_t>(address) * 0x9E3779B97F4A7C15U;
        return m_shards[bits >> (64 - kShardBits)];
    }

private:
    static constexpr unsigned kShardBits = 4;
    std::array<Shard, size_t{1} << kShardBits> m_shards;
};

// Never destroyed: an application may free its handles from its own exit
// handlers, after this library's statics would be gone.
Registry& theRegistry() {
    static Registry* const instance = new Registry;
    return *instance;
}

template <typename T>
std::shared_ptr<T> found(SQLHANDLE address, HandleKind kind) {
    return std::static_pointer_cast<T>(registry::find(address, kind));
}

}  // namespace

namespace registry {

void add(const std::shared_ptr<Handle>& handle) {
    const void* address = toHandle(*handle);
    Registry::Shard& shard = theRegistry().shardOf(address);
    const std::lock_guard lock(shard.mutex);
    shard.live.emplace(address, handle);
}

std::shared_ptr<Handle> find(SQLHANDLE address, HandleKind kind) {
    if (address == nullptr) {
        return nullptr;
    }
    Registry::Shard& shard = theRegistry().shardOf(address);
    const std::lock_guard lock(shard.mutex);
    const auto it = shard.live.find(address);
    if (it == shard.live.end() || it->second->kind != kind) {
        return nullptr;
    }
    return it->second;
}

bool remove(const Handle& handle) {
    const void* address = &handle;
    Registry::Shard& shard = theRegistry().shardOf(address);
    std::shared_ptr<Handle> taken;  // released after the shard's lock
    const std::lock_guard lock(shard.mutex);
    const auto it = shard.live.find(address);
    if (it == shard.live.end()) {
        return false;
    }
    taken = std::move(it->second);
    shard.live.erase(it);
    return true;
}

}  // namespace registry

Statement& Connection::addStatement() {
    auto statement =
        std::make_shared<Statement>(std::static_pointer_cast<Connection>(shared_from_this()));
    {
        const std::lock_guard lock(m_statementsMutex);
        m_statements.push_back(statement);
    }
    registry::add(statement);
    return *statement;
}

void Connection::dropStatement(const Statement& statement) {
    std::shared_ptr<Statement> dropped;  // destroyed after the lock is let go
    const std::lock_guard lock(m_statementsMutex);
    const auto it = std::find_if(m_statements.begin(), m_statements.end(),
                                 [&](const auto& s) { return s.get() == &statement; });
    if (it != m_statements.end()) {
        dropped = std::move(*it);
        m_statements.erase(it);
    }
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

void Connection::disconnect() {
    std::vector<std::shared_ptr<Statement>> statements;
    {
        const std::lock_guard lock(m_statementsMutex);
        statements.swap(m_statements);
    }
    // Each statement is taken out of the registry (unless a thread freeing
    // it did so first) and, once no call is in progress on it, emptied:
    // its compiled query belongs to the engine, which goes next.
    for (const auto& statement : statements) {
        registry::remove(*statement);
        const std::lock_guard lock(statement->mutex);
        statement->release();
    }
    sqlEngine.reset();
    tables.reset();
    workbook.reset();
    path.clear();
    connectionString.clear();
    dataSource.clear();
}

void Statement::release() {
    freed = true;
    closeCursor();
    query.reset();
    result.reset();
}

void Statement::closeCursor() {
    executed = false;
    nextRow = 0;
    currentRow.reset();
    rowsetSize = 0;
    getDataColumn = -1;
    piece = {};
}

std::shared_ptr<Environment> asEnvironment(SQLHANDLE handle) {
    return found<Environment>(handle, HandleKind::Environment);
}
std::shared_ptr<Connection> asConnection(SQLHANDLE handle) {
    return found<Connection>(handle, HandleKind::Connection);
}
std::shared_ptr<Statement> asStatement(SQLHANDLE handle) {
    return found<Statement>(handle, HandleKind::Statement);
}

}  // namespace xlsodbc
