// The dialog driven as a user drives it, on the offscreen platform: its
// initial state, the choosers, and whole conversions through the real
// worker, unixODBC and the project's Excel driver.
#include <QDesktopServices>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <numeric>

#include "dialog_test.h"

namespace dialog_test {
namespace {

const fs::path kExportXls = EXPORT_XLS;
const fs::path kCatalogueXls = CATALOGUE_XLS;

QStringList Items(const QComboBox* combo) {
    QStringList items;
    for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
    return items;
}

// Compares long texts, reporting only the first line that differs.
::testing::AssertionResult SameText(const std::string& actual, const std::string& expected) {
    if (actual == expected)
        return ::testing::AssertionSuccess();
    size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) ++at;
    const size_t line =
        actual.rfind('\n', at) == std::string::npos ? 0 : actual.rfind('\n', at) + 1;
    return ::testing::AssertionFailure()
           << "texts differ at byte " << at << " (sizes " << actual.size() << " and "
           << expected.size() << "); actual from that line: \"" << actual.substr(line, 40)
           << "\", expected: \"" << expected.substr(line, 40) << "\"";
}

std::string Records(int first, int last) {
    std::string text;
    for (int i = first; i <= last; ++i)
        text += "item" + std::to_string(i) + "," + std::to_string(i) + "\n";
    return text;
}

TEST_F(DialogTest, StartsWithTheDesignedStateAndLists) {
    EXPECT_EQ(dlg->GetQDialog()->windowTitle(), "Velkor Convert Excel to Text");
    EXPECT_EQ(Items(dlg->Control<QComboBox>("IDC_CHARSET")),
              QStringList({"UTF-8", "ANSI", "Unicode"}));
    EXPECT_EQ(Items(dlg->Control<QComboBox>("IDC_DELIMITER")),
              QStringList({"|", QString(QChar(0xD8)), ",", ";", "{tab}", "{space}"}));
    EXPECT_EQ(Items(dlg->Control<QComboBox>("IDC_FILE_FORMAT")),
              QStringList({"Windows", "Unix", "Mac"}));
    EXPECT_EQ(dlg->Text("IDC_CHARSET"), "UTF-8");
    EXPECT_EQ(dlg->Text("IDC_DELIMITER"), "|");
    EXPECT_EQ(dlg->Text("IDC_FILE_FORMAT"), "Windows");
    EXPECT_EQ(dlg->Control<QComboBox>("IDC_WORKSHEET")->count(), 0);
    EXPECT_EQ(dlg->Text("IDC_WORKSHEET"), "");
    // Typing only in the fields that take typed text.
    EXPECT_FALSE(dlg->Control<QComboBox>("IDC_CHARSET")->isEditable());
    EXPECT_FALSE(dlg->Control<QComboBox>("IDC_FILE_FORMAT")->isEditable());
    EXPECT_TRUE(dlg->Control<QComboBox>("IDC_DELIMITER")->isEditable());
    EXPECT_TRUE(dlg->Control<QComboBox>("IDC_WORKSHEET")->isEditable());
    EXPECT_TRUE(dlg->Control<QLineEdit>("IDC_EXCEL_FILE")->isReadOnly());
    EXPECT_FALSE(dlg->Control<QLineEdit>("IDC_TEXT_FILE")->isReadOnly());
    EXPECT_TRUE(dlg->Control<QPushButton>("IDC_CONVERT")->isEnabled());
    EXPECT_FALSE(dlg->Control<QPushButton>("IDC_STOP")->isEnabled());
    EXPECT_EQ(dlg->Text("IDC_PROGRESS_LABEL"), "");
    EXPECT_EQ(dlg->Text("IDC_RECORD_COUNT"), "");
    EXPECT_FALSE(dlg->GetQDialog()->windowIcon().isNull());
}

TEST_F(DialogTest, TabOrderFollowsTheTemplateAndEscapeCloses) {
    QWidget* w = dlg->Control<QPushButton>("IDCANCEL");
    QStringList order;
    for (int i = 0; i < 12; ++i) {
        order << w->objectName();
        do {
            w = w->nextInFocusChain();
        } while (w->focusPolicy() == Qt::NoFocus || !w->isEnabled() || !w->parentWidget() ||
                 w->parentWidget() != dlg->GetQDialog());
    }
    EXPECT_EQ(order, QStringList({"IDCANCEL", "IDC_CONVERT", "IDC_EXCEL_FILE", "IDC_BROWSE_EXCEL",
                                  "IDC_TEXT_FILE", "IDC_BROWSE_TEXT", "IDC_CHARSET",
                                  "IDC_DELIMITER", "IDC_WORKSHEET", "IDC_FILE_FORMAT", "ID_HELP",
                                  "IDCANCEL"}));  // Stop is disabled, so Tab skips it
    // Enter in a field does not end the dialog; Escape does.
    auto* delimiter = dlg->Control<QComboBox>("IDC_DELIMITER");
    dlg->GetQDialog()->activateWindow();
    delimiter->setFocus();
    QTest::keyClick(delimiter->lineEdit(), Qt::Key_Return);
    EXPECT_TRUE(dlg->GetQDialog()->isVisible());
    QTest::keyClick(dlg->GetQDialog(), Qt::Key_Escape);
    EXPECT_FALSE(dlg->GetQDialog()->isVisible());
    EXPECT_EQ(dlg->GetQDialog()->result(), IDCANCEL);
}

TEST_F(DialogTest, ChoosingAWorkbookDerivesTheOutputAndFillsTheWorksheets) {
    // A capital extension and a folder named like a workbook: only the file's
    // own extension changes, so the output can never be the workbook.
    const fs::path book = Workbook(kCatalogueXls, "q1.xls.d/Sales.XLS");
    dlg->SetText("IDC_TEXT_FILE", "typed-before.txt");
    Choose(book);
    ASSERT_EQ(fileRequests.size(), 1u);
    EXPECT_EQ(fileRequests[0].strDefExt, u".xls");
    EXPECT_EQ(fileRequests[0].dwFlags, OFN_EXPLORER | OFN_FILEMUSTEXIST);
    ASSERT_EQ(fileRequests[0].filters.size(), 2u);
    EXPECT_EQ(fileRequests[0].filters[0].first, u"Excel Files (*.xls *.xlsx *.xlsm)");
    EXPECT_EQ(fileRequests[0].filters[0].second, u"*.xls;*.xlsx;*.xlsm");
    EXPECT_EQ(fileRequests[0].filters[1].second, u"*.*");
    EXPECT_EQ(dlg->Text("IDC_EXCEL_FILE").toStdString(), book.string());
    EXPECT_EQ(dlg->Text("IDC_TEXT_FILE").toStdString(), (dir / "q1.xls.d/Sales.csv").string());
    EXPECT_EQ(dlg->m_strExcelName, u"Sales.XLS");
    EXPECT_TRUE(dlg->Control<QLineEdit>("IDC_EXCEL_FILE")->isReadOnly());
    EXPECT_EQ(Items(dlg->Control<QComboBox>("IDC_WORKSHEET")),
              QStringList({"Sales$", "'My Data$'", "Empty$", "Prices"}));
    EXPECT_EQ(dlg->Text("IDC_WORKSHEET"), "Sales$");
    EXPECT_EQ(dlg->m_strExcelDriver, u"Velkor Excel Driver (*.xls)");
    EXPECT_TRUE(Boxes().empty());

    // The chooser opens on the current workbook; a cancel makes the box
    // writable and changes nothing else.
    nextFile.reset();
    dlg->Click("IDC_BROWSE_EXCEL");
    EXPECT_EQ(fileRequests.back().strInitialPath.ToUtf8(), book.string());
    EXPECT_FALSE(dlg->Control<QLineEdit>("IDC_EXCEL_FILE")->isReadOnly());
    EXPECT_EQ(dlg->Control<QComboBox>("IDC_WORKSHEET")->count(), 4);

    // A file that is no workbook: the database error, and the list keeps
    // what it held.
    const fs::path notBook = dir / "notes.xls";
    WriteBytes(notBook, "just some text\n");
    Choose(notBook);
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].rfind("Database error: ", 0), 0u) << Boxes()[0];
    EXPECT_EQ(dlg->Control<QComboBox>("IDC_WORKSHEET")->count(), 4);
}

TEST_F(DialogTest, FolderChooserComposesTheOutputPath) {
    Choose(Workbook(kCatalogueXls, "details.xls"));
    nextFolder = CString::FromUtf8((dir / "out").string());
    dlg->Click("IDC_BROWSE_TEXT");
    ASSERT_EQ(folderRequests.size(), 1u);
    EXPECT_EQ(folderRequests[0].strStartPath.ToUtf8(), (dir / "details.csv").string());
    EXPECT_EQ(dlg->Text("IDC_TEXT_FILE").toStdString(), (dir / "out" / "details.csv").string());
    // The root folder, and a cancel that leaves the path alone.
    nextFolder = u"/";
    dlg->Click("IDC_BROWSE_TEXT");
    EXPECT_EQ(dlg->Text("IDC_TEXT_FILE"), "/details.csv");
    nextFolder.reset();
    dlg->Click("IDC_BROWSE_TEXT");
    EXPECT_EQ(dlg->Text("IDC_TEXT_FILE"), "/details.csv");
}

TEST_F(DialogTest, ConvertsWithOneProgressMessagePerRecord) {
    Choose(Workbook(kExportXls, "export.xls"));
    dlg->Control<QComboBox>("IDC_CHARSET")->setCurrentText("ANSI");
    dlg->Control<QComboBox>("IDC_DELIMITER")->setEditText(";");
    dlg->Control<QComboBox>("IDC_FILE_FORMAT")->setCurrentText("Unix");
    Convert("Values$", dir / "values.txt");
    EXPECT_EQ(dlg->m_arrProgress, std::vector<int>({1, 2, 3}));
    EXPECT_EQ(dlg->Text("IDC_PROGRESS_LABEL"), "Total records processed");
    EXPECT_EQ(dlg->Text("IDC_RECORD_COUNT"), "3");
    EXPECT_FALSE(dlg->Control<QPushButton>("IDC_STOP")->isEnabled());
    EXPECT_EQ(ReadBytes(dir / "values.txt"),
              "Text;Gap;Last\na,b;;say \"hi\"\nline1\nline2;tab\there;\xE9??\n2.5;;\n");
    EXPECT_TRUE(Boxes().empty());

    // A sheet without records: no progress, the end display all the same.
    dlg->m_arrProgress.clear();
    Convert("HeaderOnly$", dir / "empty.txt");
    EXPECT_TRUE(dlg->m_arrProgress.empty());
    EXPECT_EQ(dlg->Text("IDC_PROGRESS_LABEL"), "Total records processed");
    EXPECT_EQ(dlg->Text("IDC_RECORD_COUNT"), "");
    EXPECT_EQ(ReadBytes(dir / "empty.txt"), "");
}

TEST_F(DialogTest, StopLeavesTheRecordsBeforeIt) {
    Choose(Workbook(kExportXls, "export.xls"));
    PlainTextOptions();
    dlg->m_nHoldAt = 700;
    dlg->m_onHeld = [this] {
        EXPECT_TRUE(dlg->Control<QPushButton>("IDC_STOP")->isEnabled());
        EXPECT_EQ(dlg->Text("IDC_PROGRESS_LABEL"), "Processing record#");
        dlg->Click("IDC_STOP");
        // Convert comes back at once, before the worker has ended.
        EXPECT_TRUE(dlg->Control<QPushButton>("IDC_CONVERT")->isEnabled());
    };
    Convert("R1201$", dir / "stopped.txt");
    std::vector<int> expected(700);
    std::iota(expected.begin(), expected.end(), 1);
    EXPECT_EQ(dlg->m_arrProgress, expected);
    EXPECT_EQ(dlg->Text("IDC_RECORD_COUNT"), "700");
    EXPECT_TRUE(SameText(ReadBytes(dir / "stopped.txt"), "Item,Number\n" + Records(1, 699)));
}

TEST_F(DialogTest, AnExistingOutputIsOverwrittenAppendedOrLeftAlone) {
    Choose(Workbook(kExportXls, "export.xls"));
    PlainTextOptions();
    const fs::path out = dir / "pens.txt";
    WriteBytes(out, "old\n");
    answers = {IDCANCEL, IDNO, IDYES};
    dlg->SetText("IDC_WORKSHEET", "R499$");
    dlg->SetText("IDC_TEXT_FILE", QString::fromStdString(out.string()));
    dlg->Click("IDC_CONVERT");  // Cancel: nothing starts
    EXPECT_EQ(dlg->m_pThread, nullptr);
    EXPECT_EQ(ReadBytes(out), "old\n");
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0],
              "File " + out.string() + " already exists\nYes: Overwite file\nNo: Append to file");
    EXPECT_EQ(boxTypes[0], MB_YESNOCANCEL | MB_ICONQUESTION);
    Convert("R499$", out);  // No: append
    EXPECT_TRUE(SameText(ReadBytes(out), "old\nItem,Number\n" + Records(1, 499)));
    Convert("R499$", out);  // Yes: overwrite
    EXPECT_TRUE(SameText(ReadBytes(out), "Item,Number\n" + Records(1, 499)));
    EXPECT_EQ(Boxes().size(), 3u);
}

TEST_F(DialogTest, ProblemsAreShownInMessageBoxes) {
    const fs::path book = Workbook(kExportXls, "export.xls");
    Choose(book);
    // No worksheet: the dialog asks for one and starts nothing.
    dlg->SetText("IDC_WORKSHEET", "");
    dlg->SetText("IDC_TEXT_FILE", QString::fromStdString((dir / "a.txt").string()));
    dlg->Click("IDC_CONVERT");
    EXPECT_EQ(Boxes(), std::vector<std::string>({"Choose or type worksheet name"}));
    EXPECT_EQ(dlg->m_pThread, nullptr);
    // A worksheet that is not there, typed without "$": handed over as typed.
    Convert("Pens", dir / "a.txt");
    ASSERT_EQ(Boxes().size(), 2u);
    EXPECT_EQ(Boxes()[1].rfind("Database error: ", 0), 0u) << Boxes()[1];
    EXPECT_NE(Boxes()[1].find("Pens"), std::string::npos);
    EXPECT_EQ(dlg->Text("IDC_PROGRESS_LABEL"), "Total records processed");
    // An output path that is a folder: no question, the job's message.
    fs::create_directories(dir / "folder");
    Convert("Pens$", dir / "folder");
    ASSERT_EQ(Boxes().size(), 3u);
    EXPECT_EQ(
        Boxes()[2],
        "Problem opening output file.\nInvalid path or File may be read only.\nIs a directory");
    // The workbook itself, through a link: refused, the workbook unchanged.
    fs::create_symlink(book, dir / "link.csv");
    const std::string before = ReadBytes(book);
    answers = {IDYES};
    Convert("Pens$", dir / "link.csv");
    ASSERT_EQ(Boxes().size(), 5u);
    EXPECT_EQ(Boxes()[4], "The output file is the workbook itself.");
    EXPECT_EQ(ReadBytes(book), before);
}

TEST_F(DialogTest, StopThenConvertAtOnceKeepsTheRunsApart) {
    Choose(Workbook(kExportXls, "export.xls"));
    PlainTextOptions();
    const fs::path first = dir / "first.txt";
    const fs::path second = dir / "second.txt";
    CConvertThread* pFirst = nullptr;
    dlg->m_nHoldAt = 100;
    dlg->m_onHeld = [&] {
        if (pFirst)
            return;  // the second run passes record 100 too
        pFirst = dlg->m_pThread;
        dlg->Click("IDC_STOP");
        dlg->SetText("IDC_TEXT_FILE", QString::fromStdString(second.string()));
        dlg->Click("IDC_CONVERT");
    };
    Convert("R1201$", first);
    ASSERT_TRUE(WaitUntil([&] { return pFirst && pFirst->HasEnded() && dlg->Idle(); }));
    EXPECT_NE(dlg->m_pThread, pFirst);
    EXPECT_TRUE(SameText(ReadBytes(first), "Item,Number\n" + Records(1, 99)));
    EXPECT_TRUE(SameText(ReadBytes(second), "Item,Number\n" + Records(1, 1201)));
    EXPECT_EQ(dlg->Text("IDC_RECORD_COUNT"), "1201");
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(DialogTest, ClosingDuringARunStopsItAndWaitsForTheWorker) {
    Choose(Workbook(kExportXls, "export.xls"));
    PlainTextOptions();
    dlg->m_nHoldAt = 50;
    dlg->m_onHeld = [this] { QTest::keyClick(dlg->GetQDialog(), Qt::Key_Escape); };
    dlg->SetText("IDC_WORKSHEET", "R1201$");
    dlg->SetText("IDC_TEXT_FILE", QString::fromStdString((dir / "closed.txt").string()));
    dlg->Click("IDC_CONVERT");
    ASSERT_TRUE(WaitUntil([this] { return !dlg->GetQDialog()->isVisible(); }));
    CConvertThread* pWorker = dlg->m_pThread;
    dlg.reset();  // waits for the worker while serving its requests
    EXPECT_TRUE(pWorker->HasEnded());
    EXPECT_TRUE(SameText(ReadBytes(dir / "closed.txt"), "Item,Number\n" + Records(1, 49)));
}

TEST_F(DialogTest, AWorkerThatCannotStartLeavesTheDialogIdle) {
    Choose(Workbook(kExportXls, "export.xls"));
    AfxSetThreadCreationFails(true);
    dlg->SetText("IDC_TEXT_FILE", QString::fromStdString((dir / "x.txt").string()));
    dlg->Click("IDC_CONVERT");
    AfxSetThreadCreationFails(false);
    EXPECT_EQ(dlg->m_pThread, nullptr);
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_NE(Boxes()[0].find("could not be started"), std::string::npos);
    EXPECT_TRUE(dlg->Control<QPushButton>("IDC_CONVERT")->isEnabled());
    EXPECT_FALSE(dlg->Control<QPushButton>("IDC_STOP")->isEnabled());
    EXPECT_FALSE(fs::exists(dir / "x.txt"));
}

// Receives the addresses that Help opens.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    Q_SLOT void open(const QUrl& url) { urls << url; }
    QList<QUrl> urls;
};

TEST_F(DialogTest, HelpOpensTheInstalledPage) {
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("file", &catcher, "open");
    dlg->Click("ID_HELP");
    QDesktopServices::unsetUrlHandler("file");
    ASSERT_EQ(catcher.urls.size(), 1);
    // The page beside the running program (here the test); the build puts
    // it at the same place relative to tabrook.
    const fs::path page = catcher.urls[0].toLocalFile().toStdString();
    EXPECT_EQ(page, (fs::canonical("/proc/self/exe").parent_path().parent_path() / "share" /
                     "tabrook" / "tabrookhelp.htm")
                        .lexically_normal());
    EXPECT_TRUE(fs::exists(fs::path(TABROOK_EXE).parent_path() / ".." / "share" / "tabrook" /
                           "tabrookhelp.htm"));
}

// The real Qt message box, answered as a user answers it.
TEST_F(DialogTest, TheQuestionIsARealMessageBox) {
    AfxInstallQtMessageBox();
    Choose(Workbook(kExportXls, "export.xls"));
    PlainTextOptions();
    const fs::path out = dir / "out.txt";
    WriteBytes(out, "kept\n");
    QString shown;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        shown = box->text();
        box->button(QMessageBox::No)->click();
    });
    Convert("R499$", out);
    EXPECT_TRUE(shown.startsWith("File ")) << shown.toStdString();
    EXPECT_TRUE(SameText(ReadBytes(out), "kept\nItem,Number\n" + Records(1, 499)));
}

}  // namespace
}  // namespace dialog_test

#include "dialog_test.moc"
