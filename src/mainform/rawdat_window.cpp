#include "mainform/rawdat_window.h"

#include "mainform/cp1252.h"
#include "mainform/status_panel.h"
#include "ulit_dat/fsio.h"
#include "ulit_dat/numtext.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>

namespace rawdat {

namespace {

constexpr QPoint kWindowPos(204, 114);
constexpr QSize kWindowSize(799, 521); // outer size, frame included
constexpr int kToolBarHeight = 73;
constexpr int kButtonHeight = 25;
constexpr int kQuitWidth = 75;
constexpr int kQuitHeight = 59;
constexpr int kStatusBarHeight = 19;
constexpr int kMemoColumns = 40;  // the memo's readable width, in average characters
constexpr int kPanelWidth = 240;  // the file panel beside the plot
constexpr QSize kMinimumPlot(320, 140);

QPushButton* makeButton(const char* name, const QString& caption, QWidget* parent)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    return b;
}

PathLabel* makeLabel(const char* name, QWidget* parent)
{
    auto* l = new PathLabel(parent);
    l->setObjectName(QLatin1String(name));
    return l;
}

QString decoded(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

bool byKey(const QCPGraphData& a, const QCPGraphData& b) { return a.key < b.key; }

} // namespace

TRawDat::TRawDat(QWidget* parent) : QMainWindow(parent)
{
    buildControls();
    buildMenus();
    restoreGeometryOfLastRun();
    FormCreate();
}

TRawDat::~TRawDat() = default;

void TRawDat::buildControls()
{
    setObjectName(QStringLiteral("RawDat"));
    setWindowTitle(tr("rawdat"));
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11); // height -11: 8 points at 96 dots per inch
    setFont(font);
    setAcceptDrops(true);

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("ClientArea"));
    auto* layout = new QVBoxLayout(client);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    // The tool bar: the two commands with their files' names, the memo, Quit; the extra width
    // goes to the names.
    ToolBar1 = new QWidget(client);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setFixedHeight(kToolBarHeight);
    auto* bar = new QHBoxLayout(ToolBar1);
    bar->setContentsMargins(0, 2, 2, kToolBarHeight - 2 - kQuitHeight);
    bar->setSpacing(2);

    Panel1 = new QFrame(ToolBar1);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel1->setProperty("caption", QStringLiteral(" "));
    auto* commands = new QGridLayout(Panel1);
    commands->setContentsMargins(2, 2, 4, 2);
    commands->setHorizontalSpacing(10);
    commands->setVerticalSpacing(0);
    Bt_dat = makeButton("Bt_dat", tr("&DAT file"), Panel1);
    Lb_dat = makeLabel("Lb_dat", Panel1);
    Bt_RAW = makeButton("Bt_RAW", tr("&RAW file"), Panel1);
    Lb_raw = makeLabel("Lb_raw", Panel1);
    for (QPushButton* b : {Bt_dat, Bt_RAW})
        b->setFixedHeight(kButtonHeight);
    commands->addWidget(Bt_dat, 0, 0);
    commands->addWidget(Lb_dat, 0, 1);
    commands->addWidget(Bt_RAW, 1, 0);
    commands->addWidget(Lb_raw, 1, 1);
    commands->setColumnStretch(1, 1);

    Mem = new QPlainTextEdit(ToolBar1);
    Mem->setObjectName(QStringLiteral("Mem"));
    Mem->setReadOnly(true);
    Mem->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    Mem->setTabChangesFocus(true);
    Mem->setAcceptDrops(false); // files dropped on the memo go to the window
    Mem->setFixedWidth(Mem->fontMetrics().averageCharWidth() * kMemoColumns);

    Quit = makeButton("Quit", tr("&Quit"), ToolBar1);
    Quit->setFixedSize(kQuitWidth, kQuitHeight);

    bar->addWidget(Panel1, 1);
    bar->addWidget(Mem);
    bar->addWidget(Quit);

    // Below it the plot, which takes the extra room, and the file panel.
    auto* body = new QHBoxLayout;
    body->setContentsMargins(0, 0, 0, 0);
    body->setSpacing(0);
    Chart1 = new CrossChart(client);
    Chart1->setObjectName(QStringLiteral("Chart1"));
    Chart1->setContextMenuPolicy(Qt::CustomContextMenu);
    Chart1->setMinimumSize(kMinimumPlot);
    Series1 = Chart1->series();
    FilePanel1 = new FilePanel(client);
    FilePanel1->setFixedWidth(kPanelWidth);
    FilePanel1->setFocusPolicy(Qt::NoFocus);
    body->addWidget(Chart1, 1);
    body->addWidget(FilePanel1);
    // The panel's range selector and the keys of the View menu show the same range.
    connect(FilePanel1, &FilePanel::rangeChosen, this, &TRawDat::showRange);
    connect(this, &TRawDat::rangeShown, FilePanel1, &FilePanel::setCurrentRange);

    layout->addWidget(ToolBar1);
    layout->addLayout(body, 1);
    setCentralWidget(client);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setFixedHeight(kStatusBarHeight);
    StatusPanel1 = new StatusPanel(tr("Cursor :"), 50);
    StatusPanel1->setObjectName(QStringLiteral("StatusPanel1"));
    Message1 = new StatusPanel(QString(), 50);
    Message1->setObjectName(QStringLiteral("Message1"));
    StatusBar1->addWidget(StatusPanel1, 1);
    StatusBar1->addWidget(Message1, 2);
    setStatusBar(StatusBar1);

    // Reading order, Quit last.
    setTabOrder(Bt_dat, Bt_RAW);
    setTabOrder(Bt_RAW, Mem);
    setTabOrder(Mem, Chart1);
    setTabOrder(Chart1, FilePanel1->findChild<QWidget*>(QStringLiteral("RangeSelector")));
    setTabOrder(FilePanel1->findChild<QWidget*>(QStringLiteral("RangeSelector")), Quit);

    move(kWindowPos);
    resize(kWindowSize);

    connect(Quit, &QPushButton::clicked, this, &TRawDat::QuitClick);
    connect(Bt_dat, &QPushButton::clicked, this, &TRawDat::Bt_datClick);
    connect(Bt_RAW, &QPushButton::clicked, this, &TRawDat::Bt_RAWClick);
    connect(Chart1, &QCustomPlot::mouseDoubleClick, this, [this](QMouseEvent*) { Chart1DblClick(); });
    connect(Chart1, &QCustomPlot::mouseMove, this, [this](QMouseEvent* e) {
        const QPoint p = e->position().toPoint();
        Chart1MouseMove(p.x(), p.y());
    });
    connect(Chart1, &CrossChart::pointerLeft, this, &TRawDat::pointerLeftChart);
    connect(Chart1, &QCustomPlot::afterReplot, this, &TRawDat::refreshReadout);
    connect(Chart1, &QWidget::customContextMenuRequested, this, &TRawDat::chartContextMenu);
}

// ---- start-up and quit ----

void TRawDat::FormCreate()
{
    state_.Data.reset();
    state_.CalibOK = false;
}

void TRawDat::QuitClick()
{
    state_.Data.reset();
    close();
}

bool TRawDat::event(QEvent* event)
{
    const bool handled = QMainWindow::event(event);
    // The outer size counts the frame, which the window manager adds once the window is shown.
    const auto type = event->type();
    if (!placed_ && isVisible() && (type == QEvent::Move || type == QEvent::Resize || type == QEvent::Show)) {
        const QSize frame = frameGeometry().size() - size();
        if (!frame.isNull()) {
            placed_ = true;
            resize(kWindowSize - frame);
            move(kWindowPos);
        }
    }
    return handled;
}

// ---- the two commands ----

void TRawDat::Bt_datClick() { runCommand(&TConversion::runDat); }

void TRawDat::Bt_RAWClick() { runCommand(&TConversion::runRaw); }

void TRawDat::runCommand(bool (TConversion::*command)())
{
    if (busy_)
        return;
    busy_ = true;
    commandIsRaw_ = command == &TConversion::runRaw;
    kept_.reset();
    previousCalibration_.reset();
    failure_.reset();
    read_ = false;
    Message1->setText(QString()); // the previous command's message goes
    Message1->setToolTip(QString());
    bool ok = false;
    try {
        ok = (conversion_.*command)();
    } catch (const std::exception& e) {
        reportError(e.what());
    }
    if (plotPending_) // cleared, and the command ended before the points were shown
        showPlot();
    if (previousCalibration_ == true && ok && !state_.Shown.Written.empty())
        // A path, not a header text: the memo line is made here, where file names are decoded.
        Mem->appendPlainText(QStringLiteral("calibration used : ") + decoded(state_.LastCalibPath));
    if (read_ || failure_)
        FilePanel1->showState(state_);
    showOutcome(ok);
    busy_ = false;
    if (!dropQueue_.isEmpty()) // files dropped while it ran
        QTimer::singleShot(0, this, &TRawDat::processDropQueue);
}

void TRawDat::showOutcome(bool ok)
{
    QString text;
    if (failure_) {
        text = tr("Nothing was written: %1").arg(*failure_);
    } else if (previousCalibration_ == false) {
        text = tr("%1 was not converted; nothing was written.").arg(QFileInfo(decoded(state_.DatFileName)).fileName());
    } else if (read_) {
        QStringList names;
        for (const std::string& f : state_.Shown.Written)
            names << QFileInfo(decoded(f)).fileName();
        QString written;
        if (!names.isEmpty()) {
            const QString last = names.takeLast();
            written = tr("%1 written in %2")
                          .arg(names.isEmpty() ? last : tr("%1 and %2").arg(names.join(QStringLiteral(", ")), last),
                               QDir::toNativeSeparators(QFileInfo(decoded(state_.Shown.Written.front())).absolutePath()));
        }
        if (kept_) {
            const QString kept = tr("kept existing %1").arg(QFileInfo(decoded(*kept_)).fileName());
            text = written.isEmpty() ? tr("%1; nothing was written").arg(kept) : kept + QStringLiteral("; ") + written;
        } else {
            text = written;
        }
        if (previousCalibration_ == true && ok && !written.isEmpty())
            text += tr(", with the calibration read before: %1").arg(QDir::toNativeSeparators(decoded(state_.LastCalibPath)));
    }
    Message1->setText(text);
    Message1->setToolTip(text);
}

std::optional<std::string> TRawDat::chooseFile(FileKind kind)
{
    std::optional<QString> path;
    if (given_)
        path = std::exchange(given_, std::nullopt);
    else if (chooser_)
        path = chooser_(kind);
    else
        path = showOpenDialog(kind);
    if (!path || path->isEmpty())
        return std::nullopt;
    const QFileInfo info(*path);
    // As the platform's open dialog does: the current folder becomes the chosen file's, where
    // the calibration file is looked up.
    QDir::setCurrent(info.absolutePath());
    return QFile::encodeName(info.absoluteFilePath()).toStdString();
}

std::unique_ptr<QFileDialog> TRawDat::makeOpenDialog(FileKind kind)
{
    const bool dat = kind == FileKind::Dat;
    auto d = std::make_unique<QFileDialog>(
        this, QString(), dialogFolder(dat ? QStringLiteral("OpenDAT") : QStringLiteral("OpenRAW")),
        dat ? QStringLiteral("(DAT file) (*.DAT)") : QStringLiteral("(RAW file) (*.RAW)"));
    d->setObjectName(dat ? QStringLiteral("OpenDAT") : QStringLiteral("OpenRAW"));
    d->setDefaultSuffix(dat ? QStringLiteral("DAT") : QStringLiteral("RAW"));
    d->setAcceptMode(QFileDialog::AcceptOpen);
    d->setFileMode(QFileDialog::AnyFile); // the file need not exist
    return d;
}

std::optional<QString> TRawDat::showOpenDialog(FileKind kind)
{
    const auto dialog = makeOpenDialog(kind);
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        return std::nullopt;
    rememberFolder(dialog->objectName(), dialog->selectedFiles().constFirst());
    return dialog->selectedFiles().constFirst();
}

void TRawDat::clearMemo() { Mem->clear(); }

// The memo, the labels, the title and the file panel describe the file in view only.
void TRawDat::fileRead(FileKind kind, const std::string& path)
{
    read_ = true;
    const QString name = decoded(path);
    Mem->clear();
    (kind == FileKind::Dat ? Lb_raw : Lb_dat)->setPath(QString());
    setWindowTitle(tr("%1 \u2014 rawdat").arg(QFileInfo(name).fileName()));
    if (auto* title = Chart1->findChild<QCPTextElement*>(QStringLiteral("ChartTitle")))
        title->setText(QFileInfo(name).fileName());
    addRecentFile(QFileInfo(name).absoluteFilePath());
    FilePanel1->showState(state_);
}

void TRawDat::fileNotOpened(const std::string& path)
{
    reportError(path + ": file not opened");
}

void TRawDat::keptExisting(const std::string& path) { kept_ = path; }

void TRawDat::appendMemo(const std::string& line) { Mem->appendPlainText(fromWindows1252(line)); }

void TRawDat::setLabel(LabelId label, const std::string& text)
{
    (label == LabelId::Dat ? Lb_dat : Lb_raw)->setPath(QDir::toNativeSeparators(decoded(text)));
}

bool TRawDat::askOverwrite(const std::string& path)
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("Confirmation"),
                    QStringLiteral("file already exists. erase?"), QMessageBox::NoButton, this);
    box.setObjectName(QStringLiteral("ConfirmOverwrite"));
    QPushButton* yes = box.addButton(QStringLiteral("&Oui"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("&Non"), QMessageBox::NoRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(no); // also what closing the box answers
    box.exec();
    if (box.clickedButton() != yes)
        kept_ = path;
    return box.clickedButton() == yes;
}

bool TRawDat::askUsePreviousCalibration(const std::string& question)
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("Confirmation"), messageText(question),
                    QMessageBox::NoButton, this);
    box.setObjectName(QStringLiteral("UsePreviousCalibration"));
    QPushButton* yes = box.addButton(QStringLiteral("&Oui"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("&Non"), QMessageBox::NoRole);
    box.setDefaultButton(no); // angles from another file's calibration are wrong unless the user knows better
    box.setEscapeButton(no);
    box.exec();
    previousCalibration_ = box.clickedButton() == yes;
    return *previousCalibration_;
}

void TRawDat::reportError(const std::string& message)
{
    const QString text = messageText(message);
    if (busy_ && !failure_)
        failure_ = text.section(QLatin1Char('\n'), 0, 0);
    QMessageBox box(QMessageBox::Critical, tr("rawdat"), text, QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("ErrorBox"));
    box.exec();
}

// ---- the plot ----

void TRawDat::clearPlot()
{
    pending_.clear();
    plotPending_ = true;
}

void TRawDat::setPlotAxis(PlotAxis axis) { Chart1->setChannelAxis(axis == PlotAxis::Channel); }

void TRawDat::addPlotPoint(double x, double y) { pending_.append(QCPGraphData(x, y)); }

void TRawDat::plotFinished() { showPlot(); }

void TRawDat::showPlot()
{
    // The series keeps x ascending; a point with a smaller x than earlier ones takes its place
    // after the points of equal x.
    if (!std::is_sorted(pending_.cbegin(), pending_.cend(), byKey))
        std::stable_sort(pending_.begin(), pending_.end(), byKey);
    Chart1->setPattern(pending_, state_.Header.Wavelength);
    pending_.clear();
    plotPending_ = false;
    rawInView_ = commandIsRaw_;
    rangeInView_ = rawInView_ ? static_cast<int>(state_.Raw.MainRange) : 0;
    fileInView_ = QFileInfo(QFile::decodeName(
                                QByteArray::fromStdString(rawInView_ ? state_.RawFileName : state_.DatFileName)))
                      .fileName();
    Chart1->setPatternName(fileInView_);
    updateViewMenu();
    Chart1->replot();
}

// The readout follows the pointer everywhere over the plot; the cross only inside the plotting
// rectangle, whose right and bottom edges lie outside it.
void TRawDat::Chart1MouseMove(int X, int Y)
{
    showReadout(X, Y);

    const QRect r = Chart1->plotRect();
    const bool inside = r.left() <= X && X < r.left() + r.width() && r.top() <= Y && Y < r.top() + r.height();
    if (inside) {
        if (CrossShown)
            DeleteCrossLines();
        else
            CrossShown = true;
        Chart1->invertCross(X, Y);
        LastX = X;
        LastY = Y;
    } else if (CrossShown) {
        DeleteCrossLines();
        CrossShown = false;
    }
}

void TRawDat::DeleteCrossLines() { Chart1->invertCross(LastX, LastY); }

void TRawDat::pointerLeftChart()
{
    pointerOverChart_ = false;
    StatusPanel1->setText(tr("Cursor :"));
    if (CrossShown) {
        DeleteCrossLines();
        CrossShown = false;
    }
}

// The first view again (as Home gives it). Without data the left axis keeps its range and the
// bottom axis starts at 0.
void TRawDat::Chart1DblClick()
{
    if (!Chart1->showAll() && Chart1->xAxis->range().upper > 0)
        Chart1->xAxis->setRangeLower(0);
    Chart1->replot();
}

bool TRawDat::savePicture(const QString& path, QSize pixels, int dpi)
{
    return Chart1->savePicture(path, titleOfView(), pixels, dpi);
}

void TRawDat::chartContextMenu(const QPoint& pos)
{
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("ChartMenu"));
    const auto save = [this](const QString& title, const QString& filter, const QString& suffix) {
        std::optional<QString> path;
        if (saveChooser_)
            path = saveChooser_();
        else
            path = QFileDialog::getSaveFileName(this, title, suggestedSave(QStringLiteral("SavePlot"), suffix), filter);
        if (!path || path->isEmpty())
            return;
        if (!path->endsWith(QLatin1Char('.') + suffix, Qt::CaseInsensitive))
            path->append(QLatin1Char('.') + suffix);
        rememberFolder(QStringLiteral("SavePlot"), *path);
        if (!savePicture(*path))
            reportError(tr("The plot could not be saved to %1.").arg(QDir::toNativeSeparators(*path)).toStdString());
    };
    menu.addAction(tr("Save as PNG\u2026"), this,
                   [&] { save(tr("Save plot as PNG"), tr("PNG image (*.png)"), QStringLiteral("png")); });
    menu.addAction(tr("Save as PDF\u2026"), this,
                   [&] { save(tr("Save plot as PDF"), tr("PDF document (*.pdf)"), QStringLiteral("pdf")); });
    menu.addAction(tr("Save data as\u2026"), this, &TRawDat::saveDataAs)
        ->setEnabled(!state_.LastPattern.Intensity.empty());
    menu.exec(Chart1->mapToGlobal(pos));
}

namespace {

struct DataFormat {
    XyFormat format;
    const char* filter;
};
constexpr DataFormat kDataFormats[] = {
    {XyFormat::Xy, QT_TRANSLATE_NOOP("rawdat::TRawDat", "2-theta and intensity (*.xy)")},
    {XyFormat::Xye, QT_TRANSLATE_NOOP("rawdat::TRawDat", "2-theta, intensity and uncertainty (*.xye)")},
    {XyFormat::Csv, QT_TRANSLATE_NOOP("rawdat::TRawDat", "CSV table (*.csv)")},
};

const DataFormat* dataFormatOf(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix();
    for (const DataFormat& f : kDataFormats)
        if (suffix.compare(QLatin1String(xyExtension(f.format)), Qt::CaseInsensitive) == 0)
            return &f;
    return nullptr;
}

} // namespace

std::optional<QString> TRawDat::showSaveDataDialog()
{
    QStringList filters;
    for (const DataFormat& f : kDataFormats)
        filters << tr(f.filter);
    QString selected = filters.front();
    QString path = QFileDialog::getSaveFileName(this, tr("Save data as"),
                                                suggestedSave(QStringLiteral("SaveData"), QStringLiteral("xy")),
                                                filters.join(QStringLiteral(";;")), &selected);
    if (!path.isEmpty())
        rememberFolder(QStringLiteral("SaveData"), path);
    if (path.isEmpty())
        return std::nullopt;
    const auto chosen = std::max<qsizetype>(filters.indexOf(selected), 0);
    if (!dataFormatOf(path))
        path += QLatin1Char('.') + QLatin1String(xyExtension(kDataFormats[chosen].format));
    return path;
}

void TRawDat::saveDataAs()
{
    std::optional<QString> path = dataChooser_ ? dataChooser_() : showSaveDataDialog();
    if (!path || path->isEmpty())
        return;
    const DataFormat* f = dataFormatOf(*path);
    if (!f) {
        f = &kDataFormats[0];
        path->append(QStringLiteral(".xy"));
    }
    try {
        fsio::writeFileAtomic(QFile::encodeName(*path).toStdString(), xyFileText(patternInView(), f->format));
    } catch (const std::exception& e) {
        reportError(e.what());
    }
}

// ---- dropped files ----

std::optional<FileKind> TRawDat::kindOfFile(const QString& path)
{
    switch (kindOf(QFile::encodeName(path).toStdString())) {
    case ContentKind::Dat: return FileKind::Dat;
    case ContentKind::Raw: return FileKind::Raw;
    default: return std::nullopt;
    }
}

void TRawDat::processDropQueue()
{
    if (busy_)
        return; // the running command schedules the queue when it ends
    while (!dropQueue_.isEmpty()) {
        const QString path = dropQueue_.takeFirst();
        std::optional<FileKind> kind;
        try {
            kind = kindOfFile(path);
            if (!kind)
                reportError(QFile::encodeName(path).toStdString() + ": not a DAT or RAW file");
        } catch (const std::exception& e) {
            reportError(e.what()); // not a regular file
        }
        if (!kind) {
            Message1->setText(tr("%1 was not opened.").arg(QFileInfo(path).fileName()));
            continue;
        }
        given_ = path;
        runCommand(*kind == FileKind::Raw ? &TConversion::runRaw : &TConversion::runDat);
        given_.reset();
    }
}

void TRawDat::dragEnterEvent(QDragEnterEvent* event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    if (std::any_of(urls.cbegin(), urls.cend(), [](const QUrl& u) { return u.isLocalFile(); }))
        event->acceptProposedAction();
}

void TRawDat::dropEvent(QDropEvent* event)
{
    if (event->modifiers() & Qt::ControlModifier) { // drawn over the pattern, not converted
        QStringList paths;
        for (const QUrl& u : event->mimeData()->urls())
            if (u.isLocalFile())
                paths << u.toLocalFile();
        event->acceptProposedAction();
        QTimer::singleShot(0, this, [this, paths] { addToPlot(paths); });
        return;
    }
    QStringList files;
    for (const QUrl& u : event->mimeData()->urls())
        if (u.isLocalFile())
            files.append(u.toLocalFile());
    event->acceptProposedAction();
    if (files.size() > 1) { // several files: converted together, as a batch
        QTimer::singleShot(0, this, [this, files] { convertFiles(files); });
        return;
    }
    dropQueue_.append(files);
    // Run outside the drag-and-drop loop: the commands open modal boxes.
    QTimer::singleShot(0, this, &TRawDat::processDropQueue);
}

} // namespace rawdat
