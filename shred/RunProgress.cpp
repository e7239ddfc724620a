#include "shred/RunProgress.h"

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
    changed(true);
}

void RunProgress::setMaximum(std::int64_t maximum)
{
    m_maximum = maximum;
    if (m_value > m_maximum) {
        m_value = m_maximum;
    }
    changed(false);
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
    changed(false);
}

void RunProgress::FinishProgress()
{
    if (m_maximum > m_value) {
        m_value = m_maximum;
        m_percent = 100;
        m_percentText = "Finished:100%";
    }
    m_activity = "Ready";
    changed(true);
}

void RunProgress::showActivity(std::string text)
{
    m_activity = std::move(text);
    changed(true);
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
    // Exact: value * 100 can pass 64 bits only for lengths no file system holds, but stay safe.
    return static_cast<int>(static_cast<__int128>(value) * 100 / maximum);
}

void RunProgress::changed(bool mustShow)
{
    if (m_display) {
        m_display->progressChanged(*this, mustShow);
    }
}
