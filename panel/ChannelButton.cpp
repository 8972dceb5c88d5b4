#include "panel/ChannelButton.h"

#include <QPainter>

namespace panel
{

namespace
{

// Amber on black reads in light and dark themes alike.
const QColor LitFill(255, 196, 64);
const QColor LitText(0, 0, 0);
const QColor LampOutline(96, 48, 0);
constexpr int LampHeight = 3;
constexpr int LampMargin = 4;

} // namespace

ChannelButton::ChannelButton(const QString& caption, QWidget* parent) : QPushButton(caption, parent)
{
    setCheckable(true);
}

void ChannelButton::setLit(bool lit)
{
    if (lit == isChecked())
        return;
    setChecked(lit);
    // Unlit, the button takes the window's colours again.
    QPalette pal;
    if (lit) {
        pal.setColor(QPalette::Button, LitFill);
        pal.setColor(QPalette::ButtonText, LitText);
    }
    setPalette(pal);
}

QRect ChannelButton::lampRect() const
{
    return {LampMargin, height() - LampMargin - LampHeight, width() - 2 * LampMargin, LampHeight};
}

void ChannelButton::paintEvent(QPaintEvent* event)
{
    QPushButton::paintEvent(event);
    if (!isLit())
        return;
    QPainter painter(this);
    painter.setPen(LampOutline);
    painter.setBrush(LitFill.lighter(115));
    painter.drawRect(lampRect().adjusted(0, 0, -1, -1));
}

} // namespace panel
