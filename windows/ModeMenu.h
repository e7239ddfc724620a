#pragma once

// The File menu's Standard/Enhanced pair and the mode it sets.

#include "shred/ShredMode.h"

#include <QObject>

class QAction;

// Keeps the two mode entries of the File menu and the window's ShredMode in step. The entries are a
// pair of radio items: a click on the entry that is already checked changes nothing.
class ModeMenu : public QObject
{
    Q_OBJECT

public:
    ModeMenu(QAction* standardEntry, QAction* enhancedEntry, ShredMode& mode, QObject* parent = nullptr);

    void chooseStandard();
    void chooseEnhanced();

private:
    QAction* m_standardEntry;
    QAction* m_enhancedEntry;
    ShredMode& m_mode;
};
