// rawdat: the conversion window. `rawdat FILE...` opens the files as if they were dropped on it.
#include "mainform/rawdat_window.h"
#include "ulit_dat/errors.h"

#include <QApplication>
#include <QIcon>

#include <csignal>
#include <cstdio>
#include <exception>

namespace {

int run(int argc, char* argv[])
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

} // namespace

// The commands show their errors in message boxes. An error that escapes even so (at start-up,
// or from Qt itself) ends the program with the line "rawdat: FILE: message" on standard error
// and exit status 1: by then no box can be shown.
int main(int argc, char* argv[])
{
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "rawdat: %s\n", rawdat::fileFirstMessage(e).c_str());
    } catch (...) {
        std::fprintf(stderr, "rawdat: unexpected error\n");
    }
    return 1;
}
