// SPDX-License-Identifier: MIT
// The ppdev device on a fake port: claims, failures and their advice, reopening.
#include "fenwix/core/BoardFile.h"
#include "fenwix/core/Port.h"
#include "tests/fenwix/FakeDevice.h"

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

class tst_Ppdev : public QObject
{
    Q_OBJECT

  private slots:
    void ppdevSuccessKeepsClaim();
    void ppdevFailures_data();
    void ppdevFailures();
    void ppdevRealPaths_data();
    void ppdevRealPaths();
    void writeFailureReopens();
    void sharedClaimWhenExclusiveRefused();
    void sharedClaimNeverHoldsTheCall();

  private:
    Config ppdevConfig(const char* board) { return fakeport::ppdevConfig(m_tmp, board); }
    QTemporaryDir m_tmp;
};

void tst_Ppdev::ppdevSuccessKeepsClaim()
{
    FakeDevice dev;
    const Config c = ppdevConfig("okboard");
    Lines lines;
    {
        Port port(c, dev.ops(), lines.reporter());
        port.out(0x81);
        port.out(0x102); // only the low 8 bits reach the data lines
        QCOMPARE(dev.dataLines, 2);
        QCOMPARE(port.in(), 2); // read back from the data register
        port.flush();
        QCOMPARE(readFile(QString::fromStdString(c.boardPath)),
                 QStringLiteral("2\n/dev/parport9 ok\n"));
    }
    const std::vector<std::string> expected{"open",    "excl",  "claim",   "datadir 0", "wdata 129",
                                            "wdata 2", "rdata", "release", "close"};
    QCOMPARE(dev.calls, expected);
    QVERIFY(lines.lines.empty());
}

void tst_Ppdev::ppdevFailures_data()
{
    QTest::addColumn<int>("openError");
    QTest::addColumn<qulonglong>("failingRequest");
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("remedy");
    QTest::addColumn<int>("opensPerCall"); // a refused exclusive claim is tried shared
    QTest::addColumn<QString>("node");     // the device: a plain file, or a ppdev node of a group
    QTest::newRow("no permission, ppdev node of lp")
        << EACCES << 0ull << 0 << "sudo usermod -aG lp $USER" << 1 << "lp";
    // Never "join root": that grants far more than the port.
    QTest::newRow("no permission, ppdev node of root")
        << EACCES << 0ull << 0 << "group root, which grants far more than the port" << 1 << "root";
    QTest::newRow("no permission, not a ppdev node")
        << EACCES << 0ull << 0 << "is not a parallel port" << 1 << "";
    QTest::newRow("busy") << 0 << qulonglong(PPCLAIM) << EBUSY << "modprobe -r lp" << 2 << "";
    QTest::newRow("exclusive refused")
        << 0 << qulonglong(PPEXCL) << EBUSY << "another driver" << 1 << "";
    QTest::newRow("no port behind the device") << ENXIO << 0ull << 0 << "parport_pc" << 1 << "";
    QTest::newRow("no port, claim") << 0 << qulonglong(PPCLAIM) << ENXIO << "parport_pc" << 2 << "";
    QTest::newRow("data direction")
        << 0 << qulonglong(PPDATADIR) << EIO << "trying again" << 1 << "";
}

void tst_Ppdev::ppdevFailures()
{
    QFETCH(int, openError);
    QFETCH(qulonglong, failingRequest);
    QFETCH(int, error);
    QFETCH(QString, remedy);
    QFETCH(int, opensPerCall);
    QFETCH(QString, node);
    FakeDevice dev;
    dev.openError = openError;
    if (failingRequest)
        dev.failWith[failingRequest] = error;
    Config c;
    c.virtualBoard = false;
    // A real file or node, so the remedy can look at what it is.
    c.device = m_tmp.filePath(QStringLiteral("fake-parport-%1").arg(QTest::currentDataTag()))
                   .toStdString();
    if (node.isEmpty()) {
        QFile(QString::fromStdString(c.device)).open(QIODevice::WriteOnly);
    } else {
        const group* g = ::getgrnam(node.toLatin1().constData());
        if (!g)
            QSKIP("no such group here");
        if (::mknod(c.device.c_str(), S_IFCHR | 0660, makedev(99, 0)) != 0)
            QSKIP("making a device node needs root");
        QVERIFY(::chown(c.device.c_str(), 0, g->gr_gid) == 0);
    }
    c.boardPath = m_tmp.filePath(QStringLiteral("failboard")).toStdString();
    c.sharedClaimWait = LongClaimWait;
    Lines lines;
    Port port(c, dev.ops(), lines.reporter());
    for (int i = 0; i < 3; ++i)
        port.out(5);
    // One line, however many calls, naming the device, the error and a remedy.
    QCOMPARE(lines.lines.size(), std::size_t(1));
    const QString msg = QString::fromStdString(lines.lines[0]);
    QVERIFY2(msg.contains(QString::fromStdString(c.device)), qPrintable(msg));
    QVERIFY2(msg.contains(QString::fromLocal8Bit(std::strerror(openError ? openError : error))),
             qPrintable(msg));
    QVERIFY2(msg.contains(remedy), qPrintable(msg));
    QCOMPARE(dev.dataLines, -1);
    // Every call tried the device again, and the board file shows the failure.
    QCOMPARE(std::count(dev.calls.begin(), dev.calls.end(), "open"), 3 * opensPerCall);
    QCOMPARE(std::count(dev.calls.begin(), dev.calls.end(), "close"),
             openError ? 0 : 3 * opensPerCall);
    port.flush();
    const QString board = readFile(QString::fromStdString(c.boardPath));
    QVERIFY2(
        board.startsWith(QStringLiteral("5\n") + QString::fromStdString(c.device) + " error: "),
        qPrintable(board));
    QCOMPARE(port.in(), -1); // a board that cannot be reached is not known
    QCOMPARE(lines.lines.size(), std::size_t(1));

    // Once the device works, writing goes on and it is said once.
    dev.openError = 0;
    dev.failWith.clear();
    port.out(6);
    QCOMPARE(dev.dataLines, 6);
    QCOMPARE(lines.lines.size(), std::size_t(2));
    port.flush();
    QVERIFY(readFile(QString::fromStdString(c.boardPath)).endsWith(QStringLiteral(" ok\n")));
}

void tst_Ppdev::ppdevRealPaths_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<int>("error");
    QTest::newRow("does not exist") << "/dev/nonexistent" << ENOENT;
    QTest::newRow("/dev/null") << "/dev/null" << ENOTTY;
    QTest::newRow("regular file") << m_tmp.filePath(QStringLiteral("plain")) << ENOTTY;
    QTest::newRow("folder") << m_tmp.path() << EISDIR;
    // A name holding a newline cannot forge a second status line.
    QTest::newRow("newline in the name") << "/x ok\nzz" << ENOENT;
}

void tst_Ppdev::ppdevRealPaths()
{
    QFETCH(QString, device);
    QFETCH(int, error);
    if (device.endsWith(QStringLiteral("plain")))
        QVERIFY(testfiles::writeFile(device, {}));
    Config c;
    c.virtualBoard = false;
    c.device = device.toStdString();
    c.boardPath = m_tmp.filePath(QStringLiteral("realboard")).toStdString();
    Lines lines;
    Port port(c, systemDeviceOps(), lines.reporter());
    port.out(1);
    port.out(2);
    QCOMPARE(lines.lines.size(), std::size_t(1));
    const QString msg = QString::fromStdString(lines.lines[0]);
    QVERIFY2(msg.contains(QString::fromLocal8Bit(std::strerror(error))), qPrintable(msg));
    QVERIFY(!port.deviceOpen());
    port.flush();
    QCOMPARE(readFile(QString::fromStdString(c.boardPath)),
             QStringLiteral("2\n%1 error: %2\n")
                 .arg(QString(device).replace(u'\n', u'?'),
                      QString::fromLocal8Bit(std::strerror(error))));
}

void tst_Ppdev::writeFailureReopens()
{
    FakeDevice dev;
    dev.failWith[PPWDATA] = EIO;
    const Config c = ppdevConfig("eioboard");
    Lines lines;
    Port port(c, dev.ops(), lines.reporter());
    port.out(3);
    QVERIFY(!port.deviceOpen());
    QCOMPARE(lines.lines.size(), std::size_t(1));
    port.flush();
    QVERIFY(readFile(QString::fromStdString(c.boardPath)).contains(QStringLiteral("error: ")));
    dev.failWith.clear();
    port.out(4);
    QCOMPARE(dev.openCount, 2);
    QCOMPARE(dev.dataLines, 4);
}

void tst_Ppdev::sharedClaimWhenExclusiveRefused()
{
    // With the printer driver loaded the kernel refuses exclusive access
    // (ENXIO from the claim); the port is then claimed shared.
    FakeDevice dev;
    dev.claims = {ENXIO, 0};
    const Config c = ppdevConfig("sharedboard");
    Lines lines;
    Port port(c, dev.ops(), lines.reporter());
    port.out(7);
    const std::vector<std::string> expected{"open", "excl",  "claim",     "close",
                                            "open", "claim", "datadir 0", "wdata 7"};
    QCOMPARE(dev.calls, expected);
    QVERIFY(lines.lines.empty());
    QCOMPARE(port.status(), std::string("/dev/parport9 ok"));
}

void tst_Ppdev::sharedClaimNeverHoldsTheCall()
{
    // The other driver keeps the port: the shared claim waits, the calls do not.
    FakeDevice dev;
    dev.claims = {ENXIO, FakeDevice::Blocks};
    Config c = ppdevConfig("blockedboard");
    c.sharedClaimWait = std::chrono::milliseconds(50);
    Lines lines;
    Port port(c, dev.ops(), lines.reporter());
    QElapsedTimer timer;
    timer.start();
    port.out(1);
    port.out(2);
    QVERIFY(timer.elapsed() < 1000);
    QCOMPARE(lines.lines.size(), std::size_t(1));
    QVERIFY2(QString::fromStdString(lines.lines[0]).contains(QStringLiteral("another driver")),
             lines.lines[0].c_str());
    QVERIFY(QString::fromStdString(port.status()).contains(QStringLiteral(" error: ")));
    QCOMPARE(dev.dataLines, -1);

    dev.release.set_value(); // the other driver lets go
    QTRY_VERIFY([&] {
        port.out(3);
        return dev.dataLines == 3;
    }());
    QCOMPARE(port.status(), std::string("/dev/parport9 ok"));
    QCOMPARE(lines.lines.size(), std::size_t(2)); // "writing again"
}

QTEST_GUILESS_MAIN(tst_Ppdev)

#include "tst_ppdev.moc"
