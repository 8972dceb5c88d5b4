#pragma once

// What the command lines of pc-automation and pc-automation-mqtt share:
// --help, --version, no stray arguments, and usage errors with status 64.
#include <cstdio>
#include <QCommandLineParser>
#include <QStringList>

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

inline constexpr int ExitUsage = 64; // sysexits(3)

// Adds --help and --version to parser and parses arguments (the program's
// name first).
inline Common parseCommon(QCommandLineParser& parser, const QStringList& arguments)
{
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Show the version and exit."));
    parser.addOption(help);
    parser.addOption(version);
    Common common;
    if (!parser.parse(arguments))
        return common.usage(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return common.usage(
            QStringLiteral("unexpected argument %1").arg(parser.positionalArguments()[0]));
    if (parser.isSet(help)) {
        common.outcome = Outcome::Help;
        // Without an application object yet, the parser cannot name the program.
        common.text = parser.helpText().replace(QStringLiteral("<executable_name>"),
                                                arguments.value(0).section(u'/', -1));
    } else if (parser.isSet(version)) {
        common.outcome = Outcome::Version;
    }
    return common;
}

// Prints the help, the version or the usage error. Returns the exit status,
// or -1 when the program is to go on.
inline int finish(const Common& common, const char* program, const char* version)
{
    switch (common.outcome) {
    case Outcome::Help:
        std::printf("%s", qPrintable(common.text));
        return 0;
    case Outcome::Version:
        std::printf("%s %s\n", program, version);
        return 0;
    case Outcome::UsageError:
        std::fprintf(stderr, "%s: %s (see --help)\n", program, qPrintable(common.text));
        return ExitUsage;
    case Outcome::Run:
        break;
    }
    return -1;
}

} // namespace cli
