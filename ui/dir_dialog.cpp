// CDirDialog over the stand-in's folder chooser.
#include "ui/dir_dialog.h"

#include "platform/qt/choosers.h"

int CDirDialog::BrowseForFolder() {
    // A root folder narrows the browse to that folder's tree: a start item
    // outside it is not preselected.
    CString strStart = m_strStartFolder;
    if (!m_strRootFolder.IsEmpty() && strStart.Find(m_strRootFolder) != 0)
        strStart = m_strRootFolder;
    const CString strPrompt = m_strPrompt.IsEmpty() ? CString(u"Open") : m_strPrompt;
    CString strFolder;
    if (!AfxBrowseForFolder(strStart, strPrompt, strFolder))
        return FALSE;
    m_strFolder = strFolder;
    return TRUE;
}
