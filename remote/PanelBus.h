// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QStringList>

namespace automation
{
class PanelModel;
}

// The panel's face to other programs: the D-Bus interface
// net.pcautomation.Panel1 on the session bus, through the adaptor generated
// from its XML. It acts on the panel's model, never on the window.
namespace remote
{

class PanelBus : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_PROPERTY(qint16 OutputState READ outputState)
    Q_PROPERTY(qint16 BoardState READ boardState)
    Q_PROPERTY(QString BoardStatus READ boardStatus)
    Q_PROPERTY(QStringList Captions READ captions)
    Q_PROPERTY(QStringList Fields READ fields)
    Q_PROPERTY(QString Board READ board)

  public:
    explicit PanelBus(automation::PanelModel& model, QObject* parent = nullptr);

    // Puts the interface at the panel's object path on bus, where its
    // signals then go. False when the bus refused it.
    bool exportOn(QDBusConnection& bus);

    qint16 outputState() const;
    QString board() const { return m_board; }
    void setBoard(const QString& board) { m_board = board; }
    qint16 boardState() const;
    QString boardStatus() const;
    QStringList captions() const;
    QStringList fields() const;

  public slots:
    void ToggleChannel(int channel);
    void SwitchChannelOn(int channel);
    void SwitchChannelOff(int channel);
    void AllOff();
    QString Field(int number);
    void SetField(int number, const QString& text);
    void Activate();

  signals:
    void PortWritten(qint16 value, const QString& cause);
    void FieldChanged(int number, const QString& text);
    // Activate was called: the window is to be raised.
    void activateRequested();

  private:
    // Each sends the D-Bus error and returns false when the call must not act.
    bool accepting();
    bool inRange(int value, int first, int last, const char* what);
    bool validChannel(int channel);
    bool validField(int number);
    void announceChanges();

    automation::PanelModel& m_model;
    qint16 m_announcedState = 0;
    qint16 m_announcedBoard = -1;
    QString m_announcedStatus;
    QStringList m_announcedCaptions;
    QString m_board;
    std::optional<QDBusConnection> m_bus; // once exported
};

} // namespace remote
