// rawdat: the conversion window.
#include "mainform/rawdat_window.h"

#include <QApplication>

#include <csignal>

int main(int argc, char* argv[])
{
#ifdef SIGXFSZ
    // Past a file-size limit a write fails with "Disque plein" instead of killing the window.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("rawdat"));
    rawdat::TRawDat RawDat;
    RawDat.show();
    return QApplication::exec();
}
