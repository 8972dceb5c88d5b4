#include "fenwix/core/Port.h"
#include "lpt-board/BoardView.h"

#include <QDir>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

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
    void fileAppearsLater();
    void folderAppearsLater();
    void showsHardwareError();
    void ignoresIncompleteFile();
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
        if (line > 0)
            QVERIFY(lamp->x() < view.findChild<QLabel*>(QStringLiteral("D%1").arg(line - 1))->x());
    }
    QCOMPARE(view.findChild<QLabel*>("value")->text(), text);
    QCOMPARE(view.status(), QStringLiteral("virtual"));
}

void tst_BoardView::fileAppearsLater()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("board");
    board::BoardView view(path);
    QCOMPARE(view.value(), -1);
    auto port = virtualPort(path);
    port.out(3);
    QTRY_COMPARE_WITH_TIMEOUT(view.value(), 3, 1000);
    port.out(4);
    QTRY_COMPARE_WITH_TIMEOUT(view.value(), 4, 1000);
}

void tst_BoardView::folderAppearsLater()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("later/board");
    board::BoardView view(path);
    QVERIFY(QDir(dir.path()).mkdir("later"));
    auto port = virtualPort(path);
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
    board::BoardView view(path);
    QCOMPARE(view.value(), 1);
    QVERIFY(view.status().startsWith(QStringLiteral("/dev/nonexistent error: ")));
    const QLabel* status = view.findChild<QLabel*>("status");
    QVERIFY(status->text().contains(QStringLiteral("error")));
    QCOMPARE(status->palette().color(QPalette::WindowText), QColor(200, 0, 0));
}

void tst_BoardView::ignoresIncompleteFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("board");
    auto port = virtualPort(path);
    port.out(7);
    board::BoardView view(path);
    QCOMPARE(view.value(), 7);
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("12"); // not a complete state: the last good one stays
    f.close();
    view.reload();
    QCOMPARE(view.value(), 7);
}

QTEST_MAIN(tst_BoardView)
#include "tst_boardview.moc"
