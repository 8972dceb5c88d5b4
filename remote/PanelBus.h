#pragma once

#include <QDBusContext>
#include <QObject>
#include <QStringList>

namespace panel
{
class ControlPanel;
}

// The panel's face to other programs: a D-Bus interface on the session bus
// (net.pcautomation.Panel1, described in net.pcautomation.Panel1.xml).
namespace remote
{

inline constexpr const char* ServiceName = "net.pcautomation.Panel";
inline constexpr const char* ObjectPath = "/net/pcautomation/Panel";
inline constexpr const char* InterfaceName = "net.pcautomation.Panel1";

class PanelBus : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "net.pcautomation.Panel1")
    Q_PROPERTY(qint16 OutputState READ outputState)
    Q_PROPERTY(QStringList Captions READ captions)

  public:
    explicit PanelBus(panel::ControlPanel& window, QObject* parent = nullptr);

    qint16 outputState() const;
    QStringList captions() const;

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

  private:
    // Each sends the D-Bus error and returns false when the call must not act.
    bool accepting();
    bool inRange(int value, int first, int last, const char* what);
    bool validChannel(int channel);
    bool validField(int number);
    void announceChanges();

    panel::ControlPanel& m_window;
    qint16 m_announcedState = 0;
    QStringList m_announcedCaptions;
};

} // namespace remote
