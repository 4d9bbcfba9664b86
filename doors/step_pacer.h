#pragma once

#include <chrono>
#include <functional>

// Paces the one-twip steps of a door movement. One delay unit is 0.1 µs. Each step's deadline is
// the movement's start plus the sum of the waits so far, so drawing never lengthens a movement.
class StepPacer
{
public:
    virtual ~StepPacer() = default;
    virtual void begin() = 0;
    // Waits `units` delay units after the step just set; false when the movement is to stop
    // where it is (the program is ending).
    virtual bool wait(int units) = 0;
    virtual void end() = 0;
};

// The real pacer: sleeps when ahead of the deadline and, at most once per display frame, brings
// the newest step to the screen through `present` (which must leave user input queued, and
// returns false to stop the movement).
class RealTimePacer final : public StepPacer
{
public:
    using Clock = std::chrono::steady_clock;
    explicit RealTimePacer(std::function<bool()> present,
                           Clock::duration frame = std::chrono::microseconds(16667));

    void begin() override;
    bool wait(int units) override;
    void end() override;

private:
    std::function<bool()> m_present;
    Clock::duration m_frame;
    Clock::time_point m_deadline;
    Clock::time_point m_nextFrame;
};
