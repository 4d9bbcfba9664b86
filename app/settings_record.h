// The settings file: one text line of comma-separated fields.
//
// RecordWriter builds the line field by field; RecordReader takes the fields back in the
// same order, one call per field, so the loader can apply each value as soon as it has it.
//
// Reading rules, beyond what the writer itself produces (files from the older Windows build
// of the program must keep loading):
// - Fields are separated by a comma or by a line end (CR, LF or CR LF). Spaces and tabs
//   around a field are skipped. Lines that are blank (or hold only spaces and tabs) do not
//   count as fields: after a line end, everything up to the next non-blank character is
//   skipped, so the fields of one record may be spread over several lines. A line end that
//   directly follows a comma does end an (empty) field: "a,\r\nb" is three fields.
// - A quoted field runs to the next double quote, across commas and line ends; two double
//   quotes inside it stand for one. Anything between the closing quote and the next
//   separator is skipped. An unquoted field runs to the next comma or line end.
// - A read fails when, after skipping spaces and tabs (and, after a line end, blank lines),
//   no data is left. So a record ending in "x," has no field after x. An unterminated quote
//   gives the rest of the data as the text.
// - Numbers: the whole field (spaces trimmed) must be a decimal number: an optional sign,
//   digits with an optional "." fraction, an optional exponent ("1.5E+3"). Anything else,
//   an empty field included, reads as 0; there is no "leading digits" rule ("12abc" is 0).
//   Fractions are rounded half to even. A value outside the target type fails the read.
// - Yes/no: #TRUE# or #FALSE# (any case); a number is yes when it is not zero; anything
//   else is no.
// - Text is in the file system's encoding (platform/file_names.h): UTF-8, where every byte
//   that is not part of a UTF-8 sequence is kept as it is, so the text fields go back to the
//   file byte for byte. The sign folder and the signboard picture are paths, and a path with a
//   Shift_JIS or Latin-1 name only names its file in its own bytes; text that the Windows build
//   wrote in Shift_JIS is carried unchanged in the same way. On Windows the ANSI code page is
//   used.
#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QString>
#include <QtGlobal>
#include <optional>

namespace settings {

class RecordWriter
{
public:
    void text(const QString &value);
    void whole(qint32 value);
    // At most 7 significant digits, "." as the decimal separator, never an exponent.
    // NaN and infinities are written as 0.
    void position(float value);
    void yesNo(bool value);
    QByteArray finish() const; // the fields joined by commas, then "\r\n"

private:
    QByteArrayList m_fields;
};

class RecordReader
{
public:
    explicit RecordReader(QByteArray data);

    // Each returns false when the field cannot be read (data ended, or the value overflows
    // its type) and leaves `out` untouched; after a false the reader stays failed.
    bool text(QString &out);
    bool whole(qint32 &out);
    bool position(qint32 &out); // single-precision text, rounded to a 32-bit whole number
    bool whole16(qint16 &out);
    bool yesNo(bool &out);

private:
    std::optional<QByteArray> nextField();
    std::optional<qint64> nextInteger(qint64 min, qint64 max);

    QByteArray m_data;
    qsizetype m_pos = 0;
    bool m_afterLineEnd = true; // the start of the data counts as the start of a line
    bool m_failed = false;
};

} // namespace settings
