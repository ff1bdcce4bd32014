#include "mainform/batch_dialog.h"

#include "mainform/rawdat_window.h"
#include "ulit_dat/fsio.h"
#include "ulit_dat/platform.h"

#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QStatusBar>

#include <filesystem>

namespace rawdat {

namespace {

QString fromLocal(const std::string& s)
{
    return QString::fromLocal8Bit(s.data(), static_cast<qsizetype>(s.size()));
}

QString nameOf(const std::string& path)
{
    return fromLocal(std::filesystem::path(path).filename().string());
}

} // namespace

BatchRun::BatchRun(std::vector<BatchItem> items, ExistingOutputs existing, ConversionOptions options,
                   std::function<bool(const QString&)> askReplace, QObject* parent)
    : QObject(parent), items_(std::move(items)), existing_(existing), options_(std::move(options)),
      askReplace_(std::move(askReplace))
{
}

BatchRun::~BatchRun()
{
    cancel();
    if (worker_.joinable())
        worker_.join();
}

void BatchRun::start()
{
    worker_ = std::thread([this] { work(); });
}

void BatchRun::cancel()
{
    if (!worker_.joinable() || cancelled_.exchange(true))
        return; // ended already, or cancelled
    // The conversion in flight gives up between two of its steps, or its group is discarded.
    fsio::stopCommits();
}

// Whether the outputs of `it` may be replaced: always, never, or when the user says so for a
// file whose outputs exist (asked on the GUI thread while the worker waits).
bool BatchRun::replace(const BatchItem& it)
{
    if (existing_ != ExistingOutputs::AskEach)
        return existing_ == ExistingOutputs::ReplaceAll;
    for (const PlannedOutput& o : it.outputs) {
        std::error_code ec;
        if (!std::filesystem::exists(std::filesystem::symlink_status(platform::fsPath(o.path), ec)))
            continue;
        bool yes = false;
        const QString output = fromLocal(o.path);
        QMetaObject::invokeMethod(
            this, [&] { yes = askReplace_ && askReplace_(output); }, Qt::BlockingQueuedConnection);
        return yes;
    }
    return true; // nothing to replace
}

void BatchRun::work()
{
    const int total = static_cast<int>(items_.size());
    for (int i = 0; i < total && !cancelled_; ++i) {
        BatchItem& it = items_[static_cast<std::size_t>(i)];
        const QString name = nameOf(it.given);
        QMetaObject::invokeMethod(this, [this, i, total, name] { emit progress(i, total, name); }, Qt::QueuedConnection);
        if (it.state == BatchItem::State::Run) {
            const bool force = replace(it);
            ConversionOptions options = options_;
            options.existing = force ? ConversionOptions::Existing::Replace : ConversionOptions::Existing::Keep;
            try {
                convertBatchItem(it, force, options);
            } catch (const std::exception& e) { // out of memory: this file fails, not the batch
                it.fail(e.what());
            }
        }
        it.finished = true;
    }
    QMetaObject::invokeMethod(this, [this] {
        if (worker_.joinable())
            worker_.join();
        fsio::resumeCommits();
        emit finished();
    }, Qt::QueuedConnection);
}

QString batchSummary(const std::vector<BatchItem>& items, bool cancelled)
{
    int converted = 0, kept = 0, failed = 0, notRun = 0;
    QStringList lines;
    for (const BatchItem& it : items) {
        using S = BatchItem::State;
        converted += it.state == S::Converted;
        kept += it.state == S::Skipped;
        failed += it.state == S::Failed;
        notRun += it.state == S::Run || it.state == S::NotRun;
        if (it.state == S::Skipped || it.state == S::Failed)
            for (const std::string& m : it.messages)
                lines << nameOf(it.given) + QStringLiteral(": ") + fromLocal(m);
    }
    QString head = (items.size() == 1 ? QObject::tr("1 file: ") : QObject::tr("%1 files: ").arg(items.size())) +
                   QObject::tr("%1 converted, %2 kept (outputs exist), %3 failed").arg(converted).arg(kept).arg(failed);
    if (cancelled)
        head += QObject::tr(", %1 not converted (cancelled)").arg(notRun);
    lines.prepend(head);
    return lines.join(QLatin1Char('\n'));
}

// ---- the window's command ----

void TRawDat::convertFilesClick()
{
    const QStringList files = QFileDialog::getOpenFileNames(
        this, tr("Convert files"), dialogFolder(QStringLiteral("convert")),
        tr("DAT and RAW files (*.DAT *.dat *.RAW *.raw);;All files (*)"));
    if (files.isEmpty())
        return;
    rememberFolder(QStringLiteral("convert"), files.first());
    convertFiles(files);
}

void TRawDat::convertFiles(const QStringList& paths)
{
    std::vector<BatchItem> items(static_cast<std::size_t>(paths.size()));
    for (qsizetype i = 0; i < paths.size(); ++i)
        items[static_cast<std::size_t>(i)].given = QFileInfo(paths[i]).absoluteFilePath().toLocal8Bit().toStdString();
    ConversionOptions options;
    options.planned = true;
    planBatch(items, false, options);

    // One question for the files converted already.
    const auto skipped = std::count_if(items.begin(), items.end(),
                                       [](const BatchItem& it) { return it.state == BatchItem::State::Skipped; });
    ExistingOutputs existing = ExistingOutputs::KeepAll;
    if (skipped > 0) {
        QMessageBox box(QMessageBox::Question, tr("Convert files"),
                        tr("%1 of the files have outputs already.").arg(skipped),
                        QMessageBox::NoButton, this);
        QPushButton* replaceAll = box.addButton(tr("&Replace all"), QMessageBox::AcceptRole);
        QPushButton* keepAll = box.addButton(tr("&Keep all"), QMessageBox::RejectRole);
        QPushButton* askEach = box.addButton(tr("&Ask for each"), QMessageBox::ActionRole);
        QPushButton* cancel = box.addButton(QMessageBox::Cancel);
        box.setDefaultButton(keepAll);
        box.setEscapeButton(cancel);
        box.exec();
        if (box.clickedButton() == cancel)
            return;
        existing = box.clickedButton() == replaceAll ? ExistingOutputs::ReplaceAll
                   : box.clickedButton() == askEach  ? ExistingOutputs::AskEach
                                                     : ExistingOutputs::KeepAll;
        if (existing != ExistingOutputs::KeepAll) {
            for (BatchItem& it : items) { // planned again, from the names alone
                BatchItem fresh;
                fresh.given = std::move(it.given);
                it = std::move(fresh);
            }
            planBatch(items, true, options);
        }
    }

    QProgressDialog progress(tr("Converting\u2026"), tr("Cancel"), 0, static_cast<int>(paths.size()), this);
    progress.setWindowTitle(tr("Convert files"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(0);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    // Asked over the progress dialog, which keeps the window from any other input meanwhile.
    BatchRun run(std::move(items), existing, options, [&progress](const QString& output) {
        QMessageBox box(QMessageBox::Question, tr("Convert files"),
                        tr("%1 exists. Replace the outputs of this file?").arg(output), QMessageBox::NoButton, &progress);
        QPushButton* replace = box.addButton(tr("&Replace"), QMessageBox::YesRole);
        QPushButton* keep = box.addButton(tr("&Keep"), QMessageBox::NoRole);
        box.setDefaultButton(keep);
        box.setEscapeButton(keep);
        box.exec();
        return box.clickedButton() == replace;
    });
    connect(&run, &BatchRun::progress, &progress, [&progress](int done, int total, const QString& name) {
        progress.setValue(done);
        progress.setLabelText(tr("File %1 of %2: %3").arg(done + 1).arg(total).arg(name));
    });
    connect(&progress, &QProgressDialog::canceled, &run, &BatchRun::cancel);
    QEventLoop loop;
    connect(&run, &BatchRun::finished, &loop, &QEventLoop::quit);
    // Shown now, not by its own timer once the work is under way: a question about an existing
    // output must open over it, not under it.
    progress.setValue(0);
    progress.show();
    run.start();
    loop.exec();
    progress.close();

    const QString summary = batchSummary(run.items(), run.cancelled());
    statusBar()->showMessage(summary.section(QLatin1Char('\n'), 0, 0));
    QMessageBox box(QMessageBox::Information, tr("Convert files"), summary.section(QLatin1Char('\n'), 0, 0),
                    QMessageBox::Ok, this);
    if (summary.contains(QLatin1Char('\n')))
        box.setDetailedText(summary.section(QLatin1Char('\n'), 1));
    box.exec();
}

} // namespace rawdat
