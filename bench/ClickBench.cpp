// SPDX-License-Identifier: MIT
#include "bench/Measure.h"

#include "panel/ControlPanel.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPushButton>

namespace bench
{

// --- Click on BIT0 to the port call ---------------------------------------------
void benchClick(int clicks)
{
    Clock::time_point pressed;
    std::vector<double> samples;
    samples.reserve(static_cast<std::size_t>(clicks));
    panel::ControlPanel window(
        [&](std::int16_t) { samples.push_back(micros(Clock::now() - pressed)); });
    window.timer1().stop();
    window.timer2().stop();
    window.show();
    QCoreApplication::processEvents();
    auto* bit0 = window.findChild<QPushButton*>(QStringLiteral("BIT0"));
    const QPointF at(bit0->width() / 2.0, bit0->height() / 2.0);
    const QPointF global = bit0->mapToGlobal(at);
    for (int i = 0; i < clicks; ++i) {
        QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton,
                            Qt::NoModifier);
        pressed = Clock::now();
        QApplication::sendEvent(bit0, &press);
        QApplication::sendEvent(bit0, &release);
        if (i % 64 == 0)
            QCoreApplication::processEvents(); // let repaints happen as they would
    }
    addRow({"click on BIT0 to port call",
            fmt("median %.1f us, p99 %.1f us", percentile(samples, 0.5), percentile(samples, 0.99)),
            "-", "p99 < 200 us"});
}

} // namespace bench
