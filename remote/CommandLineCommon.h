// SPDX-License-Identifier: MIT
#pragma once

// What the command lines of pc-automation and pc-automation-mqtt share:
// --help, --version, no stray arguments, and usage errors with status 64.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QStringList>
#include <sys/socket.h>
#include <unistd.h>

namespace cli
{

enum class Outcome { Run, Help, Version, UsageError };

struct Common {
    Outcome outcome = Outcome::Run;
    QString text; // the help text, or what is wrong with the usage

    Common& usage(const QString& problem)
    {
        outcome = Outcome::UsageError;
        text = problem;
        return *this;
    }
};

// Exit statuses, as sysexits(3) has them where it has one.
inline constexpr int ExitFailure = 1; // the panel or the broker refused
inline constexpr int ExitUsage = 64;
inline constexpr int ExitUnavailable = 69; // no panel, bus or broker to talk to

// The name every message of this process starts with.
inline const char*& programName()
{
    static const char* name = "pc-automation";
    return name;
}

// text as one line a terminal shows as it is: controls (C0, C1, DEL) and
// format characters (bidirectional overrides among them) escaped, whatever
// other programs put in it; cut at limit characters.
inline QString printable(const QString& text, qsizetype limit = 2000)
{
    QString shown;
    for (const QChar c : text.left(limit)) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7F && u < 0xA0) || c.category() == QChar::Other_Format)
            shown += QStringLiteral("\\u%1").arg(u, 4, 16, QChar(u'0'));
        else
            shown += c;
    }
    return text.size() > limit ? shown + QStringLiteral("...") : shown;
}

// One line on stderr, in the program's voice; foreign text in it is shown,
// never obeyed.
inline void say(const QString& line)
{
    std::fprintf(stderr, "%s: %s\n", programName(), qPrintable(printable(line)));
    std::fflush(stderr);
}

// Adds --help and --version to parser and parses arguments (the program's
// name first). equalsOnly: options that take a value only after "=".
inline Common parseCommon(QCommandLineParser& parser, const QStringList& arguments,
                          const QStringList& equalsOnly = {})
{
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Show the version and exit."));
    parser.addOption(help);
    parser.addOption(version);
    Common common;
    if (!parser.parse(arguments)) {
        // Qt's sentence in the programs' own voice: lower case, no full
        // stop, names in double quotes as in the programs' own messages.
        QString problem = parser.errorText();
        if (problem.endsWith(u'.'))
            problem.chop(1);
        problem.replace(u'\'', u'"');
        if (!problem.isEmpty())
            problem[0] = problem[0].toLower();
        return common.usage(problem);
    }
    if (!parser.positionalArguments().isEmpty()) {
        // An option that takes its value only after "=" (--keep-schedule=FILE)
        // followed by the value as a word of its own.
        const QString stray = parser.positionalArguments()[0];
        const qsizetype at = arguments.indexOf(stray);
        const QString before = at > 0 ? arguments[at - 1] : QString();
        return common.usage(
            QStringLiteral("unexpected argument \"%1\"%2")
                .arg(stray,
                     equalsOnly.contains(before)
                         ? QStringLiteral(": to give %1 its value, write %1=%2").arg(before, stray)
                         : QString()));
    }
    if (parser.isSet(help)) {
        common.outcome = Outcome::Help;
        // Qt names the program by the path it was started from, or not at
        // all without an application object: the help names it plainly.
        common.text = parser.helpText();
        const qsizetype options = common.text.indexOf(QStringLiteral(" [options]"));
        if (common.text.startsWith(QStringLiteral("Usage: ")) && options > 0)
            common.text.replace(7, options - 7, QString::fromUtf8(programName()));
    } else if (parser.isSet(version)) {
        common.outcome = Outcome::Version;
    }
    return common;
}

// Prints the help, the version or the usage error. Returns the exit status,
// or -1 when the program is to go on.
inline int finish(const Common& common, const char* version)
{
    const char* program = programName();
    switch (common.outcome) {
    case Outcome::Help:
    case Outcome::Version:
        if (common.outcome == Outcome::Help)
            std::printf("%s", qPrintable(common.text));
        else
            std::printf("%s %s\n", program, version);
        // A full disk or a closed pipe is a failure, not a shown help.
        if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
            say(QStringLiteral("cannot write to standard output: %1")
                    .arg(QString::fromLocal8Bit(std::strerror(errno))));
            return ExitFailure;
        }
        return 0;
    case Outcome::UsageError:
        say(QStringLiteral("%1 (see --help)").arg(common.text));
        return ExitUsage;
    case Outcome::Run:
        break;
    }
    return -1;
}

// Whether a window can be shown: a display, or a platform chosen by hand
// (QT_QPA_PLATFORM, offscreen among them). Without one Qt would abort.
inline bool displayAvailable()
{
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        if (!qEnvironmentVariableIsEmpty(name))
            return true;
    return false;
}

// Says there is no display, in one line, and gives the status to exit with.
inline int noDisplay()
{
    say(QStringLiteral("no display: set DISPLAY or WAYLAND_DISPLAY, or run under a desktop "
                       "session"));
    return ExitUnavailable;
}

// SIGTERM (logout, systemd), SIGINT and SIGHUP end the event loop, so the
// program leaves as after a normal quit (aboutToQuit runs).
inline void quitOnSignals()
{
    static int pipe[2] = {-1, -1};
    if (pipe[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(pipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, [] {
        char bytes[16];
        (void)!::read(pipe[0], bytes, sizeof bytes); // else the notifier fires on and on
        // exit(), not quit(): a window cannot refuse it, nor a dialog hold it up.
        QCoreApplication::exit(0);
    });
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        std::signal(sig, [](int) {
            const char byte = 1;
            (void)!::write(pipe[1], &byte, 1);
        });
}

} // namespace cli
