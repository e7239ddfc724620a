// Painting of a run's progress on the bar and the status panels, at the display's pace.

#include "app/ProgressPainter.h"

#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>

#include <climits>

namespace {
constexpr qint64 kPaintIntervalMs = 16;

void setTextIfChanged(QLabel* label, const std::string& text)
{
    const QString shown = QString::fromStdString(text);
    if (label->text() != shown) {
        label->setText(shown);
    }
}
} // namespace

ProgressPainter::ProgressPainter(QProgressBar* bar, QLabel* activityPanel, QLabel* percentPanel)
    : m_bar(bar)
    , m_activityPanel(activityPanel)
    , m_percentPanel(percentPanel)
{
}

int ProgressPainter::barScale(std::int64_t maximum)
{
    return maximum <= INT_MAX ? 1 : static_cast<int>(maximum / INT_MAX + 1);
}

void ProgressPainter::progressChanged(const RunProgress& progress, Change change)
{
    m_pending = &progress;
    if (change == Change::StartOrEnd || !m_sincePaint.isValid() || m_sincePaint.elapsed() >= kPaintIntervalMs) {
        flush();
    } else if (change == Change::Activity) {
        // The panels hold the new file's name at once, and are painted with the next step.
        apply(progress);
    }
}

void ProgressPainter::flush()
{
    if (!m_pending) {
        return;
    }
    apply(*m_pending);
    m_pending = nullptr;
    if (m_bar->isVisible()) {
        m_bar->repaint();
    }
    m_activityPanel->repaint();
    m_percentPanel->repaint();
    // A run holds the thread: the window system's exposures (a box that just closed, a window moved
    // away) are let through here, so the window repaints where they uncovered it. Input (clicks,
    // keys, the window manager's close request) stays queued until the run is over.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    m_sincePaint.start();
    ++m_paints;
}

void ProgressPainter::apply(const RunProgress& progress)
{
    const int scale = barScale(progress.maximum());
    const int maximum = static_cast<int>(progress.maximum() / scale);
    if (m_bar->maximum() != maximum) {
        m_bar->setRange(0, maximum);
    }
    m_bar->setValue(static_cast<int>(progress.value() / scale));
    if (progress.visible() && m_bar->isHidden()) {
        m_bar->show();
    }
    setTextIfChanged(m_activityPanel, progress.activity());
    setTextIfChanged(m_percentPanel, progress.percentText());
}
