#include "symbolfont.h"

#include <QFileInfo>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <algorithm>
#include <array>
#include <string_view>

namespace metafile::detail {
namespace {

constexpr quint8 kSymbolCharset = 2;
constexpr char16_t kFirstCode = 0x20;
constexpr char16_t kLastCode = 0xFF;
// Symbol fonts keep their codes in the private use area as well, at 0xF000 plus the code.
constexpr char16_t kPrivateArea = 0xF000;

// Free look-alikes of the Windows picture fonts (Debian's fonts-wine), registered with the
// application when the system's font configuration does not know them.
constexpr const char *kFreeFontFiles[][2] = {
    {"wingdings", "/usr/share/wine/fonts/wingding.ttf"},
    {"webdings", "/usr/share/wine/fonts/webdings.ttf"},
    {"marlett", "/usr/share/wine/fonts/marlett.ttf"},
};
// Fonts of signs whatever character set a file names for them.
constexpr const char *kPictureFonts[] = {"Wingdings", "Wingdings 2", "Wingdings 3",
                                         "Webdings",  "Marlett",     "MT Extra"};

// Wingdings 2 and 3 and MT Extra (the equation editor's accents and signs) come with Office and
// no free font copies them: their codes 0x20-0xFF as the nearest signs in Unicode's older blocks
// (the characters Unicode encoded for some of them later are in no font at hand), a space where
// nothing is close or beyond a chart's end. MT Extra's accents are spacing ones, since an equation
// places each by itself.
constexpr std::u16string_view kWingdings2 = u" ✎✒✐✏✄✂☏☎       " // 0x20
                                            u"    ▭▭  ◎     ☜☞" // 0x30
                                            u"☚☛☜☞☚☛☝☟☝☟☝☟☝☟ ✗" // 0x40
                                            u"✓☒☑☒☒⊗⊗⊘⊘‽‽‽‽&&&" // 0x50
                                            u"&❦❦❦❦❦❦❦❦○①②③④⑤⑥" // 0x60
                                            u"⑦⑧⑨⑩●❶❷❸❹❺❻❼❽❾❿ " // 0x70
                                            u"☉○☽☾¶✝✝◷◷◷◷◷◷◷◷◷" // 0x80
                                            u"◷◷◷▩▣·•●●○○○◉◉◉▪" // 0x90
                                            u"▪■■□□□□□▣▣▣▣◆◆◆◆" // 0xA0
                                            u"◇◈◈◈◆◆◆◆◈◊◖◗◓◒■◆" // 0xB0
                                            u"⬟⬟⬣⬢⬣⬢✚✚✚✚✚✚✚✖✖✖" // 0xC0
                                            u"✖✖✖✖✱✱✱✱✱✻✻✻✻✻✳✳" // 0xD0
                                            u"✳✳✳▲▲✦✦★★✶✶✴✴✹✹▲" // 0xE0
                                            u"✦✦✧✯✶✴✧✦※⁂";      // 0xF0
constexpr std::u16string_view kWingdings3 = u" ←→↑↓↖↗↙↘⇤⇥⤒⤓↖↘⇞" // 0x20
                                            u"⇟↔↕⇠⇢⇡⇣↯↲↳↰↱↰↱↵↳" // 0x30
                                            u"↩↪↵↵⇄⇅↹↨⇇⇉⇈⇊↶↷↺↻" // 0x40
                                            u"↻↺⎋⌤⌃⌥␣⍽⇪⇫⇦⇨⇦⇨⇦⇨" // 0x50
                                            u"⇦⇨⇦⇨⇦⇨←→↑↓↖↗↙↘↔↕" // 0x60
                                            u"▲▼△▽◀▶◁▷◣◢◤◥◂▸▴ " // 0x70
                                            u"▾▲▼◀▶◀▶▲▼←→↑↓←→↑" // 0x80
                                            u"↓←→↑↓←→↑↓←→↑↓←→↑" // 0x90
                                            u"↓←→↑↓←→←→←→←←→↑↓" // 0xA0
                                            u"→←→←→←→↑↓←→↑↓←→↑" // 0xB0
                                            u"↓←→↑↓←→↑↓↲↳↰↱↰↱↵" // 0xC0
                                            u"↳←→↑↓↖↗↙↘←→↑↓↖↗↙" // 0xD0
                                            u"↘⇦⇨⇧⇩⬁⬀⬃⬂←→↑↓←→↑" // 0xE0
                                            u"↓";               // 0xF0
constexpr std::u16string_view kMtExtra = u"   ˋˆ˜˙         "    // 0x20
                                         u"    ─     ∼≃⊲≪⊳≫"    // 0x30
                                         u"≜≙≐∐ƛ    ∩℧…⋯⋮⋰⋱"    // 0x40
                                         u"∥∵∡∢ ∪△□▭▱↗↙ ↘↖ "    // 0x50
                                         u"‵↦↕⇕○⊙≻ ℏ   ℓ∓ ∘"    // 0x60
                                         u"≺               "    // 0x70
                                         u"⇄  ⇌  ⇀↽        "    // 0x80
                                         u"                "    // 0x90
                                         u" ℝℤℂℚℕ ⟦⟧";          // 0xA0
static_assert(kWingdings2.size() <= 224 && kWingdings3.size() <= 224 && kMtExtra.size() <= 224);

// The Symbol font's codes 0x20-0xFF in Unicode (0: no equivalent).
constexpr std::array<char16_t, kLastCode - kFirstCode + 1> kSymbolToUnicode = {
    // 0x20
    0x0020, 0x0021, 0x2200, 0x0023, 0x2203, 0x0025, 0x0026, 0x220B, 0x0028, 0x0029, 0x2217, 0x002B,
    0x002C, 0x2212, 0x002E, 0x002F,
    // 0x30
    0x0030, 0x0031, 0x0032, 0x0033, 0x0034, 0x0035, 0x0036, 0x0037, 0x0038, 0x0039, 0x003A, 0x003B,
    0x003C, 0x003D, 0x003E, 0x003F,
    // 0x40
    0x2245, 0x0391, 0x0392, 0x03A7, 0x0394, 0x0395, 0x03A6, 0x0393, 0x0397, 0x0399, 0x03D1, 0x039A,
    0x039B, 0x039C, 0x039D, 0x039F,
    // 0x50
    0x03A0, 0x0398, 0x03A1, 0x03A3, 0x03A4, 0x03A5, 0x03C2, 0x03A9, 0x039E, 0x03A8, 0x0396, 0x005B,
    0x2234, 0x005D, 0x22A5, 0x005F,
    // 0x60
    0x203E, 0x03B1, 0x03B2, 0x03C7, 0x03B4, 0x03B5, 0x03C6, 0x03B3, 0x03B7, 0x03B9, 0x03D5, 0x03BA,
    0x03BB, 0x03BC, 0x03BD, 0x03BF,
    // 0x70
    0x03C0, 0x03B8, 0x03C1, 0x03C3, 0x03C4, 0x03C5, 0x03D6, 0x03C9, 0x03BE, 0x03C8, 0x03B6, 0x007B,
    0x007C, 0x007D, 0x223C, 0,
    // 0x80, 0x90
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    // 0xA0
    0x20AC, 0x03D2, 0x2032, 0x2264, 0x2044, 0x221E, 0x0192, 0x2663, 0x2666, 0x2665, 0x2660, 0x2194,
    0x2190, 0x2191, 0x2192, 0x2193,
    // 0xB0
    0x00B0, 0x00B1, 0x2033, 0x2265, 0x00D7, 0x221D, 0x2202, 0x2022, 0x00F7, 0x2260, 0x2261, 0x2248,
    0x2026, 0x23D0, 0x23AF, 0x21B5,
    // 0xC0
    0x2135, 0x2111, 0x211C, 0x2118, 0x2297, 0x2295, 0x2205, 0x2229, 0x222A, 0x2283, 0x2287, 0x2284,
    0x2282, 0x2286, 0x2208, 0x2209,
    // 0xD0
    0x2220, 0x2207, 0x00AE, 0x00A9, 0x2122, 0x220F, 0x221A, 0x22C5, 0x00AC, 0x2227, 0x2228, 0x21D4,
    0x21D0, 0x21D1, 0x21D2, 0x21D3,
    // 0xE0
    0x25CA, 0x2329, 0x00AE, 0x00A9, 0x2122, 0x2211, 0x239B, 0x239C, 0x239D, 0x23A1, 0x23A2, 0x23A3,
    0x23A7, 0x23A8, 0x23A9, 0x23AA,
    // 0xF0
    0, 0x232A, 0x222B, 0x2320, 0x23AE, 0x2321, 0x239E, 0x239F, 0x23A0, 0x23A4, 0x23A5, 0x23A6,
    0x23AB, 0x23AC, 0x23AD, 0};

// The symbol code of a UTF-16 unit, or 0 when it is none (text already in Unicode proper).
char16_t symbolCode(QChar c)
{
    char16_t u = c.unicode();
    if (u >= kPrivateArea + kFirstCode && u <= kPrivateArea + kLastCode)
        u -= kPrivateArea;
    return (u >= kFirstCode && u <= kLastCode) ? u : 0;
}

// The sign `code` (0x20-0xFF) shows in `family` by the charts above; std::nullopt for a font
// without a chart, a space for a code without a sign.
std::optional<char16_t> charted(const QString &family, char16_t code)
{
    const auto is = [&](const char *name) {
        return family.compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
    };
    const std::u16string_view chart = is("Wingdings 2")   ? kWingdings2
                                      : is("Wingdings 3") ? kWingdings3
                                      : is("MT Extra")    ? kMtExtra
                                                          : std::u16string_view();
    if (chart.empty())
        return std::nullopt;
    const size_t at = code - kFirstCode;
    return at < chart.size() ? chart[at] : u' ';
}

bool knownFamily(const QString &family)
{
    return QFontDatabase::families().contains(family, Qt::CaseInsensitive);
}

// Whether a font of `family` can be had, registering a free look-alike where one is at hand.
bool fontAvailable(const QString &family)
{
    if (knownFamily(family))
        return true;
    for (const auto &[name, file] : kFreeFontFiles)
        if (family.compare(QLatin1String(name), Qt::CaseInsensitive) == 0 &&
            QFileInfo::exists(QString::fromLatin1(file)))
            return QFontDatabase::addApplicationFont(QString::fromLatin1(file)) >= 0 &&
                   knownFamily(family);
    return false;
}

} // namespace

std::optional<SymbolText> symbolText(const QString &face, quint8 charset, const QString &text)
{
    const QString family = face.trimmed();
    if (family.compare(QLatin1String("Symbol"), Qt::CaseInsensitive) == 0) {
        // Greek and mathematical signs have their own Unicode characters, in any serif font;
        // a font called Symbol may well keep its glyphs under the symbol codes alone.
        SymbolText out{QStringLiteral("Serif"), text};
        for (QChar &c : out.text)
            if (const char16_t code = symbolCode(c))
                c = QChar(kSymbolToUnicode[code - kFirstCode] ? kSymbolToUnicode[code - kFirstCode]
                                                              : u' ');
        return out;
    }
    const bool pictureFont =
        std::any_of(std::begin(kPictureFonts), std::end(kPictureFonts), [&](const char *name) {
            return family.compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
        });
    if (!pictureFont && charset != kSymbolCharset)
        return std::nullopt;
    SymbolText out{family, text};
    if (family.isEmpty() || !fontAvailable(family)) {
        // Without the font, its signs from its chart in a face that has them, where one is known
        const bool known = charted(family, kFirstCode).has_value();
        out.family = QStringLiteral("DejaVu Sans");
        for (QChar &c : out.text)
            if (const char16_t code = symbolCode(c))
                c = known ? QChar(*charted(family, code)) : QChar(u' ');
        return out;
    }
    // Ask for each code where symbol fonts keep it and leave out what the font lacks.
    const QFontMetricsF metrics{QFont(family)};
    for (QChar &c : out.text) {
        if (const char16_t code = symbolCode(c))
            c = QChar(char16_t(kPrivateArea + code));
        if (!metrics.inFontUcs4(c.unicode()))
            c = u' ';
    }
    return out;
}

} // namespace metafile::detail
