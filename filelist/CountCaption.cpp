// The statistics captions' texts.

#include "filelist/CountCaption.h"

QString CountCaption(qint64 count, QStringView suffix)
{
    // Zero takes the singular word, like one.
    QString caption = QString::number(count);
    caption += count >= 2 ? QLatin1StringView(" files") : QLatin1StringView(" file");
    caption += suffix;
    return caption;
}
