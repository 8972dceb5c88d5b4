// SPDX-License-Identifier: MIT
// The panel's D-Bus interface, command line, single instance and kept
// schedules, against a real session bus (the test runs under
// dbus-run-session) and the real program on the virtual board.
#include "panel/ControlPanel.h"
#include "PanelAdaptor.h"
#include "remote/PanelBus.h"
#include "remote/PanelContract.h"
#include "tests/remote/PanelProgram.h"
#include "tests/shared/Files.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDir>
#include <QDomDocument>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

using namespace std::chrono_literals;

using namespace remotetest;

namespace
{

// Records the panel's signals on the bus.
struct Listener : QObject {
    Q_OBJECT

  public:
    QStringList writes; // "value cause"
    int propertyChanges = 0;
    Listener()
    {
        auto bus = QDBusConnection::sessionBus();
        bus.connect(QString(), remote::objectPath(), remote::interfaceName(),
                    QStringLiteral("PortWritten"), this, SLOT(portWritten(qint16, QString)));
        bus.connect(QString(), remote::objectPath(),
                    QStringLiteral("org.freedesktop.DBus.Properties"),
                    QStringLiteral("PropertiesChanged"), this, SLOT(changed()));
    }
  public slots:
    void portWritten(qint16 value, const QString& cause)
    {
        writes << QStringLiteral("%1 %2").arg(value).arg(cause);
    }
    void changed() { ++propertyChanges; }
};

// An impostor on the bus that serves captions of its own choosing.
struct FakePanel : QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "net.pcautomation.Panel1")
    Q_PROPERTY(qint16 OutputState READ outputState)
    Q_PROPERTY(qint16 BoardState READ outputState)
    Q_PROPERTY(QStringList Captions READ captions)
    Q_PROPERTY(QString BoardStatus READ hostile)

  public:
    QStringList shown;
    qint16 outputState() const { return 0; }
    QStringList captions() const { return shown; }
    // Text that would forge a line and clear a terminal if shown raw.
    static QString hostile() { return QStringLiteral("no\npc-automation: forged\x1b[2J\u202e"); }

  public slots:
    void ToggleChannel(int) { sendErrorReply(QStringLiteral("x.Error"), hostile()); }
};

} // namespace

class tst_Remote : public QObject
{
    Q_OBJECT

  private slots:
    void initTestCase();
    void methods_data();
    void methods();
    void fields();
    void scheduleWritesSaySo();
    void commandLine_data();
    void commandLine();
    void onePanelPerSession();
    void noSessionBus();
    void betweenLoopStepsAndAfterExit();
    void introspectionMatchesTheXml();
    void stateSafeToEval();
};

void tst_Remote::initTestCase()
{
    QVERIFY2(QDBusConnection::sessionBus().isConnected(), "run under dbus-run-session");
}

void tst_Remote::methods_data()
{
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<QList<int>>("writes");
    QTest::addColumn<QString>("error"); // of the last call, or empty
    QTest::addColumn<QStringList>("captions");
    const QStringList bare{"電燈", "收音機", "電鍋", "電扇", "影印機", "販賣機", "自動門", "電視"};
    QStringList toggled = bare;
    toggled[3] = QStringLiteral("電扇開");
    QStringList fiveOn = bare;
    fiveOn[5] = QStringLiteral("販賣機開");
    QStringList allOff;
    for (const QString& name : bare)
        allOff << name + QStringLiteral("關");
    QTest::newRow("toggle") << QStringList{"ToggleChannel 3"} << QList<int>{8} << "" << toggled;
    QTest::newRow("on twice writes once")
        << QStringList{"SwitchChannelOn 5", "SwitchChannelOn 5"} << QList<int>{32} << "" << fiveOn;
    QTest::newRow("off when off writes nothing")
        << QStringList{"SwitchChannelOff 2"} << QList<int>{} << "" << bare;
    QTest::newRow("all off, the captions in step")
        << QStringList{"SwitchChannelOn 0", "SwitchChannelOn 5", "AllOff"} << QList<int>{1, 33, 0}
        << "" << allOff;
    QTest::newRow("channel 8") << QStringList{"ToggleChannel 8"} << QList<int>{}
                               << "org.freedesktop.DBus.Error.InvalidArgs" << bare;
    QTest::newRow("channel -1") << QStringList{"SwitchChannelOn -1"} << QList<int>{}
                                << "org.freedesktop.DBus.Error.InvalidArgs" << bare;
}

void tst_Remote::methods()
{
    QFETCH(QStringList, calls);
    QFETCH(QList<int>, writes);
    QFETCH(QString, error);
    QFETCH(QStringList, captions);
    Program p;
    QVERIFY(p.start());
    Listener listener;
    QDBusMessage reply;
    for (const QString& line : calls)
        reply = callLine(line);
    QCOMPARE(reply.type() == QDBusMessage::ErrorMessage ? reply.errorName() : QString(), error);
    QTRY_COMPARE(p.writes(), writes);
    QCOMPARE(busProperty(QStringLiteral("OutputState")).toInt(),
             writes.isEmpty() ? 0 : writes.back());
    QCOMPARE(busProperty(QStringLiteral("Captions")).toStringList(), captions);
    // Every write is announced with its cause, and so are the changes.
    QStringList expected;
    for (int v : writes)
        expected << QStringLiteral("%1 dbus").arg(v);
    QTRY_COMPARE(listener.writes, expected);
    QTRY_COMPARE(listener.propertyChanges > 0, !writes.isEmpty());
}

void tst_Remote::fields()
{
    Program p;
    QVERIFY(p.start());
    QCOMPARE(call("SetField", {9, QStringLiteral("7")}).type(), QDBusMessage::ReplyMessage);
    QCOMPARE(call("Field", {9}).arguments().value(0).toString(), QStringLiteral("7"));
    // One limit for other programs' text: the longest is taken, one more is not.
    const QString longest(automation::FieldTextLimit, u'5');
    QCOMPARE(call("SetField", {32, longest}).type(), QDBusMessage::ReplyMessage);
    QCOMPARE(call("Field", {32}).arguments().value(0).toString(), longest);
    QCOMPARE(call("SetField", {31, longest + u'5'}).errorName(),
             QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"));
    QCOMPARE(call("Field", {31}).arguments().value(0).toString(), QString());
    for (int wrong : {0, 33})
        QCOMPARE(call("Field", {wrong}).errorName(),
                 QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"));
    QVERIFY(p.writes().isEmpty()); // fields alone write nothing
}

void tst_Remote::scheduleWritesSaySo()
{
    // A field set over the bus acts like a typed one, and the write says
    // what caused it. The clock starts just before 07:30 (libfaketime).
    const QString faketime = libfaketime();
    if (faketime.isEmpty())
        QSKIP("libfaketime is not installed");
    Program p;
    p.env = {{"LD_PRELOAD", faketime},
             {"FAKETIME", "@2026-01-01 07:29:58"},
             {"TZ", "UTC"},
             {"ASAN_OPTIONS", qEnvironmentVariable("ASAN_OPTIONS") + ":verify_asan_link_order=0"}};
    QVERIFY(p.start());
    Listener listener;
    call("SetField", {21, QStringLiteral("7")});
    call("SetField", {22, QStringLiteral("30")});
    QTRY_COMPARE_WITH_TIMEOUT(listener.writes, QStringList{"128 schedule"}, 10000);
    QCOMPARE(p.writes(), QList<int>{128});
    p.stop();

    // At 12:00, kept entries bring channels 0 (on 8:00, off 20:00) and 2 (on
    // 11:00) on and leave 1 (on 13:00, off 9:00) off: one write, with
    // --catch-up only.
    const QString kept = p.dir.filePath(QStringLiteral("schedule.conf"));
    QVERIFY(testfiles::writeFile(kept, R"({"version": 1, "fields": {"1": "8", "2": "0",
        "3": "20", "4": "0", "5": "13", "6": "0", "7": "9", "8": "0", "9": "11", "10": "0"}})"));
    QFile::remove(p.dir.filePath(QStringLiteral("trace")));
    p.env[QStringLiteral("FAKETIME")] = QStringLiteral("@2026-01-01 12:00:00");
    QVERIFY(p.start({"--keep-schedule=" + kept}));
    QTest::qWait(300);
    QCOMPARE(p.writes(), QList<int>{});
    p.stop();
    listener.writes.clear();
    QVERIFY(p.start({"--keep-schedule=" + kept, "--catch-up"}));
    QTRY_COMPARE(listener.writes, QStringList{"5 catch-up"});
    QCOMPARE(p.writes(), QList<int>{5});
}

void tst_Remote::commandLine_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("panelRuns");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("says"); // on stdout (status 0) or stderr
    QTest::addColumn<QList<int>>("writes");
    QTest::addColumn<QStringList>("panelArgs");
    QTest::addColumn<QByteArray>("board"); // the virtual board before the panel starts
    QTest::addColumn<QString>("stdoutTo"); // empty: read here
    auto row = [](const char* name, const QStringList& args, bool panelRuns, int exitCode,
                  const QString& says, const QList<int>& writes, const QStringList& panelArgs = {},
                  const QByteArray& board = {}, const QString& stdoutTo = {}) {
        QTest::newRow(name) << args << panelRuns << exitCode << says << writes << panelArgs << board
                            << stdoutTo;
    };
    row("--on", {"--on", "2"}, true, 0, "", {4});
    row("--toggle", {"--toggle", "7"}, true, 0, "", {128});
    row("--off when off", {"--off", "1"}, true, 0, "", {});
    row("--all-off", {"--all-off"}, true, 0, "", {0});
    const QStringList names{"電燈", "收音機", "電鍋", "電扇", "影印機", "販賣機", "自動門", "電視"};
    QString fresh = QStringLiteral("OutputState=0\nBoardState=-1\nBoardStatus='ok'\n");
    QString resumed = QStringLiteral("OutputState=37\nBoardState=37\nBoardStatus='ok'\n");
    for (int ch = 0; ch < 8; ++ch) {
        fresh += QStringLiteral("BIT%1=unknown\n").arg(ch);
        resumed += QStringLiteral("BIT%1=%2\n").arg(ch).arg((37 >> ch) & 1 ? "on" : "off");
    }
    for (int ch = 0; ch < 8; ++ch) {
        fresh += QStringLiteral("CAPTION%1='%2'\n").arg(ch).arg(names[ch]);
        resumed += QStringLiteral("CAPTION%1='%2%3'\n")
                       .arg(ch)
                       .arg(names[ch], (37 >> ch) & 1 ? "開" : "關");
    }
    row("--state", {"--state"}, true, 0, fresh, {});
    // The board held 37 when the panel started: it shows that, writes nothing,
    // and a click builds on it.
    row("--state, resumed", {"--state"}, true, 0, resumed, {}, {"--resume-board"}, "37\nvirtual\n");
    row("--toggle, resumed", {"--toggle", "1"}, true, 0, "", {39}, {"--resume-board"},
        "37\nvirtual\n");
    row("--resume-board, nothing written yet", {"--state"}, true, 0, fresh, {}, {"--resume-board"});
    row("--state, a port that is not there", {"--state"}, true, 0,
        "BoardState=-1\nBoardStatus='/dev/parport7: open failed: No such file or directory;", {},
        {"--board=/dev/parport7", "--resume-board"});
    row("channel 8", {"--on", "8"}, true, 64, "0 to 7", {});
    row("not a number", {"--off", "x"}, true, 64, "0 to 7", {});
    row("a space before", {"--on", " 3"}, true, 64, "0 to 7", {});
    row("a sign", {"--on", "+3"}, true, 64, "0 to 7", {});
    row("leading zeros", {"--on", "0003"}, true, 64, "0 to 7", {});
    row("--keep-schedule= without a name", {"--keep-schedule="}, false, 64, "names no file", {});
    row("two commands", {"--on", "1", "--off", "2"}, true, 64, "one command at a time", {});
    row("unknown option", {"--bogus"}, true, 64, "bogus", {});
    row("a missing value, in the program's voice", {"--on"}, false, 64,
        "pc-automation: missing value after \"--on\" (see --help)", {});
    row("--keep-schedule and its file as two words", {"--keep-schedule", "x.conf"}, false, 64,
        "unexpected argument \"x.conf\": to give --keep-schedule its value, write "
        "--keep-schedule=x.conf",
        {});
    row("--catch-up alone", {"--catch-up"}, false, 64, "needs --keep-schedule", {});
    row("--board with a command", {"--board=hid", "--on", "1"}, true, 64, "starts a panel", {});
    row("--board= without a board", {"--board="}, false, 64, "names no board", {});
    row("--board with a line of its own", {"--board=/dev/x\nFENWIX: forged"}, false, 64,
        "one line of at most 255", {});
    row("--board too long", {"--board=" + QString(300, u'x')}, false, 64, "one line", {});
    row("--board while a panel runs", {"--board=hid"}, true, 1, "--board takes effect", {});
    row("--keep-schedule while a panel runs", {"--keep-schedule"}, true, 1, "already runs", {});
    row("--help", {"--help"}, false, 0, "--resume-board", {});
    row("--version", {"--version"}, false, 0, "pc-automation 1.", {});
    row("--help on a full disk", {"--help"}, false, 1, "cannot write to standard output", {}, {},
        {}, "/dev/full");
    row("no panel", {"--on", "2"}, false, 69, "no panel is running", {});
}

void tst_Remote::commandLine()
{
    QFETCH(QStringList, args);
    QFETCH(bool, panelRuns);
    QFETCH(int, exitCode);
    QFETCH(QString, says);
    QFETCH(QList<int>, writes);
    QFETCH(QStringList, panelArgs);
    QFETCH(QByteArray, board);
    QFETCH(QString, stdoutTo);
    Program p;
    if (!board.isEmpty())
        QVERIFY(testfiles::writeFile(p.dir.filePath(QStringLiteral("board")), board));
    if (panelRuns)
        QVERIFY(p.start(panelArgs));
    const Result r = p.run(args, stdoutTo);
    QCOMPARE(r.exitCode, exitCode);
    QVERIFY2((exitCode == 0 ? r.out : r.err).contains(says), qPrintable(r.out + r.err));
    if (exitCode != 0) // one clear line in the program's voice
        QCOMPARE(r.err.count(QStringLiteral("pc-automation: ")), 1);
    if (panelRuns)
        QTRY_COMPARE(p.writes(), writes);
}

void tst_Remote::onePanelPerSession()
{
    Program first;
    QVERIFY(first.start());
    const Result second = first.run({});
    QCOMPARE(second.exitCode, 0); // handed over to the first, which raised itself
    QCOMPARE(first.panel.state(), QProcess::Running);
    QVERIFY(call("ToggleChannel", {1}).type() == QDBusMessage::ReplyMessage);
    QTRY_COMPARE(first.writes(), QList<int>{2});
    first.stop();

    // A program that holds the name but is no panel (here: this test) stops
    // neither a start nor a command silently: both say who holds it.
    auto bus = QDBusConnection::sessionBus();
    QVERIFY(bus.registerService(remote::serviceName()));
    const auto release = qScopeGuard([&bus] { bus.unregisterService(remote::serviceName()); });
    for (const QStringList& args : {QStringList{}, QStringList{"--on", "2"}}) {
        const Result r = first.run(args);
        QCOMPARE(r.exitCode, 69);
        QCOMPARE(r.err.count(QStringLiteral("pc-automation: ")), 1);
        QVERIFY2(r.err.contains(QStringLiteral("held by process %1").arg(::getpid())),
                 qPrintable(r.err));
    }
    QVERIFY(first.writes().size() == 1);
}

void tst_Remote::noSessionBus()
{
    // The panel runs alone and says so once; commands have no panel to ask.
    Program p;
    p.env = {{"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + p.dir.filePath(QStringLiteral("no-bus"))}};
    p.panel.setProcessEnvironment(p.environment());
    p.panel.start(QStringLiteral(PANEL_PROGRAM), {});
    QVERIFY(p.panel.waitForStarted());
    QString err;
    QTRY_VERIFY_WITH_TIMEOUT((err += QString::fromLocal8Bit(p.panel.readAllStandardError()))
                                 .contains(QStringLiteral("remote control is off")),
                             10000);
    QCOMPARE(p.panel.state(), QProcess::Running);
    QCOMPARE(p.run({"--state"}).exitCode, 69);
    p.panel.kill();
    p.panel.waitForFinished();
    err += QString::fromLocal8Bit(p.panel.readAllStandardError());
    QCOMPARE(err.count(QStringLiteral("remote control is off")), 1);
}

void tst_Remote::betweenLoopStepsAndAfterExit()
{
    // In the panel itself: a call during a loop test acts between two steps,
    // like a click, and the next step overwrites it; after exit has begun,
    // calls write nothing.
    std::vector<int> writes;
    QStringList causes;
    std::unique_ptr<remote::PanelBus> bus;
    panel::ControlPanel window([&](std::int16_t v) {
        writes.push_back(v);
        if (writes.size() == 2)
            QTimer::singleShot(0, bus.get(), [&bus] { bus->ToggleChannel(5); });
        if (writes.size() == 4)
            QTimer::singleShot(0, &window, [&window] {
                QTest::mouseClick(window.findChild<QPushButton*>("STOP"), Qt::LeftButton);
            });
    });
    bus = std::make_unique<remote::PanelBus>(window.model());
    connect(bus.get(), &remote::PanelBus::PortWritten, this,
            [&causes](qint16, const QString& cause) { causes << cause; });
    window.setStepPause(1ms);
    window.show();
    QTest::mouseClick(window.findChild<QPushButton*>("LOOP"), Qt::LeftButton);
    QCOMPARE(writes, (std::vector<int>{1, 2, 0x22, 4, 8, 16, 32, 64, 128}));
    QCOMPARE(causes.mid(0, 3), (QStringList{"loop", "loop", "dbus"}));
    QTest::mouseClick(window.findChild<QPushButton*>("BIT3"), Qt::LeftButton);
    QCOMPARE(causes.back(), QStringLiteral("click"));
    QTest::mouseClick(window.findChild<QPushButton*>("exit"), Qt::LeftButton);
    bus->ToggleChannel(1);
    bus->AllOff();
    window.model().SwitchChannelOn(2, automation::PanelModel::Cause::Click);
    bus->SetField(1, QStringLiteral("7"));
    QCOMPARE(window.model().fieldText(1), QString());
    QSignalSpy raised(bus.get(), &remote::PanelBus::activateRequested);
    bus->Activate(); // a closing window is not brought back
    QCOMPARE(raised.count(), 0);
    QCOMPARE(writes.back(), 0);
    QCOMPARE(causes.back(), QStringLiteral("exit"));
    QCOMPARE(writes.size(), std::size_t(11));
}

void tst_Remote::introspectionMatchesTheXml()
{
    // The file installed for other programs describes what the panel offers.
    Program p;
    QVERIFY(p.start());
    QDBusMessage m = QDBusMessage::createMethodCall(
        remote::serviceName(), remote::objectPath(),
        QStringLiteral("org.freedesktop.DBus.Introspectable"), QStringLiteral("Introspect"));
    const QString live = QDBusConnection::sessionBus().call(m).arguments().value(0).toString();
    auto describe = [](const QString& xml) {
        QDomDocument doc;
        doc.setContent(xml);
        QStringList members;
        for (QDomElement iface =
                 doc.documentElement().firstChildElement(QStringLiteral("interface"));
             !iface.isNull(); iface = iface.nextSiblingElement(QStringLiteral("interface"))) {
            if (iface.attribute(QStringLiteral("name")) != remote::interfaceName())
                continue;
            for (QDomElement e = iface.firstChildElement(); !e.isNull();
                 e = e.nextSiblingElement()) {
                QString line = e.tagName() + u' ' + e.attribute(QStringLiteral("name")) + u' ' +
                               e.attribute(QStringLiteral("type")) + u' ' +
                               e.attribute(QStringLiteral("access"));
                // Inputs, then outputs, each in order; a signal's have no direction.
                QString ins, outs;
                for (QDomElement a = e.firstChildElement(QStringLiteral("arg")); !a.isNull();
                     a = a.nextSiblingElement(QStringLiteral("arg"))) {
                    const bool out =
                        e.tagName() != QLatin1String("method") ||
                        a.attribute(QStringLiteral("direction")) == QLatin1String("out");
                    (out ? outs : ins) += a.attribute(QStringLiteral("type")) + u' ';
                }
                line += QStringLiteral(" in:%1out:%2").arg(ins, outs);
                members << line;
            }
        }
        members.sort();
        return members;
    };
    const QStringList fromFile = describe(readFile(QStringLiteral(INTERFACE_XML)));
    QVERIFY(fromFile.size() >= 10);
    QCOMPARE(describe(live), fromFile);
    // The generated adaptor reads each property from the panel's object by
    // name: a property renamed there alone would read as 0.
    const QMetaObject& adaptor = PanelAdaptor::staticMetaObject;
    for (int i = adaptor.propertyOffset(); i < adaptor.propertyCount(); ++i) {
        const QMetaProperty wanted = adaptor.property(i);
        const int own = remote::PanelBus::staticMetaObject.indexOfProperty(wanted.name());
        QVERIFY2(own >= 0, wanted.name());
        QCOMPARE(remote::PanelBus::staticMetaObject.property(own).metaType(), wanted.metaType());
    }
}

QTEST_MAIN(tst_Remote)
void tst_Remote::stateSafeToEval()
{
    // Whatever a panel (or an impostor) calls its channels, eval of --state
    // runs nothing and yields the captions as they are.
    Program p;
    const QString marker = p.dir.filePath(QStringLiteral("ran"));
    FakePanel fake;
    fake.shown = {"'; touch " + marker + "; '",
                  "$(touch " + marker + ")",
                  "`touch " + marker + "`",
                  "a\nBIT0=on",
                  "\\'",
                  "'",
                  "電視開",
                  ""};
    auto bus = QDBusConnection::sessionBus();
    QVERIFY(bus.registerService(remote::serviceName()));
    const auto release = qScopeGuard([&bus] { bus.unregisterService(remote::serviceName()); });
    QVERIFY(
        bus.registerObject(remote::objectPath(), &fake,
                           QDBusConnection::ExportAllProperties | QDBusConnection::ExportAllSlots));
    QProcess shell;
    shell.setProcessEnvironment(p.environment());
    shell.start(
        QStringLiteral("bash"),
        {"-c", QStringLiteral(
                   "out=$(%1 --state) || exit 9; eval \"$out\" && printf '%s\\0' \"$CAPTION0\" "
                   "\"$CAPTION1\" \"$CAPTION2\" \"$CAPTION3\" \"$CAPTION4\" "
                   "\"$CAPTION5\" \"$CAPTION6\" \"$CAPTION7\" \"$BIT0\"")
                   .arg(QStringLiteral(PANEL_PROGRAM))});
    // This process answers for the impostor: its events must run meanwhile.
    QTRY_COMPARE_WITH_TIMEOUT(shell.state(), QProcess::NotRunning, 30000);
    // Its error text reaches stderr as one line of plain text.
    QProcess toggle;
    toggle.setProcessEnvironment(p.environment());
    toggle.start(QStringLiteral(PANEL_PROGRAM), {"--toggle", "1"});
    QTRY_COMPARE_WITH_TIMEOUT(toggle.state(), QProcess::NotRunning, 30000);
    const QString err = QString::fromUtf8(toggle.readAllStandardError());
    QVERIFY2(err.count(u'\n') == 1 && !err.contains(QChar(0x1b)) && !err.contains(QChar(0x202e)) &&
                 err.contains(QStringLiteral("no\\u000apc-automation: forged")),
             qPrintable(err));
    bus.unregisterObject(remote::objectPath());
    QCOMPARE(shell.exitCode(), 0);
    QVERIFY(!QFileInfo::exists(marker));
    const QStringList values = QString::fromUtf8(shell.readAllStandardOutput()).split(QChar(0));
    QStringList expected = fake.shown;
    expected[3] = QStringLiteral("a?BIT0=on"); // one line per fact
    QCOMPARE(values.mid(0, 8), expected);
    QVERIFY(QString::fromUtf8(shell.readAllStandardError()).isEmpty());
    QCOMPARE(values.value(8), QStringLiteral("off"));
}

#include "tst_remote.moc"
