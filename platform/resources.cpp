// The registered string table and CString::LoadString.
#include "platform/resources.h"

#include <atomic>

#include "platform/cstring.h"

namespace {
std::atomic<const StringResource*> g_pTable{nullptr};
std::atomic<size_t> g_nTable{0};
}  // namespace

void AfxSetStringTable(std::span<const StringResource> table) {
    g_nTable = 0;
    g_pTable = table.data();
    g_nTable = table.size();
}

const char16_t* AfxFindStringResource(UINT nID) {
    const StringResource* pTable = g_pTable;
    const size_t n = g_nTable;
    for (size_t i = 0; pTable && i < n; ++i) {
        if (pTable[i].nID == nID)
            return pTable[i].pszText;
    }
    return nullptr;
}

bool CString::LoadString(unsigned int nID) {
    const char16_t* pszText = AfxFindStringResource(nID);
    if (!pszText)
        return false;
    *this = pszText;
    return true;
}
