// SPDX-License-Identifier: MIT
#include "remote/ScheduleStore.h"

#include "automation/PanelModel.h"
#include "remote/CommandLineCommon.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>

namespace remote
{

namespace
{

constexpr int SaveDelayMs = 500;
constexpr qint64 LargestFile = 4 * 1024 * 1024;

// <path>.bad, or <path>.bad.N when that is taken: a bad file is never lost.
QString asidePath(const QString& path)
{
    QString aside = path + QStringLiteral(".bad");
    for (int n = 1; QFileInfo::exists(aside); ++n)
        aside = path + QStringLiteral(".bad.%1").arg(n);
    return aside;
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

void ScheduleStore::changed()
{
    // Started, not restarted: steady typing is still saved within the delay.
    if (!m_loading && !m_saveTimer.isActive())
        m_saveTimer.start();
}

QString ScheduleStore::load()
{
    QFile file(m_path);
    if (!file.exists())
        return {}; // nothing kept yet
    QString problem;
    QJsonObject fields;
    if (file.size() > LargestFile) {
        problem = QStringLiteral("larger than %1 bytes").arg(LargestFile);
    } else if (!file.open(QIODevice::ReadOnly)) {
        problem = file.errorString();
    } else {
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
        if (error.error != QJsonParseError::NoError)
            problem = error.errorString() + QStringLiteral(" at byte %1").arg(error.offset);
        else if (!doc.isObject() || doc.object().value(QStringLiteral("version")).toInt() != 1 ||
                 !doc.object().value(QStringLiteral("fields")).isObject())
            problem = QStringLiteral("not a schedule file of this program");
        else
            fields = doc.object().value(QStringLiteral("fields")).toObject();
        file.close();
    }
    if (problem.isEmpty()) {
        for (auto it = fields.begin(); it != fields.end() && problem.isEmpty(); ++it) {
            bool number = false;
            const int n = it.key().toInt(&number);
            if (!number || n < 1 || n > automation::FieldCount || !it.value().isString())
                problem = QStringLiteral("entry \"%1\" is not a field's text").arg(it.key());
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
        cli::say(line);
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
    QJsonObject fields;
    for (int n = 1; n <= automation::FieldCount; ++n) {
        const QString text = m_model.fieldText(n);
        if (!text.isEmpty())
            fields.insert(QString::number(n), text);
    }
    const QJsonObject root{{QStringLiteral("version"), 1}, {QStringLiteral("fields"), fields}};
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    QSaveFile file(m_path); // written aside and renamed: never half a file
    QString problem;
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(root).toJson()) < 0 ||
        !file.commit())
        problem = QStringLiteral("schedule file %1: %2; the schedule is not kept")
                      .arg(m_path, file.errorString());
    if (!problem.isEmpty() && problem != m_lastProblem)
        cli::say(problem);
    m_lastProblem = problem;
    return problem;
}

} // namespace remote
