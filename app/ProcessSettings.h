#pragma once

// Settings of the whole process, made once at start-up before the main window exists.

class QString;

// What the program keeps off the disk, what a signal may not do to a run, and how many files it may
// hold open, each as the running system needs it.
void applyProcessSettings();

// Points the user's settings below `nowhere`, a path that is not a folder. Qt's open-file dialog
// writes the folders it showed into them when it closes, and reads them back on the next start: a
// record of where files were shredded. The program stores nothing, so nothing can be created there,
// and reading finds nothing.
void keepSettingsOffTheDisk(const QString& nowhere);

// Chooses X11 (through XWayland) over Wayland where a session offers both and the user chose neither:
// there the window manager frames the fixed-size window without a maximize button, the window can be
// centred, and the title bar's close is read as on any X11 desktop. Called before the application
// object exists.
void chooseWindowSystem();
