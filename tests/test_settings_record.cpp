#include "app/settings_record.h"

#include <QStringEncoder>
#include <QTest>
#include <array>
#include <functional>
#include <limits>

using settings::RecordReader;
using settings::RecordWriter;

namespace {

// The settings line, field by field (named by position and kind).
struct Record
{
    qint32 pos1 = 0, pos2 = 0, pos3 = 0, pos4 = 0;
    QString text5, text6;
    qint32 whole7 = 0, whole8 = 0;
    QString text9;
    qint32 pos10 = 0, pos11 = 0;
    bool flag12 = false, flag13 = false;
    qint32 whole14 = 0, whole15 = 0;
    qint16 whole16 = 0;
};

// Reads the fields in order, as the loader does, until one fails; returns how many were read.
int readRecord(const QByteArray &data, Record &r)
{
    RecordReader in(data);
    const std::array<std::function<bool()>, 16> reads = {
        [&] { return in.position(r.pos1); },  [&] { return in.position(r.pos2); },
        [&] { return in.position(r.pos3); },  [&] { return in.position(r.pos4); },
        [&] { return in.text(r.text5); },     [&] { return in.text(r.text6); },
        [&] { return in.whole(r.whole7); },   [&] { return in.whole(r.whole8); },
        [&] { return in.text(r.text9); },     [&] { return in.position(r.pos10); },
        [&] { return in.position(r.pos11); }, [&] { return in.yesNo(r.flag12); },
        [&] { return in.yesNo(r.flag13); },   [&] { return in.whole(r.whole14); },
        [&] { return in.whole(r.whole15); },  [&] { return in.whole16(r.whole16); },
    };
    int count = 0;
    for (const auto &read : reads) {
        if (!read())
            break;
        ++count;
    }
    return count;
}

QStringList describe(const Record &r)
{
    const auto n = [](auto v) { return QString::number(v); };
    const auto b = [](bool v) { return v ? QStringLiteral("yes") : QStringLiteral("no"); };
    return {n(r.pos1),   n(r.pos2),    n(r.pos3),    n(r.pos4),   r.text5,    r.text6,
            n(r.whole7), n(r.whole8),  r.text9,      n(r.pos10),  n(r.pos11), b(r.flag12),
            b(r.flag13), n(r.whole14), n(r.whole15), n(r.whole16)};
}

// Reads every field as text until the reader fails.
QStringList readAllAsText(const QByteArray &data)
{
    RecordReader in(data);
    QStringList fields;
    QString field;
    while (in.text(field))
        fields.append(field);
    return fields;
}

QByteArray shiftJis(const QString &text)
{
    QStringEncoder encoder("Shift_JIS");
    return encoder.isValid() ? QByteArray(encoder.encode(text)) : QByteArray();
}

enum class Target
{
    Whole,
    Position,
    Whole16
};

} // namespace

class TestSettingsRecord : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void writesFirstStartLine();
    void writesPosition_data();
    void writesPosition();
    void writesTextAndNumbers_data();
    void writesTextAndNumbers();
    void roundTripsEveryFieldKind();

    void splitsFields_data();
    void splitsFields();
    void readsRecordLayouts_data();
    void readsRecordLayouts();
    void readsNumbers_data();
    void readsNumbers();
    void readsYesNo_data();
    void readsYesNo();
    void failureIsFinal();
    void decodesWindowsText_data();
    void decodesWindowsText();
    void handlesHugeFields_data();
    void handlesHugeFields();
};

static const QByteArray FirstStart =
    "0,0,0,3600,\"\",\"\",0,0,\"\",8790,1680,#TRUE#,#TRUE#,10000,6000,0\r\n";

void TestSettingsRecord::writesFirstStartLine()
{
    RecordWriter out;
    out.position(0);
    out.position(0);
    out.position(0);
    out.position(3600);
    out.text({});
    out.text({});
    out.whole(0);
    out.whole(0);
    out.text({});
    out.position(8790);
    out.position(1680);
    out.yesNo(true);
    out.yesNo(true);
    out.whole(10000);
    out.whole(6000);
    out.whole(0);
    QCOMPARE(out.finish(), FirstStart);
}

void TestSettingsRecord::writesPosition_data()
{
    QTest::addColumn<float>("value");
    QTest::addColumn<QByteArray>("written");

    QTest::newRow("whole") << 8790.0f << QByteArray("8790");
    QTest::newRow("negative whole") << -15.0f << QByteArray("-15");
    QTest::newRow("zero") << 0.0f << QByteArray("0");
    QTest::newRow("negative zero") << -0.0f << QByteArray("0");
    QTest::newRow("half") << 12.5f << QByteArray("12.5");
    QTest::newRow("below one") << 0.25f << QByteArray("0.25");
    QTest::newRow("negative fraction") << -0.75f << QByteArray("-0.75");
    QTest::newRow("inexact binary") << 0.1f << QByteArray("0.1");
    QTest::newRow("seven digits kept") << 1234567.0f << QByteArray("1234567");
    QTest::newRow("eighth digit rounded") << 12345678.0f << QByteArray("12345680");
    QTest::newRow("third") << 1.0f / 3 << QByteArray("0.3333333");
    QTest::newRow("two thirds") << -2.0f / 3 << QByteArray("-0.6666667");
    QTest::newRow("rounding carries") << 9999999.5f << QByteArray("10000000");
    QTest::newRow("small, no exponent") << 1.5e-7f << QByteArray("0.00000015");
    QTest::newRow("large, no exponent") << 3e9f << QByteArray("3000000000");
    QTest::newRow("not a number") << std::numeric_limits<float>::quiet_NaN() << QByteArray("0");
    QTest::newRow("infinity") << -std::numeric_limits<float>::infinity() << QByteArray("0");
}

void TestSettingsRecord::writesPosition()
{
    QFETCH(float, value);
    QFETCH(QByteArray, written);
    RecordWriter out;
    out.position(value);
    QCOMPARE(out.finish(), written + "\r\n");
}

void TestSettingsRecord::writesTextAndNumbers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint32>("whole");
    QTest::addColumn<bool>("flag");
    QTest::addColumn<QByteArray>("written");

    QTest::newRow("plain") << QStringLiteral("/home/a") << 7 << false
                           << QByteArray("\"/home/a\",7,#FALSE#\r\n");
    QTest::newRow("quote doubled")
        << QStringLiteral("a\"b") << -1 << true << QByteArray("\"a\"\"b\",-1,#TRUE#\r\n");
    QTest::newRow("only a quote") << QStringLiteral("\"") << 0 << true
                                  << QByteArray("\"\"\"\",0,#TRUE#\r\n");
    QTest::newRow("comma and spaces kept") << QStringLiteral(" a, b ") << 2147483647 << false
                                           << QByteArray("\" a, b \",2147483647,#FALSE#\r\n");
    QTest::newRow("japanese as utf-8")
        << QStringLiteral("方向幕") << std::numeric_limits<qint32>::min() << false
        << QByteArray("\"\xe6\x96\xb9\xe5\x90\x91\xe5\xb9\x95\",-2147483648,#FALSE#\r\n");
}

void TestSettingsRecord::writesTextAndNumbers()
{
    QFETCH(QString, text);
    QFETCH(qint32, whole);
    QFETCH(bool, flag);
    QFETCH(QByteArray, written);
    RecordWriter out;
    out.text(text);
    out.whole(whole);
    out.yesNo(flag);
    QCOMPARE(out.finish(), written);
}

void TestSettingsRecord::roundTripsEveryFieldKind()
{
    Record expected{-15,
                    12,
                    -2,
                    3600,
                    QStringLiteral("/home/ユーザー/行先, \"A\"/"),
                    QStringLiteral("\"\""),
                    -7,
                    2147483647,
                    QStringLiteral(" 乗り場 ,\r\n2 "),
                    8790,
                    -1680,
                    false,
                    true,
                    -32768,
                    65535,
                    -32768};
    RecordWriter out;
    out.position(-15.25f); // rounded on reading
    out.position(12.5f);
    out.position(-2.0f);
    out.position(3600.0f);
    out.text(expected.text5);
    out.text(expected.text6);
    out.whole(expected.whole7);
    out.whole(expected.whole8);
    out.text(expected.text9);
    out.position(8790.4f);
    out.position(-1679.5f);
    out.yesNo(expected.flag12);
    out.yesNo(expected.flag13);
    out.whole(expected.whole14);
    out.whole(expected.whole15);
    out.whole(expected.whole16);

    Record read;
    QCOMPARE(readRecord(out.finish(), read), 16);
    QCOMPARE(describe(read), describe(expected));
}

void TestSettingsRecord::splitsFields_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QStringList>("fields");

    QTest::newRow("empty data") << QByteArray() << QStringList();
    QTest::newRow("only line ends") << QByteArray("\r\n\n\r \t\r\n") << QStringList();
    QTest::newRow("spaces around")
        << QByteArray(" a ,\tb\t, \"c\" \r\n") << QStringList{"a", "b", "c"};
    QTest::newRow("spaces inside kept") << QByteArray("a b,\" c \"") << QStringList{"a b", " c "};
    QTest::newRow("quoted comma") << QByteArray("\"a,b\",c") << QStringList{"a,b", "c"};
    QTest::newRow("doubled quotes")
        << QByteArray("\"say \"\"hi\"\"\",\"\"\"\",\"\"") << QStringList{"say \"hi\"", "\"", ""};
    QTest::newRow("quote inside unquoted") << QByteArray("a\"b,c") << QStringList{"a\"b", "c"};
    QTest::newRow("quoted line end") << QByteArray("\"a\r\nb\",c") << QStringList{"a\r\nb", "c"};
    QTest::newRow("after closing quote skipped")
        << QByteArray("\"a\"xyz, b\r\n\"c\" d\ne") << QStringList{"a", "b", "c", "e"};
    QTest::newRow("windows path") << QByteArray("\"C:\\Signs\\Set A\\\",1")
                                  << QStringList{"C:\\Signs\\Set A\\", "1"};
    QTest::newRow("CR LF") << QByteArray("a\r\nb\r\n") << QStringList{"a", "b"};
    QTest::newRow("LF") << QByteArray("a\nb\n") << QStringList{"a", "b"};
    QTest::newRow("CR") << QByteArray("a\rb\r") << QStringList{"a", "b"};
    QTest::newRow("blank lines skipped")
        << QByteArray("\r\n\r\na\r\n\r\n  \r\n\tb\n\n\rc") << QStringList{"a", "b", "c"};
    QTest::newRow("empty between commas")
        << QByteArray("a,,b, ,\"\"") << QStringList{"a", "", "b", "", ""};
    QTest::newRow("line end after comma")
        << QByteArray("a,\r\nb,\nc,\rd") << QStringList{"a", "", "b", "", "c", "", "d"};
    QTest::newRow("leading comma") << QByteArray(",a") << QStringList{"", "a"};
    QTest::newRow("line starting with comma") << QByteArray("a\r\n,b") << QStringList{"a", "", "b"};
    QTest::newRow("trailing comma at end") << QByteArray("a,b,") << QStringList{"a", "b"};
    QTest::newRow("trailing comma and spaces") << QByteArray("a, ") << QStringList{"a"};
    QTest::newRow("unterminated quote") << QByteArray("a,\"b,c\r\n") << QStringList{"a", "b,c\r\n"};
    QTest::newRow("lone quote at end") << QByteArray("a,\"") << QStringList{"a", ""};
    QTest::newRow("doubled quote at end") << QByteArray("\"a\"\"") << QStringList{"a\""};
    QTest::newRow("nul byte") << QByteArray("a\0b,c", 5)
                              << QStringList{QString::fromUtf8("a\0b", 3), "c"};
}

void TestSettingsRecord::splitsFields()
{
    QFETCH(QByteArray, data);
    QFETCH(QStringList, fields);
    QCOMPARE(readAllAsText(data), fields);
}

void TestSettingsRecord::readsRecordLayouts_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("count");
    QTest::addColumn<QStringList>("fields");

    Record firstStart;
    firstStart.pos4 = 3600;
    firstStart.pos10 = 8790;
    firstStart.pos11 = 1680;
    firstStart.flag12 = firstStart.flag13 = true;
    firstStart.whole14 = 10000;
    firstStart.whole15 = 6000;
    const QStringList expected = describe(firstStart);

    QTest::newRow("one line") << FirstStart << 16 << expected;
    QTest::newRow("LF only") << QByteArray(FirstStart).replace("\r\n", "\n") << 16 << expected;
    QTest::newRow("CR only") << QByteArray(FirstStart).replace("\r\n", "\r") << 16 << expected;
    QTest::newRow("no line end") << FirstStart.chopped(2) << 16 << expected;
    QTest::newRow("spaced") << QByteArray(FirstStart).replace(",", " ,\t ") << 16 << expected;
    QTest::newRow("several lines")
        << QByteArray("0,0,0,3600\r\n\"\",\"\"\r\n0\r\n0\r\n\r\n\"\",8790,1680\n#TRUE#,#TRUE#\r\n"
                      "10000,6000,0\r\n")
        << 16 << expected;
    QTest::newRow("extra lines after")
        << FirstStart + "1,2,3\r\n\"unterminated\r\n,,,\xff\xfe" << 16 << expected;
    QTest::newRow("extra field after") << FirstStart.chopped(2) + ",99999999999" << 16 << expected;

    Record partial = firstStart;
    partial.whole16 = 0;
    QTest::newRow("fifteen fields")
        << QByteArray("0,0,0,3600,\"\",\"\",0,0,\"\",8790,1680,#TRUE#,#TRUE#,10000,6000\r\n") << 15
        << describe(partial);

    Record truncated;
    truncated.pos4 = 3600;
    truncated.text5 = QStringLiteral("/ho");
    QTest::newRow("cut inside a text")
        << QByteArray("0,0,0,3600,\"/ho") << 5 << describe(truncated);
}

void TestSettingsRecord::readsRecordLayouts()
{
    QFETCH(QByteArray, data);
    QFETCH(int, count);
    QFETCH(QStringList, fields);
    Record read;
    QCOMPARE(readRecord(data, read), count);
    QCOMPARE(describe(read), fields);
}

void TestSettingsRecord::readsNumbers_data()
{
    QTest::addColumn<Target>("target");
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("value");

    const auto row = [](const char *name, Target target, const char *field, bool ok, int value) {
        QTest::newRow(name) << target << QByteArray(field) << ok << value;
    };
    constexpr auto W = Target::Whole;
    constexpr auto P = Target::Position;
    constexpr auto S = Target::Whole16;

    row("plain", W, "10000", true, 10000);
    row("negative", P, "-15", true, -15);
    row("plus sign", W, "+7", true, 7);
    row("leading zeros", W, "000000000000000000042", true, 42);
    row("quoted", W, "\"42\"", true, 42);
    row("spaces in quotes", W, "\" 42 \"", true, 42);
    row("empty", P, "", true, 0);
    row("empty quoted", W, "\"\"", true, 0);
    row("letters", W, "abc", true, 0);
    row("digits then letters", W, "12abc", true, 0);
    row("space inside", W, "1 2", true, 0);
    row("sign alone", W, "-", true, 0);
    row("point alone", P, ".", true, 0);
    row("boolean word", W, "#TRUE#", true, 0);
    row("hex", W, "0x10", true, 0);
    row("comma decimal", P, "12,5", true, 12); // the comma separates fields

    row("half down to even", P, "12.5", true, 12);
    row("half up to even", P, "13.5", true, 14);
    row("negative half to zero", P, "-0.5", true, 0);
    row("negative half to even", P, "-1.5", true, -2);
    row("just above half", P, "12.50000000000000000001", true, 13);
    row("just below half", P, "12.49999999", true, 12);
    row("whole with fraction", W, "2.5", true, 2);
    row("whole with fraction up", W, "-3.5", true, -4);
    row("trailing point", P, "12.", true, 12);
    row("leading point", P, ".75", true, 1);
    row("tiny", P, "0.0000000001", true, 0);
    row("exponent", P, "1.5E+3", true, 1500);
    row("negative exponent", P, "25e-1", true, 2);
    row("huge negative exponent", P, "7e-99999999999999999999", true, 0);
    row("bad exponent", P, "1e", true, 0);

    row("32-bit max", W, "2147483647", true, 2147483647);
    row("32-bit min", W, "-2147483648", true, std::numeric_limits<int>::min());
    row("32-bit overflow", W, "2147483648", false, 0);
    row("32-bit underflow", P, "-2147483649", false, 0);
    row("rounds into overflow", P, "2147483647.5", false, 0);
    row("rounds to min", P, "-2147483648.5", true, std::numeric_limits<int>::min());
    row("rounds below min", W, "-2147483648.6", false, 0);
    row("ten digits", P, "9999999999", false, 0);
    row("exponent overflow", P, "1e10", false, 0);
    row("huge exponent", W, "1e99999999999999999999", false, 0);
    row("many digits", W, "123456789012345678901234567890", false, 0);

    row("16-bit max", S, "32767", true, 32767);
    row("16-bit min", S, "-32768", true, -32768);
    row("16-bit overflow", S, "32768", false, 0);
    row("16-bit underflow", S, "-32769", false, 0);
    row("16-bit rounds into overflow", S, "32767.5", false, 0);
    row("16-bit rounds to min", S, "-32768.5", true, -32768);
    row("16-bit fraction", S, "6.5", true, 6);
    row("16-bit text", S, "x", true, 0);
}

void TestSettingsRecord::readsNumbers()
{
    QFETCH(Target, target);
    QFETCH(QByteArray, field);
    QFETCH(bool, ok);
    QFETCH(int, value);

    RecordReader in(field + ",5\r\n");
    constexpr int Untouched = 4711;
    int read = Untouched;
    bool readOk = false;
    switch (target) {
    case Target::Whole:
    case Target::Position: {
        qint32 v = Untouched;
        readOk = target == Target::Whole ? in.whole(v) : in.position(v);
        read = v;
        break;
    }
    case Target::Whole16: {
        qint16 v = Untouched;
        readOk = in.whole16(v);
        read = v;
        break;
    }
    }
    QCOMPARE(readOk, ok);
    QCOMPARE(read, ok ? value : Untouched);
    qint32 next = 0;
    QCOMPARE(in.whole(next), ok); // the field after it only when this one was read
}

void TestSettingsRecord::readsYesNo_data()
{
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<bool>("value");

    QTest::newRow("true") << QByteArray("#TRUE#") << true;
    QTest::newRow("false") << QByteArray("#FALSE#") << false;
    QTest::newRow("lower case") << QByteArray("#true#") << true;
    QTest::newRow("mixed case false") << QByteArray(" #False# ") << false;
    QTest::newRow("quoted") << QByteArray("\"#TRUE#\"") << true;
    QTest::newRow("one") << QByteArray("1") << true;
    QTest::newRow("minus one") << QByteArray("-1") << true;
    QTest::newRow("fraction") << QByteArray("0.001") << true;
    QTest::newRow("huge") << QByteArray("99999999999999999999") << true;
    QTest::newRow("zero") << QByteArray("0") << false;
    QTest::newRow("zero with fraction") << QByteArray("-0.000") << false;
    QTest::newRow("empty") << QByteArray("") << false;
    QTest::newRow("word") << QByteArray("yes") << false;
    QTest::newRow("no hashes") << QByteArray("TRUE") << false;
    QTest::newRow("partial") << QByteArray("#TRUE") << false;
}

void TestSettingsRecord::readsYesNo()
{
    QFETCH(QByteArray, field);
    QFETCH(bool, value);
    for (const bool start : {false, true}) {
        RecordReader in(field + ", #TRUE#\r\n");
        bool read = start;
        QVERIFY(in.yesNo(read));
        QCOMPARE(read, value);
        QVERIFY(in.yesNo(read));
        QCOMPARE(read, true);
    }
}

void TestSettingsRecord::failureIsFinal()
{
    RecordReader in("1,70000,2,\"x\",#TRUE#");
    qint16 small = 0;
    QVERIFY(in.whole16(small));
    QCOMPARE(small, qint16(1));
    QVERIFY(!in.whole16(small));
    QCOMPARE(small, qint16(1));

    qint32 whole = -1;
    QString text = QStringLiteral("kept");
    bool flag = false;
    QVERIFY(!in.whole(whole));
    QVERIFY(!in.text(text));
    QVERIFY(!in.yesNo(flag));
    QCOMPARE(whole, -1);
    QCOMPARE(text, QStringLiteral("kept"));
    QCOMPARE(flag, false);

    RecordReader ended("1");
    QVERIFY(ended.whole(whole));
    QVERIFY(!ended.text(text));
    QVERIFY(!ended.text(text));
    QCOMPARE(text, QStringLiteral("kept"));
}

void TestSettingsRecord::decodesWindowsText_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");

    // 0x5C (a backslash) is also the second byte of ソ and 表 in Shift_JIS.
    const QString windowsPath = QStringLiteral("C:\\方向幕\\ソ表①\\");
    const QByteArray encoded = shiftJis(windowsPath);
    QTest::newRow("shift_jis path") << encoded << windowsPath;
    QTest::newRow("shift_jis katakana") << shiftJis(QStringLiteral("ﾊﾞｽ")) << QStringLiteral("ﾊﾞｽ");
    QTest::newRow("utf-8 path") << windowsPath.toUtf8() << windowsPath;
    QTest::newRow("ascii") << QByteArray("C:\\Signs\\") << QStringLiteral("C:\\Signs\\");
    // Bytes that look like UTF-8 but are not: overlong, surrogate, beyond U+10FFFF, cut short.
    QTest::newRow("overlong slash") << QByteArray("\xc0\xaf") << QStringLiteral("ﾀｯ");
    QTest::newRow("encoded surrogate") << QByteArray("\xed\xa0\x80") << QString();
    QTest::newRow("beyond unicode") << QByteArray("\xf4\x90\x80\x80") << QString();
    QTest::newRow("cut sequence") << QByteArray("a\xe6\x96") << QString();
}

void TestSettingsRecord::decodesWindowsText()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    if (bytes.isEmpty())
        QSKIP("No Shift_JIS codec in this Qt build");

    RecordReader in('"' + bytes + "\",7");
    QString read;
    QVERIFY(in.text(read));
    if (!text.isEmpty()) {
        QCOMPARE(read, text);
    } else {
        // Not UTF-8, so not decoded as UTF-8 (which would give replacement characters).
        QVERIFY(read != QString::fromUtf8(bytes));
        QVERIFY(!read.isEmpty());
    }
    qint32 next = 0;
    QVERIFY(in.whole(next));
    QCOMPARE(next, 7);
}

void TestSettingsRecord::handlesHugeFields_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("count");

    constexpr qsizetype MiB = 1024 * 1024;
    const QByteArray toText = "0,0,0,0,\"";
    QTest::newRow("digits") << QByteArray(MiB, '1') << 0;
    QTest::newRow("fraction digits") << "0." + QByteArray(MiB, '0') + "1" << 1;
    QTest::newRow("zeros") << QByteArray(MiB, '0') << 1;
    QTest::newRow("line ends") << QByteArray(MiB, '\n') << 0;
    QTest::newRow("spaces") << QByteArray(MiB, ' ') << 0;
    QTest::newRow("commas") << QByteArray(MiB, ',') << 16;
    QTest::newRow("doubled quotes") << toText + QByteArray(MiB, '"') << 5;
    QTest::newRow("shift_jis lead bytes") << toText + QByteArray(MiB, '\x81') << 5;
}

void TestSettingsRecord::handlesHugeFields()
{
    QFETCH(QByteArray, data);
    QFETCH(int, count);
    Record read;
    QCOMPARE(readRecord(data, read), count);
}

QTEST_APPLESS_MAIN(TestSettingsRecord)
#include "test_settings_record.moc"
