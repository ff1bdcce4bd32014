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
constexpr int kStatusBarHeight = 19;

QPushButton* makeButton(const char* name, const QString& caption, QWidget* parent, QRect geometry)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    b->setGeometry(geometry);
    return b;
}

// A label that sizes itself to its text, as the file-name labels do.
QLabel* makeLabel(const char* name, QWidget* parent, QPoint pos)
{
    auto* l = new QLabel(QStringLiteral("None"), parent);
    l->setObjectName(QLatin1String(name));
    l->setTextFormat(Qt::PlainText);
    l->move(pos);
    l->adjustSize();
    return l;
}

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
    setWindowTitle(QStringLiteral("Conversion raw - dat"));
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

    ToolBar1 = new QWidget(client);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setFixedHeight(kToolBarHeight);

    Panel1 = new QFrame(ToolBar1);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel1->setGeometry(0, 2, 425, 59);
    Panel1->setProperty("caption", QStringLiteral(" "));

    Quit = makeButton("Quit", QStringLiteral("Quit"), ToolBar1, QRect(698, 2, 75, 59));
    Bt_dat = makeButton("Bt_dat", QStringLiteral("DAT file"), Panel1, QRect(0, 6, 75, 25));
    Lb_dat = makeLabel("Lb_dat", Panel1, QPoint(88, 12));
    Bt_RAW = makeButton("Bt_RAW", QStringLiteral("RAW file"), Panel1, QRect(0, 30, 75, 25));
    Lb_raw = makeLabel("Lb_raw", Panel1, QPoint(88, 36));

    Mem = new QPlainTextEdit(ToolBar1);
    Mem->setObjectName(QStringLiteral("Mem"));
    Mem->setGeometry(425, 2, 273, 59);
    Mem->setPlainText(QStringLiteral("Mem"));
    Mem->setAcceptDrops(false); // files dropped on the memo go to the window

    Chart1 = new CrossChart(client);
    Chart1->setObjectName(QStringLiteral("Chart1"));
    Chart1->setContextMenuPolicy(Qt::CustomContextMenu);
    Series1 = Chart1->series();

    layout->addWidget(ToolBar1);
    layout->addWidget(Chart1, 1);
    setCentralWidget(client);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setFixedHeight(kStatusBarHeight);
    StatusPanel1 = new StatusPanel(QStringLiteral("Cursor :"), 50);
    StatusPanel1->setObjectName(QStringLiteral("StatusPanel1"));
    StatusBar1->addWidget(StatusPanel1, 1); // the only panel reaches the right edge
    setStatusBar(StatusBar1);

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
    bool ok = false;
    try {
        ok = (conversion_.*command)();
    } catch (const std::exception& e) {
        reportError(e.what());
    }
    if (plotPending_) // cleared, and the command ended before the points were shown
        showPlot();
    const auto decoded = [](const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); };
    if (kept_)
        noteKept(*kept_, ok && command == &TConversion::runRaw);
    else if (previousCalibration_ == false)
        StatusPanel1->setText(QFileInfo(decoded(state_.DatFileName)).fileName() +
                              QStringLiteral(" was not converted; nothing was written."));
    else if (previousCalibration_ == true && ok) {
        // A path, not a header text: the memo line is made here, where file names are decoded.
        Mem->appendPlainText(QStringLiteral("calibration used : ") + decoded(state_.LastCalibPath));
        StatusPanel1->setText(QStringLiteral("Converted with the calibration read before: ") +
                              decoded(state_.LastCalibPath));
    }
    busy_ = false;
    if (!dropQueue_.isEmpty()) // files dropped while it ran
        QTimer::singleShot(0, this, &TRawDat::processDropQueue);
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
    if (info.isFile())
        addRecentFile(info.absoluteFilePath());
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

void TRawDat::appendMemo(const std::string& line) { Mem->appendPlainText(fromWindows1252(line)); }

void TRawDat::setLabel(LabelId label, const std::string& text)
{
    QLabel* l = label == LabelId::Dat ? Lb_dat : Lb_raw;
    l->setText(QFile::decodeName(QByteArray::fromStdString(text)));
    l->adjustSize();
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
    QMessageBox box(QMessageBox::Critical, QStringLiteral("rawdat"), messageText(message), QMessageBox::Ok, this);
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
    StatusPanel1->setText(QStringLiteral("Cursor :"));
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
    const auto save = [this](const QString& filter, const QString& suffix) {
        std::optional<QString> path;
        if (saveChooser_)
            path = saveChooser_();
        else
            path = QFileDialog::getSaveFileName(this, QStringLiteral("Save the plot"), QString(), filter);
        if (!path || path->isEmpty())
            return;
        if (!path->endsWith(suffix, Qt::CaseInsensitive))
            path->append(suffix);
        if (!savePicture(*path))
            reportError(("The plot could not be saved to " + QDir::toNativeSeparators(*path) + ".").toStdString());
    };
    menu.addAction(QStringLiteral("Save as PNG..."), this, [&] { save(QStringLiteral("PNG image (*.png)"), QStringLiteral(".png")); });
    menu.addAction(QStringLiteral("Save as PDF..."), this, [&] { save(QStringLiteral("PDF document (*.pdf)"), QStringLiteral(".pdf")); });
    menu.addAction(QStringLiteral("Save data as…"), this, &TRawDat::saveDataAs)
        ->setEnabled(!state_.LastPattern.Intensity.empty());
    menu.exec(Chart1->mapToGlobal(pos));
}

namespace {

struct DataFormat {
    XyFormat format;
    const char* filter;
};
constexpr DataFormat kDataFormats[] = {
    {XyFormat::Xy, "2-theta and intensity (*.xy)"},
    {XyFormat::Xye, "2-theta, intensity and uncertainty (*.xye)"},
    {XyFormat::Csv, "CSV table (*.csv)"},
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
        filters << QLatin1String(f.filter);
    QString selected = filters.front();
    QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save data as"), QString(),
                                                filters.join(QStringLiteral(";;")), &selected);
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
        if (!kind)
            continue;
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
