// SPDX-License-Identifier: MIT
// The board file: where it lives, what it holds, who may replace it, and the virtual board's hold.
#include "fenwix/core/BoardFile.h"
#include "fenwix/core/Port.h"
#include "tests/fenwix/FakeDevice.h"
#include "tests/fenwix/LibraryChild.h"
#include "tests/shared/Files.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <future>
#include <grp.h>
#include <memory>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <signal.h>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace fenwix;
using namespace fakeport;
using testfiles::readFile;

class tst_BoardFile : public QObject
{
    Q_OBJECT

  private slots:
    void boardPath_data();
    void boardPath();
    void parseBoardState_data();
    void parseBoardState();
    void noTornReadUnderConcurrentWrites();
    void unwritableFiles_data();
    void unwritableFiles();
    void plantedNames_data();
    void plantedNames();
    void virtualBoardHeldByOne();
    void deadWritersTemporaries();
    void boardFileFollowsTheDevice_data();
    void boardFileFollowsTheDevice();

  private:
    Config ppdevConfig(const char* board) { return fakeport::ppdevConfig(m_tmp, board); }
    QTemporaryDir m_tmp;
};

void tst_BoardFile::boardPath_data()
{
    QTest::addColumn<QString>("board");
    QTest::addColumn<QString>("runtime");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("privateFolder");
    const QString own = "/tmp/fenwix-" + QString::number(::getuid());
    QTest::newRow("FENWIX_BOARD") << "/x/board"
                                  << "/run/user/7"
                                  << "/x/board"
                                  << "";
    QTest::newRow("XDG_RUNTIME_DIR") << ""
                                     << "/run/user/7"
                                     << "/run/user/7/fenwix-lpt1"
                                     << "";
    // Never a name in /tmp itself, which another user could take first.
    QTest::newRow("neither") << ""
                             << "" << own + "/lpt1" << own;
}

void tst_BoardFile::boardPath()
{
    QFETCH(QString, board);
    QFETCH(QString, runtime);
    QFETCH(QString, expected);
    QFETCH(QString, privateFolder);
    const QByteArray b = board.toUtf8(), r = runtime.toUtf8();
    const BoardLocation location = fenwix::boardLocation([&](const char* name) -> const char* {
        if (std::string_view(name) == "FENWIX_BOARD")
            return b.constData();
        if (std::string_view(name) == "XDG_RUNTIME_DIR")
            return r.constData();
        return nullptr;
    });
    QCOMPARE(QString::fromStdString(location.path), expected);
    QCOMPARE(QString::fromStdString(location.privateFolder), privateFolder);
}

void tst_BoardFile::parseBoardState_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("value"); // -1: not a state
    QTest::addColumn<QString>("status");
    QTest::newRow("virtual") << QByteArray("8\nvirtual\n") << 8 << "virtual";
    QTest::newRow("error") << QByteArray("255\n/dev/parport0 error: Device or resource busy\n")
                           << 255 << "/dev/parport0 error: Device or resource busy";
    QTest::newRow("empty") << QByteArray() << -1 << "";
    QTest::newRow("one line") << QByteArray("8\n") << -1 << "";
    QTest::newRow("no status end") << QByteArray("8\nvirt") << -1 << "";
    QTest::newRow("out of range") << QByteArray("256\nvirtual\n") << -1 << "";
    QTest::newRow("negative") << QByteArray("-1\nvirtual\n") << -1 << "";
    QTest::newRow("not a number") << QByteArray("x\nvirtual\n") << -1 << "";
    QTest::newRow("a third line") << QByteArray("1\n/x ok\nzz error: x\n") << -1 << "";
    QTest::newRow("control character") << QByteArray("1\nvirt\x1bual\n") << -1 << "";
}

void tst_BoardFile::parseBoardState()
{
    QFETCH(QByteArray, text);
    QFETCH(int, value);
    QFETCH(QString, status);
    const auto state = fenwix::parseBoardState(std::string_view(text.constData(), text.size()));
    QCOMPARE(state.has_value(), value >= 0);
    if (state) {
        QCOMPARE(state->value, value);
        QCOMPARE(QString::fromStdString(state->status), status);
    }
}

void tst_BoardFile::noTornReadUnderConcurrentWrites()
{
    Config c;
    c.boardPath = m_tmp.filePath(QStringLiteral("raceboard")).toStdString();
    Port port(c, DeviceOps{}, Reporter{});
    port.out(0);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 20000; ++i)
            port.out(static_cast<std::int16_t>(i % 256));
        done = true;
    });
    int reads = 0, bad = 0;
    QString sample;
    while (!done) {
        QFile f(QString::fromStdString(c.boardPath));
        if (!f.open(QIODevice::ReadOnly)) {
            ++bad;
            continue;
        }
        const QByteArray text = f.readAll();
        ++reads;
        if (!fenwix::parseBoardState(std::string_view(text.constData(), text.size()))) {
            ++bad;
            sample = QString::fromUtf8(text);
        }
    }
    writer.join();
    QVERIFY(reads > 100);
    QVERIFY2(bad == 0, qPrintable(QStringLiteral("%1 bad reads, e.g. '%2'").arg(bad).arg(sample)));
    // No temporary copies are left behind, only the virtual board's lock.
    QCOMPARE(QDir(m_tmp.path()).entryList({QStringLiteral("raceboard.*")}, QDir::Files),
             QStringList{QStringLiteral("raceboard.lock")});
}

void tst_BoardFile::unwritableFiles_data()
{
    QTest::addColumn<QString>("board");
    QTest::addColumn<QString>("trace");
    QTest::addColumn<QString>("named");
    QTest::addColumn<QString>("says");
    QTest::addColumn<QString>("special"); // made at the named path first; must stay
    const QString ok = m_tmp.filePath(QStringLiteral("wboard"));
    const QString fifo = m_tmp.filePath(QStringLiteral("fifo"));
    const QString folder = m_tmp.filePath(QStringLiteral("folder"));
    QTest::newRow("trace in a missing folder") << ok << "/nonexistent/trace"
                                               << "/nonexistent/trace"
                                               << "no trace is kept"
                                               << "";
    QTest::newRow("trace is a folder") << ok << m_tmp.path() << m_tmp.path() << "no trace"
                                       << "";
    // Neither a FIFO nor a device may hold the caller or take the lines.
    QTest::newRow("trace is a FIFO") << ok << fifo << fifo << "no trace is kept"
                                     << "fifo";
    QTest::newRow("trace is a device") << ok << "/dev/null"
                                       << "/dev/null"
                                       << "not a regular file"
                                       << "";
    QTest::newRow("board in a missing folder") << "/nonexistent/board"
                                               << ""
                                               << "/nonexistent/board"
                                               << "writable"
                                               << "";
    QTest::newRow("board is a FIFO") << fifo << "" << fifo << "not a regular file"
                                     << "fifo";
    QTest::newRow("board is a folder") << folder << "" << folder << "not a regular file"
                                       << "folder";
    // As root, this once turned /dev/null into a regular file.
    QTest::newRow("board is a device") << "/dev/null"
                                       << ""
                                       << "/dev/null"
                                       << "not a regular file"
                                       << "";
}

void tst_BoardFile::unwritableFiles()
{
    QFETCH(QString, board);
    QFETCH(QString, trace);
    QFETCH(QString, named);
    QFETCH(QString, says);
    QFETCH(QString, special);
    const QByteArray path = QFile::encodeName(named);
    if (special == "fifo")
        QVERIFY(::mkfifo(path.constData(), 0600) == 0);
    else if (special == "folder")
        QVERIFY(QDir().mkpath(named));
    struct stat before {
    };
    const bool existed = ::lstat(path.constData(), &before) == 0;
    QMap<QString, QString> env{{"FENWIX_LPT1", "virtual"}, {"FENWIX_BOARD", board}};
    if (!trace.isEmpty())
        env.insert(QStringLiteral("FENWIX_TRACE"), trace);
    const librarychild::Result child = librarychild::run({"1", "2", "3"}, env);
    QCOMPARE(child.exitCode, 0); // the calls returned
    const QStringList err = child.err.split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(err.size(), 1); // reported once
    QVERIFY2(err[0].contains(named) && err[0].contains(says), qPrintable(err[0]));
    struct stat after {
    };
    if (existed) { // left as it was, and nothing beside it
        QVERIFY(::lstat(path.constData(), &after) == 0);
        QCOMPARE(after.st_mode & S_IFMT, before.st_mode & S_IFMT);
        QVERIFY(!QFileInfo::exists(named + QStringLiteral(".lock")));
    }
    if (!special.isEmpty())
        QVERIFY(special == "fifo" ? ::unlink(path.constData()) == 0
                                  : QDir(named).removeRecursively());
}

void tst_BoardFile::plantedNames_data()
{
    QTest::addColumn<QString>("name"); // beside the board, "" for the board itself
    QTest::addColumn<QString>("kind"); // "link" to a victim file, or "fifo"
    QTest::addColumn<bool>("written"); // whether the board file is still written
    const QString oldTemporary = QStringLiteral(".%1.tmp").arg(::getpid());
    QTest::newRow("link at the old temporary name") << oldTemporary << "link" << true;
    QTest::newRow("FIFO at the old temporary name") << oldTemporary << "fifo" << true;
    QTest::newRow("link at the board's name") << ""
                                              << "link" << true;
    QTest::newRow("FIFO at the board's name") << ""
                                              << "fifo" << false;
    QTest::newRow("link at the lock's name") << ".lock"
                                             << "link" << false;
    QTest::newRow("FIFO at the lock's name") << ".lock"
                                             << "fifo" << false;
}

void tst_BoardFile::plantedNames()
{
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(bool, written);
    QTemporaryDir dir;
    const QString board = dir.filePath(QStringLiteral("board"));
    const QString victim = dir.filePath(QStringLiteral("victim"));
    QVERIFY(testfiles::writeFile(victim, "victim\n"));
    const QByteArray planted = QFile::encodeName(board + name);
    QVERIFY(kind == "link" ? ::symlink(QFile::encodeName(victim).constData(), planted) == 0
                           : ::mkfifo(planted.constData(), 0600) == 0);
    Config c;
    c.boardPath = board.toStdString();
    Lines lines;
    Port port(c, DeviceOps{}, lines.reporter());
    QCOMPARE(port.in(), -1); // reading back returns too, and finds no board
    port.out(9);             // returns: nothing it opens can block
    QCOMPARE(port.in(), written ? 9 : -1);
    QCOMPARE(readFile(victim), QStringLiteral("victim\n"));
    QCOMPARE(QFileInfo(board).isFile() && readFile(board) == QStringLiteral("9\nvirtual\n"),
             written); // a FIFO is not opened here either
    QCOMPARE(lines.lines.size(), std::size_t(written ? 0 : 1));
}

void tst_BoardFile::virtualBoardHeldByOne()
{
    // Like a real port's exclusive claim: the first caller holds the board, a
    // second is told who does and writes nothing to it.
    Config c;
    c.boardPath = m_tmp.filePath(QStringLiteral("heldboard")).toStdString();
    const QString board = QString::fromStdString(c.boardPath);
    Lines second;
    auto holder = std::make_unique<Port>(c, DeviceOps{}, Reporter{});
    const mode_t umask = ::umask(077); // the viewer of another session still reads it
    holder->out(1);
    ::umask(umask);
    struct stat st {
    };
    QVERIFY(::stat(c.boardPath.c_str(), &st) == 0);
    QCOMPARE(st.st_mode & 0777, mode_t(0644));
    Port other(c, DeviceOps{}, second.reporter());
    other.out(2);
    other.out(3);
    QCOMPARE(readFile(board), QStringLiteral("1\nvirtual\n"));
    QCOMPARE(second.lines.size(), std::size_t(1));
    QVERIFY2(QString::fromStdString(second.lines[0])
                 .contains(QStringLiteral("in use by process %1").arg(::getpid())),
             second.lines[0].c_str());
    QVERIFY(QString::fromStdString(other.status()).startsWith(QStringLiteral("virtual error")));
    holder.reset(); // released at exit
    other.out(4);
    QCOMPARE(readFile(board), QStringLiteral("4\nvirtual\n"));

    // A holder killed outright leaves no stale hold behind.
    Config c2 = c;
    c2.boardPath = m_tmp.filePath(QStringLiteral("killedboard")).toStdString();
    QProcess child;
    librarychild::start(child, {QStringLiteral("5")},
                        {{"FENWIX_TEST_HOLD", "1"},
                         {"FENWIX_LPT1", "virtual"},
                         {"FENWIX_BOARD", QString::fromStdString(c2.boardPath)}});
    QVERIFY(child.waitForReadyRead(30000));
    Lines third;
    Port late(c2, DeviceOps{}, third.reporter());
    late.out(6);
    QCOMPARE(third.lines.size(), std::size_t(1));
    QVERIFY(QString::fromStdString(third.lines[0])
                .contains(QStringLiteral("process %1").arg(child.processId())));
    child.kill();
    QVERIFY(child.waitForFinished(30000));
    late.out(7);
    QCOMPARE(readFile(QString::fromStdString(c2.boardPath)), QStringLiteral("7\nvirtual\n"));
}

void tst_BoardFile::deadWritersTemporaries()
{
    // Writers killed mid-replace leave temporary copies; only this user's
    // copies of processes that are gone are cleaned up.
    QTemporaryDir dir;
    const QString board = dir.filePath(QStringLiteral("board"));
    pid_t dead = 4000000;
    while (::kill(dead, 0) == 0 || errno != ESRCH)
        --dead;
    const QString deadCopy = board + QStringLiteral(".%1.Ab12Cd").arg(dead);
    const QString liveCopy = board + QStringLiteral(".%1.Ef34Gh").arg(::getppid());
    const QString otherBoard = board + QStringLiteral("2.%1.tmp").arg(dead);
    const QString othersCopy = board + QStringLiteral(".%1.tmp").arg(dead - 1);
    for (const QString& f : {deadCopy, liveCopy, otherBoard, othersCopy})
        QVERIFY(testfiles::writeFile(f, {}));
    const bool asRoot = ::getuid() == 0;
    if (asRoot) // another user's copy is never touched
        QVERIFY(::chown(QFile::encodeName(othersCopy).constData(), 65534, 65534) == 0);
    Config c;
    c.boardPath = board.toStdString();
    Port port(c, DeviceOps{}, Reporter{});
    port.out(1);
    QVERIFY(!QFileInfo::exists(deadCopy));
    QVERIFY(QFileInfo::exists(liveCopy));
    QVERIFY(QFileInfo::exists(otherBoard));
    QCOMPARE(QFileInfo::exists(othersCopy), asRoot);
}

void tst_BoardFile::boardFileFollowsTheDevice_data()
{
    QTest::addColumn<int>("calls");
    QTest::addColumn<QList<int>>("failing");   // calls (0-based) whose port write fails
    QTest::addColumn<QStringList>("statuses"); // each status the file shows, in order
    QTest::newRow("burst") << 5000 << QList<int>{} << QStringList{"ok"};
    // A status change is never coalesced away, however quick the calls.
    QTest::newRow("ok, error, ok") << 3000 << QList<int>{1500} << QStringList{"ok", "error", "ok"};
    QTest::newRow("error at the start") << 3000 << QList<int>{0} << QStringList{"error", "ok"};
}

void tst_BoardFile::boardFileFollowsTheDevice()
{
    QFETCH(int, calls);
    QFETCH(QList<int>, failing);
    QFETCH(QStringList, statuses);
    FakeDevice dev;
    Config c = ppdevConfig(QTest::currentDataTag());
    std::mutex mutex;
    std::vector<std::string> written;
    c.boardWritten = [&](const std::string& contents) {
        std::lock_guard lock(mutex);
        written.push_back(contents);
    };
    Port port(c, dev.ops(), Reporter{});
    for (int i = 0; i < calls; ++i) {
        if (failing.contains(i))
            dev.failWith[PPWDATA] = EIO;
        port.out(static_cast<std::int16_t>(i & 0xFF));
        dev.failWith.clear();
    }
    // The file catches up by itself, without another call.
    const QString last = QStringLiteral("%1\n/dev/parport9 ok\n").arg((calls - 1) & 0xFF);
    QTRY_COMPARE_WITH_TIMEOUT(readFile(QString::fromStdString(c.boardPath)), last, 2000);
    port.flush();
    std::lock_guard lock(mutex);
    QStringList seen;
    for (const std::string& contents : written) {
        const QString status =
            QString::fromStdString(contents).contains(QStringLiteral(" error: ")) ? "error" : "ok";
        if (seen.isEmpty() || seen.back() != status)
            seen << status;
    }
    QCOMPARE(seen, statuses);
    QVERIFY2(int(written.size()) < calls / 10, // gathered, not one file per call
             qPrintable(QString::number(written.size())));
}

int main(int argc, char* argv[])
{
    tst_BoardFile tests;
    return librarychild::main(tests, argc, argv);
}

#include "tst_boardfile.moc"
