// The window meets every bad value of the DAT and RAW commands: one error box each with the
// command's exact message, no file written or changed, and the window goes on working: a good
// DAT file and a good RAW file convert after all of them.
#include "bad_values.h"
#include "window_files.h"

#include "mainform/rawdat_window.h"

#include <gtest/gtest.h>

#include <QApplication>

#include <memory>

using namespace rawdat;
using namespace rawdat::test;

TEST(WindowBadValues, EachInItsErrorBoxAndTheWindowStaysUsable)
{
    TRawDat window;
    QString chosen;
    window.setFileChooser([&](FileKind) -> std::optional<QString> { return chosen; });
    window.show();
    BoxAnswerer boxes; // keeps what each box showed
    auto run = [&](Via via, const std::string& path) {
        chosen = QString::fromStdString(path);
        if (via == Via::DatCommand)
            window.Bt_datClick();
        else
            window.Bt_RAWClick();
    };

    int cases = 0;
    for (const BadValue& row : badValues()) {
        if (row.via != Via::DatCommand && row.via != Via::RawCommand)
            continue;
        SCOPED_TRACE(row.what);
        ++cases;
        TempDir dir;
        const std::string path = row.make(dir);
        const FolderImage before = folderImage(dir.path());
        boxes.seen.clear();
        // Enter: yes to replacing the earlier outputs, OK to the error.
        boxes.setAnswers(QStringList(4, QStringLiteral("Enter")));
        run(row.via, path);
        std::vector<std::string> errors;
        for (const BoxSeen& box : boxes.seen)
            if (box.icon == QMessageBox::Critical)
                errors.push_back(box.text.toStdString());
        EXPECT_EQ(errors, std::vector<std::string>{inFolder(row.message, dir)});
        EXPECT_EQ(folderImage(dir.path()), before);
    }
    EXPECT_GE(cases, 31); // 19 of the DAT command, 12 of the RAW command

    TempDir good;
    boxes.seen.clear();
    run(Via::DatCommand, writeDatWithCalibration(good, 300));
    run(Via::RawCommand, good.file("S.RAW"));
    EXPECT_TRUE(boxes.seen.empty());
    EXPECT_EQ(listFolder(good.path()),
              (std::vector<std::string>{"C.CAL", "S.2CL", "S.DAT", "S.RAW", "S.TXT"}));
}

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
