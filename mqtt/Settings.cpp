#include "mqtt/Settings.h"

#include <QCommandLineParser>
#include <QFile>
#include <QStandardPaths>
#include <QSysInfo>

namespace mqtt
{

namespace
{

struct Key {
    const char* name;
    const char* valueName; // nullptr for a flag
    const char* help;
};

constexpr Key Keys[] = {
    {"host", "HOST", "The broker's host (localhost)."},
    {"port", "PORT", "The broker's port (1883)."},
    {"client-id", "ID", "The MQTT client id (pc-automation-<hostname>)."},
    {"user", "NAME", "The user name for the broker."},
    {"password-file", "FILE", "A file holding the broker password."},
    {"cafile", "FILE", "Connect with TLS, trusting the certificates in FILE."},
    {"prefix", "TOPIC", "The topics' prefix (pc-automation/<hostname>)."},
    {"discovery-prefix", "TOPIC", "Home Assistant's discovery prefix (homeassistant)."},
    {"remove-discovery", nullptr, "Remove this board from Home Assistant and exit."},
};

bool apply(Settings& s, const QString& key, const QString& value, QString& problem)
{
    if (key == QLatin1String("host"))
        s.host = value;
    else if (key == QLatin1String("port")) {
        bool ok = false;
        s.port = value.toInt(&ok);
        if (!ok || s.port < 1 || s.port > 65535)
            problem = QStringLiteral("port \"%1\" is not a number from 1 to 65535").arg(value);
    } else if (key == QLatin1String("client-id"))
        s.clientId = value;
    else if (key == QLatin1String("user"))
        s.user = value;
    else if (key == QLatin1String("password-file"))
        s.passwordFile = value;
    else if (key == QLatin1String("cafile"))
        s.caFile = value;
    else if (key == QLatin1String("prefix"))
        s.prefix = value;
    else if (key == QLatin1String("discovery-prefix"))
        s.discoveryPrefix = value;
    else if (key == QLatin1String("remove-discovery"))
        s.removeDiscovery =
            value.isEmpty() || value == QLatin1String("true") || value == QLatin1String("1");
    else
        problem = QStringLiteral("unknown key \"%1\"").arg(key);
    return problem.isEmpty();
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
            QString problem;
            if (!apply(s, key, value, problem))
                return usage(
                    QStringLiteral("%1, line %2: %3").arg(configPath).arg(lineNumber).arg(problem));
        }
    }

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral(
            "Publishes the running pc-automation panel's channels to an MQTT broker and takes "
            "commands from it, with Home Assistant discovery. Settings default from %1.")
            .arg(configPath));
    for (const Key& k : Keys)
        parser.addOption(
            k.valueName
                ? QCommandLineOption(QString::fromLatin1(k.name), QString::fromLatin1(k.help),
                                     QString::fromLatin1(k.valueName))
                : QCommandLineOption(QString::fromLatin1(k.name), QString::fromLatin1(k.help)));
    result.common = cli::parseCommon(parser, arguments);
    if (result.common.outcome != cli::Outcome::Run)
        return result;
    for (const Key& k : Keys) {
        const QString name = QString::fromLatin1(k.name);
        if (!parser.isSet(name))
            continue;
        QString problem;
        if (!apply(s, name, k.valueName ? parser.value(name) : QString(), problem))
            return usage(problem);
    }
    const QString host = QSysInfo::machineHostName();
    if (s.prefix.isEmpty())
        s.prefix = QStringLiteral("pc-automation/") + host;
    // Not the running bridge's id, which the broker would otherwise cut off.
    if (s.clientId.isEmpty())
        s.clientId = QStringLiteral("pc-automation-") + host +
                     (s.removeDiscovery ? QStringLiteral("-remove") : QString());
    return result;
}

} // namespace mqtt
