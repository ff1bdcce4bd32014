// What the window remembers between runs (the last folder of each dialog, the recent files, its
// geometry), kept in an INI file of the user's configuration folder: ~/.config/rawdat/rawdat.ini
// on Linux.
#pragma once

#include <QSettings>

namespace rawdat {

class WindowSettings : public QSettings {
public:
    WindowSettings()
        : QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("rawdat"),
                    QStringLiteral("rawdat"))
    {
    }
};

} // namespace rawdat
