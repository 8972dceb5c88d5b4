// SPDX-License-Identifier: MIT
#include "fenwix/core/Port.h"
#include "lpt-board/BoardView.h"
#include "tests/shared/Files.h"

#include <cerrno>
#include <cstring>
#include <QAccessible>
#include <QDir>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

namespace
{

fenwix::Port virtualPort(const QString& board)
{
    fenwix::Config c;
    c.boardPath = board.toStdString();
    return fenwix::Port(c, fenwix::DeviceOps{}, fenwix::Reporter{});
}

} // namespace

class tst_BoardView : public QObject
{
    Q_OBJECT

  private slots:
    void showsValuesWrittenByTheLibrary_data();
    void showsValuesWrittenByTheLibrary();
    void appearsLater_data();
    void appearsLater();
    void showsHardwareError();
    void unknownState_data();
    void unknownState();
    void statusIsPlainTextAndElided();
};

void tst_BoardView::showsValuesWrittenByTheLibrary_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("0x81") << 0x81 << "0x81   10000001   (129)";
    QTest::newRow("0x00") << 0 << "0x00   00000000   (0)";
    QTest::newRow("0xff") << 0xFF << "0xff   11111111   (255)";
    QTest::newRow("high bits dropped") << 0x108 << "0x08   00001000   (8)";
}

void tst_BoardView::showsValuesWrittenByTheLibrary()
{
    QFETCH(int, value);
    QFETCH(QString, text);
    QTemporaryDir dir;
    const QString path = dir.filePath("board");
    auto port = virtualPort(path);
    port.out(0x55); // something else first, so the change is what is seen
    board::BoardView view(path);
    view.show();
    QCOMPARE(view.value(), 0x55);
    port.out(static_cast<std::int16_t>(value));
    QTRY_COMPARE_WITH_TIMEOUT(view.value(), value & 0xFF, 1000);
    for (int line = 0; line < 8; ++line) {
        QCOMPARE(view.lampLit(line), bool((value >> line) & 1));
        // D7 stands leftmost, as the bits of the value read; Dn is pin n + 2.
        const auto* lamp = view.findChild<QLabel*>(QStringLiteral("D%1").arg(line));
        QVERIFY(lamp->text().endsWith(QStringLiteral("pin %1").arg(line + 2)));
        // A screen reader hears the state, not only the line.
        QCOMPARE(QAccessible::queryAccessibleInterface(const_cast<QLabel*>(lamp))
                     ->text(QAccessible::Name),
                 QStringLiteral("D%1, pin %2: %3")
                     .arg(line)
                     .arg(line + 2)
                     .arg((value >> line) & 1 ? "on" : "off"));
        if (line > 0)
            QVERIFY(lamp->x() < view.findChild<QLabel*>(QStringLiteral("D%1").arg(line - 1))->x());
    }
    QCOMPARE(view.findChild<QLabel*>("value")->text(), text);
    QCOMPARE(view.status(), QStringLiteral("virtual"));
}

void tst_BoardView::appearsLater_data()
{
    QTest::addColumn<QString>("board");
    QTest::addColumn<QString>("folder"); // made after the viewer starts
    QTest::newRow("the file") << "board"
                              << "";
    QTest::newRow("its folder") << "later/board"
                                << "later";
}

void tst_BoardView::appearsLater()
{
    QFETCH(QString, board);
    QFETCH(QString, folder);
    QTemporaryDir dir;
    board::BoardView view(dir.filePath(board));
    QCOMPARE(view.value(), -1);
    QVERIFY(folder.isEmpty() || QDir(dir.path()).mkdir(folder));
    auto port = virtualPort(dir.filePath(board));
    port.out(9);
    QTRY_COMPARE_WITH_TIMEOUT(view.value(), 9, 3000);
    port.out(10);
    QTRY_COMPARE_WITH_TIMEOUT(view.value(), 10, 1000);
}

void tst_BoardView::showsHardwareError()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("board");
    fenwix::Config c;
    c.virtualBoard = false;
    c.device = "/dev/nonexistent";
    c.boardPath = path.toStdString();
    fenwix::Port port(c, fenwix::systemDeviceOps(), fenwix::Reporter{});
    port.out(1);
    port.flush();
    board::BoardView view(path);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QCOMPARE(view.value(), 1);
    QVERIFY(view.status().startsWith(QStringLiteral("/dev/nonexistent error: ")));
    const QLabel* status = view.findChild<QLabel*>("status");
    QVERIFY(status->text().contains(QStringLiteral("error")));
    QCOMPARE(status->palette().color(QPalette::WindowText), QColor(200, 0, 0));
}

void tst_BoardView::unknownState_data()
{
    QTest::addColumn<QByteArray>("contents"); // "<missing>", "<fifo>" or the file's bytes
    QTest::addColumn<QString>("reason");
    QTest::newRow("half written") << QByteArray("12") << "not a board state";
    QTest::newRow("empty") << QByteArray() << "empty file";
    QTest::newRow("binary") << QByteArray("\x00\x01\xff\n\x02\n", 6) << "not a board state";
    QTest::newRow("oversized") << QByteArray(5000, '1') << "larger than 4096 bytes";
    // A device name holding a newline must not forge a healthy second line.
    QTest::newRow("forged line") << QByteArray("255\n/x ok\nzz error: x\n") << "not a board state";
    // Before the first write: said plainly, not as an error.
    QTest::newRow("missing") << QByteArray("<missing>") << QString();
    QTest::newRow("fifo") << QByteArray("<fifo>") << "not a regular file";
}

void tst_BoardView::unknownState()
{
    QFETCH(QByteArray, contents);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString path = dir.filePath("board");
    auto port = virtualPort(path);
    port.out(7);
    board::BoardView view(path);
    QCOMPARE(view.value(), 7);
    QFile::remove(path);
    if (contents == "<fifo>") {
        QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
    } else if (contents != "<missing>") {
        QVERIFY(testfiles::writeFile(path, contents));
    }
    view.reload(); // returns, even for a FIFO without a writer
    // The last lamps do not stay lit: the state is shown as unknown.
    QCOMPARE(view.value(), -1);
    for (int line = 0; line < 8; ++line) {
        QVERIFY(!view.lampLit(line));
        QVERIFY(view.findChild<QLabel*>(QStringLiteral("D%1").arg(line))
                    ->accessibleName()
                    .endsWith(QStringLiteral(": unknown")));
    }
    const auto* status = view.findChild<QLabel*>("status");
    // In full in the tool tip; the label elides it to the window's width.
    if (reason.isEmpty()) {
        QCOMPARE(status->toolTip(),
                 QStringLiteral("nothing written to the board yet (%1)").arg(path));
        QVERIFY(status->palette().color(QPalette::WindowText) != QColor(200, 0, 0));
        return;
    }
    QVERIFY2(status->toolTip().startsWith(QStringLiteral("no valid board state: ")) &&
                 status->toolTip().endsWith(reason),
             qPrintable(status->toolTip()));
    QCOMPARE(status->palette().color(QPalette::WindowText), QColor(200, 0, 0));
}

void tst_BoardView::statusIsPlainTextAndElided()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("board");
    QVERIFY(testfiles::writeFile(path, "1\n<b>bold</b> " + QByteArray(3000, 'x') + "\n"));
    board::BoardView view(path);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    const auto* status = view.findChild<QLabel*>("status");
    QCOMPARE(status->textFormat(), Qt::PlainText);
    QVERIFY(status->text().startsWith(QStringLiteral("<b>bold</b>")));
    QVERIFY(status->text().endsWith(QChar(0x2026))); // elided
    QVERIFY(view.width() < 1000);                    // the text does not size the window
}

QTEST_MAIN(tst_BoardView)
#include "tst_boardview.moc"
