#include "windows/ModeMenu.h"

#include <QAction>
#include <QSignalBlocker>

ModeMenu::ModeMenu(QAction* standardEntry, QAction* enhancedEntry, ShredMode& mode, QObject* parent)
    : QObject(parent)
    , m_standardEntry(standardEntry)
    , m_enhancedEntry(enhancedEntry)
    , m_mode(mode)
{
    connect(m_standardEntry, &QAction::triggered, this, [this](bool checked) {
        undoToggle(m_standardEntry, checked);
        chooseStandard();
    });
    connect(m_enhancedEntry, &QAction::triggered, this, [this](bool checked) {
        undoToggle(m_enhancedEntry, checked);
        chooseEnhanced();
    });
}

void ModeMenu::chooseStandard()
{
    if (m_enhancedEntry->isChecked()) {
        m_standardEntry->setChecked(true);
        m_enhancedEntry->setChecked(false);
        m_mode = kStandardMode;
    }
}

void ModeMenu::chooseEnhanced()
{
    if (m_standardEntry->isChecked()) {
        m_enhancedEntry->setChecked(true);
        m_standardEntry->setChecked(false);
        m_mode = kEnhancedMode;
    }
}

// Qt flips a checkable entry's mark before it reports the click. The marks here are set only by the
// rules above, so the flip is taken back first.
void ModeMenu::undoToggle(QAction* entry, bool checkedByQt)
{
    const QSignalBlocker blocker(entry);
    entry->setChecked(!checkedByQt);
}
