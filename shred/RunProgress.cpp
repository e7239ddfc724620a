// The run's progress state: steps, percentages and the status panels' texts.

#include "shred/RunProgress.h"

#include <algorithm>
#include <limits>
#include <utility>

RunProgress::RunProgress(ProgressDisplay* display)
    : m_display(display)
{
}

void RunProgress::StartProgress()
{
    m_visible = true;
    m_value = 0;
    m_percent = -1; // the panel keeps its text, but the first step must write its own
    changed(ProgressDisplay::Change::StartOrEnd);
}

void RunProgress::setMaximum(std::int64_t maximum)
{
    m_maximum = maximum;
    if (m_value > m_maximum) {
        m_value = m_maximum;
    }
    changed(ProgressDisplay::Change::Step);
}

void RunProgress::StepProgress()
{
    if (m_value <= m_maximum - kStep) {
        m_value += kStep;
    }
    const int percent = percentOf(m_value, m_maximum);
    if (percent != m_percent) {
        m_percent = percent;
        m_percentText = stepText(percent);
    }
    changed(ProgressDisplay::Change::Step);
}

void RunProgress::FinishProgress()
{
    if (m_maximum > m_value) {
        m_value = m_maximum;
        m_percent = 100;
        m_percentText = "Finished:100%";
    }
    m_activity = "Ready";
    changed(ProgressDisplay::Change::StartOrEnd);
}

void RunProgress::showActivity(std::string text)
{
    m_activity = std::move(text);
    changed(ProgressDisplay::Change::Activity);
}

std::string RunProgress::stepText(int percent)
{
    return "Finished: " + std::to_string(percent) + "%";
}

int RunProgress::percentOf(std::int64_t value, std::int64_t maximum)
{
    if (maximum <= 0 || value <= 0) {
        return 0;
    }
    if (value <= std::numeric_limits<std::int64_t>::max() / 100) {
        return static_cast<int>(value * 100 / maximum);
    }
    // Past any length a file system holds: a hundredth of the maximum is then so many bytes that
    // dividing by it instead moves the percentage by at most one, at its very edges.
    return static_cast<int>(std::min<std::int64_t>(100, value / (maximum / 100)));
}

void RunProgress::changed(ProgressDisplay::Change change)
{
    if (m_display) {
        m_display->progressChanged(*this, change);
    }
}
