// The conversion window, driven as a user drives it: buttons with a replaced file chooser,
// answers to its message boxes, mouse moves and double-clicks over the plot, dropped files.
#include "mainform/calibrate_dialog.h"
#include "mainform/cp1252.h"
#include "mainform/rawdat_window.h"
#include "mainform/settings.h"
#include "mainform/status_panel.h"
#include "testutil.h"
#include "ulit_dat/litdat.h"
#include "ulit_dat/numtext.h"
#include "window_files.h"

#include <QApplication>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QUrl>
#include <qcustomplot.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>

using namespace rawdat;
using namespace rawdat::test;
namespace fs = std::filesystem;

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

std::string cutFile(const std::string& from, const std::string& to, std::size_t bytes)
{
    auto b = readBytes(from);
    b.resize(bytes);
    writeBytes(to, b);
    return to;
}

// The window, shown, with its file chooser handing out the queued paths one by one.
struct Window {
    Window()
    {
        w->setFileChooser([this](FileKind kind) -> std::optional<QString> {
            kinds.push_back(kind);
            if (paths.isEmpty())
                return std::nullopt;
            return paths.takeFirst();
        });
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    }
    template <class T>
    T* child(const char* name) const
    {
        return w->findChild<T*>(QLatin1String(name));
    }
    QStringList memo() const { return child<QPlainTextEdit>("Mem")->toPlainText().split(QLatin1Char('\n')); }
    QString label(const char* name) const { return child<PathLabel>(name)->path(); }
    QString status() const { return child<StatusPanel>("StatusPanel1")->text(); }
    // What the last command did, in the status bar beside the readout.
    QString message() const { return child<StatusPanel>("Message1")->text(); }
    CrossChart* chart() const { return w->chart(); }
    int points() const { return chart()->series()->data()->size(); }
    // Drags `files` into the window and drops them, as a file manager does; true when the window
    // took the drop.
    bool drop(const QStringList& files, Qt::KeyboardModifiers modifiers = Qt::NoModifier) const
    {
        QMimeData mime;
        QList<QUrl> urls;
        for (const QString& f : files)
            urls << QUrl::fromLocalFile(f);
        mime.setUrls(urls);
        QDragEnterEvent enter(QPoint(100, 200), Qt::CopyAction, &mime, Qt::LeftButton, modifiers);
        QApplication::sendEvent(w.get(), &enter);
        QDropEvent dropped(QPointF(100, 200), Qt::CopyAction, &mime, Qt::LeftButton, modifiers);
        QApplication::sendEvent(w.get(), &dropped);
        return dropped.isAccepted();
    }
    // Clicks a command button with `path` as the chosen file.
    void click(const char* button, const std::string& path)
    {
        paths << q(path);
        QTest::mouseClick(child<QPushButton>(button), Qt::LeftButton);
    }
    QImage picture() const
    {
        QCoreApplication::processEvents();
        return chart()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }

    std::unique_ptr<TRawDat> w = std::make_unique<TRawDat>();
    BoxAnswerer boxes; // a box nobody expects is answered with Escape and seen
    QStringList paths;
    std::vector<FileKind> kinds;
};

// Opens the plot's context menu and triggers `entry`; returns the menu's entries, a disabled one
// followed by " (off)".
QStringList chooseFromChartMenu(const Window& win, const QString& entry)
{
    QStringList entries;
    QTimer::singleShot(50, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return;
        for (QAction* a : menu->actions())
            entries << a->text() + (a->isEnabled() ? QString() : QStringLiteral(" (off)"));
        for (QAction* a : menu->actions())
            if (a->text() == entry)
                a->trigger();
        menu->close();
    });
    emit win.chart()->customContextMenuRequested(QPoint(50, 50));
    return entries;
}

QRgb inverted(QRgb c) { return qRgb(255 - qRed(c), 255 - qGreen(c), 255 - qBlue(c)); }

// The picture `base` with each cross inverted as two one-pixel lines across the plotting
// rectangle `r` (the crossing pixel inverted twice).
QImage withCrosses(QImage base, QRect r, const QList<QPoint>& crosses)
{
    for (const QPoint& p : crosses) {
        for (int x = r.left(); x < r.left() + r.width(); ++x)
            base.setPixel(x, p.y(), inverted(base.pixel(x, p.y())));
        for (int y = r.top(); y < r.top() + r.height(); ++y)
            base.setPixel(p.x(), y, inverted(base.pixel(p.x(), y)));
    }
    return base;
}

// The real RAW1 file's companion export: start, step, and angle and count of every step.
struct UxdScan {
    double start = 0;
    double step = 0;
    std::vector<double> angle;
    std::vector<double> count;
};

UxdScan readUxd(const std::string& path)
{
    UxdScan s;
    std::ifstream in(path);
    std::string line;
    bool counts = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.rfind("_START=", 0) == 0)
            s.start = QByteArray::fromStdString(line.substr(7)).toDouble();
        else if (line.rfind("_STEPSIZE=", 0) == 0)
            s.step = QByteArray::fromStdString(line.substr(10)).toDouble();
        else if (line == "_2THETACOUNTS")
            counts = true;
        else if (counts && !line.empty() && line[0] != ';' && line[0] != '_') {
            const auto tab = line.find('\t');
            s.angle.push_back(QByteArray::fromStdString(line.substr(0, tab)).toDouble());
            s.count.push_back(QByteArray::fromStdString(line.substr(tab + 1)).toDouble());
        }
    }
    return s;
}

} // namespace

class TestWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        origin_ = QDir::currentPath();
        QApplication::setQuitOnLastWindowClosed(false); // the tests close many windows
    }
    void init() { WindowSettings().clear(); } // each test starts as a first run
    void cleanup() { QDir::setCurrent(origin_); }

    // ---- start-up ----
    void controlsAtTheirPlaces_data();
    void controlsAtTheirPlaces();
    void startState();
    void plotConfiguration();

    // ---- the DAT command ----
    void datCommandShowsPlotsAndWrites();
    void datCommandWithoutCalibration();
    void datCommandAsksBeforeUsingThePreviousCalibration();
    void datCommandCancelledChangesNothing();
    void datFileNotOpened();
    void throughTheOpenDialog();
    void stateAfterASequenceOfFiles();

    // ---- the RAW command ----
    void rawCommandShowsPlotsAndWrites();
    void rawCommandOnInstrumentFile();

    // ---- overwrite question ----
    void overwriteQuestion_data();
    void overwriteQuestion();
    void noQuestionForTheTwoColumnFile();

    // ---- errors ----
    void errorBoxThenWindowWorks_data();
    void errorBoxThenWindowWorks();

    // ---- readout and cross ----
    void readout_data();
    void readout();
    void crossInvertsAndRestores();
    void crossEdges_data();
    void crossEdges();
    void crossErasedOnLeaving();
    void mouseMoveRepaintsOnlyStrips();
    void noStrayCrossAfterReplot();
    void gestures_data();
    void gestures();
    void doubleClickScales_data();
    void doubleClickScales();

    // ---- beyond: drops, pictures ----
    void kindOfDroppedFile_data();
    void kindOfDroppedFile();
    void droppedFilesRunTheirCommands();
    void fileDroppedDuringACommandRunsAfterIt();
    void dragEnterTakesOnlyFiles();
    void savesPictures();
    void contextMenuSavesPicture();

    // ---- menus, what is remembered, the command line, the view ----
    void menusRunTheCommands();
    void rememberedBetweenRuns();
    void commandLineFilesOpenAsDropped();
    void readoutFollowsTheView();
    void viewStopsAtAMarginAroundTheData_data();
    void viewStopsAtAMarginAroundTheData();
    void minimumSizeKeepsMemoAndQuitWhole();
    void intensityScales();
    void xUnitsOfAKnownPoint();
    void rangesSwitchAndExport();
    void overlayOfPatterns();
    void calibrateFromStandard();

    // ---- quit, texts ----
    void quitReleasesAndCloses();
    void windows1252Texts_data();
    void windows1252Texts();
    void bundledSample();

private:
    QString origin_;
};

// ---------------------------------------------------------------------------------------------

void TestWindow::controlsAtTheirPlaces_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("caption");
    // Laid out, not placed: the left edge and the height of each control in its parent (-1: not
    // pinned); the names and the memo take the width the window gives them.
    QTest::newRow("Panel1") << "Panel1" << "ToolBar1" << QRect(0, 2, -1, 59) << "";
    QTest::newRow("Bt_dat") << "Bt_dat" << "Panel1" << QRect(-1, -1, -1, 25) << "&DAT file";
    QTest::newRow("Bt_RAW") << "Bt_RAW" << "Panel1" << QRect(-1, -1, -1, 25) << "&RAW file";
    QTest::newRow("Mem") << "Mem" << "ToolBar1" << QRect(-1, 2, -1, 59) << "";
    QTest::newRow("Quit") << "Quit" << "ToolBar1" << QRect(-1, 2, 75, 59) << "&Quit";
    QTest::newRow("Lb_dat") << "Lb_dat" << "Panel1" << QRect(-1, -1, -1, -1) << "";
    QTest::newRow("Lb_raw") << "Lb_raw" << "Panel1" << QRect(-1, -1, -1, -1) << "";
}

void TestWindow::controlsAtTheirPlaces()
{
    QFETCH(QString, name);
    QFETCH(QString, parent);
    QFETCH(QRect, geometry);
    QFETCH(QString, caption);
    Window win;
    auto* c = win.w->findChild<QWidget*>(name);
    QVERIFY2(c, qPrintable(name));
    QCOMPARE(c->parentWidget()->objectName(), parent);
    QVERIFY(c->isVisible());
    QVERIFY(c->parentWidget()->rect().contains(c->geometry()));
    for (const auto& [pinned, actual] : {std::pair{geometry.x(), c->x()}, std::pair{geometry.y(), c->y()},
                                         std::pair{geometry.width(), c->width()},
                                         std::pair{geometry.height(), c->height()}})
        if (pinned >= 0)
            QCOMPARE(actual, pinned);
    if (auto* b = qobject_cast<QPushButton*>(c))
        QCOMPARE(b->text(), caption);
    if (auto* l = qobject_cast<PathLabel*>(c))
        QCOMPARE(l->path(), caption);
}

void TestWindow::startState()
{
    Window win;
    QCOMPARE(win.w->windowTitle(), QStringLiteral("rawdat"));
    QCOMPARE(win.w->frameGeometry(), QRect(204, 114, 799, 521));
    // Below the menu bar: tool bar on top, status bar at the bottom, the plot between them.
    const QSize client = win.w->size();
    const int menu = win.w->menuBar()->height();
    QCOMPARE(win.child<QWidget>("ToolBar1")->geometry(), QRect(0, 0, client.width(), 73));
    const int panel = win.w->filePanel()->width();
    QCOMPARE(win.chart()->geometry(), QRect(0, 73, client.width() - panel, client.height() - menu - 73 - 19));
    QCOMPARE(win.w->filePanel()->geometry(), QRect(client.width() - panel, 73, panel, win.chart()->height()));
    QCOMPARE(win.child<QWidget>("StatusBar1")->geometry(), QRect(0, client.height() - 19, client.width(), 19));
    QCOMPARE(win.w->font().family(), QStringLiteral("MS Sans Serif"));
    QCOMPARE(win.w->font().pixelSize(), 11);
    QCOMPARE(win.memo(), QStringList{QString()});
    QVERIFY(win.child<QPlainTextEdit>("Mem")->isReadOnly());
    QVERIFY(win.child<QPlainTextEdit>("Mem")->tabChangesFocus());
    QCOMPARE(win.message(), QString());
    QCOMPARE(win.w->filePanel()->value(QStringLiteral("Kind")), QStringLiteral("No file open"));
    QCOMPARE(win.status(), QStringLiteral("Cursor :"));
    QVERIFY(win.child<StatusPanel>("StatusPanel1")->width() >= 50);
    QCOMPARE(win.child<QWidget>("Panel1")->property("caption").toString(), QStringLiteral(" "));
    QCOMPARE(win.points(), 0);
    QVERIFY(!win.w->state().Data);
    QVERIFY(!win.w->state().CalibOK);
    QVERIFY(!win.w->crossShown());

    // The memo cannot be typed into.
    auto* mem = win.child<QPlainTextEdit>("Mem");
    mem->moveCursor(QTextCursor::End);
    QTest::keyClicks(mem, "x");
    QCOMPARE(mem->toPlainText(), QString());

    // Tab follows the reading order, the plot after the memo, Quit last.
    std::vector<QString> order;
    QWidget* w = win.child<QWidget>("Bt_dat");
    for (int i = 0; i < 7; ++i) {
        order.push_back(w->objectName());
        do
            w = w->nextInFocusChain();
        while (!(w->focusPolicy() & Qt::TabFocus) || !w->isVisibleTo(win.w.get()));
    }
    QCOMPARE(order, (std::vector<QString>{"Bt_dat", "Bt_RAW", "Mem", "Chart1", "Quit", "Bt_dat", "Bt_RAW"}));

    // The open dialogs: filters and default extensions.
    const auto openDat = win.w->makeOpenDialog(FileKind::Dat);
    const auto openRaw = win.w->makeOpenDialog(FileKind::Raw);
    QCOMPARE(openDat->objectName(), QStringLiteral("OpenDAT"));
    QCOMPARE(openRaw->objectName(), QStringLiteral("OpenRAW"));
    QCOMPARE(openDat->nameFilters(), QStringList{QStringLiteral("(DAT file) (*.DAT)")});
    QCOMPARE(openRaw->nameFilters(), QStringList{QStringLiteral("(RAW file) (*.RAW)")});
    QCOMPARE(openDat->defaultSuffix(), QStringLiteral("DAT"));
    QCOMPARE(openRaw->defaultSuffix(), QStringLiteral("RAW"));
    QCOMPARE(openDat->fileMode(), QFileDialog::AnyFile);
    QCOMPARE(openDat->acceptMode(), QFileDialog::AcceptOpen);
}

void TestWindow::plotConfiguration()
{
    Window win;
    QCPGraph* s = win.chart()->series();
    QCOMPARE(win.chart()->graphCount(), 1);
    QCOMPARE(s->pen().color(), QColor(Qt::red));
    QCOMPARE(s->lineStyle(), QCPGraph::lsLine);
    QCOMPARE(s->scatterStyle().shape(), QCPScatterStyle::ssNone);
    QVERIFY(!win.chart()->legend->visible());
    auto* title = qobject_cast<QCPTextElement*>(win.chart()->plotLayout()->element(0, 0));
    QVERIFY(title);
    QCOMPARE(title->text(), QString());
    QCOMPARE(s->keyAxis(), win.chart()->xAxis);
    QCOMPARE(s->valueAxis(), win.chart()->yAxis);
    QVERIFY(win.chart()->interactions().testFlag(QCP::iRangeDrag));
    QVERIFY(win.chart()->interactions().testFlag(QCP::iRangeZoom));
}

// ---------------------------------------------------------------------------------------------

void TestWindow::datCommandShowsPlotsAndWrites()
{
    TempDir dir;
    const std::string dat = writeDatScan(dir.path().string());
    Window win;
    win.click("Bt_dat", dat);

    QVERIFY(win.boxes.seen.empty()); // nothing to overwrite, no error
    QCOMPARE(win.kinds, std::vector<FileKind>{FileKind::Dat});
    const QStringList expected = {
        "calibration : calibOK",
        "taille : 4096",
        "acquisition : 300.000",
        "lambda : 1.54060",
        q("Calib : " + padded("TESTCAL", 9)),
        q("date : " + padded("12/03/98 14:25:36", 20)),
        q("power " + padded("40", 9) + " " + padded("30", 9)),
        QStringLiteral("comment sample \u201CA\u201D 5\u00B5m") + QString(80 - 14, QLatin1Char(' ')),
        q("comment " + padded("second", 80)),
        q("comment " + padded("third", 80)),
    };
    QCOMPARE(win.memo(), expected);
    QCOMPARE(win.label("Lb_dat"), q(dat));
    const std::string raw = (dir.path() / "S1.RAW").string();
    QCOMPARE(win.label("Lb_raw"), q(raw));
    QCOMPARE(QDir::currentPath(), q(dir.path().string()));

    // The plot shows the pattern as read, against the calibrated angle.
    const auto counts = datCounts();
    QCOMPARE(win.points(), kDatChannels);
    auto it = win.chart()->series()->data()->constBegin();
    for (int i = 1; i <= kDatChannels; ++i, ++it) {
        QVERIFY2(std::abs(it->key - testAngle(i)) < 1e-4, qPrintable(QString::number(i)));
        QCOMPARE(it->value, double(counts[static_cast<std::size_t>(i - 1)]));
    }
    // Both files written: the RAW file and the two-column file of the converted pattern.
    QVERIFY(fs::exists(raw));
    QCOMPARE(readText(raw).substr(0, 4), std::string("RAW2"));
    const std::string twoCol = readText((dir.path() / "S1.2CL").string());
    QCOMPARE(std::count(twoCol.begin(), twoCol.end(), '\n'), long(win.w->state().Header.Size));
    QVERIFY(win.w->state().Data);
    QVERIFY(win.w->state().CalibOK);
}

void TestWindow::datCommandWithoutCalibration()
{
    TempDir dir;
    const std::string dat = writeDatScan(dir.path().string(), "S1.DAT", false);
    Window win;
    win.click("Bt_dat", dat);

    QCOMPARE(win.memo().at(0), QStringLiteral("calibration : calib NOTOKTESTCAL*"));
    // Against channel numbers when no calibration was read.
    QCOMPARE(win.points(), kDatChannels);
    QCOMPARE(win.chart()->series()->data()->at(0)->key, 1.0);
    QCOMPARE(win.chart()->series()->data()->at(kDatChannels - 1)->key, double(kDatChannels));
    QCOMPARE(win.chart()->xAxis->label(), QStringLiteral("Channel"));
    QVERIFY(!win.w->state().CalibOK);
    // No calibration has ever been read: the conversion is refused in an error box, nothing written.
    QCOMPARE(int(win.boxes.seen.size()), 1);
    QCOMPARE(win.boxes.seen[0].icon, QMessageBox::Critical);
    QVERIFY(win.boxes.seen[0].text.contains(QStringLiteral("S1.DAT")));
    QVERIFY(!fs::exists(dir.path() / "S1.RAW"));
    QVERIFY(!fs::exists(dir.path() / "S1.2CL"));
}

// Regression: a DAT file whose calibration is missing was converted with the one read before,
// without a word, and plotted in channels under the label of angles.
void TestWindow::datCommandAsksBeforeUsingThePreviousCalibration()
{
    TempDir a;
    TempDir b;
    const std::string good = writeDatScan(a.path().string());
    const std::string lone = writeDatScan(b.path().string(), "S2.DAT", false);
    const std::string cal = (a.path() / "TESTCAL.CAL").string();
    Window win;
    win.click("Bt_dat", good);
    const QString question =
        q("TESTCAL.CAL was not found beside S2.DAT. Convert with the calibration read before (" + cal + ")?");

    // No, the default: nothing written, nothing more asked, no error; the plot stays in channels.
    win.boxes.setAnswers({"Enter"});
    win.click("Bt_dat", lone);
    QCOMPARE(int(win.boxes.seen.size()), 1);
    const BoxSeen& box = win.boxes.seen[0];
    QCOMPARE(box.text, question);
    QCOMPARE(box.icon, QMessageBox::Question);
    QCOMPARE(box.buttons, (QStringList{"&Non", "&Oui"}));
    QCOMPARE(box.defaultButton, QStringLiteral("&Non"));
    QCOMPARE(box.escapeButton, QStringLiteral("&Non"));
    QCOMPARE(listFolder(b.path()), std::vector<std::string>{"S2.DAT"});
    QCOMPARE(win.memo().size(), 10);
    QCOMPARE(win.memo().at(0), QStringLiteral("calibration : calib NOTOKTESTCAL*"));
    QCOMPARE(win.message(), QStringLiteral("S2.DAT was not converted; nothing was written."));
    QCOMPARE(win.chart()->series()->data()->at(0)->key, 1.0);
    QCOMPARE(win.chart()->xAxis->label(), QStringLiteral("Channel"));

    // Yes: converted as with that calibration beside it, plotted against it, and said so.
    win.boxes.setAnswers({"&Oui"});
    win.click("Bt_dat", lone);
    QCOMPARE(int(win.boxes.seen.size()), 2);
    QCOMPARE(win.boxes.seen[1].text, question);
    QCOMPARE(win.memo().size(), 11);
    QCOMPARE(win.memo().back(), q("calibration used : " + cal));
    QCOMPARE(win.message(), q("S2.RAW and S2.2CL written in " + b.path().string() + ", with the calibration read before: " + cal));
    QCOMPARE(win.w->filePanel()->value(QStringLiteral("Calibration")), q("TESTCAL.CAL in " + a.path().string()));
    QVERIFY(std::abs(win.chart()->series()->data()->at(0)->key - testAngle(1)) < 1e-4);
    QCOMPARE(win.chart()->xAxis->label(), QStringLiteral("2\u03B8 (\u00B0)"));
    const std::string raw = (b.path() / "S2.RAW").string();
    const std::string twoCol = (b.path() / "S2.2CL").string();
    const std::vector<std::string> written = {readText(raw), readText(twoCol)};
    fs::remove(raw);
    fs::remove(twoCol);
    fs::copy_file(cal, b.path() / "TESTCAL.CAL");
    win.click("Bt_dat", lone);
    QCOMPARE(int(win.boxes.seen.size()), 2);
    QCOMPARE(written, (std::vector<std::string>{readText(raw), readText(twoCol)}));
}

void TestWindow::datCommandCancelledChangesNothing()
{
    TempDir dir;
    const std::string dat = writeDatScan(dir.path().string());
    Window win;
    win.click("Bt_dat", dat);
    const QStringList memo = win.memo();
    const auto files = listFolder(dir.path());

    for (const char* button : {"Bt_dat", "Bt_RAW"}) {
        QTest::mouseClick(win.child<QPushButton>(button), Qt::LeftButton); // chooser returns nothing
        QCOMPARE(win.memo(), memo);
        QCOMPARE(win.label("Lb_dat"), q(dat));
        QCOMPARE(win.label("Lb_raw"), q((dir.path() / "S1.RAW").string()));
        QCOMPARE(win.points(), kDatChannels);
        QCOMPARE(listFolder(dir.path()), files);
    }
    QCOMPARE(win.kinds, (std::vector<FileKind>{FileKind::Dat, FileKind::Dat, FileKind::Raw}));
}

void TestWindow::datFileNotOpened()
{
    TempDir dir;
    Window win;
    const std::string missing = (dir.path() / "NONE.DAT").string();
    win.click("Bt_dat", missing);
    QCOMPARE(win.memo(), QStringList{QString()}); // no file in view: the box says it
    QCOMPARE(int(win.boxes.seen.size()), 1);
    QCOMPARE(win.boxes.seen[0].text, q(missing + ": file not opened"));
    QCOMPARE(win.label("Lb_dat"), QString()); // a file not read keeps the previous label
    QCOMPARE(win.label("Lb_raw"), QString());
    QVERIFY(win.w->state().Data); // allocated before the read
    QCOMPARE(win.points(), 0);
    QVERIFY(listFolder(dir.path()).empty());
}

void TestWindow::throughTheOpenDialog()
{
    TempDir dir;
    const std::string raw = writeRawScan(dir.path().string(), "S2.RAW", 10.0f, 0.02f, rawCounts(500));
    Window win;
    win.w->setFileChooser({});
    QDir::setCurrent(q(dir.path().string()));
    QString name;
    QString folder;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!d || !d->isVisible())
            return;
        poll.stop();
        name = d->objectName();
        folder = d->directory().absolutePath();
        d->selectFile(QStringLiteral("S2.RAW"));
        static_cast<QDialog*>(d)->accept(); // as the Open button does
    });
    poll.start(5);
    QTest::mouseClick(win.child<QPushButton>("Bt_RAW"), Qt::LeftButton);

    QCOMPARE(name, QStringLiteral("OpenRAW"));
    QCOMPARE(folder, q(dir.path().string())); // opens in the current folder
    QCOMPARE(win.label("Lb_raw"), q(raw));
    QCOMPARE(win.points(), 500);
    QVERIFY(win.w->findChildren<QFileDialog*>().isEmpty()); // gone with its completer

    // Each dialog opens where it last chose a file, whatever the current folder; one that has
    // chosen none yet in the current folder.
    QDir::setCurrent(origin_);
    QCOMPARE(win.w->makeOpenDialog(FileKind::Raw)->directory().absolutePath(), q(dir.path().string()));
    QCOMPARE(win.w->makeOpenDialog(FileKind::Dat)->directory().absolutePath(), QDir::currentPath());
}

// The memo, the file panel, the title and the status bar describe the file in view, through a
// DAT file, a RAW file, the DAT file again answered Non, a DAT file cut short and a missing one.
void TestWindow::stateAfterASequenceOfFiles()
{
    TempDir dir;
    const std::string dat = writeDatScan(dir.path().string());
    const std::string raw = writeRawScan(dir.path().string(), "R.RAW", 10.0f, 0.02f, rawCounts(500));
    const std::string cut = cutFile(dat, (dir.path() / "CUT.DAT").string(), 600);
    const std::string folder = dir.path().string();
    Window win;
    const FilePanel* panel = win.w->filePanel();
    const auto state = [&] {
        return QStringList{win.w->windowTitle(), win.message(), win.memo().first(),
                           QString::number(win.memo().size()), panel->value("Kind"), panel->value("File"),
                           panel->value("Sample"), panel->value("Wavelength"), panel->value("Range"),
                           panel->value("Start"), panel->value("Points"), panel->value("End"),
                           panel->value("Channels"), panel->value("Written"), panel->value("Folder")};
    };
    win.click("Bt_dat", dat);
    const QStringList datState = {"S1.DAT \u2014 rawdat", q("S1.RAW and S1.2CL written in " + folder),
                                  "calibration : calibOK", "10", "DAT detector file", q(dat),
                                  QStringLiteral("sample \u201CA\u201D 5\u00B5m"), QStringLiteral("1.54060 \u00C5"),
                                  "Range 1 of 1", win.w->filePanel()->value("Start"), win.w->filePanel()->value("Points"),
                                  win.w->filePanel()->value("End"), "4096 read, 50 to 4000 converted",
                                  "S1.RAW\nS1.2CL", q(folder)};
    QCOMPARE(state(), datState);
    QCOMPARE(panel->value("Start"), q(fixedText(win.w->state().Raw.RangeInfo.Start, 4)) + QStringLiteral("\u00B0"));
    QCOMPARE(panel->value("Points"), QString::number(win.w->state().Header.Size));
    const TRangeInfo& grid = win.w->state().Raw.RangeInfo;
    QCOMPARE(panel->value("End"),
             q(fixedText(double(grid.Start) + (win.w->state().Header.Size - 1) * double(grid.Step), 4)) + QStringLiteral("\u00B0"));

    win.click("Bt_RAW", raw);
    QCOMPARE(state(), (QStringList{"R.RAW \u2014 rawdat", q("R.TXT and R.2CL written in " + folder), "size : 500",
                                   "3", "RAW diffractometer file", q(raw), "raw test", QStringLiteral("1.54056 \u00C5"),
                                   "Range 1 of 1", QStringLiteral("10.0000\u00B0"), "500",
                                   QStringLiteral("19.9800\u00B0"), "", "R.TXT\nR.2CL", q(folder)}));
    QCOMPARE(win.label("Lb_dat"), QString()); // no longer in view

    win.boxes.setAnswers({"&Non"});
    win.click("Bt_dat", dat);
    QStringList kept = datState;
    kept[1] = "kept existing S1.RAW; nothing was written";
    for (int row : {8, 9, 10, 11, 13, 14}) // nothing converted: no range, nothing written
        kept[row] = QString();
    kept[12] = "4096 read";
    QCOMPARE(state(), kept);

    // A file that fails to read leaves the one in view, and says why in a box and the status bar.
    for (const std::string& bad : {cut, (dir.path() / "MISSING.DAT").string()}) {
        win.boxes.setAnswers({"Enter"});
        const auto boxes = win.boxes.seen.size();
        win.click("Bt_dat", bad);
        QCOMPARE(win.boxes.seen.size(), boxes + 1);
        QCOMPARE(win.boxes.seen.back().icon, QMessageBox::Critical);
        QStringList failed = kept;
        failed[1] = "Nothing was written: " + win.boxes.seen.back().text.section(QLatin1Char('\n'), 0, 0);
        QCOMPARE(state(), failed);
        QVERIFY(win.message().contains(QFileInfo(q(bad)).fileName()));
    }
    QCOMPARE(win.boxes.seen.back().text, q((dir.path() / "MISSING.DAT").string() + ": file not opened"));
    QCOMPARE(TRawDat::recentFiles().mid(0, 2), (QStringList{q(dat), q(raw)})); // only files read
}

// ---------------------------------------------------------------------------------------------

void TestWindow::rawCommandShowsPlotsAndWrites()
{
    TempDir dir;
    const auto counts = rawCounts(500);
    const std::string raw = writeRawScan(dir.path().string(), "S2.RAW", 10.0f, 0.02f, counts);
    Window win;
    win.click("Bt_RAW", raw);

    QVERIFY(win.boxes.seen.empty());
    QCOMPARE(win.kinds, std::vector<FileKind>{FileKind::Raw});
    QCOMPARE(win.memo(), (QStringList{"size : 500", "step :  0.0200", "2th init : 10.0000"}));
    QCOMPARE(win.label("Lb_raw"), q(raw));
    QCOMPARE(win.label("Lb_dat"), QString());
    QCOMPARE(win.points(), 500);
    auto it = win.chart()->series()->data()->constBegin();
    for (int i = 0; i < 500; ++i, ++it) {
        QVERIFY(std::abs(it->key - (10 + i * 0.02)) < 1e-4);
        QCOMPARE(it->value, double(counts[static_cast<std::size_t>(i)]));
    }
    QVERIFY(std::abs(win.chart()->series()->data()->at(499)->key - 19.98) < 1e-4);
    QVERIFY(fs::exists(dir.path() / "S2.TXT"));
    const std::string twoCol = readText((dir.path() / "S2.2CL").string());
    QCOMPARE(std::count(twoCol.begin(), twoCol.end(), '\n'), 500L);
    QCOMPARE(twoCol.substr(0, 20), std::string(" 10.000         50\r\n"));
}

void TestWindow::rawCommandOnInstrumentFile()
{
    TempDir dir;
    const std::string raw = (dir.path() / "BT86.raw").string();
    fs::copy_file(RAWDAT_TESTDATA "/raw/BT86.raw", raw);
    const UxdScan uxd = readUxd(RAWDAT_TESTDATA "/raw/BT86_.UXD");
    QVERIFY(uxd.count.size() > 1000);
    Window win;
    win.click("Bt_RAW", raw);

    QVERIFY(win.boxes.seen.empty());
    QCOMPARE(win.memo(), (QStringList{QStringLiteral("size : %1").arg(uxd.count.size()), "step :  0.0156",
                                      "2th init :  3.0000"}));
    QCOMPARE(win.points(), int(uxd.count.size()));
    auto it = win.chart()->series()->data()->constBegin();
    for (std::size_t i = 0; i < uxd.count.size(); ++i, ++it) {
        QVERIFY(std::abs(it->key - (uxd.start + double(i) * uxd.step)) < 1e-3); // the export's step has 6 decimals
        QVERIFY(std::abs(it->key - uxd.angle[i]) < 0.0051); // the export keeps four digits
        QCOMPARE(it->value, uxd.count[i]);
    }
    QVERIFY(fs::exists(dir.path() / "BT86.TXT"));
    QVERIFY(fs::exists(dir.path() / "BT86.2CL"));
}

// ---------------------------------------------------------------------------------------------

void TestWindow::overwriteQuestion_data()
{
    QTest::addColumn<bool>("dat");         // the DAT command, else the RAW command
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("mainWritten"); // the RAW file (DAT command) or the TXT file (RAW command)
    QTest::addColumn<bool>("twoColWritten");
    QTest::newRow("DAT, Oui") << true << "&Oui" << true << true;
    QTest::newRow("DAT, Non") << true << "&Non" << false << false;
    QTest::newRow("DAT, Enter") << true << "Enter" << true << true;
    QTest::newRow("DAT, Escape") << true << "Escape" << false << false;
    QTest::newRow("DAT, closed") << true << "Close" << false << false;
    QTest::newRow("RAW, Oui") << false << "&Oui" << true << true;
    QTest::newRow("RAW, Non") << false << "&Non" << false << true;
    QTest::newRow("RAW, Escape") << false << "Escape" << false << true;
}

void TestWindow::overwriteQuestion()
{
    QFETCH(bool, dat);
    QFETCH(QString, answer);
    QFETCH(bool, mainWritten);
    QFETCH(bool, twoColWritten);
    TempDir dir;
    const std::string source = dat ? writeDatScan(dir.path().string())
                                   : writeRawScan(dir.path().string(), "S1.RAW", 10.0f, 0.02f, rawCounts(300));
    const std::string main = (dir.path() / (dat ? "S1.RAW" : "S1.TXT")).string();
    const std::string twoCol = (dir.path() / "S1.2CL").string();
    const std::string mainBefore = "old file";
    writeText(main, mainBefore);
    writeText(twoCol, "old 2cl");

    Window win;
    win.boxes.setAnswers({answer});
    win.click(dat ? "Bt_dat" : "Bt_RAW", source);

    QCOMPARE(int(win.boxes.seen.size()), 1);
    const BoxSeen& box = win.boxes.seen[0];
    QCOMPARE(box.title, QStringLiteral("Confirmation"));
    QCOMPARE(box.text, QStringLiteral("file already exists. erase?"));
    QCOMPARE(box.icon, QMessageBox::Question);
    QCOMPARE(box.buttons, (QStringList{"&Non", "&Oui"}));
    QCOMPARE(box.defaultButton, QStringLiteral("&Oui"));
    QCOMPARE(box.escapeButton, QStringLiteral("&Non"));

    QCOMPARE(readText(main) != mainBefore, mainWritten);
    QCOMPARE(readText(twoCol) != "old 2cl", twoColWritten);
    // The status bar says what was written, and which file was kept.
    const std::string folder = dir.path().string();
    const std::string mainName = fs::path(main).filename().string();
    QCOMPARE(win.message(), mainWritten     ? q(mainName + " and S1.2CL written in " + folder)
                            : twoColWritten ? q("kept existing " + mainName + "; S1.2CL written in " + folder)
                                            : q("kept existing " + mainName + "; nothing was written"));
    if (dat) // a refused RAW file keeps the label as it was
        QCOMPARE(win.label("Lb_raw"), mainWritten ? q(main) : QString());
    QCOMPARE(win.points(), dat ? kDatChannels : 300); // plotted before the question
}

void TestWindow::noQuestionForTheTwoColumnFile()
{
    TempDir dir;
    const std::string dat = writeDatScan(dir.path().string());
    writeText((dir.path() / "S1.2CL").string(), "old 2cl");
    Window win;
    win.click("Bt_dat", dat);
    QVERIFY(win.boxes.seen.empty());
    QVERIFY(readText((dir.path() / "S1.2CL").string()) != "old 2cl");
}

// ---------------------------------------------------------------------------------------------

void TestWindow::errorBoxThenWindowWorks_data()
{
    QTest::addColumn<bool>("dat");
    QTest::addColumn<int>("keep"); // bytes of the good file kept in the cut one
    QTest::newRow("DAT cut in the header") << true << 600;
    QTest::newRow("DAT cut in the counts") << true << 5000;
    QTest::newRow("RAW cut in the header") << false << 100;
    QTest::newRow("RAW cut in the counts") << false << 1000;
}

void TestWindow::errorBoxThenWindowWorks()
{
    QFETCH(bool, dat);
    QFETCH(int, keep);
    TempDir dir;
    const std::string good = dat ? writeDatScan(dir.path().string())
                                 : writeRawScan(dir.path().string(), "S1.RAW", 10.0f, 0.02f, rawCounts(400));
    const std::string cut = cutFile(good, (dir.path() / (dat ? "CUT.DAT" : "CUT.RAW")).string(), std::size_t(keep));

    // The message the reader gives for the cut file, and that the box must show.
    std::string message;
    try {
        TLitdat lit;
        TScanHeader h;
        TScanParams p;
        RawModule m;
        auto data = std::make_unique<TData>();
        if (dat)
            lit.Lect_Dat(cut, h, p, *data);
        else
            Lect_RAW(m, cut, h, p, *data);
    } catch (const std::exception& e) {
        message = e.what();
    }
    QVERIFY(QString::fromStdString(message).startsWith(QStringLiteral("Lecture au-delà de la fin de fichier")));

    Window win;
    win.click(dat ? "Bt_dat" : "Bt_RAW", good);
    const int before = win.points();
    const QStringList memoBefore = win.memo();
    win.click(dat ? "Bt_dat" : "Bt_RAW", cut);

    QCOMPARE(int(win.boxes.seen.size()), 1);
    QCOMPARE(win.boxes.seen[0].icon, QMessageBox::Critical);
    QCOMPARE(win.boxes.seen[0].text, QString::fromStdString(message));
    QCOMPARE(win.boxes.seen[0].buttons.size(), 1);
    // A file not read changes nothing on screen but the error box: the label, the memo and the
    // plot go on showing the previous file (once the label named the cut file over them).
    QCOMPARE(win.label(dat ? "Lb_dat" : "Lb_raw"), q(good));
    QCOMPARE(win.memo(), memoBefore);
    QCOMPARE(win.points(), before);

    // And the window still works.
    fs::remove(dat ? dir.path() / "S1.RAW" : dir.path() / "S1.TXT");
    win.click(dat ? "Bt_dat" : "Bt_RAW", good);
    QCOMPARE(int(win.boxes.seen.size()), 1);
    QCOMPARE(win.label(dat ? "Lb_dat" : "Lb_raw"), q(good));
    QCOMPARE(win.points(), before);
    QCOMPARE(win.memo().size(), dat ? 10 : 3); // the lines of the file in view only
}

// ---------------------------------------------------------------------------------------------

void TestWindow::readout_data()
{
    // The axes are set so that the value lands on a whole pixel: x from xlo by xPerPixel, y from
    // ylo by yPerPixel.
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("y");
    QTest::addColumn<double>("xlo");
    QTest::addColumn<double>("xPerPixel");
    QTest::addColumn<double>("ylo");
    QTest::addColumn<double>("yPerPixel");
    QTest::addColumn<bool>("inside");
    QTest::addColumn<QString>("text");
    QTest::newRow("plain") << 25.5 << 130.0 << 0.0 << 0.5 << 0.0 << 10.0 << true << "Cursor : (25.500/130.0000)";
    QTest::newRow("wider than the fields") << 1234.5 << 2.5 << 1000.0 << 0.5 << 0.0 << 0.5 << true
                                           << "Cursor : (1234.500/2.5000)";
    QTest::newRow("negative") << -12.5 << -0.5 << -100.0 << 0.5 << -10.0 << 0.5 << true
                              << "Cursor : (-12.500/-0.5000)";
    QTest::newRow("left of the rectangle") << -2.5 << 130.0 << 0.0 << 0.5 << 0.0 << 10.0 << false
                                           << "Cursor : (-2.500/130.0000)";
    QTest::newRow("below the rectangle") << 25.5 << -50.0 << 0.0 << 0.5 << 0.0 << 10.0 << false
                                         << "Cursor : (25.500/-50.0000)";
}

void TestWindow::readout()
{
    QFETCH(double, x);
    QFETCH(double, y);
    QFETCH(double, xlo);
    QFETCH(double, xPerPixel);
    QFETCH(double, ylo);
    QFETCH(double, yPerPixel);
    QFETCH(bool, inside);
    QFETCH(QString, text);
    Window win;
    CrossChart* c = win.chart();
    // The tick labels take room from the plotting rectangle: set the ranges until it holds still.
    for (QRect r, before; r.isNull() || r != before;) {
        before = r;
        r = c->plotRect();
        c->xAxis->setRange(xlo, xlo + r.width() * xPerPixel);
        c->yAxis->setRange(ylo, ylo + r.height() * yPerPixel);
        c->replot();
    }
    moveMouse(c, QPoint(qRound(c->xAxis->coordToPixel(x)), qRound(c->yAxis->coordToPixel(y))));
    QCOMPARE(win.status(), text);
    QCOMPARE(win.w->crossShown(), inside);
}

void TestWindow::crossInvertsAndRestores()
{
    TempDir dir;
    Window win;
    win.click("Bt_RAW", writeRawScan(dir.path().string(), "S.RAW", 10.0f, 0.02f, rawCounts(500)));
    CrossChart* c = win.chart();
    const QRect r = c->plotRect();
    const QImage base = win.picture();

    const QPoint p1 = r.center();
    moveMouse(c, p1);
    QVERIFY(win.w->crossShown());
    QCOMPARE(QPoint(win.w->lastX(), win.w->lastY()), p1);
    QImage shown = win.picture();
    QCOMPARE(shown, withCrosses(base, r, {p1}));
    QVERIFY(shown.pixel(p1.x() + 1, p1.y()) != base.pixel(p1.x() + 1, p1.y()));
    QCOMPARE(shown.pixel(p1), base.pixel(p1)); // inverted twice where the lines cross

    // Moving inside: exactly one cross, at the pointer.
    const QPoint p2 = p1 + QPoint(37, -21);
    moveMouse(c, p2);
    QCOMPARE(win.picture(), withCrosses(base, r, {p2}));
    moveMouse(c, p2); // the same place again: still one cross there
    QCOMPARE(win.picture(), withCrosses(base, r, {p2}));

    // Over the margin: erased, the readout goes on.
    moveMouse(c, QPoint(r.left() - 3, p2.y()));
    QVERIFY(!win.w->crossShown());
    QCOMPARE(win.picture(), base);
    QVERIFY(win.status().startsWith(QStringLiteral("Cursor : 2\u03B8 ")));
}

void TestWindow::crossEdges_data()
{
    // Places along each axis of the plotting rectangle: "first" its first pixel, "last" its last,
    // "edge" its right or bottom edge, "before" the pixel before its first, "mid" its middle.
    QTest::addColumn<QString>("xAt");
    QTest::addColumn<QString>("yAt");
    QTest::addColumn<bool>("inside");
    QTest::newRow("top-left corner") << "first" << "first" << true;
    QTest::newRow("last column and row") << "last" << "last" << true;
    QTest::newRow("right edge") << "edge" << "mid" << false;
    QTest::newRow("bottom edge") << "mid" << "edge" << false;
    QTest::newRow("left of the rectangle") << "before" << "mid" << false;
    QTest::newRow("above the rectangle") << "mid" << "before" << false;
}

void TestWindow::crossEdges()
{
    QFETCH(QString, xAt);
    QFETCH(QString, yAt);
    QFETCH(bool, inside);
    Window win;
    CrossChart* c = win.chart();
    const QRect r = c->plotRect();
    const auto place = [](const QString& at, int first, int size) {
        const std::map<QString, int> places = {
            {"first", first}, {"last", first + size - 1}, {"edge", first + size}, {"before", first - 1},
            {"mid", first + size / 2}};
        return places.at(at);
    };
    const QPoint p(place(xAt, r.left(), r.width()), place(yAt, r.top(), r.height()));
    const QImage base = win.picture();
    moveMouse(c, p);
    QCOMPARE(win.w->crossShown(), inside);
    QCOMPARE(win.picture(), inside ? withCrosses(base, r, {p}) : base);
}

void TestWindow::crossErasedOnLeaving()
{
    Window win;
    CrossChart* c = win.chart();
    const QImage base = win.picture();
    moveMouse(c, c->plotRect().center());
    QVERIFY(win.picture() != base);
    const QString readout = win.status();
    QVERIFY(readout.startsWith(QStringLiteral("Cursor : (")));
    leaveWidget(c);
    QVERIFY(!win.w->crossShown());
    QCOMPARE(win.picture(), base);
    QCOMPARE(win.status(), QStringLiteral("Cursor :")); // no reading of a pointer elsewhere
}

void TestWindow::mouseMoveRepaintsOnlyStrips()
{
    TempDir dir;
    Window win;
    win.click("Bt_RAW", writeRawScan(dir.path().string(), "S.RAW", 10.0f, 0.02f, rawCounts(500)));
    CrossChart* c = win.chart();
    const QRect r = c->plotRect();
    QCoreApplication::processEvents();

    struct PaintSpy : QObject {
        QRegion painted;
        bool eventFilter(QObject*, QEvent* e) override
        {
            if (e->type() == QEvent::Paint)
                painted += static_cast<QPaintEvent*>(e)->region();
            return false;
        }
    } spy;
    c->installEventFilter(&spy);
    int replots = 0;
    QObject::connect(c, &QCustomPlot::afterReplot, [&] { ++replots; });

    const QPoint p1 = r.center();
    const QPoint p2 = p1 + QPoint(10, 10);
    moveMouse(c, p1);
    QCoreApplication::processEvents();
    spy.painted = QRegion();
    moveMouse(c, p2);
    QCoreApplication::processEvents();
    QRegion strips;
    for (const QPoint& p : {p1, p2})
        strips += QRegion(r.left(), p.y(), r.width(), 1) + QRegion(p.x(), r.top(), 1, r.height());
    QCOMPARE(spy.painted, strips);
    QCOMPARE(replots, 0);
}

void TestWindow::noStrayCrossAfterReplot()
{
    TempDir dir;
    const std::string raw = writeRawScan(dir.path().string(), "S.RAW", 10.0f, 0.02f, rawCounts(500));
    const std::string raw2 = writeRawScan(dir.path().string(), "T.RAW", 5.0f, 0.05f, rawCounts(200));
    Window win;
    win.click("Bt_RAW", raw);
    CrossChart* c = win.chart();
    moveMouse(c, c->plotRect().center());
    win.click("Bt_RAW", raw2); // a new pattern, replotted under the cross

    // Leaving erases the cross the window shows, and no other stays behind.
    moveMouse(c, QPoint(1, 1));
    const QImage left = win.picture();
    c->replot();
    QCOMPARE(left, win.picture());

    // Entering again shows one cross, at the pointer.
    const QPoint p = c->plotRect().center() + QPoint(-15, 8);
    moveMouse(c, p);
    QCOMPARE(win.picture(), withCrosses(left, c->plotRect(), {p}));
}

void TestWindow::gestures_data()
{
    QTest::addColumn<QString>("gesture");
    QTest::addColumn<double>("xlo"); // the bottom axis afterwards, axes at first 0..100 both
    QTest::addColumn<double>("xhi");
    QTest::newRow("left drag pans") << "drag" << -50.0 << 50.0;
    QTest::newRow("Ctrl + left drag zooms to the box") << "box" << 25.0 << 75.0;
    QTest::newRow("wheel zooms in at the pointer") << "wheel" << 50.0 - 50.0 * 0.85 << 50.0 + 50.0 * 0.85;
}

void TestWindow::gestures()
{
    QFETCH(QString, gesture);
    QFETCH(double, xlo);
    QFETCH(double, xhi);
    Window win;
    CrossChart* c = win.chart();
    c->xAxis->setRange(0, 100);
    c->yAxis->setRange(0, 100);
    c->replot();
    // Pixels of the axes as they were before the gesture.
    const QPointF origin(c->xAxis->coordToPixel(0), c->yAxis->coordToPixel(0));
    const QPointF perUnit(c->xAxis->coordToPixel(1) - origin.x(), c->yAxis->coordToPixel(1) - origin.y());
    const auto at = [=](double x, double y) { return origin + QPointF(x * perUnit.x(), y * perUnit.y()); };
    const auto send = [c](QEvent::Type type, QPointF pos, Qt::MouseButton button, Qt::MouseButtons held,
                          Qt::KeyboardModifiers mods) {
        QMouseEvent e(type, pos, c->mapToGlobal(pos), button, held, mods);
        QApplication::sendEvent(c, &e);
    };
    if (gesture == QLatin1String("wheel")) {
        const QPointF pos = at(50, 50);
        QWheelEvent e(pos, c->mapToGlobal(pos), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
        QApplication::sendEvent(c, &e);
    } else {
        const Qt::KeyboardModifiers mods = gesture == QLatin1String("box") ? Qt::ControlModifier : Qt::NoModifier;
        send(QEvent::MouseButtonPress, at(25, 25), Qt::LeftButton, Qt::LeftButton, mods);
        send(QEvent::MouseMove, at(50, 50), Qt::NoButton, Qt::LeftButton, mods);
        send(QEvent::MouseMove, at(75, 75), Qt::NoButton, Qt::LeftButton, mods);
        send(QEvent::MouseButtonRelease, at(75, 75), Qt::LeftButton, Qt::NoButton, mods);
    }
    QCoreApplication::processEvents();
    // Events fall on whole pixels: within two pixels' worth of the bottom axis.
    const double pixel = 2 * 100.0 / c->plotRect().width();
    QVERIFY2(std::abs(c->xAxis->range().lower - xlo) < pixel, qPrintable(QString::number(c->xAxis->range().lower)));
    QVERIFY2(std::abs(c->xAxis->range().upper - xhi) < pixel, qPrintable(QString::number(c->xAxis->range().upper)));
}

void TestWindow::doubleClickScales_data()
{
    QTest::addColumn<float>("start");
    QTest::addColumn<int>("steps");
    QTest::addColumn<double>("xlo");
    QTest::addColumn<double>("xhi");
    QTest::newRow("angles above 0") << 10.0f << 500 << 10.0 << 10 + 499 * 0.02;
    QTest::newRow("angles below 0") << -20.0f << 500 << -20.0 << -20 + 499 * 0.02;
    QTest::newRow("no pattern") << 0.0f << 0 << 0.0 << 40.0;
}

void TestWindow::doubleClickScales()
{
    QFETCH(float, start);
    QFETCH(int, steps);
    QFETCH(double, xlo);
    QFETCH(double, xhi);
    TempDir dir;
    Window win;
    if (steps > 0)
        win.click("Bt_RAW", writeRawScan(dir.path().string(), "S.RAW", start, 0.02f, rawCounts(steps)));
    CrossChart* c = win.chart();
    const QCPRange yBefore(-7, 3);
    c->xAxis->setRange(22, 40); // zoomed and moved by the user
    c->yAxis->setRange(yBefore);
    c->replot();
    QTest::mouseDClick(c, Qt::LeftButton, Qt::NoModifier, c->plotRect().center());

    QVERIFY(std::abs(c->xAxis->range().lower - xlo) < 1e-4);
    QVERIFY(std::abs(c->xAxis->range().upper - xhi) < 1e-4);
    if (steps > 0) { // counts 50 to 1000: from 0 to 5% above the peak, as the first view
        QCOMPARE(c->yAxis->range().lower, 0.0);
        QCOMPARE(c->yAxis->range().upper, 1050.0);
        const QCPRange x = c->xAxis->range();
        const QCPRange y = c->yAxis->range();
        // + zooms both axes by 0.8 about the centre, Right pans by a tenth, Home shows all again.
        QTest::keyClick(c, Qt::Key_Plus);
        QCOMPARE(c->xAxis->range().size(), x.size() * 0.8);
        QCOMPARE(c->yAxis->range().center(), y.center());
        const QCPRange zoomed = c->xAxis->range();
        QTest::keyClick(c, Qt::Key_Right);
        QCOMPARE(c->xAxis->range().lower, zoomed.lower + zoomed.size() * 0.1);
        QTest::keyClick(c, Qt::Key_Home);
        QVERIFY(c->xAxis->range() == x && c->yAxis->range() == y);
        QCOMPARE(c->focusPolicy(), Qt::StrongFocus);
    } else {
        QVERIFY(c->yAxis->range() == yBefore); // nothing to fit
    }
}

// ---------------------------------------------------------------------------------------------

void TestWindow::kindOfDroppedFile_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content"); // empty: the file does not exist
    QTest::addColumn<QString>("kind");       // RAW, DAT or none
    QTest::newRow("RAW2 bytes") << "a.RAW" << QByteArray("RAW2\0\0\0", 7) << "RAW";
    QTest::newRow("RAW1.01 bytes under another name") << "b.dat" << QByteArray("RAW1.01\0", 8) << "RAW";
    QTest::newRow("DAT bytes under a RAW name") << "c.raw" << QByteArray("\x4b\x02\x00\x10\x02", 5) << "DAT";
    QTest::newRow("too short, RAW name") << "d.Raw" << QByteArray("RA") << "RAW";
    QTest::newRow("too short, DAT name") << "e.DAT" << QByteArray("RA") << "DAT";
    QTest::newRow("missing, RAW name") << "f.RAW" << QByteArray() << "RAW";
    QTest::newRow("missing, other name") << "g.txt" << QByteArray() << "none";
    QTest::newRow("CAL bytes under a DAT name") << "h.DAT" << QByteArray("\x4b\x64\0\0", 4) << "none";
    QTest::newRow("a PNG image") << "i.png" << QByteArray("\x89PNG\r\n", 6) << "none";
}

void TestWindow::kindOfDroppedFile()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QString, kind);
    TempDir dir;
    const QString path = q(dir.file(name.toStdString()));
    if (!content.isEmpty())
        writeBytes(path.toStdString(), std::vector<std::uint8_t>(content.begin(), content.end()));
    const auto k = TRawDat::kindOfFile(path);
    QCOMPARE(QString(!k ? "none" : *k == FileKind::Raw ? "RAW" : "DAT"), kind);
}

void TestWindow::droppedFilesRunTheirCommands()
{
    TempDir dir;
    const std::string dat = writeDatScan(dir.path().string());
    const std::string raw = writeRawScan(dir.path().string(), "S2.RAW", 10.0f, 0.02f, rawCounts(500));
    Window win;
    // Several files are converted together, as a batch, and the window says what was done.
    QVERIFY(win.drop({q(dat), q(raw)}));
    QTRY_COMPARE(int(win.boxes.seen.size()), 1);
    QCOMPARE(win.boxes.seen[0].text, QStringLiteral("2 files: 2 converted, 0 kept (outputs exist), 0 failed"));
    QVERIFY(win.kinds.empty()); // no dialog
    for (const char* f : {"S1.RAW", "S1.2CL", "S2.TXT", "S2.2CL"})
        QVERIFY2(fs::exists(dir.path() / f), f);
    win.boxes.seen.clear();

    // One file goes to its command.
    QVERIFY(win.drop({q(raw)}));
    QTRY_COMPARE(win.label("Lb_raw"), q(raw));
    QVERIFY(win.kinds.empty());
    QCOMPARE(win.label("Lb_dat"), QString()); // the DAT file is no longer in view
    QCOMPARE(win.memo(), (QStringList{"size : 500", "step :  0.0200", "2th init : 10.0000"}));
    QCOMPARE(win.points(), 500);
    QCOMPARE(int(win.boxes.seen.size()), 1); // S2.TXT exists now: the usual question
    QCOMPARE(win.boxes.seen[0].text, QStringLiteral("file already exists. erase?"));
    win.boxes.seen.clear();

    // A dropped calibration is recognised by its content, as the converter does.
    const std::string cal = (dir.path() / "X.CAL").string();
    writeBytes(cal, {0x4B, 0x64, 0, 0});
    QVERIFY(win.drop({q(cal)}));
    QTRY_COMPARE(int(win.boxes.seen.size()), 1);
    QCOMPARE(win.boxes.seen[0].text, q(cal) + QStringLiteral(": not a DAT or RAW file"));
    QCOMPARE(win.points(), 500);
}

void TestWindow::fileDroppedDuringACommandRunsAfterIt()
{
    TempDir dir;
    const std::string dat = writeDatScan(dir.path().string());
    const std::string raw = writeRawScan(dir.path().string(), "S2.RAW", 10.0f, 0.02f, rawCounts(500));
    writeText((dir.path() / "S1.RAW").string(), "old raw"); // the DAT command will ask
    Window win;
    QString rawLabelDuringTheQuestion;
    win.boxes.onBox = [&](QMessageBox*) {
        QVERIFY(win.drop({q(raw)}));
        QCoreApplication::processEvents(); // the drop's own turn comes while the command runs
        rawLabelDuringTheQuestion = win.label("Lb_raw");
    };
    win.boxes.setAnswers({"&Non"});
    win.click("Bt_dat", dat);
    QCOMPARE(rawLabelDuringTheQuestion, QString());
    QCOMPARE(win.label("Lb_dat"), q(dat));
    QTRY_COMPARE(win.label("Lb_raw"), q(raw));
    QCOMPARE(win.points(), 500);
    QCOMPARE(readText((dir.path() / "S1.RAW").string()), std::string("old raw"));
}

void TestWindow::dragEnterTakesOnlyFiles()
{
    Window win;
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/x.DAT"))});
    QMimeData text;
    text.setText(QStringLiteral("/tmp/x.DAT"));
    QMimeData remote;
    remote.setUrls({QUrl(QStringLiteral("https://example.org/x.DAT"))});
    for (auto [mime, accepted] : {std::pair{&files, true}, std::pair{&text, false}, std::pair{&remote, false}}) {
        QDragEnterEvent e(QPoint(10, 10), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        e.setAccepted(false);
        QApplication::sendEvent(win.w.get(), &e);
        QCOMPARE(e.isAccepted(), accepted);
    }
}

void TestWindow::savesPictures()
{
    TempDir dir;
    Window win;
    win.click("Bt_RAW", writeRawScan(dir.path().string(), "S.RAW", 10.0f, 0.02f, rawCounts(500)));
    moveMouse(win.chart(), win.chart()->plotRect().center()); // the cross is not part of the picture

    const QString png = q(dir.file("plot.png"));
    QVERIFY(win.w->savePicture(png));
    QImage image(png);
    QCOMPARE(image.size(), win.chart()->size());
    // Titled with the file's name while it is drawn; the plot keeps its own title.
    auto* title = qobject_cast<QCPTextElement*>(win.chart()->plotLayout()->element(0, 0));
    const QString own = title->text();
    title->setText(QStringLiteral("S.RAW"));
    const QImage titled = win.chart()->toPixmap().toImage().convertToFormat(QImage::Format_RGB32);
    title->setText(own);
    QCOMPARE(image.convertToFormat(QImage::Format_RGB32), titled);
    QCOMPARE(title->text(), own);

    // A chosen size and resolution: 2000 x 1000 pixels at 300 dots per inch.
    QVERIFY(win.w->savePicture(png, QSize(2000, 1000), 300));
    image = QImage(png);
    QCOMPARE(image.size(), QSize(2000, 1000));
    QCOMPARE(image.dotsPerMeterX(), qRound(300 / 0.0254));

    const QString svg = q(dir.file("plot.svg"));
    QVERIFY(win.w->savePicture(svg));
    const std::string svgText = readText(svg.toStdString());
    QVERIFY(svgText.find("<svg") != std::string::npos);
    QVERIFY(svgText.find("<title>S.RAW</title>") != std::string::npos);

    const QString pdf = q(dir.file("plot.PDF"));
    QVERIFY(win.w->savePicture(pdf));
    QCOMPARE(readText(pdf.toStdString()).substr(0, 5), std::string("%PDF-"));

    QVERIFY(!win.w->savePicture(q(dir.file("no/such/folder/plot.png"))));
}

void TestWindow::contextMenuSavesPicture()
{
    TempDir dir;
    Window win;
    win.w->setSaveChooser([&] { return std::optional<QString>(q(dir.file("menu"))); });
    for (const QString& entry : {QStringLiteral("Save as PNG\u2026"), QStringLiteral("Save as PDF\u2026")})
        QCOMPARE(chooseFromChartMenu(win, entry),
                 (QStringList{"Save as PNG\u2026", "Save as PDF\u2026", "Save data as\u2026 (off)"})); // no pattern yet
    QVERIFY(!QImage(q(dir.file("menu.png"))).isNull());
    QCOMPARE(readText(dir.file("menu.pdf")).substr(0, 5), std::string("%PDF-"));
}

// ---------------------------------------------------------------------------------------------

namespace {

QAction* action(const Window& win, const char* name)
{
    return win.w->findChild<QAction*>(QLatin1String(name));
}

QStringList menuTexts(const QMenu* menu)
{
    QStringList texts;
    for (const QAction* a : menu->actions())
        if (!a->isSeparator())
            texts << a->text() +
                         (a->shortcut().isEmpty() ? QString() : QLatin1Char('\t') + a->shortcut().toString());
    return texts;
}

} // namespace

void TestWindow::menusRunTheCommands()
{
    TempDir dir;
    const std::string dat = writeDatScan(dir.path().string());
    const std::string raw = writeRawScan(dir.path().string(), "S2.RAW", 10.0f, 0.02f, rawCounts(500));
    Window win;
    QStringList menus;
    for (const QAction* a : win.w->menuBar()->actions())
        menus << a->text();
    QCOMPARE(menus, (QStringList{"&File", "&View", "&Tools", "&Help"}));
    QCOMPARE(menuTexts(win.child<QMenu>("ToolsMenu")), QStringList{"&Calibrate from standard\u2026"});
    QCOMPARE(menuTexts(win.child<QMenu>("FileMenu")),
             (QStringList{"&Open\u2026\tCtrl+O", "Open &DAT file\u2026\tCtrl+D", "Open &RAW file\u2026\tCtrl+R",
                          "&Convert files\u2026\tCtrl+Shift+O", "Open r&ecent",
                          "&Save plot\u2026\tCtrl+S", "Save &data as\u2026\tCtrl+E", "&Add to plot\u2026",
                          "C&lear overlay", "&Quit\tCtrl+Q"}));
    QCOMPARE(menuTexts(win.child<QMenu>("ViewMenu")),
             (QStringList{"&Linear intensity", "&Square-root intensity", "L&ogarithmic intensity\tCtrl+L",
                          "x in &2\u03B8 (\u00B0)", "x in &d (\u00C5)", "x in &Q (\u00C5\u207B\u00B9)",
                          "&Next range\tCtrl+PgDown", "&Previous range\tCtrl+PgUp", "Show &all"}));
    QCOMPARE(menuTexts(win.child<QMenu>("HelpMenu")), QStringList{"&About rawdat"});

    // The shortcuts run the commands as the buttons do.
    win.paths << q(dat);
    QTest::keyClick(win.w.get(), Qt::Key_D, Qt::ControlModifier);
    QCOMPARE(win.label("Lb_dat"), q(dat));
    win.paths << q(raw);
    QTest::keyClick(win.w.get(), Qt::Key_R, Qt::ControlModifier);
    QCOMPARE(win.label("Lb_raw"), q(raw));
    QCOMPARE(win.kinds, (std::vector<FileKind>{FileKind::Dat, FileKind::Raw}));
    // Open… takes either kind, by its content: a RAW file named .DAT goes to the RAW command.
    const std::string disguised = dir.file("R.DAT");
    fs::copy_file(raw, disguised);
    win.paths << q(disguised);
    QTest::keyClick(win.w.get(), Qt::Key_O, Qt::ControlModifier);
    QTRY_COMPARE(win.label("Lb_raw"), q(disguised));
    QCOMPARE(win.w->windowTitle(), QStringLiteral("R.DAT \u2014 rawdat"));
    QVERIFY(fs::exists(dir.path() / "R.TXT"));

    // Save plot: the format by the name, PNG when it has none; the axes are labelled.
    QCOMPARE(win.chart()->xAxis->label(), QStringLiteral("2\u03B8 (\u00B0)"));
    QCOMPARE(win.chart()->yAxis->label(), QStringLiteral("Intensity (counts)"));
    for (const char* name : {"plot", "plot.pdf"}) {
        win.w->setSaveChooser([&] { return std::optional<QString>(q(dir.file(name))); });
        QTest::keyClick(win.w.get(), Qt::Key_S, Qt::ControlModifier);
    }
    QCOMPARE(QImage(q(dir.file("plot.png"))).size(), win.chart()->size());
    QCOMPARE(readText(dir.file("plot.pdf")).substr(0, 5), std::string("%PDF-"));

    // About: the version, the license and the Qt version.
    action(win, "AboutAction")->trigger();
    QCOMPARE(int(win.boxes.seen.size()), 1);
    QCOMPARE(win.boxes.seen[0].title, QStringLiteral("About rawdat"));
    for (const QString& part : {QStringLiteral("rawdat " RAWDAT_VERSION), QStringLiteral("GPL-3.0-or-later"),
                                QStringLiteral("Qt ") + QLatin1String(qVersion())})
        QVERIFY2(win.boxes.seen[0].text.contains(part), qPrintable(part));

    win.w->activateWindow(); // the box had the focus
    QVERIFY(QTest::qWaitForWindowActive(win.w.get()));
    QTest::keyClick(win.w.get(), Qt::Key_Q, Qt::ControlModifier);
    QVERIFY(!win.w->isVisible());
    QVERIFY(!win.w->state().Data);
}

void TestWindow::rememberedBetweenRuns()
{
    TempDir dir;
    std::vector<std::string> files;
    for (int i = 0; i < 12; ++i)
        files.push_back(writeRawScan(dir.path().string(), "R" + std::to_string(i) + ".RAW", 10.0f, 0.02f,
                                     rawCounts(100 + i)));
    const QRect placed(150, 90, 900, 600);
    {
        Window win;
        for (const auto& f : files)
            win.click("Bt_RAW", f);
        win.click("Bt_RAW", files[3]); // opened again: first, not twice
        win.click("Bt_RAW", (dir.path() / "MISSING.RAW").string());
        win.w->setGeometry(placed);
        QCoreApplication::processEvents();
        win.w->close();
    }
    QStringList expected = {q(files[3])};
    for (int i = 11; expected.size() < TRawDat::kRecentFiles; --i)
        if (i != 3)
            expected << q(files[static_cast<std::size_t>(i)]);
    QCOMPARE(TRawDat::recentFiles(), expected);

    Window win;
    QCOMPARE(win.w->geometry(), placed);
    auto* recent = win.child<QMenu>("RecentMenu");
    emit recent->aboutToShow();
    QCOMPARE(recent->actions().size(), 10);
    QCOMPARE(recent->actions().at(1)->text(), QStringLiteral("&2 ") + QDir::toNativeSeparators(expected[1]));
    recent->actions().at(1)->trigger(); // opened by its content, without a dialog
    QTRY_COMPARE(win.label("Lb_raw"), expected[1]);
    QCOMPARE(win.points(), 111);
    QVERIFY(win.kinds.empty());
}

void TestWindow::commandLineFilesOpenAsDropped()
{
    TempDir dir;
    writeDatScan(dir.path().string());
    writeRawScan(dir.path().string(), "S2.RAW", 10.0f, 0.02f, rawCounts(500));
    QDir::setCurrent(q(dir.path().string()));
    Window win;
    win.w->openFiles({QStringLiteral("S2.RAW"), QStringLiteral("S1.DAT")}); // relative to the start's folder
    QTRY_COMPARE(win.label("Lb_dat"), q(dir.file("S1.DAT")));
    QCOMPARE(win.label("Lb_raw"), q(dir.file("S1.RAW")));
    QVERIFY(win.kinds.empty());
    QVERIFY(win.boxes.seen.empty());
    for (const char* f : {"S1.RAW", "S1.2CL", "S2.TXT", "S2.2CL"})
        QVERIFY2(fs::exists(dir.path() / f), f);
}

void TestWindow::readoutFollowsTheView()
{
    TempDir dir;
    Window win;
    win.click("Bt_RAW", writeRawScan(dir.path().string(), "S.RAW", 10.0f, 0.02f, rawCounts(500)));
    CrossChart* c = win.chart();
    const QPoint p = c->plotRect().center() + QPoint(30, 20);
    // The step of the scan in view nearest to the pointer's column: its angle, d (at the
    // wavelength the RAW reader gives) and counts.
    float start = 10.0f;
    float step = 0.02f;
    int steps = 500;
    const auto reading = [&] {
        const int i = std::clamp(int(std::lround((c->xAxis->pixelToCoord(p.x()) - start) / step)), 0, steps - 1);
        const double angle = static_cast<float>(start + i * static_cast<long double>(step));
        return QStringLiteral("Cursor : 2\u03B8 ") + q(fixedText(angle, 3)) + QStringLiteral("\u00B0  d ") +
               q(fixedText(1.54056 / (2 * std::sin(angle * M_PI / 360)), 4)) + QStringLiteral(" \u00C5  ") +
               QString::number(rawCounts(steps)[i]) + QStringLiteral(" counts");
    };
    moveMouse(c, p);
    const QString first = win.status();
    QCOMPARE(first, reading());

    // The view moves under the still pointer: zoomed, double-clicked, a new pattern.
    c->xAxis->setRange(12, 16);
    c->replot();
    QCOMPARE(win.status(), reading());
    QVERIFY(win.status() != first);
    QTest::mouseDClick(c, Qt::LeftButton, Qt::NoModifier, p);
    QCOMPARE(win.status(), reading());
    win.click("Bt_RAW", writeRawScan(dir.path().string(), "T.RAW", 30.0f, 0.05f, rawCounts(300)));
    start = 30.0f;
    step = 0.05f;
    steps = 300;
    QCOMPARE(win.status(), reading());
    QVERIFY(win.status().startsWith(QStringLiteral("Cursor : 2\u03B8 3")));

    leaveWidget(c);
    QCOMPARE(win.status(), QStringLiteral("Cursor :"));
    c->xAxis->setRange(0, 5);
    c->replot();
    QCOMPARE(win.status(), QStringLiteral("Cursor :"));
}

void TestWindow::viewStopsAtAMarginAroundTheData_data()
{
    // A RAW scan of 500 steps by 0.02 from `start`, counts 50 to 1000; the view asked for, and
    // the bottom and left axes that result.
    QTest::addColumn<float>("start");
    QTest::addColumn<QCPRange>("xAsked");
    QTest::addColumn<QCPRange>("yAsked");
    QTest::addColumn<QCPRange>("xShown");
    QTest::addColumn<QCPRange>("yShown");
    const double xMargin = 499 * 0.02 * 0.05;
    const double yMargin = 1000 * 0.05; // the first view's: 5% of the view from 0
    QTest::newRow("zoomed out: the data and the margin, from 0")
        << 10.0f << QCPRange(-500, 500) << QCPRange(-1e6, 1e6) << QCPRange(0, 19.98 + xMargin)
        << QCPRange(0, 1000 + yMargin);
    QTest::newRow("panned below 0: stops at 0")
        << 10.0f << QCPRange(-8, -4) << QCPRange(-300, -100) << QCPRange(0, 4) << QCPRange(0, 200);
    QTest::newRow("panned past the end: stops at the margin")
        << 10.0f << QCPRange(30, 34) << QCPRange(2000, 2500) << QCPRange(15.98 + xMargin, 19.98 + xMargin)
        << QCPRange(500 + yMargin, 1000 + yMargin);
    QTest::newRow("negative angles: the margin below them")
        << -20.0f << QCPRange(-40, -30) << QCPRange(100, 200) << QCPRange(-20 - xMargin, -10 - xMargin)
        << QCPRange(100, 200);
}

void TestWindow::viewStopsAtAMarginAroundTheData()
{
    QFETCH(float, start);
    QFETCH(QCPRange, xAsked);
    QFETCH(QCPRange, yAsked);
    QFETCH(QCPRange, xShown);
    QFETCH(QCPRange, yShown);
    TempDir dir;
    Window win;
    win.click("Bt_RAW", writeRawScan(dir.path().string(), "S.RAW", start, 0.02f, rawCounts(500)));
    CrossChart* c = win.chart();
    c->xAxis->setRange(xAsked);
    c->yAxis->setRange(yAsked);
    const auto near = [](const QCPRange& a, const QCPRange& b) {
        return std::abs(a.lower - b.lower) < 1e-4 && std::abs(a.upper - b.upper) < 1e-4;
    };
    QVERIFY2(near(c->xAxis->range(), xShown),
             qPrintable(QStringLiteral("%1 %2").arg(c->xAxis->range().lower).arg(c->xAxis->range().upper)));
    QVERIFY2(near(c->yAxis->range(), yShown),
             qPrintable(QStringLiteral("%1 %2").arg(c->yAxis->range().lower).arg(c->yAxis->range().upper)));
}

void TestWindow::minimumSizeKeepsMemoAndQuitWhole()
{
    Window win;
    win.w->resize(200, 100);
    QCoreApplication::processEvents();
    QCOMPARE(win.w->size(), win.w->minimumSize());
    for (const char* name : {"Mem", "Quit"}) {
        auto* c = win.child<QWidget>(name);
        const QRect inWindow(c->mapTo(win.w.get(), QPoint(0, 0)), c->size());
        QVERIFY2(win.w->rect().contains(inWindow), name);
    }
    QVERIFY(win.chart()->height() >= 100);
    // No two visible controls overlap, but for a control and the ones inside it.
    QList<QWidget*> shown;
    for (QWidget* c : win.w->findChildren<QWidget*>())
        if (c->isVisibleTo(win.w.get()) && c->isWindow() == false && !c->inherits("QScrollBar") &&
            c->parentWidget() && c->parentWidget()->objectName() != QStringLiteral("qt_scrollarea_viewport"))
            shown << c;
    const auto inWindow = [&](QWidget* c) { return QRect(c->mapTo(win.w.get(), QPoint(0, 0)), c->size()); };
    for (QWidget* a : shown)
        for (QWidget* b : shown)
            if (a < b && !a->isAncestorOf(b) && !b->isAncestorOf(a) && a->parentWidget() == b->parentWidget())
                QVERIFY2(!inWindow(a).intersects(inWindow(b)),
                         qPrintable(a->objectName() + QStringLiteral(" / ") + b->objectName() + QStringLiteral(" ") +
                                    a->metaObject()->className() + QStringLiteral(" ") + b->metaObject()->className()));
}

// ---------------------------------------------------------------------------------------------

void TestWindow::quitReleasesAndCloses()
{
    for (bool converted : {false, true}) {
        TempDir dir;
        Window win;
        if (converted) {
            win.click("Bt_dat", writeDatScan(dir.path().string()));
            QVERIFY(win.w->state().Data);
        }
        QTest::mouseClick(win.child<QPushButton>("Quit"), Qt::LeftButton);
        QVERIFY(!win.w->state().Data);
        QVERIFY(!win.w->isVisible());
    }
}

void TestWindow::windows1252Texts_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("header"); // as a header text
    QTest::addColumn<QString>("message"); // as a message
    QTest::newRow("ASCII") << QByteArray("taille : 12") << "taille : 12" << "taille : 12";
    QTest::newRow("quotes, micro, euro") << QByteArray("\x93" "A\x94 5\xb5m \x80") << "\u201CA\u201D 5\u00B5m \u20AC"
                                         << "\u201CA\u201D 5\u00B5m \u20AC";
    QTest::newRow("Latin-1 range") << QByteArray("caf\xe9 \xff") << "caf\u00E9 \u00FF" << "caf\u00E9 \u00FF";
    QTest::newRow("undefined bytes") << QByteArray("\x81\x8d\x8f\x90\x9d") << "\u0081\u008D\u008F\u0090\u009D"
                                     << "\u0081\u008D\u008F\u0090\u009D";
    QTest::newRow("ends at NUL") << QByteArray("ab\0cd", 5) << "ab" << "ab";
    QTest::newRow("UTF-8 message") << QByteArray("Acc\xc3\xa8s au fichier refus\xc3\xa9") << "Acc\u00C3\u00A8s au fichier refus\u00C3\u00A9"
                                   << "Acc\u00E8s au fichier refus\u00E9";
}

void TestWindow::windows1252Texts()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, header);
    QFETCH(QString, message);
    const std::string_view v(bytes.constData(), std::size_t(bytes.size()));
    QCOMPARE(fromWindows1252(v), header);
    QCOMPARE(messageText(v), message);
}

void TestWindow::bundledSample()
{
    const fs::path samples(RAWDAT_SAMPLES);
    fs::path dat;
    if (fs::exists(samples))
        for (const auto& e : fs::directory_iterator(samples))
            if (QString::fromStdString(e.path().extension().string()).compare(QStringLiteral(".DAT"), Qt::CaseInsensitive) == 0)
                dat = e.path();
    if (dat.empty())
        QSKIP("no bundled sample DAT file in samples/");

    TempDir dir;
    for (const auto& e : fs::directory_iterator(samples))
        fs::copy_file(e.path(), dir.path() / e.path().filename());
    const std::string copy = (dir.path() / dat.filename()).string();
    Window win;
    win.click("Bt_dat", copy);
    QVERIFY(win.boxes.seen.empty());
    QCOMPARE(win.memo().at(0), QStringLiteral("calibration : calibOK"));
    QVERIFY(win.points() > 0);
    const std::string raw = (dir.path() / dat.filename()).replace_extension(".RAW").string();
    QVERIFY(fs::exists(raw));

    // "Save data as…" writes the converted pattern; a name without extension gets .xy.
    win.w->setDataChooser([&] { return std::optional<QString>(q(dir.file("data"))); });
    chooseFromChartMenu(win, QStringLiteral("Save data as…"));
    const std::string xy = readText(dir.file("data.xy"));
    QCOMPARE(xy, xyFileText(win.w->state().LastPattern, XyFormat::Xy));
    QVERIFY(xy.find("\n# source: " + dat.filename().string() + "\n") != std::string::npos);
    QVERIFY(xy.find("\n# points: " + intText(win.w->state().Header.Size) + "\n") != std::string::npos);

    // The RAW file just written reads back with the converted pattern.
    win.click("Bt_RAW", raw);
    QVERIFY(win.boxes.seen.empty());
    QCOMPARE(win.points(), win.w->state().Header.Size);
}

// ---------------------------------------------------------------------------------------------

void TestWindow::intensityScales()
{
    TempDir dir;
    Window win;
    std::vector<std::int32_t> counts = rawCounts(500); // 50 to 1000
    counts[0] = 0;
    win.click("Bt_RAW", writeRawScan(dir.path().string(), "S.RAW", 10.0f, 0.02f, counts));
    CrossChart* c = win.chart();
    QCOMPARE(c->yAxis->scaleType(), QCPAxis::stLinear);
    QVERIFY(c->yAxis->range() == QCPRange(0, 1050));

    // Square root: the series holds the roots, the ticks are labelled in counts.
    action(win, "SqrtScaleAction")->trigger();
    QCOMPARE(c->scale(), IntensityScale::SquareRoot);
    QCOMPARE(c->series()->data()->at(250)->value, std::sqrt(1000.0));
    QCOMPARE(c->yAxis->range().upper, std::sqrt(1000.0) * 1.05);
    c->replot();
    const QVector<double> ticks = c->yAxis->tickVector();
    const QVector<QString> labels = c->yAxis->tickVectorLabels();
    QVERIFY(ticks.size() >= 3);
    for (int i = 0; i < ticks.size(); ++i)
        QVERIFY2(std::abs(ticks[i] * ticks[i] - labels[i].toDouble()) < 1e-6, qPrintable(labels[i]));

    // Ctrl+L: log, counts of 0 drawn at 0.5; again: back to the square root.
    QTest::keyClick(win.w.get(), Qt::Key_L, Qt::ControlModifier);
    QCOMPARE(c->yAxis->scaleType(), QCPAxis::stLogarithmic);
    QVERIFY(dynamic_cast<QCPAxisTickerLog*>(c->yAxis->ticker().data()));
    QVERIFY(action(win, "LogScaleAction")->isChecked());
    QCOMPARE(c->series()->data()->at(0)->value, 0.5);
    QCOMPARE(c->series()->data()->at(250)->value, 1000.0);
    QCOMPARE(c->yAxis->range().lower, 0.5);
    QCOMPARE(c->yAxis->range().upper, std::pow(10.0, 3 + 0.05 * (3 - std::log10(0.5))));
    QVERIFY(c->yAxis->label().contains(QStringLiteral("0.5")));
    QTest::keyClick(win.w.get(), Qt::Key_L, Qt::ControlModifier);
    QCOMPARE(c->scale(), IntensityScale::SquareRoot);
    QVERIFY(action(win, "SqrtScaleAction")->isChecked());

    // Every count 0: a flat line in a y range of 0 to 1, and a note.
    action(win, "LinearScaleAction")->trigger();
    QCOMPARE(c->note(), QString());
    win.click("Bt_RAW", writeRawScan(dir.path().string(), "Z.RAW", 10.0f, 0.02f, std::vector<std::int32_t>(300, 0)));
    QVERIFY(c->yAxis->range() == QCPRange(0, 1));
    QCOMPARE(c->note(), QStringLiteral("All counts are zero."));
    QTest::mouseDClick(c, Qt::LeftButton, Qt::NoModifier, c->plotRect().center());
    QVERIFY(c->yAxis->range() == QCPRange(0, 1));
}

void TestWindow::xUnitsOfAKnownPoint()
{
    TempDir dir;
    Window win;
    const std::vector<std::int32_t> counts = rawCounts(1001);
    win.click("Bt_RAW", writeRawScan(dir.path().string(), "S.RAW", 20.0f, 0.02f, counts)); // 2θ 30 at step 500
    CrossChart* c = win.chart();
    const double lambda = 1.54056; // what the RAW reader gives the header (copper K-alpha 1)
    const double sinTheta = std::sin(15 * M_PI / 180);
    const double d = lambda / (2 * sinTheta);
    const double qv = 4 * M_PI * sinTheta / lambda;
    const QString point = QStringLiteral("Cursor : 2\u03B8 30.000\u00B0  d ") + q(fixedText(d, 4)) + QStringLiteral(" \u00C5");
    const QString peak = QStringLiteral("  %1 counts").arg(counts[500]);
    const auto pointTo = [&](double x) {
        c->xAxis->setRange(x - 0.01, x + 0.01);
        c->replot();
        moveMouse(c, QPoint(qRound(c->xAxis->coordToPixel(x)), c->plotRect().center().y()));
    };

    pointTo(30.0);
    QCOMPARE(win.status(), point + peak);
    action(win, "DSpacingAction")->trigger();
    QCOMPARE(c->xAxis->label(), QStringLiteral("d (\u00C5)"));
    pointTo(d);
    QCOMPARE(win.status(), point + peak);
    action(win, "QAction")->trigger();
    QCOMPARE(c->xAxis->label(), QStringLiteral("Q (\u00C5\u207B\u00B9)"));
    pointTo(qv);
    QCOMPARE(win.status(), point + QStringLiteral("  Q ") + q(fixedText(qv, 4)) + QStringLiteral(" \u00C5\u207B\u00B9") + peak);

    // Channels of a DAT file without its calibration: 2θ, d and Q are off, and x says "Channel".
    const std::string dat = writeDatScan(dir.path().string(), "N.DAT", false);
    win.click("Bt_dat", dat);
    QCOMPARE(c->xAxis->label(), QStringLiteral("Channel"));
    QCOMPARE(c->xUnit(), XUnit::TwoTheta);
    for (const char* a : {"TwoThetaAction", "DSpacingAction", "QAction"})
        QVERIFY2(!action(win, a)->isEnabled(), a);
}

void TestWindow::rangesSwitchAndExport()
{
#ifndef RAWDAT_CONVERT
    QSKIP("rawdat-convert is not built");
#else
    TempDir dir;
    fs::create_directories(dir.path() / "cli");
    const fs::path source = fs::path(RAWDAT_TESTDATA) / "raw" / "format1.raw"; // three ranges
    fs::copy_file(source, dir.path() / "F.RAW");
    fs::copy_file(source, dir.path() / "cli" / "F.RAW");
    QProcess convert;
    convert.start(QStringLiteral(RAWDAT_CONVERT), {QStringLiteral("--also"), QStringLiteral("xy"), q(dir.file("cli/F.RAW"))});
    QVERIFY(convert.waitForFinished(60000));
    QCOMPARE(convert.exitCode(), 0);

    Window win;
    win.click("Bt_RAW", dir.file("F.RAW"));
    QCOMPARE(win.w->rangeCount(), 3);
    QCOMPARE(win.w->rangeInView(), 0);
    std::vector<int> shown;
    connect(win.w.get(), &TRawDat::rangeShown, [&](int k) { shown.push_back(k); });
    QTest::keyClick(win.w.get(), Qt::Key_PageDown, Qt::ControlModifier);
    QCOMPARE(win.w->rangeInView(), 1);
    win.w->setDataChooser([&] { return std::optional<QString>(q(dir.file("range2.xy"))); });
    QTest::keyClick(win.w.get(), Qt::Key_E, Qt::ControlModifier);
    const std::string cli = readText(dir.file("cli/F_2.xy"));
    QCOMPARE(readText(dir.file("range2.xy")), cli);
    // The plot holds the same points.
    const auto points = std::count(cli.begin(), cli.end(), '\n') - std::count(cli.begin(), cli.end(), '#');
    QCOMPARE(win.points(), int(points));

    QTest::keyClick(win.w.get(), Qt::Key_PageDown, Qt::ControlModifier);
    QTest::keyClick(win.w.get(), Qt::Key_PageDown, Qt::ControlModifier); // there is no fourth
    QCOMPARE(win.w->rangeInView(), 2);
    auto* selector = win.child<QComboBox>("RangeSelector");
    QCOMPARE(selector->currentIndex(), 2); // the panel follows the keys
    emit selector->activated(0);            // and the plot follows the panel
    QCOMPARE(win.w->rangeInView(), 0);
    QCOMPARE(shown, (std::vector<int>{1, 2, 0}));
    QVERIFY(!action(win, "PreviousRangeAction")->isEnabled());
    win.w->setDataChooser([&] { return std::optional<QString>(q(dir.file("range1.xy"))); });
    QTest::keyClick(win.w.get(), Qt::Key_E, Qt::ControlModifier);
    QCOMPARE(readText(dir.file("range1.xy")), readText(dir.file("cli/F.xy")));
#endif
}

void TestWindow::overlayOfPatterns()
{
    TempDir dir;
    const std::string dat = writeDatScan(dir.path().string());
    Window win;
    win.click("Bt_dat", dat);
    win.click("Bt_RAW", dir.file("S1.RAW")); // the converted file in view, the DAT as read over it
    const auto files = [&] {
        std::map<std::string, std::uintmax_t> sizes;
        for (const auto& e : fs::directory_iterator(dir.path()))
            sizes[e.path().filename().string()] = e.file_size();
        return sizes;
    };
    const auto before = files();
    win.w->setOverlayChooser([&] { return QStringList{q(dat)}; });
    action(win, "AddToPlotAction")->trigger();
    CrossChart* c = win.chart();
    QCOMPARE(c->graphCount(), 2);
    QCOMPARE(c->graph(1)->data()->size(), kDatChannels);
    QCOMPARE(c->graph(1)->data()->at(0)->key, double(static_cast<float>(testAngle(1))));
    QVERIFY(c->graph(1)->pen().color() != c->series()->pen().color());
    QVERIFY(files() == before); // read, not converted

    // Ctrl held on a drop: drawn over, not converted.
    const std::string raw = writeRawScan(dir.path().string(), "T.RAW", 10.0f, 0.02f, rawCounts(500));
    QVERIFY(win.drop({q(raw)}, Qt::ControlModifier));
    QTRY_COMPARE(c->graphCount(), 3);
    QVERIFY(!fs::exists(dir.path() / "T.TXT"));
    QVERIFY(c->legend->visible());
    QStringList names;
    for (int i = 0; i < c->legend->itemCount(); ++i)
        names << static_cast<QCPPlottableLegendItem*>(c->legend->item(i))->plottable()->name();
    QCOMPARE(names, (QStringList{"S1.RAW", "S1.DAT", "T.RAW"}));
    QVERIFY(c->graph(2)->pen().color() != c->graph(1)->pen().color());

    action(win, "ClearOverlayAction")->trigger();
    QCOMPARE(c->graphCount(), 1);
    QVERIFY(!c->legend->visible());
    QVERIFY(!action(win, "ClearOverlayAction")->isEnabled());
    QCOMPARE(win.points(), c->series()->data()->size());
}

QTEST_MAIN(TestWindow)
// Tools > Calibrate from standard…: the sample's pattern against a list of ten of its twelve
// lines; the two others are the peaks not matched. Save CAL writes LAB6.CAL, and Convert makes
// the two-column file rawdat-convert makes with it, then the window shows the RAW file.
void TestWindow::calibrateFromStandard()
{
    TempDir dir;
    for (const char* f : {"LAB6.DAT", "CPS120.CAL"})
        fs::copy_file(fs::path(RAWDAT_SAMPLES) / f, dir.path() / f);
    const double n[] = {1, 2, 3, 4, 5, 6, 8, 9, 10, 11, 12, 13};
    std::string ten;
    for (double v : n)
        if (v != 5 && v != 11)
            ten += std::to_string(4.156826 / std::sqrt(v)) + "\n";
    writeText(dir.file("ten.txt"), ten);

    Window win;
    win.paths << q(dir.file("LAB6.DAT"));
    win.child<QMenu>("ToolsMenu")->actions().first()->trigger();
    auto* dialog = win.w->findChild<CalibrateDialog*>(QStringLiteral("CalibrateDialog"));
    QVERIFY(dialog);
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
    QCOMPARE(dialog->findChild<QDoubleSpinBox*>(QStringLiteral("WavelengthBox"))->value(), 1.54056);
    auto* standard = dialog->findChild<QComboBox*>(QStringLiteral("StandardBox"));
    QCOMPARE(standard->count(), 4);
    standard->setCurrentIndex(3); // d-spacings file…
    dialog->chooseLines = [&] { return std::optional<QString>(q(dir.file("ten.txt"))); };
    QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("CalibrateButton")), Qt::LeftButton);
    QCOMPARE(dialog->result().refusal, std::string());
    QCOMPARE(dialog->result().matched.size(), std::size_t(10));

    auto* pattern = dialog->findChild<QCustomPlot*>(QStringLiteral("PatternPlot"));
    QCOMPARE(pattern->graphCount(), 3);
    QCOMPARE(pattern->graph(1)->dataCount(), 10); // matched
    QCOMPARE(pattern->graph(2)->dataCount(), 2);  // not matched, in another colour
    QVERIFY(pattern->graph(1)->scatterStyle().pen().color() != pattern->graph(2)->scatterStyle().pen().color());
    QCOMPARE(pattern->itemCount(), 10);
    QCOMPARE(qobject_cast<QCPItemText*>(pattern->item(0))->text(), QStringLiteral("d=4.156826"));
    // The two peaks not matched are 210 and 311, at the channels where the full list puts them.
    const auto& unmatched = dialog->result().unmatched;
    QCOMPARE(unmatched.size(), std::size_t(2));
    QVERIFY(std::abs(unmatched[0] - 1467.0) < 1.0 && std::abs(unmatched[1] - 2383.8) < 1.0);
    auto* residuals = dialog->findChild<QCustomPlot*>(QStringLiteral("ResidualPlot"));
    QCOMPARE(residuals->graph(0)->dataCount(), 10);
    QCOMPARE(residuals->graph(0)->data()->at(0)->key, dialog->result().matched[0].expected);
    QCOMPARE(residuals->graph(0)->data()->at(0)->value, dialog->result().matched[0].residual);

    auto* save = dialog->findChild<QPushButton*>(QStringLiteral("SaveCalButton"));
    auto* convert = dialog->findChild<QPushButton*>(QStringLiteral("ConvertButton"));
    QVERIFY(save->isEnabled() && !convert->isEnabled());
    QTest::mouseClick(save, Qt::LeftButton);
    TLitdat lit;
    TCalibration cal;
    QVERIFY(lit.Lect_CAL(dir.file("LAB6.CAL"), cal));
    QCOMPARE(cal, dialog->result().cal);
    QCOMPARE(int(cal.KnotCount), 10);
    // Saved again: asked, and kept on a no.
    QStringList asked;
    dialog->askReplace = [&](const QString& path) {
        asked << QFileInfo(path).fileName();
        return false;
    };
    QVERIFY(!dialog->saveCal());
    QCOMPARE(asked, QStringList{"LAB6.CAL"});

    QVERIFY(convert->isEnabled());
    QTest::mouseClick(convert, Qt::LeftButton);
    QVERIFY(fs::exists(dir.path() / "LAB6.RAW"));
    QTRY_COMPARE(win.label("Lb_raw"), q(dir.file("LAB6.RAW")));
#ifdef RAWDAT_CONVERT
    TempDir other;
    for (const char* f : {"LAB6.DAT", "LAB6.CAL"})
        fs::copy_file(dir.path() / f, other.path() / f);
    const std::string cmd = "cd '" + other.path().string() + "' && '" RAWDAT_CONVERT "' -q --cal LAB6.CAL LAB6.DAT";
    QCOMPARE(std::system(cmd.c_str()), 0);
    QCOMPARE(readBytes(dir.file("LAB6.2CL")), readBytes(other.file("LAB6.2CL")));
#endif
    dialog->close();
}

#include "test_window.moc"
