#pragma once

#include "pictures/twips.h"

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QSize>
#include <QWidget>
#include <optional>

// The title of message boxes that have no title of their own.
inline const QString kAppTitle = QStringLiteral("ロルモ");

// Fills a widget's background with a colour, and writes its text in another when one is given.
inline void fillColours(QWidget *widget, const QColor &background,
                        std::optional<QColor> text = std::nullopt)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, background);
    if (text)
        palette.setColor(QPalette::WindowText, *text);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

// Places an ordinary widget on the whole pixels under a twip rectangle of its container.
inline void placeTwips(QWidget *widget, const TwipRect &rect)
{
    widget->setGeometry(rect.coveringPixels());
}

inline QSize twipsToPixelSize(int width, int height)
{
    return TwipRect{0, 0, width, height}.coveringPixels().size();
}

// The Japanese fonts of the design, with the fonts that stand in for them on other systems.
inline QFont japaneseFont(bool proportional, qreal pointSize)
{
    QFont font;
    font.setFamilies(
        proportional ? QStringList{QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("MS PGothic"),
                                   QStringLiteral("IPAPGothic"), QStringLiteral("IPA Pゴシック")}
                     : QStringList{QStringLiteral("ＭＳ ゴシック"), QStringLiteral("MS Gothic"),
                                   QStringLiteral("IPAGothic"), QStringLiteral("IPAゴシック")});
    font.setPointSizeF(pointSize);
    // Japanese and Latin text needs neither OpenType shaping nor hinting, and at these sizes the
    // IPA faces look the same without. Hinting them would run FreeType's auto-hinter, which reads
    // sample glyphs from all over the font file first.
    font.setStyleStrategy(QFont::PreferNoShaping);
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}
