#pragma once

// The progress of a run, as the progress bar and the status panels show it.

#include "shred/FillBlock.h"

#include <cstdint>
#include <string>

class RunProgress;

// What shows a run's progress: the main window's progress bar and status panels. It hears of every
// change and decides itself how often to paint.
class ProgressDisplay
{
public:
    virtual ~ProgressDisplay() = default;

    // What changed: a step of the bar, shown at the display's pace; the file being shredded, which
    // the panel must name at once (a screen reader reads it there) but which may be painted at the
    // display's pace, as a batch of small files names hundreds a second; or the start or the end of a
    // run, which the user has to see at once.
    enum class Change
    {
        Step,
        Activity,
        StartOrEnd
    };
    virtual void progressChanged(const RunProgress& progress, Change change) = 0;
};

// The progress of a shred run as the progress bar and the two status panels hold it: the bar's
// visibility, maximum and value, the activity panel ("Shredding: <path>", "Ready") and the
// percentage panel ("Finished: 28%", "Finished:100%"). Lengths and values are 64-bit. The state
// outlives a run: the bar and the panels keep what the last run left until the next one changes it.
class RunProgress
{
public:
    // One step of the bar for every block the pass writes.
    static constexpr std::int64_t kStep = kBlockSize;

    explicit RunProgress(ProgressDisplay* display = nullptr);

    // Makes the bar visible at value 0; the panels keep their texts.
    void StartProgress();
    void setMaximum(std::int64_t maximum);
    // Advances the value by one block unless that would pass the maximum, then shows the truncated
    // percentage of value / maximum.
    void StepProgress();
    // Completes the bar ("Finished:100%") if it is short of the maximum, and shows "Ready".
    void FinishProgress();
    void showActivity(std::string text);

    bool visible() const
    {
        return m_visible;
    }
    std::int64_t maximum() const
    {
        return m_maximum;
    }
    std::int64_t value() const
    {
        return m_value;
    }
    const std::string& activity() const
    {
        return m_activity;
    }
    const std::string& percentText() const
    {
        return m_percentText;
    }

    // "Finished:" and the percentage with the blank reserved for its sign: "Finished: 57%".
    static std::string stepText(int percent);
    // Whole percent of value / maximum, truncated toward zero.
    static int percentOf(std::int64_t value, std::int64_t maximum);

private:
    void changed(ProgressDisplay::Change change);

    ProgressDisplay* m_display;
    bool m_visible = false;
    std::int64_t m_maximum = 100;
    std::int64_t m_value = 0;
    int m_percent = -1;
    std::string m_activity = "Ready";
    std::string m_percentText;
};
