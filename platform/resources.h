// String resources: the program registers its string table once, and
// CString::LoadString finds an entry by its id.
#pragma once

#include <span>

#include "platform/types.h"

struct StringResource {
    UINT nID;
    const char16_t* pszText;
};

// Makes the table the one that LoadString reads; the table must outlive its
// use (a static array).
void AfxSetStringTable(std::span<const StringResource> table);
// The text of a string resource, or null when there is none.
const char16_t* AfxFindStringResource(UINT nID);
