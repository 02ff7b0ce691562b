// CDirDialog: a folder chooser that confirms only folders of the file
// system and can preselect an item.
#pragma once

#include "platform/cstring.h"

class CDirDialog {
public:
    CDirDialog() = default;
    virtual ~CDirDialog() = default;
    CDirDialog(const CDirDialog&) = delete;
    CDirDialog& operator=(const CDirDialog&) = delete;

    // TRUE when the user chose a folder (its path is then in m_strFolder).
    int BrowseForFolder();

    CString m_strFolder;         // the chosen folder
    CString m_strRootFolder;     // the root of the browse; empty: the whole file system
    CString m_strStartFolder;    // the item to preselect; empty: none
    CString m_strPrompt = u" ";  // the instruction; empty: "Open"
};
