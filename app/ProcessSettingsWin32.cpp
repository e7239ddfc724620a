// The process settings on Windows: the settings in files below the null device, since the registry,
// Qt's native format there, is redirected by no path. Windows sends no signal for a file's size, and
// a batch holds its files by handles, which have no limit a batch can reach.

#include "app/ProcessSettings.h"

#include <QString>

void applyProcessSettings()
{
    keepSettingsOffTheDisk(QStringLiteral("NUL"));
}

void chooseWindowSystem()
{
    // Windows has one window system.
}
