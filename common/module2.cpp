#include "common/module2.h"

namespace Module2 {

namespace {
void change(QString &text, const QString &value)
{
    if (text == value)
        return;
    text = value;
    if (storedTextChanged)
        storedTextChanged();
}
} // namespace

void setHkPicDir(const QString &folder)
{
    change(HkPicDir, folder);
}

void setKanbanPicPath(const QString &path)
{
    change(KanbanPicPath, path);
}

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
