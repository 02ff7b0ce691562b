// Dialog template 102 in dialog units, in template order (which is also the
// tab order), the string table and the application icon.
#include "ui/tabrook_rc.h"

#include <array>

#include "platform/resources.h"

namespace {

using K = DlgItemKind;
constexpr int kNoId = -1;

const std::array kConvertDialogItems = {
    DlgItemTemplate{IDCANCEL, K::DefPushButton, u"Cancel", 124, 207, 50, 14, "IDCANCEL"},
    DlgItemTemplate{IDC_CONVERT, K::PushButton, u"Convert file", 262, 207, 50, 14, "IDC_CONVERT"},
    DlgItemTemplate{kNoId, K::Label, u"Excel file", 15, 23, 35, 8, "IDC_STATIC_EXCEL_FILE"},
    DlgItemTemplate{IDC_EXCEL_FILE, K::Edit, u"", 51, 18, 230, 13, "IDC_EXCEL_FILE"},
    DlgItemTemplate{IDC_BROWSE_EXCEL, K::PushButton, u"...", 286, 18, 28, 13, "IDC_BROWSE_EXCEL"},
    DlgItemTemplate{kNoId, K::Label, u"Text file", 15, 45, 36, 8, "IDC_STATIC_TEXT_FILE"},
    DlgItemTemplate{IDC_TEXT_FILE, K::Edit, u"", 51, 40, 230, 13, "IDC_TEXT_FILE"},
    DlgItemTemplate{IDC_BROWSE_TEXT, K::PushButton, u"...", 286, 40, 28, 13, "IDC_BROWSE_TEXT"},
    DlgItemTemplate{kNoId, K::GroupBox, u"Field export options", 7, 65, 306, 114,
                    "IDC_STATIC_OPTIONS"},
    DlgItemTemplate{kNoId, K::Label, u"Character set", 22, 103, 57, 9, "IDC_STATIC_CHARSET"},
    DlgItemTemplate{IDC_CHARSET, K::ComboDropDownList, u"", 87, 100, 119, 52, "IDC_CHARSET"},
    DlgItemTemplate{kNoId, K::Label, u"Field delimiter", 22, 125, 57, 9, "IDC_STATIC_DELIMITER"},
    DlgItemTemplate{IDC_DELIMITER, K::ComboDropDown, u"", 87, 122, 119, 49, "IDC_DELIMITER"},
    DlgItemTemplate{kNoId, K::Label, u"Worksheet", 22, 81, 57, 9, "IDC_STATIC_WORKSHEET"},
    DlgItemTemplate{IDC_WORKSHEET, K::ComboDropDown, u"", 87, 78, 119, 60, "IDC_WORKSHEET"},
    DlgItemTemplate{IDC_STOP, K::PushButton, u"Stop Conversion", 184, 207, 68, 14, "IDC_STOP"},
    DlgItemTemplate{IDC_PROGRESS_LABEL, K::Label, u"Processing record# ", 7, 185, 89, 11,
                    "IDC_PROGRESS_LABEL"},
    DlgItemTemplate{IDC_RECORD_COUNT, K::Label, u"", 98, 185, 65, 11, "IDC_RECORD_COUNT"},
    DlgItemTemplate{kNoId, K::Label, u"File Format", 21, 147, 48, 9, "IDC_STATIC_FILE_FORMAT"},
    DlgItemTemplate{IDC_FILE_FORMAT, K::ComboDropDownList, u"", 87, 144, 119, 41,
                    "IDC_FILE_FORMAT"},
    DlgItemTemplate{IDC_VALUES_DISPLAYED, K::AutoCheckBox, u"Values as displayed", 87, 162, 119, 10,
                    "IDC_VALUES_DISPLAYED"},
    DlgItemTemplate{ID_HELP, K::DefPushButton, u"Help", 64, 207, 50, 14, "ID_HELP"},
};

const DlgTemplate kConvertDialog{
    u"Velkor Convert Excel to Text", u"MS Sans Serif", 8, 320, 228, kConvertDialogItems};

const std::array kStrings = {
    StringResource{IDS_PROCESSING_RECORD, u"Processing record#"},
    StringResource{IDS_TOTAL_RECORDS, u"Total records processed"},
};

}  // namespace

const DlgTemplate& ConvertDialogTemplate() {
    return kConvertDialog;
}

void RegisterTabrookResources() {
    AfxSetStringTable(kStrings);
    if (LoadIconW(IDR_MAINFRAME))
        return;
    Q_INIT_RESOURCE(tabrook);
    QIcon icon;
    for (const char* size : {"16", "32", "48"})
        icon.addFile(QStringLiteral(":/tabrook/icons/tabrook-%1.png").arg(QLatin1String(size)));
    AfxRegisterIcon(IDR_MAINFRAME, icon);
}
