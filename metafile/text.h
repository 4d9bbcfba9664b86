#pragma once

#include <QByteArrayView>
#include <QList>
#include <QString>

namespace metafile::detail {

// The code page a font character set implies (Shift_JIS fonts use CP932, and so on).
QByteArray codecForCharset(quint8 charset);

// Decodes 8-bit text in the code page of `charset`. When `byteDx` is given (one advance per
// byte), `charDx` receives the advances per UTF-16 unit: a character made of several bytes
// advances by the sum of its bytes' values.
QString decodeText(QByteArrayView bytes, quint8 charset, const QList<qreal> &byteDx = {},
                   QList<qreal> *charDx = nullptr);

} // namespace metafile::detail
