// The mode menu's two entries kept as an exclusive pair.

#include "windows/ModeMenu.h"

#include <QAction>
#include <QActionGroup>

ModeMenu::ModeMenu(QAction* standardEntry, QAction* enhancedEntry, ShredMode& mode, QObject* parent)
    : QObject(parent)
    , m_standardEntry(standardEntry)
    , m_enhancedEntry(enhancedEntry)
    , m_mode(mode)
{
    // An exclusive group: a click on the entry already checked leaves it checked.
    auto* pair = new QActionGroup(this);
    pair->setExclusionPolicy(QActionGroup::ExclusionPolicy::Exclusive);
    pair->addAction(m_standardEntry);
    pair->addAction(m_enhancedEntry);
    connect(pair, &QActionGroup::triggered, this, [this](QAction* entry) {
        m_mode = entry == m_enhancedEntry ? kEnhancedMode : kStandardMode;
    });
}

void ModeMenu::chooseStandard()
{
    if (m_enhancedEntry->isChecked()) {
        m_standardEntry->setChecked(true);
        m_mode = kStandardMode;
    }
}

void ModeMenu::chooseEnhanced()
{
    if (m_standardEntry->isChecked()) {
        m_enhancedEntry->setChecked(true);
        m_mode = kEnhancedMode;
    }
}
