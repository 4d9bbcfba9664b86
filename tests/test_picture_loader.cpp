#include "metafile/costly.h"
#include "pictures/picture_loader.h"
#include "pictures/picture_requests.h"
#include "pictures/worker/confinement.h"
#include "pictures/worker_protocol.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#endif

using pictures::loadPicture;

namespace {

// A picture with some detail, so that a cut-off file really misses part of its data.
QByteArray patterned(int width, int height, const char *format)
{
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, random.generate() | 0xff000000u);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

} // namespace

class TestPictureLoader : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString write(const QString &name, const QByteArray &bytes)
    {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

    // A stand-in for the worker: it answers request N with the file worker.N (a second late
    // when worker.N.late is there too), or never when there is none, and then runs `then`.
    QString fakeWorker(const QByteArray &then)
    {
        const QString worker = write(
            "worker", "#!/bin/sh\nwhile set -- $(head -c 32 | od -An -tu4) && [ $# -ge 4 ]; do\n"
                      "    head -c \"$4\" >/dev/null\n"
                      "    [ -e \"$0.$3.late\" ] && sleep 1\n"
                      "    cat \"$0.$3\" 2>/dev/null || sleep 60\n    " +
                          then + "\ndone\n");
        QFile::setPermissions(worker, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        for (const QString &old : QDir(m_dir.path()).entryList({"worker.*"}))
            QFile::remove(m_dir.filePath(old));
        return worker;
    }

    // An executable shell script of these commands.
    QString script(const QString &name, const QString &commands)
    {
        const QString path = write(name, "#!/bin/sh\n" + commands.toUtf8() + "\n");
        QFile::setPermissions(path, QFile::ReadOwner | QFile::ExeOwner);
        return path;
    }

    static QByteArray answer(quint32 ticket, std::optional<Picture> picture)
    {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        pictures::wire::writeAnswer(buffer, ticket, picture);
        return buffer.data();
    }
    // 3 x 2 pixels of one colour.
    static Picture filled(const QColor &colour)
    {
        QImage image(3, 2, QImage::Format_ARGB32);
        image.fill(colour);
        return {image, {45, 30}};
    }

private Q_SLOTS:
    // By content, whatever the name says; one bitmap pixel is 15 twips. Bad files fail. BMP files
    // read as the metafile player reads bitmaps: channels scaled to eight bits, the pixels where
    // the file header puts them.
    void loadsByContent_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QSize>("size"); // invalid: the file fails
        QTest::addColumn<QRgb>("first"); // the top-left pixel, 0 for any
        const auto row = [](const char *name, const char *file, const QByteArray &bytes,
                            QSize size = {}, QRgb first = 0) {
            QTest::newRow(name) << file << bytes << size << first;
        };
        const QSize z(37, 21);
        // Qt writes no GIF; a 1 x 1 one by hand.
        const char gif[] = "GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\xff\xff\x00\x00\x00"
                           ",\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00;";
        row("jpeg named .jpg", "b.jpg", patterned(37, 21, "JPEG"), z);
        row("png named .bmp", "d.bmp", patterned(37, 21, "PNG"), z);
        row("gif", "g.gif", QByteArray(gif, sizeof gif - 1), {1, 1});

        const auto half = [](const QByteArray &b) { return b.left(b.size() / 2); };
        row("truncated png", "t.png", half(patterned(64, 48, "PNG")));
        row("truncated jpeg", "t.jpg", half(patterned(64, 48, "JPEG")));
        // Rows of one pixel, three bytes and one of padding each: the last row's padding may be
        // missing, not a byte of its pixel.
        row("bmp without its last padding", "p.bmp", patterned(1, 48, "BMP").chopped(1), {1, 48});
        row("bmp two bytes short", "s.bmp", patterned(1, 48, "BMP").chopped(2));
        row("empty file", "empty.bmp", {});
        row("text named .jpg", "text.jpg", "no picture\n");
        row("jpeg scans repeated", "s.jpg", testing::costly::repeatedScans(1000, 3000));
        using testing::dwords, testing::words;
        // Width -2^31 at 65535 bits a pixel: its size once overflowed.
        row("bmp row beyond any file", "w.bmp",
            "BM" + dwords({70, 0, 54, 40, -2147483648LL, 65535}) + words({1, 65535}) +
                dwords({0, 16, 0, 0, 0, 0}) + QByteArray(16, '\xff'));

        // A file header, an info header of `size` bytes, then `rest` (masks, colours, pixels).
        const auto bmp = [](int size, const QByteArray &info, qint64 offBits,
                            const QByteArray &rest) {
            return "BM" + dwords({14 + size + rest.size(), 0, offBits}) + info + rest;
        };
        const auto header = [](int bpp, int compression) {
            return dwords({40, 1, 1}) + words({1, bpp}) + dwords({compression, 0, 0, 0, 0, 0});
        };
        row("2-3-1 bit fields, white", "f.bmp",
            bmp(40, header(16, 3), 66, dwords({0x30, 0x0e, 0x01, 0x3f})), {1, 1},
            qRgb(255, 255, 255));
        row("11-11-10 bit fields, red", "f.bmp",
            bmp(40, header(32, 3), 66, dwords({0xffe00000, 0x001ffc00, 0x3ff, 0xffe00000})), {1, 1},
            qRgb(255, 0, 0));
        // An OS/2 header with two colours of the 256 its depth allows.
        row("os/2 short palette", "o.bmp",
            bmp(12, dwords({12}) + words({1, 1, 1, 8}), 32,
                QByteArray::fromHex("0000ff ff0000 01000000")),
            {1, 1}, qRgb(0, 0, 255));
    }
    void loadsByContent()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(QSize, size);
        QFETCH(QRgb, first);
        const auto picture = loadPicture(write(name, bytes));
        QCOMPARE(picture.has_value(), size.isValid());
        if (!picture)
            return;
        QCOMPARE(picture->image.size(), size);
        QCOMPARE(picture->sizeTwips, size * 15);
        if (first)
            QCOMPARE(picture->image.pixel(0, 0), first);
    }

    // Told what a box shows, the loader keeps only the top-left part under it (at the ratio for
    // metafiles) with the whole natural size; a 48-megapixel photo loads whole as well.
    void keepsWhatIsSeen()
    {
        QImage photo(8000, 6000, QImage::Format_RGB32);
        photo.fill(Qt::darkCyan);
        QByteArray huge;
        QBuffer buffer(&huge);
        QVERIFY(buffer.open(QIODevice::WriteOnly) && photo.save(&buffer, "JPEG"));
        const QSize box(10, 7), none;
        using Row = std::tuple<QByteArray, qreal, QSize, QSize, QSize>; // ratio, box, natural, kept
        for (const auto &[bytes, ratio, visible, natural, kept] : std::initializer_list<Row>{
                 {patterned(37, 21, "JPEG"), 1.0, box, {37, 21}, box},
                 {patterned(6, 5, "PNG"), 2.0, box, {6, 5}, {6, 5}},
                 {testing::EmfBuilder({40, 30}).finish(), 1.5, box, {40, 30}, {15, 11}},
                 {huge, 1.0, {52, 33}, photo.size(), {52, 33}},
                 {huge, 1.0, none, photo.size(), photo.size()}}) {
            const QString path = write("seen", bytes);
            const auto picture = loadPicture(path, ratio, {}, visible);
            QVERIFY(picture.has_value());
            QCOMPARE(picture->image.size(), kept);
            QCOMPARE(picture->sizeTwips, natural * 15);
            QCOMPARE(picture->image.pixel(3, 2), loadPicture(path, ratio)->image.pixel(3, 2));
        }
    }

    // An empty path is the empty picture; no file, a folder, a FIFO (at once, rather than
    // waiting for ever for a writer) or a file above 64 MiB is a failure.
    void notAPictureFile()
    {
        const auto empty = loadPicture(QString());
        QVERIFY(empty.has_value() && empty->isEmpty() && empty->sizeTwips.isEmpty());
        QVERIFY(!loadPicture(m_dir.filePath("none.bmp")).has_value());
        QVERIFY(QDir(m_dir.path()).mkpath("folder.bmp"));
        QVERIFY(!loadPicture(m_dir.filePath("folder.bmp")).has_value());
#ifdef Q_OS_UNIX
        const QString fifo = m_dir.filePath("pipe.bmp");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QVERIFY(!loadPicture(fifo).has_value());
#endif
        // A valid picture, then a sparse tail up to the limit and one byte beyond it.
        constexpr qint64 limit = 64 * 1024 * 1024;
        const QString path = write("huge.bmp", patterned(8, 8, "BMP"));
        QFile file(path);
        QVERIFY(file.resize(limit));
        QVERIFY(loadPicture(path).has_value());
        QVERIFY(file.resize(limit + 1));
        QVERIFY(!loadPicture(path).has_value());
    }

    // The worker's answer is checked before a byte of it is used: anything but one well-formed
    // answer to the request, or a worker that ends or stays silent, is a picture that cannot be
    // loaded, by the deadline at the latest.
    void workerAnswersChecked_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QByteArray>("then");
        QTest::addColumn<bool>("loads");
        QTest::addColumn<QSize>("visible");
        const QByteArray good = answer(1, filled(Qt::red));
        // The good answer with fields of its head (at these offsets) changed.
        const auto with = [&](std::initializer_list<std::pair<int, quint32>> fields) {
            QByteArray bytes = good;
            for (const auto &[offset, value] : fields)
                qToLittleEndian(value, bytes.data() + offset);
            return bytes;
        };
        // The worker goes on (":") unless it ends after answering.
        const auto row = [](const char *name, const QByteArray &bytes, const char *then = ":",
                            QSize visible = {}) {
            QTest::newRow(name) << bytes << QByteArray(then) << false << visible;
        };
        QTest::newRow("good") << good << QByteArray("exit") << true << QSize();
        QTest::newRow("as large as the box") << good << QByteArray("exit") << true << QSize(3, 2);
        row("wider than the box", good, "exit", {2, 2});
        row("cannot load", answer(1, std::nullopt), "exit");
        row("head cut off", good.left(20), "exit");
        row("pixels cut off", good.chopped(1), "exit");
        row("a byte too many", good + '\0');
        row("other magic", with({{0, 0x12345678}}));
        row("other version", with({{4, 1}}));
        row("other request", with({{8, 2}}));
        row("unknown status", with({{12, 7}}));
        row("32768 x 32768", with({{16, 32768}, {20, 32768}, {28, 131072}}));
        row("format of 8 bits", with({{24, QImage::Format_Indexed8}}));
        row("line of 16 bytes", with({{28, 16}}));
        row("negative width in twips", with({{32, quint32(-45)}}));
        row("ratio not a number", with({{44, 0x7ff80000}}));
        row("half an answer, never the rest", good.left(60));
        row("no answer, never", QByteArray());
    }
    void workerAnswersChecked()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QByteArray, then);
        QFETCH(bool, loads);
        QFETCH(QSize, visible);
        pictures::PictureRequests requests(fakeWorker(then));
        if (!answer.isEmpty())
            write("worker.1", answer);
        std::optional<Picture> got;
        requests.request(
            m_dir.filePath("any.bmp"), 1, [&](auto picture) { got = picture; }, visible);
        QElapsedTimer clock;
        clock.start();
        requests.waitForAnswer();
        QVERIFY(clock.elapsed() < pictures::kPictureDeadlineMs + 2000);
        QCOMPARE(got.has_value(), loads);
        if (got)
            QCOMPARE(got->image.pixelColor(2, 1), QColor(Qt::red));
    }

    // What the user sees after a run of requests is what each picture shown in turn would have
    // left: a picture that cannot be loaded keeps the one before it, and a slow one holds up
    // neither a later one nor the end.
    void laterChoiceWins_data()
    {
        QTest::addColumn<QStringList>("requests");
        QTest::addColumn<QString>("shown");
        QTest::newRow("slow, then quick") << QStringList{"slow", "red", "green"} << "green";
        QTest::newRow("quick, then fails") << QStringList{"red", "fails"} << "red";
        QTest::newRow("late, then quick") << QStringList{"late red", "green"} << "green";
        QTest::newRow("quick, slow, fails") << QStringList{"green", "slow", "fails"} << "green";
        QTest::newRow("four slow beyond the busy workers, then quick")
            << QStringList{"slow", "slow", "slow", "slow", "red"} << "red";
        QTest::newRow("fails, then the empty picture") << QStringList{"fails", ""} << "";
    }
    void laterChoiceWins()
    {
        QFETCH(QStringList, requests);
        auto loader = std::make_unique<pictures::PictureRequests>(fakeWorker(":"));
        QString seen = "nothing";
        // Whether a slow request gave up (at its deadline) before the picture shown came.
        bool asked = false, slowGaveUp = false, shownAfterSlow = false;
        for (qsizetype i = 0; i < requests.size(); ++i) {
            const QString &name = requests[i];
            const QString worker = QStringLiteral("worker.%1").arg(i + 1);
            if (name != "slow" && !name.isEmpty())
                write(worker,
                      answer(i + 1, name == "fails"
                                        ? std::nullopt
                                        : std::optional(filled(QColor(name.split(' ').last())))));
            if (name.startsWith("late"))
                write(worker + ".late", {});
            loader->request(name.isEmpty() ? QString() : m_dir.filePath(name), 1,
                            [&, name](auto picture) {
                                slowGaveUp |= asked && name == "slow";
                                if (picture)
                                    seen = name;
                                shownAfterSlow |= picture && slowGaveUp;
                            });
        }
        asked = true;
        // The last picture that loads comes without waiting for the slow ones; nothing older
        // comes after it.
        loader->waitForAnswer();
        QTEST(seen, "shown");
        QVERIFY(!shownAfterSlow);
        // The end waits for no picture.
        loader->request(m_dir.filePath("slow"), 1, [](auto) {});
        QElapsedTimer clock;
        clock.start();
        loader.reset();
        QVERIFY(clock.elapsed() < 1000);
    }

    // A worker that cannot be started is tried once and leaves nothing open behind it: the next
    // way to start one takes its place. A worker's complaints are no message for the user.
    void unstartableWorkerFallsBack_data()
    {
        QTest::addColumn<QString>("first");
        QTest::newRow("missing") << "missing";
        QTest::newRow("not executable") << "plain";
        QTest::newRow("removed while the program runs") << "removed";
        QTest::newRow("ends at once, a library missing") << "no library";
    }
    void unstartableWorkerFallsBack()
    {
        QFETCH(QString, first);
        const QString good =
            script("noisy", "echo 'Corrupt JPEG data' >&2; exec " + fakeWorker(":"));
        const QString bad = m_dir.filePath(first);
        QFile::remove(bad);
        if (first != "missing")
            QFile::copy(good, bad);
        if (first == "plain")
            QFile::setPermissions(bad, QFile::ReadOwner | QFile::WriteOwner);
        if (first == "no library") // as the system's loader ends it
            script(first, "echo 'error while loading shared libraries' >&2; exit 127");
        write("worker.1", answer(1, filled(Qt::red)));
        const auto workers = std::make_shared<platform::HelperStarter>(
            QList<platform::HelperCommand>{{bad, {}}, {good, {}}});
        const auto openFiles = [] { return QDir("/proc/self/fd").count(); };
        QTemporaryFile errors;
        QVERIFY(errors.open());
        const auto before = openFiles();
        const int terminal = dup(STDERR_FILENO);
        dup2(errors.handle(), STDERR_FILENO);
        // The requests of one control after another, each starting a worker of its own.
        for (int i = 1; i <= 20; ++i) {
            if (i == 3 && first == "removed")
                QFile::remove(bad);
            pictures::PictureRequests requests(workers);
            std::optional<Picture> got;
            requests.request(m_dir.filePath("any.bmp"), 1, [&](auto picture) { got = picture; });
            requests.waitForAnswer();
            QVERIFY2(got, qPrintable(QStringLiteral("picture %1").arg(i)));
        }
        dup2(terminal, STDERR_FILENO);
        close(terminal);
        QCOMPARE(errors.readAll(), QByteArray());
        QCOMPARE(workers->commands().size(), 1);
        QTRY_COMPARE(openFiles(), before);
    }

#ifdef Q_OS_LINUX
    // A worker that does not end at the end of its input is killed once it has been idle.
    void idleWorkerKilled()
    {
        const QString pid = m_dir.filePath("pid");
        write("worker.1", answer(1, filled(Qt::red)));
        pictures::PictureRequests requests(
            script("stubborn", "echo $$ >" + pid + "; " + fakeWorker(":") + "; exec sleep 60"));
        requests.request(m_dir.filePath("any.bmp"), 1, [](auto) {});
        requests.waitForAnswer();
        QFile file(pid);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString process = "/proc/" + file.readAll().trimmed();
        QVERIFY(QFile::exists(process));
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(process),
                                 pictures::kWorkerIdleMs + pictures::kWorkerEndGraceMs + 3000);
    }

    // Confined, the worker reads files and starts threads; what it must not do fails as it would
    // for a program without the right, and a call nothing in it makes (a signal to the program)
    // ends it.
    void confinedWorkerOnlyDecodes()
    {
        const QByteArray existing = QFile::encodeName(write("existing", "bytes"));
        const QByteArray created = QFile::encodeName(m_dir.filePath("created"));
        const pid_t child = fork();
        if (child == 0) {
            if (!pictures::worker::confine())
                _exit(1);
            const auto refused = [](long result, int error) {
                return result == -1 && errno == error;
            };
            char byte = 0;
            bool threaded = false;
            std::thread([&] { threaded = true; }).join();
            const int fd = open(existing.constData(), O_RDONLY);
            if (!threaded || read(fd, &byte, 1) != 1 ||
                !refused(open(created.constData(), O_RDONLY | O_CREAT, 0600), EACCES) ||
                !refused(open(existing.constData(), O_WRONLY), EACCES) ||
                !refused(::write(fd, &byte, 1), EBADF) ||
                !refused(socket(AF_UNIX, SOCK_STREAM, 0), EACCES) ||
                !refused(execl("/bin/true", "true", nullptr), EACCES))
                _exit(2);
            kill(getppid(), 0);
            _exit(3);
        }
        int status = 0;
        QCOMPARE(waitpid(child, &status, 0), child);
        QCOMPARE(WIFSIGNALED(status) ? WTERMSIG(status) : -WEXITSTATUS(status), SIGSYS);
        QVERIFY(!QFile::exists(QFile::decodeName(created)));
    }
#endif
};

QTEST_MAIN(TestPictureLoader)
#include "test_picture_loader.moc"
