#pragma once

// Shows a run's progress on the main window while the run holds the event loop.

#include "shred/RunProgress.h"

#include <QElapsedTimer>

class QLabel;
class QProgressBar;

// Shows a run's progress on the progress bar and the two status panels. A run never returns to the
// event loop, so the widgets are repainted right here, but no more often than the display can show:
// the start and the end of a run always, and in between at most about sixty times a second.
class ProgressPainter : public ProgressDisplay
{
public:
    ProgressPainter(QProgressBar* bar, QLabel* activityPanel, QLabel* percentPanel);

    void progressChanged(const RunProgress& progress, Change change) override;

    // Brings the widgets up to date with the last change and paints them, e.g. before a message box.
    void flush();

    // The bar holds an int: maxima past its range are shown divided down, keeping the proportion.
    static int barScale(std::int64_t maximum);

    int paintCount() const
    {
        return m_paints;
    }

private:
    void apply(const RunProgress& progress);

    QProgressBar* m_bar;
    QLabel* m_activityPanel;
    QLabel* m_percentPanel;
    const RunProgress* m_pending = nullptr;
    QElapsedTimer m_sincePaint;
    int m_paints = 0;
};
