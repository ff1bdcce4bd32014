// rawdat: the conversion window. `rawdat FILE...` opens the files as if they were dropped on it.
#include "mainform/rawdat_window.h"

#include <QApplication>
#include <QIcon>

#include <csignal>

int main(int argc, char* argv[])
{
#ifdef SIGXFSZ
    // Past a file-size limit a write fails with "Disque plein" instead of killing the window.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("rawdat"));
    QApplication::setApplicationVersion(QStringLiteral(RAWDAT_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("rawdat"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("rawdat")));
    rawdat::TRawDat RawDat;
    RawDat.show();
    // Qt has taken its own options (-platform, -style...) out of the arguments.
    if (const QStringList files = QApplication::arguments().mid(1); !files.isEmpty())
        RawDat.openFiles(files);
    return QApplication::exec();
}
