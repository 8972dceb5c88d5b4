// SPDX-License-Identifier: MIT
#include "mqtt/Settings.h"

#include <QCommandLineParser>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>

namespace mqtt
{

namespace
{

// Sets one setting from its text; returns empty or what is wrong with it.
using Setter = QString (*)(Settings& s, const QString& value);

template <QString Settings::*Member> QString text(Settings& s, const QString& value)
{
    s.*Member = value;
    return {};
}

// One row per setting, the same key on the command line and in the file.
struct Key {
    const char* name;
    const char* valueName; // nullptr for a flag
    const char* help;
    const char* initial; // nullptr: none, or one made from the host name
    const char* shownDefault;
    Setter set;
};

constexpr Key Keys[] = {
    {"host", "HOST", "The broker's host", "localhost", "localhost", &text<&Settings::host>},
    {"port", "PORT", "The broker's port", "1883", "1883",
     [](Settings& s, const QString& value) {
         bool ok = false;
         s.port = value.toInt(&ok);
         return ok && s.port >= 1 && s.port <= 65535
                    ? QString()
                    : QStringLiteral("port \"%1\" is not a number from 1 to 65535").arg(value);
     }},
    {"client-id", "ID", "The MQTT client id", nullptr, "pc-automation-<hostname>-<node>",
     &text<&Settings::clientId>},
    {"user", "NAME", "The user name for the broker", nullptr, nullptr, &text<&Settings::user>},
    {"password-file", "FILE", "A file holding the broker password", nullptr, nullptr,
     &text<&Settings::passwordFile>},
    {"cafile", "FILE", "Connect with TLS, trusting the certificates in FILE", nullptr, nullptr,
     &text<&Settings::caFile>},
    {"prefix", "TOPIC", "The topics' prefix", nullptr, "pc-automation/<hostname>-<node>",
     &text<&Settings::prefix>},
    {"discovery-prefix", "TOPIC", "Home Assistant's discovery prefix", "homeassistant",
     "homeassistant", &text<&Settings::discoveryPrefix>},
    {"node-id", "ID",
     "This board's id in topics and in Home Assistant, for cloned machines (letters, digits, _ "
     "and -)",
     nullptr, "a hash of /etc/machine-id and the panel's board", &text<&Settings::nodeId>},
    {"remove-discovery", nullptr, "Remove this board from Home Assistant and exit", nullptr,
     nullptr,
     [](Settings& s, const QString& value) {
         s.removeDiscovery =
             value.isEmpty() || value == QLatin1String("true") || value == QLatin1String("1");
         return QString();
     }},
};

QString apply(Settings& s, const QString& key, const QString& value)
{
    for (const Key& k : Keys)
        if (key == QLatin1String(k.name))
            return k.set(s, value);
    return QStringLiteral("unknown key \"%1\"").arg(key);
}

// Empty when text can begin every topic the bridge uses.
QString topicProblem(const QString& text)
{
    if (text.contains(u'+') || text.contains(u'#'))
        return QStringLiteral("holds a wildcard (+ or #)");
    if (text.startsWith(u'$'))
        return QStringLiteral("starts with $, which brokers keep for themselves");
    if (text.split(u'/').contains(QString()))
        return QStringLiteral("has an empty level (a leading, trailing or double /)");
    if (text.contains(QChar(0)))
        return QStringLiteral("holds a NUL character");
    return {};
}

QString helpOf(const Key& k)
{
    QString help = QString::fromLatin1(k.help);
    if (k.shownDefault)
        help += QStringLiteral(" (%1)").arg(QString::fromLatin1(k.shownDefault));
    return help + u'.';
}

} // namespace

QString defaultConfigPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/pc-automation/mqtt.conf");
}

ParsedSettings parseSettings(const QStringList& arguments, const QString& configPath)
{
    ParsedSettings result;
    Settings& s = result.settings;
    auto usage = [&result](const QString& text) {
        result.common.usage(text);
        return result;
    };

    for (const Key& k : Keys)
        if (k.initial)
            k.set(s, QString::fromLatin1(k.initial));

    // The file first, so the command line wins.
    QFile file(configPath);
    if (file.open(QIODevice::ReadOnly)) {
        int lineNumber = 0;
        while (!file.atEnd()) {
            ++lineNumber;
            const QString line = QString::fromUtf8(file.readLine()).trimmed();
            if (line.isEmpty() || line.startsWith(u'#'))
                continue;
            const qsizetype eq = line.indexOf(u'=');
            const QString key = (eq < 0 ? line : line.left(eq)).trimmed();
            const QString value = eq < 0 ? QString() : line.mid(eq + 1).trimmed();
            if (const QString problem = apply(s, key, value); !problem.isEmpty())
                return usage(
                    QStringLiteral("%1, line %2: %3").arg(configPath).arg(lineNumber).arg(problem));
        }
    }

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Publishes the running pc-automation panel's channels to an MQTT broker and takes "
        "commands from it, with Home Assistant discovery. Settings default from "
        "~/.config/pc-automation/mqtt.conf (under $XDG_CONFIG_HOME where it is set), "
        "key=value lines with the options' names."));
    for (const Key& k : Keys)
        parser.addOption(k.valueName ? QCommandLineOption(QString::fromLatin1(k.name), helpOf(k),
                                                          QString::fromLatin1(k.valueName))
                                     : QCommandLineOption(QString::fromLatin1(k.name), helpOf(k)));
    result.common = cli::parseCommon(parser, arguments);
    if (result.common.outcome != cli::Outcome::Run)
        return result;
    for (const Key& k : Keys) {
        const QString name = QString::fromLatin1(k.name);
        if (!parser.isSet(name))
            continue;
        if (const QString problem = k.set(s, k.valueName ? parser.value(name) : QString());
            !problem.isEmpty())
            return usage(problem);
    }
    if (!s.passwordFile.isEmpty() && s.user.isEmpty())
        return usage(QStringLiteral("password-file needs user: the broker takes a password only "
                                    "with a user name"));
    for (const auto& [key, topic] :
         {std::pair{"prefix", &s.prefix}, std::pair{"discovery-prefix", &s.discoveryPrefix}})
        if (const QString problem = topicProblem(*topic); !topic->isEmpty() && !problem.isEmpty())
            return usage(QStringLiteral("%1 \"%2\" %3").arg(QLatin1String(key), *topic, problem));
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_-]{1,64}$"));
    if (!s.nodeId.isEmpty() && !plain.match(s.nodeId).hasMatch())
        return usage(
            QStringLiteral("node-id \"%1\" is not 1 to 64 letters, digits, _ or -").arg(s.nodeId));
    return result; // the client id and prefix default once the node is known
}

} // namespace mqtt
