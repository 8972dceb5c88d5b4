// SPDX-License-Identifier: MIT
#include "channels/ChannelTable.h"

namespace channels
{

namespace
{

bool isChannel(int channel)
{
    return channel >= 0 && channel < ChannelCount;
}

// Store, write the port, then show the caption: the board is told before the
// button claims the new state.
void apply(ChannelContext& ctx, int channel, int newValue)
{
    const Channel& row = ChannelTable[static_cast<std::size_t>(channel)];
    ctx.outputState = static_cast<std::int16_t>(newValue);
    if (ctx.write)
        ctx.write(ctx.outputState);
    if (ctx.setCaption)
        ctx.setCaption(channel, (newValue & row.mask) ? row.onCaption : row.offCaption);
}

int maskOf(int channel)
{
    return ChannelTable[static_cast<std::size_t>(channel)].mask;
}

} // namespace

ChannelState StateOfCaption(int channel, const QString& caption)
{
    if (!isChannel(channel))
        return ChannelState::Unknown;
    const Channel& row = ChannelTable[static_cast<std::size_t>(channel)];
    if (caption == text(row.onCaption))
        return ChannelState::On;
    if (caption == text(row.offCaption))
        return ChannelState::Off;
    return ChannelState::Unknown;
}

QString text(std::string_view utf8)
{
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

void ToggleChannel(ChannelContext& ctx, int channel)
{
    if (!isChannel(channel))
        return;
    const int old = ctx.outputState;
    const int m = maskOf(channel);
    apply(ctx, channel, ((old & 0xFF) & ~m) | (~old & m));
}

void SwitchChannelOn(ChannelContext& ctx, int channel)
{
    if (!isChannel(channel))
        return;
    const int old = ctx.outputState;
    const int m = maskOf(channel);
    if (old & m)
        return;
    apply(ctx, channel, (old & 0xFF) | m);
}

void SwitchChannelOff(ChannelContext& ctx, int channel)
{
    if (!isChannel(channel))
        return;
    const int old = ctx.outputState;
    const int m = maskOf(channel);
    if (!(old & m))
        return;
    apply(ctx, channel, (old & 0xFF) & ~m);
}

void RefreshCaptions(ChannelContext& ctx)
{
    if (!ctx.setCaption)
        return;
    for (const Channel& row : ChannelTable)
        ctx.setCaption(row.number, (ctx.outputState & row.mask) ? row.onCaption : row.offCaption);
}

} // namespace channels
