// rawdat: the conversion window.
#include "mainform/rawdat_window.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("rawdat"));
    rawdat::TRawDat RawDat;
    RawDat.show();
    return QApplication::exec();
}
