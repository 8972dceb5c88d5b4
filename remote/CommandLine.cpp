#include "remote/CommandLine.h"

#include "remote/PanelBus.h"
#include "remote/ScheduleStore.h"

#include <cstdio>
#include <QCommandLineParser>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>

namespace remote
{

namespace
{

constexpr const char* ChannelCommands[] = {"on", "off", "toggle"};

int fail(int status, const QString& line)
{
    std::fprintf(stderr, "pc-automation: %s\n", qPrintable(line));
    return status;
}

} // namespace

Request parseCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Control panel for an eight-channel output board on LPT1. Without a "
                       "command it starts the panel; with one it asks the running panel."));
    for (const char* name : ChannelCommands)
        parser.addOption({QString::fromLatin1(name),
                          QStringLiteral("Switch channel N (0 to 7) %1 in the running panel.")
                              .arg(QString::fromLatin1(name) == QLatin1String("toggle")
                                       ? QStringLiteral("over")
                                       : QString::fromLatin1(name)),
                          QStringLiteral("N")});
    const QCommandLineOption allOff(
        QStringLiteral("all-off"), QStringLiteral("Switch every output off in the running panel."));
    const QCommandLineOption state(
        QStringLiteral("state"),
        QStringLiteral("Print the running panel's state, one key=value line per fact."));
    const QCommandLineOption keep(
        QStringLiteral("keep-schedule"),
        QStringLiteral("Start the panel with the schedule kept in FILE (--keep-schedule=FILE), "
                       "or in %1, and keep every change there.")
            .arg(ScheduleStore::defaultPath()));
    parser.addOption(allOff);
    parser.addOption(state);
    parser.addOption(keep);

    // --keep-schedule takes its file only after '=', so the plain option
    // stays a flag.
    QStringList args;
    Request request;
    for (const QString& arg : arguments) {
        if (arg.startsWith(QLatin1String("--keep-schedule="))) {
            request.scheduleFile = arg.mid(int(qstrlen("--keep-schedule=")));
            args << QStringLiteral("--keep-schedule");
        } else {
            args << arg;
        }
    }

    request.common = cli::parseCommon(parser, args);
    if (request.common.outcome != cli::Outcome::Run)
        return request;
    auto usage = [&request](const QString& text) {
        request.common.usage(text);
        return request;
    };
    request.keepSchedule = parser.isSet(keep);
    if (request.keepSchedule && request.scheduleFile.isEmpty())
        request.scheduleFile = ScheduleStore::defaultPath();

    QStringList commands;
    for (const char* name : ChannelCommands)
        if (parser.isSet(QString::fromLatin1(name)))
            commands << QString::fromLatin1(name);
    if (parser.isSet(allOff))
        commands << QStringLiteral("all-off");
    if (parser.isSet(state))
        commands << QStringLiteral("state");
    if (commands.size() > 1)
        return usage(QStringLiteral("one command at a time: --%1").arg(commands.join(" --")));
    if (commands.isEmpty())
        return request; // the panel
    if (request.keepSchedule)
        return usage(QStringLiteral("--keep-schedule starts a panel; it takes no command"));
    request.command = commands[0];
    if (request.command == QLatin1String("all-off") || request.command == QLatin1String("state"))
        return request;
    const QStringList values = parser.values(request.command);
    bool number = false;
    request.channel = values.size() == 1 ? values[0].toInt(&number) : -1;
    if (!number || request.channel < 0 || request.channel > 7)
        return usage(QStringLiteral("--%1 takes one channel number, 0 to 7, not \"%2\"")
                         .arg(request.command, values.join(u' ')));
    return request;
}

int runCommand(const Request& request)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return fail(ExitUnavailable, QStringLiteral("no D-Bus session bus (%1), so no panel to "
                                                    "talk to")
                                         .arg(bus.lastError().message()));
    if (!bus.interface()->isServiceRegistered(QString::fromLatin1(ServiceName)))
        return fail(ExitUnavailable, QStringLiteral("no panel is running in this session"));
    QDBusInterface panel(QString::fromLatin1(ServiceName), QString::fromLatin1(ObjectPath),
                         QString::fromLatin1(InterfaceName), bus);

    if (request.command == QLatin1String("state")) {
        const QVariant value = panel.property("OutputState");
        const QStringList captions = panel.property("Captions").toStringList();
        if (!value.isValid() || captions.size() != 8)
            return fail(
                ExitUnavailable,
                QStringLiteral("the panel did not answer: %1").arg(panel.lastError().message()));
        std::printf("OutputState=%d\n", value.toInt());
        for (int ch = 0; ch < captions.size(); ++ch)
            std::printf("BIT%d=%s\n", ch,
                        captions[ch].endsWith(QStringLiteral("開")) ? "on" : "off");
        for (int ch = 0; ch < captions.size(); ++ch) // quoted for eval
            std::printf("CAPTION%d='%s'\n", ch, qPrintable(captions[ch]));
        return 0;
    }
    static const QMap<QString, QString> Methods{
        {QStringLiteral("on"), QStringLiteral("SwitchChannelOn")},
        {QStringLiteral("off"), QStringLiteral("SwitchChannelOff")},
        {QStringLiteral("toggle"), QStringLiteral("ToggleChannel")},
        {QStringLiteral("all-off"), QStringLiteral("AllOff")}};
    const QString method = Methods.value(request.command);
    const QDBusMessage reply =
        request.channel >= 0 ? panel.call(method, request.channel) : panel.call(method);
    if (reply.type() == QDBusMessage::ErrorMessage)
        return fail(reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown")
                        ? ExitUnavailable
                        : 1,
                    QStringLiteral("the panel refused %1: %2").arg(method, reply.errorMessage()));
    return 0;
}

} // namespace remote
