// SPDX-License-Identifier: MIT
#pragma once

#include "remote/PanelContract.h"

#include "automation/Scheduler.h"

#include <array>
#include <memory>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace mqtt
{

// How long a call to the panel may wait for its answer.
inline constexpr int PanelTimeoutMs = 5000;

// The running panel as the bridge follows it over D-Bus: whether it is up,
// the board it drives, what that board holds and whether it answers, and its
// 32 schedule fields, kept from its own signals only (another program on the
// bus cannot speak for it). Each appearance is read in one call that the
// event loop does not wait for.
class PanelMirror : public QObject
{
    Q_OBJECT

  public:
    explicit PanelMirror(QObject* parent = nullptr);

    // Starts following the panel on the session bus; false when there is none.
    bool follow();

    bool isUp() const { return m_up; }
    // The board the panel drives (its Board property).
    QString boardName() const { return m_boardName; }
    // BoardState: what the board holds, -1 while unknown.
    int board() const { return m_board; }
    // BoardStatus: "ok", or why the board is not known to hold what was written.
    QString boardStatus() const { return m_boardStatus; }
    bool fieldsKnown() const { return m_fieldsKnown; }
    // Field number 1 .. FieldCount as the panel holds it.
    QString field(int number) const;
    // The panel itself, for commands.
    remote::PanelProxy& panel() { return *m_panel; }

  signals:
    // The panel came and was read: the board it drives, its state, its fields.
    void appeared();
    void vanished();
    // The board, its status or a field changed.
    void changed();

  private slots:
    void fieldChanged(int number, const QString& text);
    void propertiesChanged(const QString& interface, const QVariantMap& properties,
                           const QStringList& invalidated, const QDBusMessage& message);

  private:
    void panelAppeared();
    void panelVanished();
    // Takes what the panel said of itself; false (said once) when it is no
    // panel's answer.
    bool take(const QVariantMap& properties);
    // One line per change of trouble with the panel.
    void say(const QString& problem);

    bool m_up = false;
    int m_reads = 0; // appearances read so far: a late answer is dropped
    QString m_boardName;
    int m_board = -1;
    QString m_boardStatus;
    bool m_fieldsKnown = false;
    std::array<QString, automation::FieldCount + 1> m_fields; // by number
    QString m_owner; // the unique name that holds the panel's name
    QString m_lastProblem;
    QDBusServiceWatcher m_watcher;
    std::unique_ptr<remote::PanelProxy> m_panel;
};

} // namespace mqtt
