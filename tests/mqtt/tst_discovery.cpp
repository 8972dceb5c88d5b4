// SPDX-License-Identifier: MIT
// What the bridge is to Home Assistant and a broker, without either: its
// settings, identity, discovery entries and schedule texts.
#include "mqtt/Discovery.h"
#include "mqtt/Settings.h"
#include "tests/shared/Files.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

namespace
{

constexpr int Bound = 15000; // ms, for the program to stop

// What Home Assistant's MQTT discovery takes for each platform we publish:
// the keys it knows (others it drops silently) and those it requires.
struct HomeAssistantPlatform {
    const char* component;
    QStringList required;
    QStringList known;
};
const QStringList CommonKeys{"name",
                             "availability",
                             "availability_mode",
                             "entity_category",
                             "unique_id",
                             "availability_topic",
                             "payload_available",
                             "payload_not_available",
                             "qos",
                             "device",
                             "origin",
                             "command_topic",
                             "state_topic"};
const HomeAssistantPlatform HomeAssistantPlatforms[] = {
    {"switch", {"command_topic"}, {"payload_on", "payload_off", "state_on", "state_off"}},
    {"button", {"command_topic"}, {"payload_press"}},
    {"text", {"command_topic"}, {"min", "max", "mode", "value_template"}},
    {"sensor", {"state_topic"}, {}},
};

// Empty when Home Assistant takes config for component, else why not.
QString homeAssistantRefuses(const QString& component, const QJsonObject& config)
{
    const HomeAssistantPlatform* platform = nullptr;
    for (const HomeAssistantPlatform& p : HomeAssistantPlatforms)
        if (component == QLatin1String(p.component))
            platform = &p;
    if (!platform)
        return QStringLiteral("no such platform");
    for (const QString& key : platform->required)
        if (!config.contains(key))
            return key + QStringLiteral(" missing");
    for (auto it = config.begin(); it != config.end(); ++it) {
        const QString& key = it.key();
        if (!CommonKeys.contains(key) && !platform->known.contains(key))
            return key + QStringLiteral(" unknown");
        if (key.endsWith(QLatin1String("_topic"))) {
            const QString topic = it.value().toString();
            if (topic.isEmpty() || topic.contains(u'+') || topic.contains(u'#') ||
                topic.contains(QChar(0)) || topic.toUtf8().size() > 65535)
                return key + QStringLiteral(" is no topic to publish and subscribe to");
        } else if (key == QLatin1String("qos") || key == QLatin1String("min") ||
                   key == QLatin1String("max")) {
            if (!it.value().isDouble())
                return key + QStringLiteral(" is no number");
        } else if (key == QLatin1String("availability")) {
            // A list of topics, each one that could be published to.
            for (const QJsonValue& entry : it.value().toArray())
                if (entry.toObject().value("topic").toString().isEmpty() ||
                    entry.toObject().value("topic").toString().contains(u'+'))
                    return QStringLiteral("availability without a topic");
            if (it.value().toArray().isEmpty() || config.contains("availability_topic"))
                return QStringLiteral("availability and availability_topic");
        } else if (key != QLatin1String("device") && key != QLatin1String("origin") &&
                   !it.value().isString()) {
            return key + QStringLiteral(" is no string");
        }
    }
    if (config.contains("availability_mode") &&
        !QStringList{"all", "any", "latest"}.contains(config.value("availability_mode").toString()))
        return QStringLiteral("availability_mode");
    if (config.value("qos").toInt(-1) < 0 || config.value("qos").toInt() > 2)
        return QStringLiteral("qos out of range");
    if (component == QLatin1String("text") &&
        !(config.value("min").toInt() >= 0 &&
          config.value("min").toInt() < config.value("max").toInt() &&
          config.value("max").toInt() <= 255 &&
          QStringList{"text", "password"}.contains(config.value("mode").toString())))
        return QStringLiteral("text limits or mode");
    const QJsonArray ids = config.value("device").toObject().value("identifiers").toArray();
    if (ids.isEmpty() || !ids.at(0).isString())
        return QStringLiteral("device without identifiers");
    if (config.value("origin").toObject().value("name").toString().isEmpty())
        return QStringLiteral("origin without a name");
    return {};
}

} // namespace

class tst_Discovery : public QObject
{
    Q_OBJECT

  private slots:
    void payloads();
    void settings_data();
    void settings();
    void identity_data();
    void identity();
    void scheduleText_data();
    void scheduleText();

  private:
    QTemporaryDir m_dir;
};

void tst_Discovery::payloads()
{
    // One device, eight switches named after the appliances, the all-off
    // button and sixteen times: what Home Assistant needs, with nothing
    // typed on its side, each entry one it takes.
    mqtt::Settings s;
    s.prefix = QStringLiteral("test/pc");
    s.discoveryPrefix = QStringLiteral("ha");
    const QString node = QStringLiteral("pc_automation_0123456789ab");
    QSet<QString> ids;
    QMap<QString, int> components;
    QStringList summaries; // component/object|name|command|state|payload
    const QRegularExpression discoveryTopic(
        QStringLiteral("^ha/(\\w+)/[a-zA-Z0-9_-]+/[a-zA-Z0-9_-]+/config$"));
    for (const mqtt::Entity& entity : mqtt::entities(s)) {
        const QString key = mqtt::discoveryTopic(s, node, entity);
        const QJsonObject all =
            QJsonDocument::fromJson(mqtt::discoveryConfig(s, node, entity)).object();
        const auto topic = discoveryTopic.match(key);
        QVERIFY2(topic.hasMatch(), qPrintable(key));
        ++components[topic.captured(1)];
        const QString refused = homeAssistantRefuses(topic.captured(1), all);
        QVERIFY2(refused.isEmpty(), qPrintable(key + u' ' + refused));
        const QString unique = all.value("unique_id").toString();
        QVERIFY2(!unique.isEmpty() && !ids.contains(unique), qPrintable(key));
        ids.insert(unique);
        QCOMPARE(all.value("device").toObject().value("identifiers").toArray().at(0).toString(),
                 node);
        QCOMPARE(all.value("device").toObject().value("name").toString(),
                 QStringLiteral("PC自動化控制"));
        QCOMPARE(all.value("origin").toObject().value("name").toString(),
                 QStringLiteral("pc-automation-mqtt"));
        QStringList available{all.value("availability_topic").toString()};
        for (const QJsonValue& entry : all.value("availability").toArray())
            available << entry.toObject().value("topic").toString();
        summaries << QStringList{key.section(u'/', 1, 1) + u'/' + key.section(u'/', 3, 3),
                                 all.value("name").toString(),
                                 all.value("command_topic").toString(),
                                 all.value("state_topic").toString(),
                                 all.value("payload_on").toString() +
                                     all.value("payload_press").toString(),
                                 available.join(u' ').trimmed()}
                         .join(u'|');
    }
    // The switches and the button need the board as well as the bridge.
    for (const char* line :
         {"switch/ch3|電扇|test/pc/channel/3/set|test/pc/channel/3/state|ON|test/pc/availability "
          "test/pc/board",
          "text/ch0_on|電燈 ON TIME|test/pc/channel/0/on-time/set|test/pc/channel/0/on-time||test/"
          "pc/availability",
          "text/ch6_off|自動門 OFF TIME|test/pc/channel/6/off-time/set|test/pc/channel/6/"
          "off-time||test/pc/availability",
          "button/all_off|All off|test/pc/all-off/set||PRESS|test/pc/availability test/pc/board",
          "sensor/board_status|Board status||test/pc/board/status||test/pc/availability"})
        QVERIFY2(summaries.contains(QString::fromUtf8(line)), line);
    QCOMPARE(ids.size(), 26);
    QCOMPARE(components,
             (QMap<QString, int>{{"switch", 8}, {"button", 1}, {"text", 16}, {"sensor", 1}}));
}

void tst_Discovery::settings_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("conf"); // mqtt.conf
    QTest::addColumn<QString>("problem"); // empty: accepted
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("prefix");
    auto row = [](const char* name, const QStringList& args, const QByteArray& conf,
                  const char* problem, const char* host = "", const char* prefix = "") {
        QTest::newRow(name) << args << conf << QString::fromLatin1(problem)
                            << QString::fromLatin1(host) << QString::fromLatin1(prefix);
    };
    row("defaults", {}, "", "", "localhost", "");
    row("the file is read, the command line wins", {"--host", "b"}, "host=a\nprefix=x/y\n", "", "b",
        "x/y");
    row("a wildcard in the prefix", {"--prefix", "a/+/b"}, "", "wildcard");
    row("# in the discovery prefix", {"--discovery-prefix", "ha/#"}, "", "wildcard");
    row("an empty level", {"--prefix", "a//b"}, "", "empty level");
    row("a leading $", {"--prefix", "$SYS/x"}, "", "starts with $");
    row("port 70000", {"--port", "70000"}, "", "1 to 65535");
    row("a password without a user", {"--password-file", "/dev/null"}, "", "needs user");
    row("a node id with a slash", {"--node-id", "a/b"}, "", "node-id");
    row("an unknown key in the file", {}, "colour=red\n", "unknown key");
}

void tst_Discovery::settings()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, conf);
    QFETCH(QString, problem);
    QFETCH(QString, host);
    QFETCH(QString, prefix);
    const QString file = m_dir.filePath(QStringLiteral("settings.conf"));
    QVERIFY(testfiles::writeFile(file, conf));
    const mqtt::ParsedSettings parsed =
        mqtt::parseSettings(QStringList{"pc-automation-mqtt"} + args, file);
    QCOMPARE(parsed.common.outcome == cli::Outcome::UsageError, !problem.isEmpty());
    QVERIFY2(parsed.common.text.contains(problem), qPrintable(parsed.common.text));
    if (problem.isEmpty()) {
        QCOMPARE(parsed.settings.host, host);
        QCOMPARE(parsed.settings.prefix, prefix);
        return;
    }
    if (!conf.isEmpty())
        return; // the program reads its own file, not this one
    // The program says it in one line and stops at once.
    QProcess p;
    p.start(QStringLiteral(BRIDGE_PROGRAM), args);
    QVERIFY(p.waitForFinished(Bound));
    QCOMPARE(p.exitCode(), 64);
    QCOMPARE(QString::fromLocal8Bit(p.readAllStandardError()).count(u'\n'), 1);
}

void tst_Discovery::identity_data()
{
    // Two bridges that must never share a client id, a topic or an id in
    // Home Assistant.
    QTest::addColumn<QStringList>("a"); // machine id, board, host, node id
    QTest::addColumn<QStringList>("b");
    QTest::newRow("two machines, one host name")
        << QStringList{"1111", "/dev/parport0", "debian", ""}
        << QStringList{"2222", "/dev/parport0", "debian", ""};
    QTest::newRow("one machine, two boards")
        << QStringList{"1111", "virtual:/run/user/1000/fenwix-lpt1", "debian", ""}
        << QStringList{"1111", "virtual:/run/user/1001/fenwix-lpt1", "debian", ""};
    QTest::newRow("cloned machines, told apart by --node-id")
        << QStringList{"1111", "/dev/parport0", "debian", "kitchen"}
        << QStringList{"1111", "/dev/parport0", "debian", "garage"};
    QTest::newRow("no machine id, host names differ")
        << QStringList{"", "/dev/parport0", "a+b", ""}
        << QStringList{"", "/dev/parport0", "a#b", ""};
}

void tst_Discovery::identity()
{
    QFETCH(QStringList, a);
    QFETCH(QStringList, b);
    auto of = [](const QStringList& r) { return mqtt::identity(r[0].toUtf8(), r[1], r[2], r[3]); };
    const mqtt::Identity x = of(a), y = of(b);
    QVERIFY(x.node != y.node && x.clientId != y.clientId && x.prefix != y.prefix);
    const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_-]+$"));
    for (const auto& id : {x, y}) {
        QVERIFY2(plain.match(id.node).hasMatch(), qPrintable(id.node));
        QVERIFY2(!id.prefix.contains(u'+') && !id.prefix.contains(u'#'), qPrintable(id.prefix));
    }
    if (a[2] == QLatin1String("debian")) // the host name, as a readable part
        QVERIFY(x.clientId.startsWith(QStringLiteral("pc-automation-debian-")) &&
                x.prefix.startsWith(QStringLiteral("pc-automation/debian-")));
    if (!a[3].isEmpty())
        QCOMPARE(x.node, QStringLiteral("pc_automation_") + a[3]);
    QCOMPARE(of(a).node, x.node); // stable
}

void tst_Discovery::scheduleText_data()
{
    QTest::addColumn<QString>("hour");
    QTest::addColumn<QString>("minute");
    QTest::addColumn<QByteArray>("shown"); // as the text entity's state
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<bool>("taken");
    QTest::newRow("a time") << "7"
                            << "5" << QByteArray("07:05") << QByteArray("07:05") << true;
    QTest::newRow("no leading zero") << "23"
                                     << "59" << QByteArray("23:59") << QByteArray("23:59") << true;
    QTest::newRow("midnight") << "0"
                              << "0" << QByteArray("00:00") << QByteArray("0:00") << true;
    QTest::newRow("empty") << ""
                           << "" << QByteArray() << QByteArray() << true;
    QTest::newRow("never matched, shown raw")
        << "07"
        << "5" << QByteArray("07:5") << QByteArray("24:00") << false;
    QTest::newRow("half an entry") << "7"
                                   << "" << QByteArray("7:") << QByteArray("7:5") << false;
    QTest::newRow("too long for Home Assistant")
        << QString(300, u'9') << "" << QByteArray(255, '9') << QByteArray(" 7:05") << false;
    QTest::newRow("minute 60") << "7"
                               << "60" << QByteArray("7:60") << QByteArray("7:60") << false;
}

void tst_Discovery::scheduleText()
{
    QFETCH(QString, hour);
    QFETCH(QString, minute);
    QFETCH(QByteArray, shown);
    QFETCH(QByteArray, command);
    QFETCH(bool, taken);
    QCOMPARE(mqtt::scheduleText(hour, minute), shown);
    QString h = QStringLiteral("x"), m = QStringLiteral("x");
    QCOMPARE(mqtt::parseScheduleText(command, h, m), taken);
    if (taken) // back as typed: the same entry
        QCOMPARE(mqtt::scheduleText(h, m), command.isEmpty() ? QByteArray() : shown);
}

QTEST_MAIN(tst_Discovery)
#include "tst_discovery.moc"
