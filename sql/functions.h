// The dialect's functions, registered with each connection's engine, and
// the collation that compares texts ignoring letter case.
#pragma once

struct sqlite3;

namespace sql {

// Registers the collation FOLDED and every function of the dialect.
void registerFunctions(sqlite3* db);

// False for the engine's functions that reach outside the database
// (extension loading, tokenizer pointers).
bool isAllowedFunction(const char* name);

}  // namespace sql
