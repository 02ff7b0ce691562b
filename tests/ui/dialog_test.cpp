// The dialog driven as a user drives it, on the offscreen platform: its
// initial state, the choosers, and whole conversions through the real
// worker, unixODBC and the project's Excel driver.
#include <QAbstractItemView>
#include <QCheckBox>
#include <QCompleter>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <numeric>

#include "dialog_test.h"

namespace dialog_test {
namespace {

const fs::path kExportXls = EXPORT_XLS;
const fs::path kCatalogueXls = CATALOGUE_XLS;
const fs::path kDriverXls = DRIVER_XLS;

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
    EXPECT_EQ(dlg->Text("IDC_VALUES_DISPLAYED"), "Values as displayed");
    EXPECT_FALSE(dlg->Control<QCheckBox>("IDC_VALUES_DISPLAYED")->isChecked());
    EXPECT_FALSE(dlg->GetQDialog()->windowIcon().isNull());
}

TEST_F(DialogTest, TabOrderFollowsTheTemplateAndEscapeCloses) {
    QWidget* w = dlg->Control<QPushButton>("IDCANCEL");
    QStringList order;
    for (int i = 0; i < 13; ++i) {
        order << w->objectName();
        do {
            w = w->nextInFocusChain();
        } while (w->focusPolicy() == Qt::NoFocus || !w->isEnabled() || !w->parentWidget() ||
                 w->parentWidget() != dlg->GetQDialog());
    }
    EXPECT_EQ(order,
              QStringList({"IDCANCEL", "IDC_CONVERT", "IDC_EXCEL_FILE", "IDC_BROWSE_EXCEL",
                           "IDC_TEXT_FILE", "IDC_BROWSE_TEXT", "IDC_CHARSET", "IDC_DELIMITER",
                           "IDC_WORKSHEET", "IDC_FILE_FORMAT", "IDC_VALUES_DISPLAYED", "ID_HELP",
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
    EXPECT_EQ(fileRequests[0].filters[1].first, u"All files (*)");
    EXPECT_EQ(fileRequests[0].filters[1].second, u"*");
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

// The check box writes numbers as their formats show them, for the runs
// started while it is checked; unchecked, the output is the plain one.
TEST_F(DialogTest, ValuesAsDisplayedOnlyWhileChecked) {
    Choose(Workbook(kDriverXls, "driver.xls"));
    PlainTextOptions();
    auto* box = dlg->Control<QCheckBox>("IDC_VALUES_DISPLAYED");
    Convert("Values$", dir / "plain.txt");
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(4, box->height() / 2));
    ASSERT_TRUE(box->isChecked());
    Convert("Values$", dir / "shown.txt");
    box->click();
    Convert("Values$", dir / "plain-again.txt");
    const std::string plain = ReadBytes(dir / "plain.txt");
    const std::string shown = ReadBytes(dir / "shown.txt");
    EXPECT_NE(plain.find("\nthird,0.333333333333333\n"), std::string::npos) << plain;
    EXPECT_NE(shown.find("\nthird,0.333333333\n"), std::string::npos) << shown;
    EXPECT_EQ(ReadBytes(dir / "plain-again.txt"), plain);
    EXPECT_TRUE(Boxes().empty()) << Boxes()[0];
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
              "File " + out.string() + " already exists\nYes: Overwrite file\nNo: Append to file");
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
    // The workbook itself, through a link: refused before any question
    // whether to overwrite it, no run, the workbook unchanged.
    fs::create_symlink(book, dir / "link.csv");
    const std::string before = ReadBytes(book);
    CConvertThread* pLastRun = dlg->m_pThread;
    dlg->SetText("IDC_TEXT_FILE", QString::fromStdString((dir / "link.csv").string()));
    dlg->Click("IDC_CONVERT");
    ASSERT_EQ(Boxes().size(), 4u);
    EXPECT_EQ(Boxes()[3], "The output file is the workbook itself.");
    EXPECT_EQ(dlg->m_pThread, pLastRun);
    EXPECT_TRUE(dlg->Control<QPushButton>("IDC_CONVERT")->isEnabled());
    EXPECT_EQ(ReadBytes(book), before);
}

TEST_F(DialogTest, AWorkbookTypedAfterACancelledChooserConverts) {
    nextFile.reset();
    dlg->Click("IDC_BROWSE_EXCEL");
    auto* box = dlg->Control<QLineEdit>("IDC_EXCEL_FILE");
    ASSERT_FALSE(box->isReadOnly());
    const fs::path book = Workbook(kExportXls, "typed.xls");
    QTest::keyClicks(box, QString::fromStdString(book.string()));
    PlainTextOptions();
    Convert("R499$", dir / "typed.txt");
    EXPECT_TRUE(Boxes().empty()) << Boxes()[0];
    EXPECT_TRUE(SameText(ReadBytes(dir / "typed.txt"), "Item,Number\n" + Records(1, 499)));
}

TEST_F(DialogTest, TheKeyboardStaysOnAButtonWhileConvertAndStopSwap) {
    Choose(Workbook(kExportXls, "export.xls"));
    PlainTextOptions();
    QWidget* window = dlg->GetQDialog();
    QApplication::setActiveWindow(window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    auto* convert = dlg->Control<QPushButton>("IDC_CONVERT");
    QWidget* focusDuringRun = nullptr;
    dlg->m_nHoldAt = 1;
    dlg->m_onHeld = [&] { focusDuringRun = window->focusWidget(); };
    dlg->SetText("IDC_WORKSHEET", "R499$");
    dlg->SetText("IDC_TEXT_FILE", QString::fromStdString((dir / "keys.txt").string()));
    QTest::mouseClick(convert, Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([this] { return dlg->Idle(); }));
    ASSERT_NE(focusDuringRun, nullptr);
    EXPECT_EQ(focusDuringRun->objectName(), "IDC_STOP");
    EXPECT_EQ(window->focusWidget(), convert);
    EXPECT_FALSE(dlg->Control<QLineEdit>("IDC_EXCEL_FILE")->hasSelectedText());
}

TEST_F(DialogTest, LoadingTheWorksheetListShowsTheBusyCursor) {
    // The scripted box comes in the middle of the load.
    std::vector<Qt::CursorShape> shapes;
    SetMessageBoxHandler([&](const CString&, UINT) {
        const QCursor* cursor = QGuiApplication::overrideCursor();
        shapes.push_back(cursor ? cursor->shape() : Qt::ArrowCursor);
        return IDOK;
    });
    const fs::path notBook = dir / "notes.xls";
    WriteBytes(notBook, "just some text\n");
    Choose(notBook);
    EXPECT_EQ(shapes, std::vector<Qt::CursorShape>({Qt::WaitCursor}));
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    // A real message box lifts it while it is up; it is gone after the load.
    AfxInstallQtMessageBox();
    bool bBoxSeen = false;
    const QCursor* cursorUnderBox = nullptr;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        bBoxSeen = true;
        cursorUnderBox = QGuiApplication::overrideCursor();
        box->button(QMessageBox::Ok)->click();
    });
    Choose(notBook);
    EXPECT_TRUE(bBoxSeen);
    EXPECT_EQ(cursorUnderBox, nullptr);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    // A workbook that loads: the cursor is back as well.
    Choose(Workbook(kCatalogueXls, "book.xls"));
    EXPECT_EQ(dlg->Control<QComboBox>("IDC_WORKSHEET")->count(), 4);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(DialogTest, AnUnwritableOutputIsReportedOnceAndEndsTheRun) {
    // Three chunks of records: each used to bring a box of its own, and
    // the boxes came back faster than Stop could be reached.
    Choose(Workbook(kExportXls, "export.xls"));
    PlainTextOptions();
    Convert("R1201$", dir / "no-such-folder" / "out.txt");
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].rfind("Problem opening output file.", 0), 0u) << Boxes()[0];
    EXPECT_LT(dlg->m_arrProgress.size(), 1201u);
    EXPECT_EQ(dlg->Text("IDC_PROGRESS_LABEL"), "Total records processed");
    // A device that takes no bytes.
    dlg->m_arrProgress.clear();
    answers = {IDYES};  // it exists: overwrite it
    Convert("R1201$", "/dev/full");
    ASSERT_EQ(Boxes().size(), 3u);
    EXPECT_NE(Boxes()[2].find("No space left on device"), std::string::npos) << Boxes()[2];
    EXPECT_LT(dlg->m_arrProgress.size(), 1201u);
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

TEST_F(DialogTest, AStopBeforeTheWorkerHasItsJobStillStopsTheRun) {
    Choose(Workbook(kExportXls, "export.xls"));
    PlainTextOptions();
    dlg->m_onReadSettings = [this] { dlg->Click("IDC_STOP"); };
    Convert("R1201$", dir / "early.txt");
    ASSERT_TRUE(WaitUntil([this] { return !dlg->m_arrProgress.empty(); }));
    EXPECT_EQ(dlg->m_arrProgress, std::vector<int>{1});
    EXPECT_EQ(ReadBytes(dir / "early.txt"), "");
    EXPECT_EQ(dlg->Text("IDC_PROGRESS_LABEL"), "Total records processed");
}

TEST_F(DialogTest, ARunOntoTheFileAStoppedRunStillWritesWaitsForIt) {
    Choose(Workbook(kExportXls, "export.xls"));
    PlainTextOptions();
    const fs::path out = dir / "shared.txt";
    bool bSecondStarted = false;
    dlg->m_nHoldAt = 700;  // the first chunk is in the file, which the run holds
    dlg->m_onHeld = [&] {
        if (bSecondStarted)
            return;
        bSecondStarted = true;
        dlg->Click("IDC_STOP");
        answers = {IDYES};  // the file exists: overwrite it
        dlg->Click("IDC_CONVERT");
        // Time for the second run to reach its first write (and be refused,
        // did it not wait) while the first still holds the file.
        WaitUntil([this] { return Boxes().size() > 1; }, 1000);
    };
    Convert("R1201$", out);
    ASSERT_TRUE(bSecondStarted);
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].rfind("File ", 0), 0u) << Boxes()[0];
    EXPECT_TRUE(SameText(ReadBytes(out), "Item,Number\n" + Records(1, 1201)));
    EXPECT_EQ(dlg->Text("IDC_RECORD_COUNT"), "1201");
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

// PATH for the life of the object.
class PathVariable {
public:
    explicit PathVariable(const fs::path& folder) : m_saved(std::getenv("PATH")) {
        setenv("PATH", folder.c_str(), 1);
    }
    ~PathVariable() { setenv("PATH", m_saved.c_str(), 1); }
    PathVariable(const PathVariable&) = delete;
    PathVariable& operator=(const PathVariable&) = delete;

private:
    std::string m_saved;
};

// Standard output into a file for the life of the object.
class CapturedOutput {
public:
    explicit CapturedOutput(const fs::path& file)
        : m_saved(dup(STDOUT_FILENO)), m_file(open(file.c_str(), O_WRONLY | O_CREAT, 0600)) {
        std::fflush(stdout);
        dup2(m_file, STDOUT_FILENO);
    }
    ~CapturedOutput() {
        std::fflush(stdout);
        dup2(m_saved, STDOUT_FILENO);
        close(m_saved);
        close(m_file);
    }
    CapturedOutput(const CapturedOutput&) = delete;
    CapturedOutput& operator=(const CapturedOutput&) = delete;

private:
    int m_saved;
    int m_file;
};

TEST_F(DialogTest, HelpOpensThePageOrSaysWhyNot) {
    // The page beside the running program (here the test), where the build
    // puts it relative to tabrook.
    EXPECT_TRUE(fs::exists(fs::path(TABROOK_EXE).parent_path() / ".." / "share" / "tabrook" /
                           "tabrookhelp.htm"));
    const fs::path page = (fs::canonical("/proc/self/exe").parent_path().parent_path() / "share" /
                           "tabrook" / "tabrookhelp.htm")
                              .lexically_normal();
    const fs::path bin = dir / "bin";
    fs::create_directories(bin);
    const PathVariable path(bin);
    const auto opener = [&](const std::string& script) {
        WriteBytes(bin / "xdg-open", "#!/bin/sh\n" + script);
        fs::permissions(bin / "xdg-open", fs::perms::owner_all);
    };
    opener("echo \"$1\" > '" + (dir / "opened").string() + "'\n");
    const std::string prefix = "The help page " + page.string() + " cannot be opened:\n";

    fs::remove(page);
    dlg->Click("ID_HELP");
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0], prefix + "No such file or directory");
    EXPECT_FALSE(fs::exists(dir / "opened"));

    fs::create_directories(page.parent_path());
    WriteBytes(page, "<html><body>Help</body></html>\n");
    dlg->Click("ID_HELP");
    EXPECT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(ReadBytes(dir / "opened"), page.string() + "\n");

    // The opener's own complaint, not only on standard error.
    opener("echo \"xdg-open: no method available for opening '$1'\" >&2\nexit 3\n");
    dlg->Click("ID_HELP");
    ASSERT_EQ(Boxes().size(), 2u);
    EXPECT_EQ(Boxes()[1],
              prefix + "xdg-open: no method available for opening '" + page.string() + "'");

    // A text browser would draw the page onto the program's terminal.
    opener("/bin/cat \"$1\"\n");
    {
        const CapturedOutput captured(dir / "stdout");
        dlg->Click("ID_HELP");
    }
    EXPECT_EQ(ReadBytes(dir / "stdout"), "");
    ASSERT_EQ(Boxes().size(), 3u);
    EXPECT_EQ(Boxes()[2].rfind(prefix + "xdg-open gave it to a program that writes text", 0), 0u)
        << Boxes()[2];

    // Without a desktop opener, Qt's services: a registered handler, or
    // nothing at all (the offscreen platform).
    fs::remove(bin / "xdg-open");
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("file", &catcher, "open");
    dlg->Click("ID_HELP");
    QDesktopServices::unsetUrlHandler("file");
    ASSERT_EQ(catcher.urls.size(), 1);
    EXPECT_EQ(catcher.urls[0].toLocalFile().toStdString(), page.string());
    dlg->Click("ID_HELP");
    ASSERT_EQ(Boxes().size(), 4u);
    EXPECT_EQ(Boxes()[3], prefix + "no program to open it was found");
    fs::remove(page);
}

// Runs fn on the first modal window that shows up (a chooser or a box), and
// closes whatever is still open a while later, so that a chooser that
// refuses its answer fails the test instead of hanging it.
class OnModal : public QObject {
public:
    explicit OnModal(const std::function<void(QWidget*)>& fn) {
        QTimer::singleShot(0, this, [fn] { fn(QApplication::activeModalWidget()); });
        QTimer::singleShot(5000, this, [] {
            while (QWidget* w = QApplication::activeModalWidget()) {
                if (auto* box = qobject_cast<QMessageBox*>(w))
                    box->reject();
                else if (auto* dialog = qobject_cast<QDialog*>(w))
                    dialog->reject();
                else
                    break;
                QApplication::processEvents();
            }
        });
    }
};

TEST_F(DialogTest, TheRealFileChooserTakesAWorkbookAsNamed) {
    SetFileChooserHook({});
    const fs::path ledger = Workbook(kCatalogueXls, "ledger");  // no extension
    const fs::path sales = Workbook(kCatalogueXls, "sales.xls");
    QStringList filters;
    const auto type = [&](const fs::path& name) {
        const OnModal answer([&](QWidget* w) {
            auto* chooser = qobject_cast<QFileDialog*>(w);
            ASSERT_NE(chooser, nullptr);
            filters = chooser->nameFilters();
            // Typed as a user types it: into the focused name field.
            QApplication::setActiveWindow(chooser);
            auto* field = chooser->findChild<QLineEdit*>("fileNameEdit");
            field->setFocus();
            field->clear();
            QTest::keyClicks(field, QString::fromStdString(name.string()));
            if (field->completer())
                field->completer()->popup()->hide();  // the name as typed
            QTest::keyClick(field, Qt::Key_Return);
        });
        dlg->Click("IDC_BROWSE_EXCEL");
    };
    type(ledger);
    EXPECT_EQ(filters, QStringList({"Excel Files (*.xls *.xlsx *.xlsm)", "All files (*)"}));
    EXPECT_EQ(dlg->Text("IDC_EXCEL_FILE").toStdString(), ledger.string());
    EXPECT_EQ(dlg->Text("IDC_TEXT_FILE").toStdString(), ledger.string() + ".csv");
    EXPECT_EQ(dlg->Control<QComboBox>("IDC_WORKSHEET")->count(), 4);
    // A name without its extension still finds the workbook.
    type(dir / "sales");
    EXPECT_EQ(dlg->Text("IDC_EXCEL_FILE").toStdString(), sales.string());
    EXPECT_TRUE(Boxes().empty()) << Boxes()[0];
}

TEST_F(DialogTest, TheRealFolderChooserHasATitle) {
    SetFolderChooserHook({});
    QString title;
    QTimer::singleShot(0, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* chooser = qobject_cast<QFileDialog*>(w); chooser && chooser->isVisible()) {
                title = chooser->windowTitle();
                chooser->reject();
            }
        }
    });
    dlg->Click("IDC_BROWSE_TEXT");
    EXPECT_EQ(title, "Choose a Folder");
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
