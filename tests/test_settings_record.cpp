#include "app/settings_record.h"
#include "platform/file_names.h"

#include <QTest>

using settings::RecordReader;
using settings::RecordWriter;

namespace {

// Reads one field of the given kind into `value`, which holds the value as text (numbers as
// digits, yes/no as "yes" or "no") both before and after the read.
bool readField(RecordReader &in, char kind, QString &value)
{
    qint32 number = value.toInt();
    qint16 small = qint16(number);
    bool flag = value == QLatin1String("yes");
    const bool ok = kind == 'N'   ? in.yesNo(flag)
                    : kind == 'S' ? in.whole16(small)
                    : kind == 'P' ? in.position(number)
                                  : in.whole(number);
    value = kind == 'N' ? QString::fromLatin1(flag ? "yes" : "no")
                        : QString::number(kind == 'S' ? small : number);
    return ok;
}

} // namespace

class TestSettingsRecord : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void writesPosition_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("written");
        // At most seven significant digits, never an exponent; no NaN or infinity.
        for (const char *c :
             {"-0=0", "12.5=12.5", "-0.66666667=-0.6666667", "0.33333333=0.3333333",
              "12345678=12345680", "9999999.5=10000000", "1.5e-7=0.00000015", "3e9=3000000000",
              "nan=0", "-inf=0",
              // Exact halves go to the even digit, as printf rounds them.
              "1234566.5=1234566", "1234567.5=1234568", "12345665=12345660", "-12345675=-12345680",
              "3.4028234e38=340282300000000000000000000000000000000",
              "1.4e-45=0.000000000000000000000000000000000000000000001401298"}) {
            const QByteArrayList parts = QByteArray(c).split('=');
            QTest::newRow(c) << QString::fromLatin1(parts[0]) << parts[1];
        }
    }
    void writesPosition()
    {
        QFETCH(QString, value);
        QFETCH(QByteArray, written);
        bool ok = false;
        RecordWriter out;
        out.position(value.toFloat(&ok));
        QVERIFY(ok);
        QCOMPARE(out.finish(), written + "\r\n");
    }

    // Fields as the reader splits them, their bytes kept whether UTF-8 or not (names from old
    // archives, text the Windows build wrote in Shift_JIS).
    void splitsFields_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArrayList>("fields");
        const auto row = [](const char *name, const QByteArray &data,
                            const QByteArrayList &fields) {
            QTest::newRow(name) << data << fields;
        };
        row("empty data", "", {});
        row("spaces around", " a ,\tb\t, \"c\" \r\n", {"a", "b", "c"});
        row("spaces inside kept", "a b,\" c \"", {"a b", " c "});
        row("doubled quotes", "\"say \"\"hi\"\"\",\"\"\"\",\"\"", {"say \"hi\"", "\"", ""});
        row("quote inside unquoted", "a\"b,c", {"a\"b", "c"});
        row("after closing quote skipped", "\"a\"xyz, b\r\n\"c\" d\ne", {"a", "b", "c", "e"});
        // A backslash is no escape: old Windows paths end in one right before the quote.
        row("windows path", "\"C:\\Signs\\Set A\\\",1", {"C:\\Signs\\Set A\\", "1"});
        row("blank lines skipped", "\r\n\r\na\r\n\r\n  \r\n\tb\n\n\rc", {"a", "b", "c"});
        row("empty between commas", "a,,b, ,\"\"", {"a", "", "b", "", ""});
        row("line end after comma", "a,\r\nb,\nc,\rd", {"a", "", "b", "", "c", "", "d"});
        row("line starting with comma", "a\r\n,b", {"a", "", "b"});
        row("trailing comma and spaces", "a, ", {"a"});
        row("unterminated quote", "a,\"b,c\r\n", {"a", "b,c\r\n"});
        row("lone quote at end", "a,\"", {"a", ""});
        row("doubled quote at end", "\"a\"\"", {"a\""});
        row("nul byte", QByteArray("a\0b,c", 5), {QByteArray("a\0b", 3), "c"});
        for (const QByteArray text : {"C:\\\x83\x5c\x95\x5c\\", "caf\xe9", "\xc0\xaf", "a\xe6\x96",
                                      "\xf0\x90\x82\x80", "\xe6\x96\xb9"})
            row(text.toHex().constData(), '"' + text + "\",7", {text, "7"});
        // A megabyte in one field is read through, neither hanging nor running out of stack.
        constexpr qsizetype MiB = 1024 * 1024;
        row("huge number", QByteArray(MiB, '1'), {QByteArray(MiB, '1')});
        row("huge blank", QByteArray(MiB, '\n'), {});
        row("huge doubled quotes", "0,\"" + QByteArray(MiB, '"'), {"0", QByteArray(MiB / 2, '"')});
    }
    void splitsFields()
    {
        QFETCH(QByteArray, data);
        QFETCH(QByteArrayList, fields);
        RecordReader in(data);
        QByteArrayList read;
        QString field;
        while (in.text(field))
            read.append(platform::encodeFileName(field));
        QCOMPARE(read, fields);
    }

    void readsValues_data()
    {
        QTest::addColumn<char>("kind");
        QTest::addColumn<QByteArray>("field");
        QTest::addColumn<QString>("value"); // empty: the value does not fit its type
        // Each case is "field=value", or "field=" when the read fails.
        const auto rows = [](char kind, std::initializer_list<const char *> cases) {
            for (const QByteArray c : cases) {
                const qsizetype split = c.lastIndexOf('=');
                QTest::addRow("%c %s", kind, c.constData())
                    << kind << c.left(split) << QString::fromLatin1(c.mid(split + 1));
            }
        };
        // Only a whole decimal number counts, anything else is 0 (a comma ends the field);
        // fractions are rounded half to even from the full decimal text.
        rows('W', {"000000000000000000042=42", "\" 42 \"=42", "12abc=0", "-3.5=-4",
                   "2147483647=2147483647", "-2147483648=-2147483648", "2147483648=",
                   "-2147483648.6=", "1e99999999999999999999=", "123456789012345678901234567890="});
        rows('P', {"=0", ".=0", "12,5=12", "12.5=12", "13.5=14", "-0.5=0", "-1.5=-2",
                   "12.50000000000000000001=13", "1.5E+3=1500", "1e=0",
                   "-2147483649=", "2147483647.5=", "-2147483648.5=-2147483648", "1e10="});
        rows('S',
             {"32767=32767", "-32768=-32768", "32768=", "-32769=", "32767.5=", "-32768.5=-32768"});
        // #TRUE# and #FALSE# in any case; otherwise a number that is not zero is yes.
        rows('N', {"#TRUE#=yes", "#true#=yes", "\"#TRUE#\"=yes", "-1=yes", "0.001=yes",
                   "#FALSE#=no", " #False# =no", "-0.000=no", "=no", "#TRUE=no"});
    }
    void readsValues()
    {
        QFETCH(char, kind);
        QFETCH(QByteArray, field);
        QFETCH(QString, value);
        // Start from a value the read has to change; a failed read leaves it as it was.
        const QString untouched = kind != 'N'      ? QStringLiteral("4711")
                                  : value == "yes" ? "no"
                                                   : "yes";
        RecordReader in(field + ",5\r\n");
        QString read = untouched;
        QCOMPARE(readField(in, kind, read), !value.isEmpty());
        QCOMPARE(read, value.isEmpty() ? untouched : value);
        qint32 next = 0; // the field after it only when this one was read
        QCOMPARE(in.whole(next), !value.isEmpty());
    }
};

QTEST_APPLESS_MAIN(TestSettingsRecord)
#include "test_settings_record.moc"
