#pragma once

// Drops of files onto a widget, as a file manager delivers them.

#include <QList>
#include <QUrl>

#include <functional>

class QMimeData;
class QWidget;

// Drags data onto a widget and drops it there, the way a file manager does: enter, move, drop, all
// sent to the widget that receives them on screen (an item view's viewport). Returns whether the
// drop was accepted. What the drop queued runs before it returns, after whenDropReturned.
bool dropOnto(QWidget* target, QMimeData* data, const std::function<void()>& whenDropReturned = {});
bool dropFiles(QWidget* target, const QList<QUrl>& urls, const std::function<void()>& whenDropReturned = {});
