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
// what its board holds and its 32 schedule fields, kept from its own signals
// only (another program on the bus cannot speak for it).
class PanelMirror : public QObject
{
    Q_OBJECT

  public:
    explicit PanelMirror(QObject* parent = nullptr);

    // Starts following the panel on the session bus; false when there is none.
    bool follow();

    bool isUp() const { return m_up; }
    // BoardState: what the board holds, -1 while unknown.
    int board() const { return m_board; }
    bool fieldsKnown() const { return m_fieldsKnown; }
    // Field number 1 .. FieldCount as the panel holds it.
    QString field(int number) const;
    // The panel itself, for commands.
    remote::PanelProxy& panel() { return *m_panel; }

  signals:
    // The panel came (its fields and board read); boardName: the board it drives.
    void appeared(const QString& boardName);
    void vanished();
    // The board or a field changed.
    void changed();

  private slots:
    void fieldChanged(int number, const QString& text);
    void propertiesChanged(const QString& interface, const QVariantMap& properties,
                           const QStringList& invalidated, const QDBusMessage& message);

  private:
    void panelAppeared();
    void panelVanished();

    bool m_up = false;
    int m_board = -1;
    bool m_fieldsKnown = false;
    std::array<QString, automation::FieldCount + 1> m_fields; // by number
    QString m_owner; // the unique name that holds the panel's name
    QDBusServiceWatcher m_watcher;
    std::unique_ptr<remote::PanelProxy> m_panel;
};

} // namespace mqtt
