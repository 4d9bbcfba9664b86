#include "doors/step_pacer.h"

#include <algorithm>
#include <thread>

namespace {
// One delay unit is a tenth of a microsecond: 100 ns.
constexpr std::chrono::nanoseconds kDelayUnit{100};
} // namespace

RealTimePacer::RealTimePacer(std::function<bool()> present, Clock::duration frame)
    : m_present(std::move(present)), m_frame(frame)
{}

void RealTimePacer::begin()
{
    const auto now = Clock::now();
    m_deadline = now;
    // The first step is shown at once.
    m_nextFrame = now;
}

bool RealTimePacer::wait(int units)
{
    m_deadline += kDelayUnit * std::max(units, 0);
    for (;;) {
        auto now = Clock::now();
        if (now >= m_nextFrame) {
            if (!m_present())
                return false;
            now = Clock::now();
            m_nextFrame = now + m_frame;
        }
        if (now >= m_deadline)
            return true;
        std::this_thread::sleep_until(std::min(m_deadline, m_nextFrame));
    }
}

void RealTimePacer::end()
{
    m_present();
}
