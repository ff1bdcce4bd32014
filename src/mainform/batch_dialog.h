// Many files converted from the window, as rawdat-convert converts them: the same plan, the same
// rules and the same bytes, on a worker thread behind a progress dialog that can be cancelled.
#pragma once

#include "convert/batch.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

namespace rawdat {

// What becomes of the files whose outputs exist, asked once for the batch.
enum class ExistingOutputs { ReplaceAll, KeepAll, AskEach };

// The batch's work off the GUI thread. progress() and finished() arrive on the thread that owns
// the object; askReplace (AskEach) is called on that thread too, while the worker waits.
class BatchRun : public QObject {
    Q_OBJECT
public:
    // `items` planned by planBatch with force = (existing != KeepAll).
    BatchRun(std::vector<BatchItem> items, ExistingOutputs existing, ConversionOptions options,
             std::function<bool(const QString& output)> askReplace = {}, QObject* parent = nullptr);
    ~BatchRun() override;

    void start();
    // No further file is started; a file being converted is finished whole or not at all.
    void cancel();
    bool cancelled() const { return cancelled_; }
    // After finished(): what each file did.
    const std::vector<BatchItem>& items() const { return items_; }

signals:
    void progress(int done, int total, const QString& name);
    void finished();

private:
    void work();
    bool replace(const BatchItem& it);

    std::vector<BatchItem> items_;
    ExistingOutputs existing_;
    ConversionOptions options_;
    std::function<bool(const QString&)> askReplace_;
    std::atomic<bool> cancelled_{false};
    std::thread worker_;
};

// The summary of a finished batch: a first line with the counts, then one line per file kept or
// failed, with its reason.
QString batchSummary(const std::vector<BatchItem>& items, bool cancelled);

} // namespace rawdat
