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

QString folderKey(const QString& dialog)
{
    return QStringLiteral("folders/") + dialog;
}

} // namespace

void TRawDat::buildMenus()
{
    QMenu* file = menuBar()->addMenu(tr("&File"));
    file->setObjectName(QStringLiteral("FileMenu"));
    const auto add = [this](QMenu* menu, const char* name, const QString& text, const QKeySequence& keys,
                            auto slot) {
        QAction* a = menu->addAction(text, this, slot);
        a->setObjectName(QLatin1String(name));
        a->setShortcut(keys);
        return a;
    };
    // One Open… for either kind, by its content; the two commands of the buttons stay beside it.
    add(file, "OpenAction", tr("&Open\u2026"), QKeySequence::Open, &TRawDat::openClick);
    add(file, "OpenDatAction", tr("Open &DAT file\u2026"), QKeySequence(QStringLiteral("Ctrl+D")),
        &TRawDat::Bt_datClick);
    add(file, "OpenRawAction", tr("Open &RAW file\u2026"), QKeySequence(QStringLiteral("Ctrl+R")),
        &TRawDat::Bt_RAWClick);
    add(file, "ConvertFilesAction", tr("&Convert files\u2026"), QKeySequence(QStringLiteral("Ctrl+Shift+O")),
        &TRawDat::convertFilesClick);
    recentMenu_ = file->addMenu(tr("Open r&ecent"));
    recentMenu_->setObjectName(QStringLiteral("RecentMenu"));
    connect(recentMenu_, &QMenu::aboutToShow, this, &TRawDat::fillRecentMenu);
    fillRecentMenu();
    file->addSeparator();
    add(file, "SavePlotAction", tr("&Save plot\u2026"), QKeySequence(QStringLiteral("Ctrl+S")),
        &TRawDat::savePlotClick);
    addPlotActions(file);
    file->addSeparator();
    add(file, "QuitAction", tr("&Quit"), QKeySequence(QStringLiteral("Ctrl+Q")),
        &TRawDat::QuitClick);

    buildViewMenu();

    QMenu* tools = menuBar()->addMenu(tr("&Tools"));
    tools->setObjectName(QStringLiteral("ToolsMenu"));
    add(tools, "CalibrateAction", tr("&Calibrate from standard\u2026"), QKeySequence(), &TRawDat::calibrateClick);

    QMenu* help = menuBar()->addMenu(tr("&Help"));
    help->setObjectName(QStringLiteral("HelpMenu"));
    add(help, "AboutAction", tr("&About rawdat"), QKeySequence(), &TRawDat::aboutClick);

    // Small enough for a small screen; the layouts keep every control whole down to it.
    setMinimumSize(minimumSizeHint());
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
        recentMenu_->addAction(tr("No recent files"))->setEnabled(false);
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
    const QString png = tr("PNG image (*.png)");
    const QString pdf = tr("PDF document (*.pdf)");
    const QString svg = tr("SVG drawing (*.svg)");
    QString filter = png;
    std::optional<QString> path;
    if (saveChooser_)
        path = saveChooser_();
    else
        path = QFileDialog::getSaveFileName(this, tr("Save plot"), suggestedSave(QStringLiteral("SavePlot"), QStringLiteral("png")),
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
        reportError(tr("The plot could not be saved to %1.").arg(QDir::toNativeSeparators(*path)).toStdString());
}

QString TRawDat::suggestedSave(const QString& dialog, const QString& suffix) const
{
    if (state_.Shown.Path.empty())
        return dialogFolder(dialog);
    const QFileInfo shown(QFile::decodeName(QByteArray::fromStdString(state_.Shown.Path)));
    return shown.absoluteDir().filePath(shown.completeBaseName() + QLatin1Char('.') + suffix);
}

void TRawDat::openClick()
{
    std::optional<QString> path;
    if (chooser_) {
        path = chooser_(FileKind::Dat);
    } else {
        const QString folder = state_.Shown.Path.empty()
                                   ? dialogFolder(QStringLiteral("Open"))
                                   : QFileInfo(QFile::decodeName(QByteArray::fromStdString(state_.Shown.Path))).absolutePath();
        path = QFileDialog::getOpenFileName(this, tr("Open a DAT or RAW file"), folder,
                                            tr("DAT and RAW files (*.DAT *.dat *.RAW *.raw);;All files (*)"));
        if (path && !path->isEmpty())
            rememberFolder(QStringLiteral("Open"), *path);
    }
    if (path && !path->isEmpty())
        openFiles({*path});
}

void TRawDat::aboutClick()
{
    QMessageBox box(QMessageBox::Information, tr("About rawdat"),
                    tr("rawdat %1\n\n"
                       "Converts and plots X-ray powder diffraction patterns.\n\n"
                       "License: GNU General Public License, version 3 or later "
                       "(GPL-3.0-or-later).\n"
                       "Qt %2")
                        .arg(QStringLiteral(RAWDAT_VERSION), QString::fromLatin1(qVersion())),
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

} // namespace rawdat
