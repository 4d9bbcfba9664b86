#pragma once

#include <functional>

class StepPacer;

// The door movements: runs of one-twip steps, each followed by a wait of the door's speed value
// (read afresh at every step) in delay units.
namespace doors {

// Front door, Width of its picture: the closed door is 1035 twips wide, the open one 70.
inline constexpr int kFrontClosedWidth = 1035;
inline constexpr int kFrontOpenWidth = 70;
// Middle door, Left of its leaf inside the doorway: 0 closed, -1100 open.
inline constexpr int kMiddleClosedLeft = 0;
inline constexpr int kMiddleOpenLeft = -1100;

// Sets every value from `first` to `last` inclusive, one apart, and waits `speed()` units after
// each, unless the pacer stops it. Nothing happens when `last` lies behind `first` in the
// direction given by `step`.
void runSteps(int first, int last, int step, const std::function<void(int)> &set,
              const std::function<int()> &speed, StepPacer &pacer);

// Opening goes from the current width down to 70; closing always starts at 70.
void moveFrontDoor(bool open, int currentWidth, const std::function<void(int)> &setWidth,
                   const std::function<int()> &speed, StepPacer &pacer);

void moveMiddleDoor(bool open, const std::function<void(int)> &setLeft,
                    const std::function<int()> &speed, StepPacer &pacer);

} // namespace doors
