// The dialect's functions, registered with each connection's engine, and
// the collation that compares texts ignoring letter case.
#pragma once

#include <string_view>

struct sqlite3;

namespace sql {

// Registers the collation FOLDED and every function of the dialect.
void registerFunctions(sqlite3* db);

// The collation FOLDED: below zero when `a` sorts before `b`, zero when
// they are equal ignoring letter case.
int compareFolded(std::u16string_view a, std::u16string_view b);

// False for the engine's functions that reach outside the database
// (extension loading, tokenizer pointers).
bool isAllowedFunction(const char* name);

}  // namespace sql
