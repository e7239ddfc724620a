#pragma once

// The Notes window.

#include <QWidget>

// The Notes window: a small static tool window naming the reference standards of the two shred modes.
// It is created when asked for, shown without an owner, and destroyed when closed.
class NotesWindow : public QWidget
{
    Q_OBJECT

public:
    NotesWindow();
};
