#pragma once

#include <QString>
#include <optional>

// Text in symbol fonts (Wingdings, Webdings, Symbol and other fonts of the symbol character
// set), whose character codes stand for pictures and signs rather than letters.
namespace metafile::detail {

struct SymbolText
{
    QString family; // the font to draw with
    QString text;   // one UTF-16 unit for each of the given text's
};

// The text as it is to be drawn, or std::nullopt for an ordinary font. Characters that no
// font at hand can show become spaces: a wrong letter never stands in for a symbol.
std::optional<SymbolText> symbolText(const QString &face, quint8 charset, const QString &text);

} // namespace metafile::detail
