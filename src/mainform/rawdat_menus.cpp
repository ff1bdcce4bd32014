// The window's menu bar and what it remembers between runs: the last folder of each dialog, the
// recent files and its geometry. Also the readout's refresh when the view moves under a still
// pointer, and the files named on the command line.
#include "mainform/rawdat_window.h"
#include "mainform/settings.h"
#include "mainform/status_panel.h"
#include "ulit_dat/numtext.h"

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

namespace rawdat {

namespace {

constexpr int kMinimumPlotHeight = 120;

QString folderKey(const QString& dialog)
{
    return QStringLiteral("folders/") + dialog;
}

} // namespace

void TRawDat::buildMenus()
{
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("FileMenu"));
    const auto add = [this](QMenu* menu, const char* name, const QString& text, const QKeySequence& keys,
                            auto slot) {
        QAction* a = menu->addAction(text, this, slot);
        a->setObjectName(QLatin1String(name));
        a->setShortcut(keys);
        return a;
    };
    add(file, "OpenDatAction", QStringLiteral("Open &DAT file\u2026"), QKeySequence(QStringLiteral("Ctrl+D")),
        &TRawDat::Bt_datClick);
    add(file, "OpenRawAction", QStringLiteral("Open &RAW file\u2026"), QKeySequence(QStringLiteral("Ctrl+R")),
        &TRawDat::Bt_RAWClick);
    add(file, "ConvertFilesAction", tr("&Convert files\u2026"), QKeySequence(QStringLiteral("Ctrl+Shift+O")),
        &TRawDat::convertFilesClick);
    recentMenu_ = file->addMenu(QStringLiteral("Open r&ecent"));
    recentMenu_->setObjectName(QStringLiteral("RecentMenu"));
    connect(recentMenu_, &QMenu::aboutToShow, this, &TRawDat::fillRecentMenu);
    fillRecentMenu();
    file->addSeparator();
    add(file, "SavePlotAction", QStringLiteral("&Save plot\u2026"), QKeySequence(QStringLiteral("Ctrl+S")),
        &TRawDat::savePlotClick);
    addPlotActions(file);
    file->addSeparator();
    add(file, "QuitAction", QStringLiteral("&Quit"), QKeySequence(QStringLiteral("Ctrl+Q")),
        &TRawDat::QuitClick);

    buildViewMenu();

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("HelpMenu"));
    add(help, "AboutAction", QStringLiteral("&About rawdat"), QKeySequence(), &TRawDat::aboutClick);

    // Small enough for a small screen, large enough for the memo and Quit to stay whole.
    setMinimumSize(Quit->geometry().right() + 1, menuBar()->sizeHint().height() + ToolBar1->height() +
                                                     StatusBar1->height() + kMinimumPlotHeight);
}

void TRawDat::restoreGeometryOfLastRun()
{
    const QByteArray geometry = WindowSettings().value(QStringLiteral("window/geometry")).toByteArray();
    // The first start keeps the window's own position and size.
    if (!geometry.isEmpty() && restoreGeometry(geometry))
        placed_ = true;
}

void TRawDat::closeEvent(QCloseEvent* event)
{
    WindowSettings().setValue(QStringLiteral("window/geometry"), saveGeometry());
    QMainWindow::closeEvent(event);
}

// ---- recent files and folders ----

QStringList TRawDat::recentFiles()
{
    return WindowSettings().value(QStringLiteral("recentFiles")).toStringList();
}

void TRawDat::addRecentFile(const QString& path)
{
    QStringList files = recentFiles();
    files.removeAll(path);
    files.prepend(path);
    while (files.size() > kRecentFiles)
        files.removeLast();
    WindowSettings().setValue(QStringLiteral("recentFiles"), files);
}

void TRawDat::fillRecentMenu()
{
    recentMenu_->clear();
    const QStringList files = recentFiles();
    for (int i = 0; i < files.size(); ++i) {
        const QString path = files.at(i);
        const QString number = i < 9 ? QStringLiteral("&%1").arg(i + 1) : QStringLiteral("1&0");
        recentMenu_->addAction(number + QLatin1Char(' ') + QDir::toNativeSeparators(path), this,
                               [this, path] { openFiles({path}); });
    }
    if (files.isEmpty())
        recentMenu_->addAction(QStringLiteral("No recent files"))->setEnabled(false);
}

QString TRawDat::dialogFolder(const QString& dialog)
{
    const QString folder = WindowSettings().value(folderKey(dialog)).toString();
    return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : QDir::currentPath();
}

void TRawDat::rememberFolder(const QString& dialog, const QString& file)
{
    WindowSettings().setValue(folderKey(dialog), QFileInfo(file).absolutePath());
}

void TRawDat::openFiles(const QStringList& paths)
{
    // Absolute now: each command changes the current folder to its file's.
    for (const QString& p : paths)
        dropQueue_.append(QFileInfo(p).absoluteFilePath());
    QTimer::singleShot(0, this, &TRawDat::processDropQueue);
}

// ---- Save plot, About ----

void TRawDat::savePlotClick()
{
    const QString png = QStringLiteral("PNG image (*.png)");
    const QString pdf = QStringLiteral("PDF document (*.pdf)");
    const QString svg = QStringLiteral("SVG drawing (*.svg)");
    QString filter = png;
    std::optional<QString> path;
    if (saveChooser_)
        path = saveChooser_();
    else
        path = QFileDialog::getSaveFileName(this, QStringLiteral("Save plot"),
                                            dialogFolder(QStringLiteral("SavePlot")),
                                            png + QStringLiteral(";;") + pdf + QStringLiteral(";;") + svg, &filter);
    if (!path || path->isEmpty())
        return;
    if (!path->endsWith(QStringLiteral(".png"), Qt::CaseInsensitive) &&
        !path->endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive) &&
        !path->endsWith(QStringLiteral(".svg"), Qt::CaseInsensitive))
        path->append(filter == pdf ? QStringLiteral(".pdf") : filter == svg ? QStringLiteral(".svg") : QStringLiteral(".png"));
    rememberFolder(QStringLiteral("SavePlot"), *path);
    QSize pixels;
    int dpi = 96;
    if (!saveChooser_ && path->endsWith(QStringLiteral(".png"), Qt::CaseInsensitive) && !askPictureSize(pixels, dpi))
        return;
    if (!savePicture(*path, pixels, dpi))
        reportError(
            ("The plot could not be saved to " + QDir::toNativeSeparators(*path) + ".").toStdString());
}

void TRawDat::aboutClick()
{
    QMessageBox box(QMessageBox::Information, QStringLiteral("About rawdat"),
                    QStringLiteral("rawdat " RAWDAT_VERSION "\n\n"
                                   "Converts and plots X-ray powder diffraction patterns.\n\n"
                                   "License: GNU General Public License, version 3 or later "
                                   "(GPL-3.0-or-later).\n"
                                   "Qt %1")
                        .arg(QString::fromLatin1(qVersion())),
                    QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("AboutBox"));
    box.exec();
}

// ---- the status bar ----

void TRawDat::showReadout(int X, int Y)
{
    pointer_ = QPoint(X, Y);
    pointerOverChart_ = true;
    StatusPanel1->setText(readoutText(X, Y));
}

// The view moved (zoom, pan, double-click, a new pattern) under a pointer that did not.
void TRawDat::refreshReadout()
{
    if (pointerOverChart_)
        showReadout(pointer_.x(), pointer_.y());
}

void TRawDat::noteKept(const std::string& path, bool twoColumnWritten)
{
    StatusPanel1->setText(QFileInfo(QFile::decodeName(QByteArray::fromStdString(path))).fileName() +
                          (twoColumnWritten ? QStringLiteral(" exists and was kept; the two-column file was written.")
                                            : QStringLiteral(" exists and was kept; nothing was written.")));
}

} // namespace rawdat
