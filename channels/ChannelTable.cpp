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
    ctx.outputState = static_cast<std::int16_t>(newValue);
    if (ctx.write)
        ctx.write(ctx.outputState);
    if (ctx.setCaption)
        ctx.setCaption(channel, stateIn(newValue, channel));
}

int maskOf(int channel)
{
    return ChannelTable[static_cast<std::size_t>(channel)].mask;
}

} // namespace

std::string_view captionOf(int channel, ChannelState state)
{
    if (!isChannel(channel))
        return {};
    const Channel& row = ChannelTable[static_cast<std::size_t>(channel)];
    switch (state) {
    case ChannelState::On:
        return row.onCaption;
    case ChannelState::Off:
        return row.offCaption;
    case ChannelState::Unknown:
        break;
    }
    return row.initialCaption;
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
    if (isOn(old, channel))
        return;
    apply(ctx, channel, (old & 0xFF) | m);
}

void SwitchChannelOff(ChannelContext& ctx, int channel)
{
    if (!isChannel(channel))
        return;
    const int old = ctx.outputState;
    const int m = maskOf(channel);
    if (!isOn(old, channel))
        return;
    apply(ctx, channel, (old & 0xFF) & ~m);
}

void RefreshCaptions(ChannelContext& ctx)
{
    if (!ctx.setCaption)
        return;
    for (const Channel& row : ChannelTable)
        ctx.setCaption(row.number, stateIn(ctx.outputState, row.number));
}

} // namespace channels
