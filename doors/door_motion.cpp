#include "doors/door_motion.h"

#include "doors/step_pacer.h"

namespace doors {

void runSteps(int first, int last, int step, const std::function<void(int)> &set,
              const std::function<int()> &speed, StepPacer &pacer)
{
    if ((step < 0 && first < last) || (step > 0 && first > last))
        return;
    pacer.begin();
    for (int value = first;; value += step) {
        set(value);
        if (!pacer.wait(speed()))
            return;
        if (value == last)
            break;
    }
    pacer.end();
}

void moveFrontDoor(bool open, int currentWidth, const std::function<void(int)> &setWidth,
                   const std::function<int()> &speed, StepPacer &pacer)
{
    if (open)
        runSteps(currentWidth, kFrontOpenWidth, -1, setWidth, speed, pacer);
    else
        runSteps(kFrontOpenWidth, kFrontClosedWidth, +1, setWidth, speed, pacer);
}

void moveMiddleDoor(bool open, const std::function<void(int)> &setLeft,
                    const std::function<int()> &speed, StepPacer &pacer)
{
    if (open)
        runSteps(kMiddleClosedLeft, kMiddleOpenLeft, -1, setLeft, speed, pacer);
    else
        runSteps(kMiddleOpenLeft, kMiddleClosedLeft, +1, setLeft, speed, pacer);
}

} // namespace doors
