#include "common/module2.h"

namespace Module2 {

void reset()
{
    HkPicDir.clear();
    SpareText.clear();
    SpareNumber1 = 0;
    SpareNumber2 = 0;
    KanbanPicPath.clear();
    HkPicIndex = 0;
    NakaMode = 0;
}

} // namespace Module2
