// SPDX-License-Identifier: MIT
// pc-automation-mqtt against a real broker (mosquitto on 127.0.0.1, started
// here on a free port) and a panel on a real session bus (the test runs
// under dbus-run-session): the panel lives in this process, so it can be
// clicked, and a libmosquitto client here is the home-automation side.
#include "automation/PanelModel.h"
#include "channels/ChannelTable.h"
#include "remote/PanelBus.h"
#include "remote/PanelContract.h"
#include "tests/mqtt/BridgeEnds.h"
#include "tests/shared/Files.h"

#include <array>
#include <mosquitto.h>
#include <mutex>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

class tst_Mqtt : public QObject
{
    Q_OBJECT

  private slots:
    void initTestCase();
    void init();
    void cleanup();
    void discovery();
    void discoveryAgainWhenHomeAssistantStarts();
    void scheduleAndAllOffInHomeAssistant();
    void commands_data();
    void commands();
    void clickReachesTheStateTopic();
    void lastWillWhenKilled();
    void brokerRestarted_data();
    void brokerRestarted();
    void bridgeStartsBeforeBroker();
    void brokenBrokerThenBroker();
    void brokenTls_data();
    void brokenTls();
    void floods_data();
    void floods();
    void twoBridgesOneClientId();
    void twoMachinesOneHostName();
    void forgedSignalsIgnored();
    void panelGoesAndComesBack();
    void removeDiscovery();

  private:
    // With TLS when a certificate is named (made by makeCertificates).
    void startBroker(const QString& certificate = {});
    void stopBroker()
    {
        m_broker.kill();
        m_broker.waitForFinished();
    }
    void startBridge(const QStringList& extra = {});
    QString bridgeLog()
    {
        return m_bridgeLog += QString::fromLocal8Bit(m_bridge.readAllStandardError());
    }

    QTemporaryDir m_dir;
    int m_port = 0;
    QProcess m_broker;
    QProcess m_bridge;
    QString m_bridgeLog;
    std::unique_ptr<LocalPanel> m_panel;
    std::unique_ptr<Peer> m_peer;
};

void tst_Mqtt::initTestCase()
{
    QVERIFY2(QDBusConnection::sessionBus().isConnected(), "run under dbus-run-session");
    mosquitto_lib_init();
}

void tst_Mqtt::startBroker(const QString& certificate)
{
    const QString conf = m_dir.filePath(QStringLiteral("mosquitto.conf"));
    QString tls;
    if (!certificate.isEmpty())
        // Run as root it would read the key as another user, from a folder of ours.
        tls = QStringLiteral("certfile %1.crt\nkeyfile %1.key\nuser root\n")
                  .arg(m_dir.filePath(certificate));
    QVERIFY(testfiles::writeFile(
        conf, QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\npersistence false\n%2")
                  .arg(m_port)
                  .arg(tls)
                  .toUtf8()));
    m_broker.start(QStringLiteral("mosquitto"), {QStringLiteral("-c"), conf});
    QVERIFY(m_broker.waitForStarted());
    QTcpSocket probe;
    QTRY_VERIFY_WITH_TIMEOUT((probe.abort(),
                              probe.connectToHost(QHostAddress::LocalHost, quint16(m_port)),
                              probe.waitForConnected(200)),
                             Bound);
}

void tst_Mqtt::startBridge(const QStringList& extra)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("config")));
    m_bridge.setProcessEnvironment(env);
    m_bridge.start(QStringLiteral(BRIDGE_PROGRAM),
                   QStringList{"--host", "127.0.0.1", "--port", QString::number(m_port), "--prefix",
                               "test/pc", "--discovery-prefix", "ha"} +
                       extra);
    QVERIFY(m_bridge.waitForStarted());
}

void tst_Mqtt::init()
{
    m_port = freePort();
    m_bridgeLog.clear();
    startBroker();
    m_panel = std::make_unique<LocalPanel>();
    QVERIFY(m_panel->up());
    m_peer = std::make_unique<Peer>(m_port);
    startBridge();
    QTRY_COMPARE_WITH_TIMEOUT(m_peer->value("test/pc/availability"), QByteArray("online"), Bound);
    // Nothing written yet: what the board holds is not known.
    QTRY_COMPARE_WITH_TIMEOUT(m_peer->value("test/pc/channel/7/state"), QByteArray("None"), Bound);
}

void tst_Mqtt::cleanup()
{
    for (QProcess* p : {&m_bridge, &m_broker}) {
        p->kill();
        p->waitForFinished(10000);
    }
    m_peer.reset();
    m_panel.reset();
}

void tst_Mqtt::discovery()
{
    // The entries checked without a broker all reach it, with every retained
    // state one Home Assistant takes (None: unknown).
    QTRY_COMPARE_WITH_TIMEOUT(m_peer->count(QStringLiteral("ha/switch/")), 8, Bound);
    QTRY_COMPARE_WITH_TIMEOUT(m_peer->count(QStringLiteral("ha/text/")), 16, Bound);
    QTRY_COMPARE_WITH_TIMEOUT(m_peer->count(QStringLiteral("ha/button/")), 1, Bound);
    // The log names what the README says it names.
    QVERIFY2(bridgeLog().contains(QRegularExpression(
                 "this board is pc_automation_\\w+ \\(/dev/parport0\\); its topics are under "
                 "test/pc, its client id is pc-automation-[\\w-]+\n")),
             qPrintable(m_bridgeLog));
    std::lock_guard lock(m_peer->mutex);
    for (auto it = m_peer->last.begin(); it != m_peer->last.end(); ++it) {
        if (it.key().endsWith(QLatin1String("/state")))
            QVERIFY2(QList<QByteArray>({"ON", "OFF", "None"}).contains(it.value()),
                     qPrintable(it.key()));
        if (it.key().endsWith(QLatin1String("-time")))
            QVERIFY(QString::fromUtf8(it.value()).size() <= 255);
    }
}

void tst_Mqtt::discoveryAgainWhenHomeAssistantStarts()
{
    QTRY_COMPARE_WITH_TIMEOUT(m_peer->count(QStringLiteral("ha/switch/")), 8, Bound);
    QString first;
    {
        std::lock_guard lock(m_peer->mutex);
        for (auto it = m_peer->last.begin(); it != m_peer->last.end() && first.isEmpty(); ++it)
            if (it.key().startsWith(QLatin1String("ha/switch/")))
                first = it.key();
    }
    m_peer->send(first, QByteArray()); // as if that config were gone
    QTRY_COMPARE_WITH_TIMEOUT(m_peer->count(QStringLiteral("ha/switch/")), 7, Bound);
    m_peer->send(QStringLiteral("ha/status"), "online");
    QTRY_COMPARE_WITH_TIMEOUT(m_peer->count(QStringLiteral("ha/switch/")), 8, Bound);
}

void tst_Mqtt::scheduleAndAllOffInHomeAssistant()
{
    // Each entry is a text in Home Assistant, and the panel's fields follow
    // what is set there, as if typed; "all off" is a button.
    m_panel->model.setFieldText(1, QStringLiteral("7"));
    m_panel->model.setFieldText(2, QStringLiteral("5"));
    QTRY_COMPARE_WITH_TIMEOUT(m_peer->value("test/pc/channel/0/on-time"),
                              QByteArray(R"({"value":"07:05"})"), Bound);
    m_peer->send(QStringLiteral("test/pc/channel/1/off-time/set"), "08:30");
    QTRY_COMPARE_WITH_TIMEOUT(m_panel->model.fieldText(7), QStringLiteral("8"), Bound);
    QCOMPARE(m_panel->model.fieldText(8), QStringLiteral("30"));
    QTRY_COMPARE_WITH_TIMEOUT(m_peer->value("test/pc/channel/1/off-time"),
                              QByteArray(R"({"value":"08:30"})"), Bound);
    m_peer->send(QStringLiteral("test/pc/channel/0/on-time/set"), "");
    QTRY_COMPARE_WITH_TIMEOUT(m_panel->model.fieldText(1), QString(), Bound);
    m_peer->send(QStringLiteral("test/pc/channel/0/on-time/set"), "25:00");
    QTRY_VERIFY_WITH_TIMEOUT(bridgeLog().contains(QStringLiteral("ignored \"25:00\"")), Bound);
    QCOMPARE(m_panel->model.fieldText(1), QString());
    // The last field too: channel 4's OFF TIME minute.
    m_panel->model.setFieldText(31, QStringLiteral("23"));
    m_panel->model.setFieldText(32, QStringLiteral("59"));
    QTRY_COMPARE_WITH_TIMEOUT(m_peer->value("test/pc/channel/4/off-time"),
                              QByteArray(R"({"value":"23:59"})"), Bound);
    m_panel->model.ToggleChannel(4, automation::PanelModel::Cause::Click);
    m_peer->send(QStringLiteral("test/pc/all-off/set"), "ON"); // only PRESS acts
    m_peer->send(QStringLiteral("test/pc/all-off/set"), "PRESS");
    QTRY_COMPARE_WITH_TIMEOUT(m_panel->writes, (std::vector<int>{16, 0}), Bound);
    QTRY_VERIFY(bridgeLog().contains(QStringLiteral("ignored \"ON\" on \"test/pc/all-off/set\"")));
}

void tst_Mqtt::commands_data()
{
    QTest::addColumn<QString>("topic");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QList<int>>("writes");
    QTest::addColumn<QString>("logged"); // empty: nothing said
    QTest::addColumn<bool>("retained");  // left on the broker before the bridge starts
    auto row = [](const char* name, const char* topic, const QByteArray& payload,
                  const QList<int>& writes, const char* logged, bool retained = false) {
        QTest::newRow(name) << QString::fromUtf8(topic) << payload << writes
                            << QString::fromUtf8(logged) << retained;
    };
    row("ON", "test/pc/channel/3/set", "ON", {8}, "");
    row("TOGGLE", "test/pc/channel/0/set", "TOGGLE", {1}, "");
    row("OFF when off", "test/pc/channel/4/set", "OFF", {}, "");
    row("channel 7", "test/pc/channel/7/set", "ON", {128}, "");
    row("malformed payload", "test/pc/channel/3/set", "ONN", {}, "ignored \"ONN\"");
    row("lower case", "test/pc/channel/3/set", "on", {}, "ignored \"on\"");
    row("a space before", "test/pc/channel/3/set", " ON", {}, "ignored \" ON\"");
    row("no such channel", "test/pc/channel/8/set", "ON", {}, "ignored \"ON\"");
    row("leading zero", "test/pc/channel/03/set", "ON", {}, "ignored \"ON\"");
    row("not a channel", "test/pc/channel/x/set", "ON", {}, "ignored \"ON\"");
    // A payload cannot forge a line of the log.
    row("a newline in the payload", "test/pc/channel/3/set", "ON\nconnected to x", {},
        "ignored \"ON\\x0aconnected to x\"");
    // Nor can it send the terminal a control sequence (ESC, or C1's CSI in UTF-8).
    row("escape sequences", "test/pc/channel/3/set", "\x1b[2J\xc2\x9b", {},
        "ignored \"\\x1b[2J\\xc2\\x9b\"");
    // A topic is shown as a payload is: escaped and cut.
    row("a channel of 60,000 bytes",
        ("test/pc/channel/" + QString(20000, u'\u202e') + "/set").toUtf8().constData(), "ON", {},
        "on \"test/pc/channel/\\xe2\\x80\\xae");
    row("retained ON", "test/pc/channel/3/set", "ON", {}, "ignored the retained \"ON\"", true);
    row("retained TOGGLE", "test/pc/channel/3/set", "TOGGLE", {}, "ignored the retained", true);
}

void tst_Mqtt::commands()
{
    QFETCH(QString, topic);
    QFETCH(QByteArray, payload);
    QFETCH(QList<int>, writes);
    QFETCH(QString, logged);
    QFETCH(bool, retained);
    if (retained) { // the bridge starts again and finds it there
        m_bridge.kill();
        m_bridge.waitForFinished();
        // Its last will, then its own "online": published after it
        // subscribed, so the broker has the subscription when it comes.
        QTRY_COMPARE_WITH_TIMEOUT(m_peer->value("test/pc/availability"), QByteArray("offline"),
                                  Bound);
        m_peer->send(topic, payload, true);
        QTRY_COMPARE_WITH_TIMEOUT(m_peer->value(topic), payload, Bound); // the broker has it
        bridgeLog();
        startBridge();
        QTRY_COMPARE_WITH_TIMEOUT(m_peer->value("test/pc/availability"), QByteArray("online"),
                                  Bound);
    }
    // Said once however often it comes, even between commands that change
    // nothing.
    for (int i = 0; i < (logged.isEmpty() || retained ? 1 : 3); ++i) {
        m_peer->send(topic, payload);
        if (!logged.isEmpty())
            m_peer->send(QStringLiteral("test/pc/channel/4/set"), "OFF");
    }
    m_peer->send(QStringLiteral("test/pc/channel/6/set"), "ON"); // a marker after it
    QTRY_VERIFY_WITH_TIMEOUT(!m_panel->writes.empty() && m_panel->writes.back() & 0x40, Bound);
    QList<int> expected = writes;
    expected << ((writes.isEmpty() ? 0 : writes.back()) | 0x40);
    if (retained) // the same command, sent and not retained, acts
        expected = QList<int>{8, 8 | 0x40};
    QCOMPARE(QList<int>(m_panel->writes.begin(), m_panel->writes.end()), expected);
    if (!writes.isEmpty()) { // the window and the state topic follow
        const int ch = topic.section(u'/', 3, 3).toInt();
        QCOMPARE(m_panel->model.captions()[ch], appliance(ch) + QStringLiteral("開"));
        QTRY_COMPARE_WITH_TIMEOUT(m_peer->value(QStringLiteral("test/pc/channel/%1/state").arg(ch)),
                                  QByteArray("ON"), Bound);
    }
    QTRY_VERIFY(bridgeLog().contains(QStringLiteral("ignored")) == !logged.isEmpty());
    QCOMPARE(m_bridgeLog.count(QStringLiteral("ignored")), logged.isEmpty() ? 0 : 1);
    QVERIFY2(m_bridgeLog.contains(logged), qPrintable(m_bridgeLog));
}

void tst_Mqtt::clickReachesTheStateTopic()
{
    // States follow what the board holds: STOP leaves 電燈開 on its button
    // while the board no longer holds it.
    using Cause = automation::PanelModel::Cause;
    m_panel->model.ToggleChannel(5, Cause::Click);
    QTRY_COMPARE_WITH_TIMEOUT(m_peer->value("test/pc/channel/5/state"), QByteArray("ON"), Bound);
    QTRY_COMPARE_WITH_TIMEOUT(m_peer->value("test/pc/output"), QByteArray("32"), Bound);
    QCOMPARE(m_peer->value("test/pc/channel/0/state"), QByteArray("OFF"));
    m_panel->model.ToggleChannel(0, Cause::Click);
    m_panel->model.StopLoop();
    m_panel->model.ToggleChannel(3, Cause::Click);
    QTRY_COMPARE_WITH_TIMEOUT(m_peer->value("test/pc/channel/3/state"), QByteArray("ON"), Bound);
    QCOMPARE(m_peer->value("test/pc/channel/0/state"), QByteArray("OFF"));
    QCOMPARE(m_peer->value("test/pc/channel/5/state"), QByteArray("OFF"));
    m_panel->model.ExitCommand(); // the final 0: every channel off
    QTRY_COMPARE_WITH_TIMEOUT(m_peer->value("test/pc/channel/3/state"), QByteArray("OFF"), Bound);
    QTRY_COMPARE_WITH_TIMEOUT(m_peer->value("test/pc/output"), QByteArray("0"), Bound);
}

void tst_Mqtt::lastWillWhenKilled()
{
    m_panel->model.ToggleChannel(2, automation::PanelModel::Cause::Click);
    QTRY_COMPARE_WITH_TIMEOUT(m_peer->value("test/pc/channel/2/state"), QByteArray("ON"), Bound);
    m_bridge.kill(); // no word from the bridge: the broker says it
    m_bridge.waitForFinished();
    QTRY_COMPARE_WITH_TIMEOUT(m_peer->value("test/pc/availability"), QByteArray("offline"), 60000);
    // What a Home Assistant that starts later finds: all of it, retained.
    Peer late(m_port);
    QTRY_COMPARE_WITH_TIMEOUT(late.value("test/pc/availability"), QByteArray("offline"), Bound);
    QTRY_COMPARE_WITH_TIMEOUT(late.count(QStringLiteral("ha/switch/")), 8, Bound);
    QCOMPARE(late.value("test/pc/output"), QByteArray("4"));
    for (int ch = 0; ch < 8; ++ch)
        QCOMPARE(late.value(QStringLiteral("test/pc/channel/%1/state").arg(ch)),
                 QByteArray(ch == 2 ? "ON" : "OFF"));
}

void tst_Mqtt::brokerRestarted_data()
{
    QTest::addColumn<int>("away"); // ms
    QTest::newRow("at once") << 0;
    QTest::newRow("after 30 s") << 30000; // the bridge's waits have grown to their longest
}

void tst_Mqtt::brokerRestarted()
{
    QFETCH(int, away);
    stopBroker();
    QTRY_VERIFY_WITH_TIMEOUT(bridgeLog().contains(QStringLiteral("lost the broker")), Bound);
    m_peer.reset();
    QTest::qWait(away);
    startBroker();
    m_peer = std::make_unique<Peer>(m_port);
    // Within the longest wait between attempts (30 s).
    QTRY_VERIFY_WITH_TIMEOUT(
        bridgeLog().contains(QStringLiteral("connected to 127.0.0.1:%1 again").arg(m_port)), 45000);
    QTRY_COMPARE_WITH_TIMEOUT(m_peer->value("test/pc/availability"), QByteArray("online"), Bound);
    // The new broker kept nothing: the states, unchanged, are published again.
    QTRY_COMPARE_WITH_TIMEOUT(m_peer->value("test/pc/channel/3/state"), QByteArray("None"), Bound);
    m_peer->send(QStringLiteral("test/pc/channel/1/set"), "ON");
    QTRY_COMPARE_WITH_TIMEOUT(m_panel->writes, std::vector<int>{2}, Bound);
    // One line per change of the connection, not one per attempt.
    QCOMPARE(m_bridgeLog.count(QStringLiteral("lost the broker")), 1);
}

void tst_Mqtt::bridgeStartsBeforeBroker()
{
    // The broker is down when the bridge starts: it says so once, keeps
    // trying and is online soon after the broker comes.
    m_bridge.kill();
    m_bridge.waitForFinished();
    m_broker.kill();
    m_broker.waitForFinished();
    m_bridgeLog.clear();
    bridgeLog();
    startBridge();
    QTRY_VERIFY_WITH_TIMEOUT(bridgeLog().contains(QStringLiteral("Connection refused")), 5000);
    QTest::qWait(2500); // a few more attempts
    QCOMPARE(bridgeLog().count(QStringLiteral("cannot reach the broker")), 1);
    m_peer.reset();
    startBroker();
    m_peer = std::make_unique<Peer>(m_port);
    QTRY_COMPARE_WITH_TIMEOUT(m_peer->value("test/pc/availability"), QByteArray("online"), Bound);
}

void tst_Mqtt::brokenBrokerThenBroker()
{
    // Something on the broker's port answers CONNECT with a broken packet:
    // the bridge says so and tries again, until a broker is back there.
    m_bridge.kill();
    m_bridge.waitForFinished();
    m_broker.kill();
    m_broker.waitForFinished();
    QTcpServer broken;
    QVERIFY(broken.listen(QHostAddress::LocalHost, quint16(m_port)));
    int answered = 0;
    connect(&broken, &QTcpServer::newConnection, this, [&broken, &answered] {
        while (QTcpSocket* socket = broken.nextPendingConnection()) {
            connect(socket, &QTcpSocket::readyRead, socket, [socket, &answered] {
                socket->readAll();
                socket->write(QByteArray("\x00\x00", 2));
                socket->disconnectFromHost();
                ++answered;
            });
        }
    });
    bridgeLog();
    startBridge();
    QTRY_VERIFY_WITH_TIMEOUT(answered >= 2, Bound); // tried again after the first
    broken.close();
    m_peer.reset();
    startBroker();
    m_peer = std::make_unique<Peer>(m_port);
    QTRY_COMPARE_WITH_TIMEOUT(m_peer->value("test/pc/availability"), QByteArray("online"), Bound);
}

void tst_Mqtt::brokenTls_data()
{
    QTest::addColumn<QString>("ca");          // the bridge trusts it
    QTest::addColumn<QString>("certificate"); // the broker's first; empty: no TLS
    QTest::addColumn<bool>("connects");       // before the broker restarts
    // The broker's after a restart once connected (empty: no TLS); "-": no restart.
    QTest::addColumn<QString>("then");
    QTest::newRow("a CA that did not sign the broker") << "other-ca"
                                                       << "broker" << false << "-";
    QTest::newRow("a certificate for another host") << "ca"
                                                    << "elsewhere" << false << "broker";
    QTest::newRow("TLS to a plain port") << "ca"
                                         << "" << false << "broker";
    QTest::newRow("restarted without TLS, then with it") << "ca"
                                                         << "broker" << true << "";
}

void tst_Mqtt::brokenTls()
{
    // Every failure is said within seconds, and ends in another try.
    QFETCH(QString, ca);
    QFETCH(QString, certificate);
    QFETCH(bool, connects);
    QFETCH(QString, then);
    m_bridge.kill();
    m_bridge.waitForFinished();
    stopBroker();
    QVERIFY(makeCertificates(m_dir.path()));
    startBroker(certificate);
    bridgeLog();
    m_bridgeLog.clear();
    startBridge({"--cafile", m_dir.filePath(ca + ".crt"), "--node-id", "tls"});
    if (connects) {
        QTRY_VERIFY_WITH_TIMEOUT(bridgeLog().contains(QStringLiteral("connected to")), Bound);
        stopBroker();
        startBroker(then);
    }
    QTRY_VERIFY2_WITH_TIMEOUT(bridgeLog().contains(QStringLiteral("TLS failed")),
                              qPrintable(m_bridgeLog), 5000);
    if (connects || then != QLatin1String("-")) {
        stopBroker();
        startBroker(connects ? QStringLiteral("broker") : then);
        QTRY_VERIFY2_WITH_TIMEOUT(bridgeLog().count(QStringLiteral("connected to")) ==
                                      (connects ? 2 : 1),
                                  qPrintable(m_bridgeLog), Bound);
    }
    QCOMPARE(bridgeLog().count(QStringLiteral("TLS failed")), 1); // once per cause
    QCOMPARE(m_bridge.state(), QProcess::Running);
}

void tst_Mqtt::floods_data()
{
    QTest::addColumn<QString>("topic");
    QTest::addColumn<QList<QByteArray>>("payloads"); // sent in turn
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("before");      // at most this many panel changes come before the marker
    QTest::addColumn<int>("writes");      // at most this many port writes in all
    QTest::addColumn<QString>("said");    // once
    QTest::addColumn<int>("republished"); // at most, times; -1: not looked at
    QTest::newRow("field edits: the last wins, a switch goes first")
        << "test/pc/channel/0/on-time/set" << QList<QByteArray>{"07:05", "08:06"} << 5000 << 8 << 1
        << "" << -1;
    QTest::newRow("switch commands: a bounded queue")
        << "test/pc/channel/0/set" << QList<QByteArray>{"TOGGLE"} << 2000 << 300 << 300
        << "ignoring commands while 256 wait" << -1;
    QTest::newRow("Home Assistant online: one republish a burst")
        << "ha/status" << QList<QByteArray>{"online"} << 2000 << 0 << 1 << "" << 20;
}

void tst_Mqtt::floods()
{
    // The flood comes while the panel is busy (this thread blocked): the
    // bridge keeps what waits for it bounded and in its order, and a
    // channel 6 ON sent after the flood overtakes what only sets state.
    QFETCH(QString, topic);
    QFETCH(QList<QByteArray>, payloads);
    QFETCH(int, count);
    QFETCH(int, before);
    QFETCH(int, writes);
    QFETCH(QString, said);
    QFETCH(int, republished);
    QTRY_COMPARE_WITH_TIMEOUT(m_peer->count(QStringLiteral("ha/switch/")), 8, Bound);
    const QString config =
        m_peer->seen.filter(QStringLiteral("ha/switch/")).first().section(u' ', 0, 0);
    const qsizetype seenBefore = m_peer->seen.size();
    int changes = 0, atMarker = -1;
    connect(&m_panel->model, &automation::PanelModel::fieldChanged, this, [&] { ++changes; });
    connect(&m_panel->model, &automation::PanelModel::portWritten, this, [&](qint16 value) {
        atMarker = value & 0x40 && atMarker < 0 ? changes : atMarker;
        ++changes;
    });
    for (int i = 0; i < count; ++i)
        m_peer->send(topic, payloads[i % payloads.size()]);
    m_peer->send(QStringLiteral("test/pc/channel/6/set"), "ON");
    m_peer->send(QStringLiteral("ha/status"), "online");
    // Busy until the bridge has read it all: it answers the last message.
    auto republishes = [&] {
        std::lock_guard lock(m_peer->mutex);
        return int(m_peer->seen.mid(seenBefore).filter(config + u' ').size());
    };
    QElapsedTimer busy;
    busy.start();
    while (republishes() == 0 && busy.elapsed() < 4 * Bound) // slow under sanitizers
        QThread::msleep(20);
    QVERIFY(republishes() > 0);
    // Settled: the marker; where it was dropped, one sent again until one is taken.
    QTRY_VERIFY_WITH_TIMEOUT(atMarker >= 0 || (!said.isEmpty() && bridgeLog().contains(said)),
                             Bound);
    for (int i = 0; atMarker < 0 && i < 30; ++i) {
        m_peer->send(QStringLiteral("test/pc/channel/6/set"), "ON");
        (void)QTest::qWaitFor([&] { return atMarker >= 0; }, 500);
    }
    QVERIFY2(atMarker <= before, qPrintable(QString::number(atMarker)));
    QVERIFY2(int(m_panel->writes.size()) <= writes,
             qPrintable(QString::number(m_panel->writes.size())));
    if (!said.isEmpty())
        QCOMPARE(bridgeLog().count(said), 1);
    if (payloads.size() > 1) { // the last edit sent is what the panel holds
        QTRY_COMPARE_WITH_TIMEOUT(m_panel->model.fieldText(1), QStringLiteral("8"), Bound);
        QCOMPARE(m_panel->model.fieldText(2), QStringLiteral("6"));
    }
    if (republished >= 0) {
        QTest::qWait(1000);
        QVERIFY2(republishes() <= republished, qPrintable(QString::number(republishes())));
    }
}

void tst_Mqtt::twoBridgesOneClientId()
{
    // A second bridge with the same client id: the broker cuts one off for
    // the other. One of them soon says so and waits long, so they stop
    // taking turns.
    QProcess second;
    second.start(QStringLiteral(BRIDGE_PROGRAM),
                 {"--host", "127.0.0.1", "--port", QString::number(m_port), "--prefix", "test/pc2",
                  "--discovery-prefix", "ha2"});
    QVERIFY(second.waitForStarted());
    QString secondLog;
    auto logs = [&] {
        secondLog += QString::fromLocal8Bit(second.readAllStandardError());
        return bridgeLog() + secondLog;
    };
    QTRY_VERIFY2_WITH_TIMEOUT(logs().contains(QStringLiteral("took over")), qPrintable(logs()),
                              Bound);
    const int connections = logs().count(QStringLiteral("connected to"));
    QTest::qWait(4000);
    QVERIFY(bridgeLog().count(QStringLiteral("took over")) <= 1);
    QVERIFY(secondLog.count(QStringLiteral("took over")) <= 1);
    QCOMPARE(logs().count(QStringLiteral("connected to")), connections);
    second.kill();
    second.waitForFinished();
}

void tst_Mqtt::twoMachinesOneHostName()
{
    // Two machines called alike, each with a panel on /dev/parport0 on a bus
    // of its own, and bridges with default settings: only the machine ids
    // differ.
    m_bridge.kill();
    m_bridge.waitForFinished();
    QProcess otherBus;
    otherBus.start(QStringLiteral("dbus-daemon"),
                   {"--session", "--nofork", "--nopidfile", "--print-address=1"});
    QVERIFY(otherBus.waitForReadyRead(Bound));
    const QString address = QString::fromUtf8(otherBus.readLine()).trimmed();
    LocalPanel other;
    other.connection = QDBusConnection::connectToBus(address, QStringLiteral("other machine"));
    const auto closeBus = qScopeGuard([&] {
        QDBusConnection::disconnectFromBus(QStringLiteral("other machine"));
        otherBus.kill();
        otherBus.waitForFinished();
    });
    QVERIFY(other.up());
    std::array<LocalPanel*, 2> panels{m_panel.get(), &other};
    std::array<QProcess, 2> bridges;
    for (std::size_t i = 0; i < bridges.size(); ++i) {
        panels[i]->bus.setBoard(QStringLiteral("/dev/parport0"));
        const QString id = m_dir.filePath(QStringLiteral("machine-id-%1").arg(i));
        QVERIFY(testfiles::writeFile(id, QByteArray(32, char('a' + i)) + '\n'));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("none")));
        env.insert(QStringLiteral("PC_AUTOMATION_MACHINE_ID_FILE"), id);
        if (i == 1)
            env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
        bridges[i].setProcessEnvironment(env);
        bridges[i].start(QStringLiteral(BRIDGE_PROGRAM),
                         {"--host", "127.0.0.1", "--port", QString::number(m_port)});
        QVERIFY(bridges[i].waitForStarted());
    }
    const auto stop = qScopeGuard([&] {
        for (QProcess& b : bridges) {
            b.kill();
            b.waitForFinished();
        }
    });
    Peer home(m_port, {"homeassistant/#", "pc-automation/#"});
    QTRY_COMPARE_WITH_TIMEOUT(home.count(QStringLiteral("homeassistant/switch/")), 16, Bound);
    QSet<QString> ids, commands;
    QStringList firstOn; // each machine's channel 2 command topic
    {
        std::lock_guard lock(home.mutex);
        for (auto it = home.last.begin(); it != home.last.end(); ++it) {
            if (!it.key().startsWith(QLatin1String("homeassistant/switch/")))
                continue;
            const QJsonObject c = QJsonDocument::fromJson(it.value()).object();
            ids.insert(c.value("unique_id").toString());
            commands.insert(c.value("command_topic").toString());
            if (it.key().endsWith(QLatin1String("/ch2/config")))
                firstOn << c.value("command_topic").toString();
        }
    }
    QCOMPARE(ids.size(), 16);
    QCOMPARE(commands.size(), 16);
    QCOMPARE(firstOn.size(), 2);
    // A command to one machine's channel moves that machine's board only.
    QSet<LocalPanel*> moved;
    for (const QString& topic : firstOn) {
        for (LocalPanel* p : panels)
            p->writes.clear();
        home.send(topic, "ON");
        QTRY_VERIFY_WITH_TIMEOUT(m_panel->writes.size() + other.writes.size() == 1, Bound);
        QTest::qWait(300); // and nothing more reaches the other
        LocalPanel* mover = m_panel->writes.empty() ? &other : m_panel.get();
        QCOMPARE(m_panel->writes.size() + other.writes.size(), std::size_t(1));
        QCOMPARE(mover->writes, std::vector<int>{4});
        moved.insert(mover);
    }
    QCOMPARE(moved.size(), 2);
    QString logs = QString::fromLocal8Bit(m_broker.readAllStandardError());
    for (QProcess& b : bridges)
        logs += QString::fromLocal8Bit(b.readAllStandardError());
    QVERIFY2(!logs.contains(QStringLiteral("already connected")) &&
                 !logs.contains(QStringLiteral("took over")),
             qPrintable(logs));
}

void tst_Mqtt::forgedSignalsIgnored()
{
    // Another connection on the bus claims every channel is on: nothing of
    // it is published.
    QDBusConnection forger =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("forger"));
    QVERIFY(forger.isConnected());
    QStringList on;
    for (int ch = 0; ch < 8; ++ch)
        on << appliance(ch) + QStringLiteral("開");
    QDBusMessage forged = QDBusMessage::createSignal(
        remote::objectPath(), QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("PropertiesChanged"));
    forged << remote::interfaceName()
           << QVariantMap{{QStringLiteral("Captions"), on},
                          {QStringLiteral("OutputState"), QVariant::fromValue(qint16(255))},
                          {QStringLiteral("BoardState"), QVariant::fromValue(qint16(255))}}
           << QStringList();
    QVERIFY(forger.send(forged));
    QDBusMessage field = QDBusMessage::createSignal(remote::objectPath(), remote::interfaceName(),
                                                    QStringLiteral("FieldChanged"));
    field << automation::fieldOf(0, automation::Role::OnHour) << QStringLiteral("7");
    QVERIFY(forger.send(field));
    m_panel->model.ToggleChannel(5, automation::PanelModel::Cause::Click); // a real change after
    QTRY_COMPARE_WITH_TIMEOUT(m_peer->value("test/pc/output"), QByteArray("32"), Bound);
    QCOMPARE(m_peer->value("test/pc/channel/0/state"), QByteArray("OFF"));
    QCOMPARE(m_peer->value("test/pc/channel/0/on-time"), QByteArray(R"({"value":""})"));
    QDBusConnection::disconnectFromBus(QStringLiteral("forger"));
}

void tst_Mqtt::panelGoesAndComesBack()
{
    m_panel->down();
    QTRY_COMPARE_WITH_TIMEOUT(m_peer->value("test/pc/availability"), QByteArray("offline"), Bound);
    m_peer->send(QStringLiteral("test/pc/channel/1/set"), "ON"); // no panel: nothing happens
    QTRY_VERIFY_WITH_TIMEOUT(bridgeLog().contains(QStringLiteral("no panel is running")), Bound);
    // Something that is no panel takes the name first: its failed read
    // spoils nothing for the panel that comes after.
    QDBusConnection impostor =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("impostor"));
    QVERIFY(impostor.registerService(remote::serviceName()));
    QTRY_VERIFY_WITH_TIMEOUT(bridgeLog().contains(QStringLiteral("did not answer")), Bound);
    impostor.unregisterService(remote::serviceName());
    QDBusConnection::disconnectFromBus(QStringLiteral("impostor"));
    QVERIFY(m_panel->writes.empty());
    // Back on another board, with channel 2 on: its entries replace the old
    // board's, and the states are right at once.
    QString oldSwitch;
    {
        std::lock_guard lock(m_peer->mutex);
        for (auto [topic, payload] : m_peer->last.asKeyValueRange())
            if (topic.startsWith(QLatin1String("ha/switch/")) && !payload.isEmpty())
                oldSwitch = topic;
    }
    QVERIFY(!oldSwitch.isEmpty());
    m_panel->bus.setBoard(QStringLiteral("/dev/parport1"));
    m_panel->model.SwitchChannelOn(2, automation::PanelModel::Cause::Click);
    // Its name a moment before its object: the bridge's first read fails,
    // and it asks again while the name is held.
    QVERIFY(m_panel->connection.registerService(remote::serviceName()));
    QTest::qWait(1000);
    QVERIFY(m_panel->up());
    QTRY_COMPARE_WITH_TIMEOUT(m_peer->value(oldSwitch), QByteArray(), Bound);
    QTRY_COMPARE_WITH_TIMEOUT(m_peer->count(QStringLiteral("ha/switch/")), 8, Bound);
    QTRY_COMPARE_WITH_TIMEOUT(m_peer->value("test/pc/channel/2/state"), QByteArray("ON"), Bound);
    QCOMPARE(m_peer->value("test/pc/availability"), QByteArray("online"));
    // A board that fails: its switches are unavailable, their states unknown.
    m_panel->model.setBoardWatch([] {
        return automation::PanelModel::BoardReading{-1, QStringLiteral("unplugged")};
    });
    m_panel->model.SwitchChannelOn(3, automation::PanelModel::Cause::Click);
    QTRY_COMPARE_WITH_TIMEOUT(m_peer->value("test/pc/board"), QByteArray("offline"), Bound);
    QCOMPARE(m_peer->value("test/pc/board/status"), QByteArray("unplugged"));
    QTRY_COMPARE_WITH_TIMEOUT(m_peer->value("test/pc/channel/2/state"), QByteArray("None"), Bound);
}

void tst_Mqtt::removeDiscovery()
{
    QTRY_COMPARE_WITH_TIMEOUT(m_peer->count(QStringLiteral("ha/switch/")), 8, Bound);
    QProcess remover;
    remover.start(QStringLiteral(BRIDGE_PROGRAM),
                  {"--host", "127.0.0.1", "--port", QString::number(m_port), "--prefix", "test/pc",
                   "--discovery-prefix", "ha", "--remove-discovery"});
    // The panel, in this process, names the board: its events must run meanwhile.
    QTRY_COMPARE_WITH_TIMEOUT(remover.state(), QProcess::NotRunning, Bound);
    QCOMPARE(remover.exitCode(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(m_peer->count(QStringLiteral("ha/")), 0, Bound);
    Peer late(m_port); // no config is left behind: switches, button and texts
    QTRY_COMPARE_WITH_TIMEOUT(late.value("test/pc/availability"), QByteArray("online"), Bound);
    QCOMPARE(late.count(QStringLiteral("ha/")), 0);
    // The remover had its own client id: the running bridge stayed connected.
    QCOMPARE(bridgeLog().count(QStringLiteral("lost the broker")), 0);

    // A host name that cannot be resolved is said as such.
    remover.start(QStringLiteral(BRIDGE_PROGRAM),
                  {"--host", "nosuch.invalid", "--node-id", "x", "--remove-discovery"});
    QTRY_COMPARE_WITH_TIMEOUT(remover.state(), QProcess::NotRunning, 30000);
    QCOMPARE(remover.exitCode(), 69);
    QVERIFY(remover.readAllStandardError().contains("the host name nosuch.invalid cannot be "
                                                    "resolved"));

    // A "broker" that takes the connection and never answers: no success claimed.
    QTcpServer mute;
    QVERIFY(mute.listen(QHostAddress::LocalHost));
    remover.start(QStringLiteral(BRIDGE_PROGRAM),
                  {"--host", "127.0.0.1", "--port", QString::number(mute.serverPort()), "--prefix",
                   "test/pc", "--discovery-prefix", "ha", "--node-id", "mute",
                   "--remove-discovery"});
    QTRY_COMPARE_WITH_TIMEOUT(remover.state(), QProcess::NotRunning, 30000);
    QCOMPARE(remover.exitCode(), 1);
}

QTEST_MAIN(tst_Mqtt)
#include "tst_mqtt.moc"
