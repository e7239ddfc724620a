#pragma once

// The statistics captions under the batch list ("3 files selected").

#include <QString>

// A statistics caption: the count in decimal digits, " file" for 0 or 1 and " files" from 2 on, then
// the caller's suffix with its leading blank (" selected", " displayed", " shredded !").
QString CountCaption(qint64 count, QStringView suffix);
