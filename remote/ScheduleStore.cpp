// SPDX-License-Identifier: MIT
#include "remote/ScheduleStore.h"

#include "automation/PanelModel.h"
#include "automation/Scheduler.h"
#include "fenwix/core/Files.h"
#include "remote/CommandLineCommon.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <sys/stat.h>
#include <unistd.h>

namespace remote
{

namespace
{

constexpr int SaveDelayMs = 500;
// Far above 32 fields of automation::FieldTextLimit characters, even with
// every character escaped: whatever is saved is read back.
constexpr std::size_t LargestFile = 4 * 1024 * 1024;

// Whether something, even a dangling link, has this name.
bool taken(const QString& path)
{
    struct stat st {
    };
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

// <path>.bad, or <path>.bad.N when that is taken: a bad file is never lost.
QString asidePath(const QString& path)
{
    QString aside = path + QStringLiteral(".bad");
    for (int n = 1; taken(aside); ++n)
        aside = path + QStringLiteral(".bad.%1").arg(n);
    return aside;
}

// Empty when path is nothing yet or a regular file of this user's own.
QString placeProblem(const QString& path)
{
    struct stat st {
    };
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    if (S_ISLNK(st.st_mode))
        return QStringLiteral("is a symbolic link, which is never followed");
    if (!S_ISREG(st.st_mode))
        return QStringLiteral("is not a regular file");
    if (st.st_uid != ::getuid())
        return QStringLiteral("belongs to another user");
    return {};
}

} // namespace

QString ScheduleStore::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/pc-automation/schedule.conf");
}

ScheduleStore::ScheduleStore(QString path, automation::PanelModel& model, QObject* parent)
    : QObject(parent), m_path(std::move(path)), m_model(model)
{
    m_saveTimer.setSingleShot(true);
    m_saveTimer.setInterval(SaveDelayMs);
    connect(&m_saveTimer, &QTimer::timeout, this, [this] { saveNow(); });
    connect(&m_model, &automation::PanelModel::fieldChanged, this, &ScheduleStore::changed);
}

ScheduleStore::~ScheduleStore()
{
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

void ScheduleStore::say(const QString& problem)
{
    if (!problem.isEmpty() && problem != m_lastProblem)
        cli::say(problem);
    m_lastProblem = problem;
}

void ScheduleStore::changed()
{
    // Started, not restarted: steady typing is still saved within the delay.
    if (m_keeping && !m_loading && !m_saveTimer.isActive())
        m_saveTimer.start();
}

QString ScheduleStore::hold()
{
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    const fenwix::HeldLock held =
        fenwix::holdLock(QFile::encodeName(m_path).toStdString() + ".lock", 0600);
    if (held.fd >= 0) {
        m_lockFd = held.fd;
        return {};
    }
    if (held.holder.empty())
        return QString::fromStdString(held.problem);
    return QStringLiteral("is kept by another panel (process %1)")
        .arg(QString::fromStdString(held.holder));
}

QString ScheduleStore::load()
{
    QString problem = placeProblem(m_path);
    if (problem.isEmpty())
        problem = hold();
    if (!problem.isEmpty()) {
        const QString line =
            QStringLiteral("schedule file %1 %2; this panel does not keep its schedule")
                .arg(m_path, problem);
        say(line);
        return line;
    }
    m_keeping = true;
    if (!taken(m_path))
        return {}; // nothing kept yet
    // Without following a link or waiting on a FIFO.
    const fenwix::ReadFile read = fenwix::readRegular(QFile::encodeName(m_path).toStdString(),
                                                      LargestFile, fenwix::Links::Refuse);
    problem = QString::fromStdString(read.problem);
    const QByteArray text = QByteArray::fromStdString(read.bytes);
    QJsonObject fields;
    if (problem.isEmpty()) {
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(text, &error);
        if (error.error != QJsonParseError::NoError)
            problem = error.errorString() + QStringLiteral(" at byte %1").arg(error.offset);
        else if (!doc.isObject() || doc.object().value(QStringLiteral("version")).toInt() != 1 ||
                 !doc.object().value(QStringLiteral("fields")).isObject())
            problem = QStringLiteral("not a schedule file of this program");
        else
            fields = doc.object().value(QStringLiteral("fields")).toObject();
    }
    if (problem.isEmpty()) {
        for (auto it = fields.begin(); it != fields.end() && problem.isEmpty(); ++it) {
            bool number = false;
            const int n = it.key().toInt(&number);
            if (!number || n < 1 || n > automation::FieldCount || !it.value().isString())
                problem = QStringLiteral("entry \"%1\" is not a field's text").arg(it.key());
            else if (it.value().toString().size() > automation::FieldTextLimit)
                problem = QStringLiteral("entry \"%1\" is longer than %2 characters")
                              .arg(it.key())
                              .arg(automation::FieldTextLimit);
        }
    }
    if (!problem.isEmpty()) {
        const QString aside = asidePath(m_path);
        const bool kept = QFile::rename(m_path, aside);
        const QString line =
            QStringLiteral("schedule file %1: %2; starting with empty fields%3")
                .arg(m_path, problem,
                     kept ? QStringLiteral(", the file is kept as %1").arg(aside)
                          : QStringLiteral(" (the file could not be moved aside)"));
        say(line);
        return line;
    }
    m_loading = true;
    for (auto it = fields.begin(); it != fields.end(); ++it)
        m_model.setFieldText(it.key().toInt(), it.value().toString());
    m_loading = false;
    return {};
}

QString ScheduleStore::saveNow()
{
    m_saveTimer.stop();
    if (!m_keeping)
        return {};
    QJsonObject fields;
    QStringList tooLong;
    for (int n = 1; n <= automation::FieldCount; ++n) {
        const QString text = m_model.fieldText(n);
        if (text.size() > automation::FieldTextLimit)
            tooLong << QStringLiteral("Text%1").arg(n);
        else if (!text.isEmpty())
            fields.insert(QString::number(n), text);
    }
    const QJsonObject root{{QStringLiteral("version"), 1}, {QStringLiteral("fields"), fields}};
    QString problem = placeProblem(m_path);
    if (problem.isEmpty()) // written aside and renamed: never half a file
        problem = QString::fromStdString(
            fenwix::replaceFile(QFile::encodeName(m_path).toStdString(),
                                QJsonDocument(root).toJson().toStdString(), 0600));
    if (!problem.isEmpty())
        problem =
            QStringLiteral("schedule file %1: %2; the schedule is not kept").arg(m_path, problem);
    else if (!tooLong.isEmpty())
        problem = QStringLiteral("schedule file %1: %2 longer than %3 characters, not kept")
                      .arg(m_path, tooLong.join(u' '))
                      .arg(automation::FieldTextLimit);
    say(problem);
    return problem;
}

} // namespace remote
