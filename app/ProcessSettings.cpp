// The process settings both systems share.

#include "app/ProcessSettings.h"

#include <QSettings>
#include <QString>

void keepSettingsOffTheDisk(const QString& nowhere)
{
    QSettings::setDefaultFormat(QSettings::IniFormat);
    for (const QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat}) {
        QSettings::setPath(format, QSettings::UserScope, nowhere);
    }
}
