// The window's batch (Convert files…): the files rawdat-convert writes, byte for byte, under the
// one question about existing outputs, and a Cancel that leaves each file converted whole or not
// at all.
#include "mainform/rawdat_window.h"
#include "testutil.h"
#include "window_files.h"

#include <QApplication>
#include <QProgressDialog>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <filesystem>

using namespace rawdat;
using namespace rawdat::test;
namespace fs = std::filesystem;

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

// `n` copies of the sample DAT file, S000.DAT ..., beside its calibration.
QStringList copies(const TempDir& dir, int n)
{
    fs::copy_file(fs::path(RAWDAT_SAMPLES) / "CPS120.CAL", dir.path() / "CPS120.CAL");
    QStringList files;
    for (int i = 0; i < n; ++i) {
        const fs::path p = dir.path() / QStringLiteral("S%1.DAT").arg(i, 3, 10, QLatin1Char('0')).toStdString();
        fs::copy_file(fs::path(RAWDAT_SAMPLES) / "LAB6.DAT", p);
        files << QString::fromStdString(p.string());
    }
    return files;
}

int convertWithTheConverter(const TempDir& dir, const QString& args)
{
    const std::string cmd = "cd '" + dir.path().string() + "' && '" RAWDAT_CONVERT "' -q " + args.toStdString();
    return std::system(cmd.c_str());
}

// The outputs in `dir`, by name.
std::map<std::string, std::vector<std::uint8_t>> outputs(const fs::path& dir)
{
    std::map<std::string, std::vector<std::uint8_t>> out;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.is_regular_file() && e.path().extension() != ".DAT" && e.path().extension() != ".CAL")
            out[e.path().filename().string()] = readBytes(e.path().string());
    return out;
}

} // namespace

class BatchTest : public QObject {
    Q_OBJECT
private slots:
    void writesWhatTheConverterWritesUnderOneQuestion();
    void cancelLeavesEachFileWholeOrUntouched();
};

void BatchTest::writesWhatTheConverterWritesUnderOneQuestion()
{
    TempDir dir;
    const QStringList files = copies(dir, 40);
    QCOMPARE(convertWithTheConverter(dir, QStringLiteral("S000.DAT")), 0); // converted already
    TRawDat w;
    {
        BoxAnswerer answers({QStringLiteral("&Keep all"), QStringLiteral("OK")});
        w.convertFiles(files);
        QCOMPARE(answers.seen.size(), std::size_t{2});
        QCOMPARE(answers.seen[0].text, QStringLiteral("1 of the files have outputs already."));
        QStringList buttons = answers.seen[0].buttons;
        buttons.sort();
        QCOMPARE(buttons, (QStringList{QStringLiteral("&Ask for each"), QStringLiteral("&Keep all"),
                                       QStringLiteral("&Replace all"), QStringLiteral("Cancel")}));
        QCOMPARE(answers.seen[1].text, QStringLiteral("40 files: 39 converted, 1 kept (outputs exist), 0 failed"));
    }
    // The converter, given the same files in the same folder, writes the same bytes.
    const auto byWindow = outputs(dir.path());
    QCOMPARE(byWindow.size(), std::size_t{80});
    for (const auto& [name, bytes] : byWindow)
        fs::remove(dir.path() / name);
    QCOMPARE(convertWithTheConverter(dir, QStringLiteral("S*.DAT")), 0);
    QVERIFY(outputs(dir.path()) == byWindow);

    {
        BoxAnswerer again({QStringLiteral("&Replace all"), QStringLiteral("OK")});
        w.convertFiles(files);
        QCOMPARE(again.seen.size(), std::size_t{2});
        QCOMPARE(again.seen[0].text, QStringLiteral("40 of the files have outputs already."));
        QCOMPARE(again.seen[1].text, QStringLiteral("40 files: 40 converted, 0 kept (outputs exist), 0 failed"));
        QVERIFY(outputs(dir.path()) == byWindow);
    }

    // Ask for each: a question per file whose outputs exist, here S000 (replaced) and S001 (kept).
    for (const auto& [name, bytes] : byWindow)
        if (name.rfind("S000.", 0) != 0 && name.rfind("S001.", 0) != 0)
            fs::remove(dir.path() / name);
    writeText(dir.file("S000.RAW"), "mine");
    writeText(dir.file("S001.RAW"), "mine too");
    BoxAnswerer each({QStringLiteral("&Ask for each"), QStringLiteral("&Replace"), QStringLiteral("&Keep"), QStringLiteral("OK")});
    w.convertFiles(files);
    QCOMPARE(each.seen.size(), std::size_t{4});
    QCOMPARE(each.seen[1].text, QStringLiteral("%1 exists. Replace the outputs of this file?").arg(q(dir.file("S000.RAW"))));
    QCOMPARE(each.seen[3].text, QStringLiteral("40 files: 39 converted, 1 kept (outputs exist), 0 failed"));
    auto now = outputs(dir.path());
    QCOMPARE(now["S001.RAW"], (std::vector<std::uint8_t>{'m', 'i', 'n', 'e', ' ', 't', 'o', 'o'}));
    now["S001.RAW"] = byWindow.at("S001.RAW");
    QVERIFY(now == byWindow);
}

void BatchTest::cancelLeavesEachFileWholeOrUntouched()
{
    TempDir dir;
    constexpr int n = 300;
    const QStringList files = copies(dir, n);
    TRawDat w;
    // Cancel once a few files are converted.
    QTimer poll;
    connect(&poll, &QTimer::timeout, [&] {
        for (QWidget* top : QApplication::topLevelWidgets())
            if (auto* p = qobject_cast<QProgressDialog*>(top); p && p->isVisible() && p->value() >= 5)
                if (auto* cancel = p->findChild<QPushButton*>())
                    QTest::mouseClick(cancel, Qt::LeftButton);
    });
    poll.start(5);
    QString summary;
    {
        BoxAnswerer answers({QStringLiteral("OK")});
        w.convertFiles(files);
        poll.stop();
        QCOMPARE(answers.seen.size(), std::size_t{1});
        summary = answers.seen[0].text;
    }
    QVERIFY2(summary.contains(QStringLiteral("not converted (cancelled)")), qPrintable(summary));
    int converted = 0;
    for (int i = 0; i < n; ++i) {
        const fs::path base = dir.path() / QStringLiteral("S%1").arg(i, 3, 10, QLatin1Char('0')).toStdString();
        const bool raw = fs::exists(base.string() + ".RAW"), twoColumn = fs::exists(base.string() + ".2CL");
        QCOMPARE(raw, twoColumn);
        converted += raw;
    }
    QVERIFY(converted >= 5);
    QVERIFY(converted < n);
    QVERIFY2(summary.startsWith(QStringLiteral("300 files: %1 converted").arg(converted)), qPrintable(summary));
    for (const auto& e : fs::directory_iterator(dir.path()))
        QVERIFY2(e.path().extension() != ".tmp", qPrintable(QString::fromStdString(e.path().string())));
    // The window converts again afterwards: the cancel did not stop it for good.
    BoxAnswerer more({QStringLiteral("&Keep all"), QStringLiteral("OK")});
    w.convertFiles(files);
    QCOMPARE(more.seen.size(), std::size_t{2});
    QCOMPARE(more.seen[1].text,
             QStringLiteral("300 files: %1 converted, %2 kept (outputs exist), 0 failed").arg(n - converted).arg(converted));
}

QTEST_MAIN(BatchTest)
#include "test_batch.moc"
