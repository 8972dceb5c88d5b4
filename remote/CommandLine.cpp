// SPDX-License-Identifier: MIT
#include "remote/CommandLine.h"

#include "channels/ChannelTable.h"
#include "remote/PanelContract.h"
#include "remote/ScheduleStore.h"

#include <cstdio>
#include <QCommandLineParser>
#include <QDBusConnection>
#include <QDBusConnectionInterface>

namespace remote
{

namespace
{

constexpr const char* ChannelCommands[] = {"on", "off", "toggle"};
constexpr int CallTimeoutMs = 2000; // a panel answers at once, between loop steps

int fail(int status, const QString& line)
{
    cli::say(line);
    return status;
}

// text as one shell word that eval takes literally, on one line: whatever a
// panel (or an impostor on the bus) calls its channels.
QString shellQuoted(const QString& text)
{
    QString quoted = QStringLiteral("'");
    for (const QChar c : text) {
        if (c == u'\'')
            quoted += QStringLiteral("'\\''");
        else if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            quoted += u'?';
        else
            quoted += c;
    }
    return quoted + u'\'';
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
                       "or in ~/.config/pc-automation/schedule.conf (under $XDG_CONFIG_HOME "
                       "where it is set), and keep every change there."));
    const QCommandLineOption resume(
        QStringLiteral("resume-board"),
        QStringLiteral("Start the panel from what the board holds: its captions and the next "
                       "click build on the byte read back from the board (nothing is written)."));
    const QCommandLineOption catchUp(
        QStringLiteral("catch-up"),
        QStringLiteral("With --keep-schedule: at start, set each channel as its most recent "
                       "schedule entry (today's or yesterday's) left it, writing the port once."));
    const QCommandLineOption board(
        QStringLiteral("board"),
        QStringLiteral("Start the panel on board BOARD: virtual, hid (the first USB relay board), "
                       "hid:SERIAL (the USB relay board with that serial), a hidraw node such as "
                       "/dev/hidraw0, gpio:CHIP[:LINES][:active-low] (relays on GPIO lines), "
                       "ftdi or ftdi:SERIAL (an FTDI bit-bang board), or a parallel port such "
                       "as /dev/parport0. The same values "
                       "as FENWIX_LPT1, which it sets for the port library."),
        QStringLiteral("BOARD"));
    parser.addOption(allOff);
    parser.addOption(state);
    parser.addOption(keep);
    parser.addOption(resume);
    parser.addOption(catchUp);
    parser.addOption(board);

    // --keep-schedule takes its file only after '=', so the plain option
    // stays a flag.
    QStringList args;
    Request request;
    bool emptyFile = false;
    for (const QString& arg : arguments) {
        if (arg.startsWith(QLatin1String("--keep-schedule="))) {
            request.scheduleFile = arg.mid(int(qstrlen("--keep-schedule=")));
            emptyFile = emptyFile || request.scheduleFile.isEmpty();
            args << QStringLiteral("--keep-schedule");
        } else {
            args << arg;
        }
    }

    request.common = cli::parseCommon(parser, args, {QStringLiteral("--keep-schedule")});
    if (request.common.outcome != cli::Outcome::Run)
        return request;
    auto usage = [&request](const QString& text) {
        request.common.usage(text);
        return request;
    };
    if (emptyFile)
        return usage(QStringLiteral("--keep-schedule= names no file (leave out the = for the "
                                    "default one)"));
    request.keepSchedule = parser.isSet(keep);
    request.resumeBoard = parser.isSet(resume);
    request.catchUp = parser.isSet(catchUp);
    request.board = parser.value(board);
    if (parser.isSet(board) && request.board.trimmed().isEmpty())
        return usage(QStringLiteral("--board names no board (virtual, hid, hid:SERIAL, "
                                    "gpio:CHIP, ftdi or a device such as /dev/parport0)"));
    if (request.board.size() > 255 || cli::printable(request.board) != request.board)
        return usage(QStringLiteral("--board takes one line of at most 255 characters, without "
                                    "control characters"));
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
    if (commands.isEmpty()) { // the panel
        if (request.catchUp && !request.keepSchedule)
            return usage(QStringLiteral("--catch-up needs --keep-schedule: it brings the kept "
                                        "schedule into force"));
        return request;
    }
    for (const QCommandLineOption* start : {&keep, &resume, &catchUp, &board})
        if (parser.isSet(start->names().constFirst()))
            return usage(QStringLiteral("--%1 starts a panel; it takes no command")
                             .arg(start->names().constFirst()));
    request.command = commands[0];
    if (request.command == QLatin1String("all-off") || request.command == QLatin1String("state"))
        return request;
    // One digit and nothing else: " 3", "+3" or "03" are not taken for 3.
    const QStringList values = parser.values(request.command);
    const bool digit = values.size() == 1 && values[0].size() == 1 && values[0][0] >= u'0' &&
                       values[0][0] < QChar(u'0' + channels::ChannelCount);
    request.channel = digit ? values[0][0].unicode() - u'0' : -1;
    if (!digit)
        return usage(QStringLiteral("--%1 takes one channel number, 0 to 7, not \"%2\"")
                         .arg(request.command, values.join(u' ')));
    return request;
}

int runCommand(const Request& request)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return fail(cli::ExitUnavailable,
                    QStringLiteral("no D-Bus session bus (%1), so no panel to talk to")
                        .arg(bus.lastError().message()));
    if (!bus.interface()->isServiceRegistered(serviceName()))
        return fail(cli::ExitUnavailable, QStringLiteral("no panel is running in this session"));
    const auto panel = panelProxy(bus, CallTimeoutMs);

    if (request.command == QLatin1String("state")) {
        const int value = panel->outputState();
        const int board = panel->boardState();
        const QStringList captions = panel->captions();
        if (panel->lastError().isValid() && isNotAPanel(panel->lastError()))
            return fail(cli::ExitUnavailable, notAPanel(bus, panel->lastError()));
        if (panel->lastError().isValid() || captions.size() != channels::ChannelCount)
            return fail(
                cli::ExitUnavailable,
                QStringLiteral("the panel did not answer: %1").arg(panel->lastError().message()));
        std::printf("OutputState=%d\nBoardState=%d\n", value, board);
        // A panel of an older version has no status: the line is left out.
        const QString status = panel->boardStatus();
        if (!panel->lastError().isValid())
            std::printf("BoardStatus=%s\n", qPrintable(shellQuoted(status)));
        for (int ch = 0; ch < channels::ChannelCount; ++ch)
            std::printf("BIT%d=%s\n", ch,
                        board < 0 || board > 255    ? "unknown"
                        : channels::isOn(board, ch) ? "on"
                                                    : "off");
        for (int ch = 0; ch < channels::ChannelCount; ++ch)
            std::printf("CAPTION%d=%s\n", ch, qPrintable(shellQuoted(captions[ch])));
        return 0;
    }
    const int ch = request.channel;
    const QString& command = request.command;
    const char* method = command == QLatin1String("on")       ? member::SwitchChannelOn
                         : command == QLatin1String("off")    ? member::SwitchChannelOff
                         : command == QLatin1String("toggle") ? member::ToggleChannel
                                                              : member::AllOff;
    QDBusPendingReply<> reply = command == QLatin1String("on")       ? panel->SwitchChannelOn(ch)
                                : command == QLatin1String("off")    ? panel->SwitchChannelOff(ch)
                                : command == QLatin1String("toggle") ? panel->ToggleChannel(ch)
                                                                     : panel->AllOff();
    reply.waitForFinished();
    if (reply.isError() && isNotAPanel(reply.error()))
        return fail(cli::ExitUnavailable, notAPanel(bus, reply.error()));
    if (reply.isError())
        return fail(reply.error().type() == QDBusError::ServiceUnknown ? cli::ExitUnavailable
                                                                       : cli::ExitFailure,
                    QStringLiteral("the panel refused %1: %2")
                        .arg(QLatin1String(method), reply.error().message()));
    return 0;
}

} // namespace remote
