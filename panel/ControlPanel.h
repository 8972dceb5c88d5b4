#pragma once

#include "automation/Scheduler.h"
#include "channels/ChannelTable.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <QDateTime>
#include <QFont>
#include <QStringList>
#include <QTimer>
#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

namespace panel
{

class ChannelButton;

// The faces the window uses; the benchmark's bare window is built from them too.
enum class FontKind { Window, Small, SmallBold, Clock, Title };
QFont panelFont(FontKind kind);

// The system's one window: eight channel buttons, 32 schedule fields, the loop
// test and exit buttons, the clock and the fixed labels. It owns the output
// byte, the stop request and both timers.
class ControlPanel : public QWidget
{
    Q_OBJECT

  public:
    static constexpr int ClientWidth = 489; // the inside of a 497 x 542 window
    static constexpr int ClientHeight = 508;

    explicit ControlPanel(channels::PortWrite write, QWidget* parent = nullptr);

    // Seams for tests: the clock the scheduler and the display read, and the
    // shortest length of one loop-test step.
    void setClock(std::function<QDateTime()> clock);
    void setStepPause(std::chrono::milliseconds pause) { m_stepPause = pause; }

    std::int16_t outputState() const { return OutputState; }
    std::int16_t stopRequested() const { return StopRequested; }
    std::int32_t pauseScratch() const { return m_scratch; }
    QTimer& timer1() { return Timer1; }
    QTimer& timer2() { return Timer2; }
    QLineEdit* field(int number) const; // TextN, N = 1 .. automation::FieldCount

    // What made a port write; other programs are told with each write.
    enum class Cause { Click, Schedule, Loop, Remote, Exit };
    static QString causeName(Cause cause);

    // For other programs: the channel operations a click or a schedule
    // entry uses, so the port, OutputState and the captions stay in step.
    void SwitchChannelOn(int channel, Cause cause);
    void SwitchChannelOff(int channel, Cause cause);
    // Writes 0, as exit does, but keeps the window: OutputState and the
    // captions follow.
    void AllOff(Cause cause);
    QStringList captions() const;
    bool isClosing() const { return m_closing; }

  signals:
    void portWritten(qint16 value, const QString& cause);
    // OutputState or a caption may have changed.
    void stateChanged();

  public slots:
    void ToggleChannel(int channel, Cause cause = Cause::Click);
    void LoopTest();
    void StopLoop();
    void ExitCommand();
    void SchedulerTick();
    void ClockTick();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    void buildControls();
    channels::ChannelContext channelContext(Cause cause);
    void writePort(std::int16_t value, Cause cause);
    void setCaption(int channel, std::string_view caption);

    std::int16_t OutputState = 0;
    std::int16_t StopRequested = 0;
    volatile std::int32_t m_scratch = 0;
    QTimer Timer1{this};
    QTimer Timer2{this};

    channels::PortWrite m_write;
    std::function<QDateTime()> m_clock;
    std::chrono::milliseconds m_stepPause;
    bool m_closing = false;

    std::array<ChannelButton*, channels::ChannelCount> m_channelButtons{};
    std::array<QLineEdit*, automation::FieldCount> m_fields{};
    QLabel* m_clockLabel = nullptr;
};

} // namespace panel
