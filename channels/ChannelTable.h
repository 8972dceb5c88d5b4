// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <QString>
#include <string_view>

// The eight channels of the output board and the operations that change one
// channel, tell the port and show the channel's state on its button.
namespace channels
{

inline constexpr int ChannelCount = 8;

struct Channel {
    int number;
    std::uint8_t mask;
    std::string_view button;         // objectName of the channel's button
    std::string_view initialCaption; // the bare device name
    std::string_view onCaption;
    std::string_view offCaption;
};

// One row per channel, indexed by channel number. Captions are UTF-8.
inline constexpr std::array<Channel, ChannelCount> ChannelTable{{
    {0, 0x01, "BIT0", "電燈", "電燈開", "電燈關"},
    {1, 0x02, "BIT1", "收音機", "收音機開", "收音機關"},
    {2, 0x04, "BIT2", "電鍋", "電鍋開", "電鍋關"},
    {3, 0x08, "BIT3", "電扇", "電扇開", "電扇關"},
    {4, 0x10, "BIT4", "影印機", "影印機開", "影印機關"},
    {5, 0x20, "BIT5", "販賣機", "販賣機開", "販賣機關"},
    {6, 0x40, "BIT6", "自動門", "自動門開", "自動門關"},
    {7, 0x80, "BIT7", "電視", "電視開", "電視關"},
}};

// Whether the channel's line is on in an output byte: the one bit test.
constexpr bool isOn(int byte, int channel)
{
    return channel >= 0 && channel < ChannelCount && ((byte >> channel) & 1) != 0;
}

// What a channel's button shows of it: before the first write the bare name
// says nothing yet.
enum class ChannelState { Unknown, Off, On };
constexpr ChannelState stateIn(int byte, int channel)
{
    return isOn(byte, channel) ? ChannelState::On : ChannelState::Off;
}
// The caption for a state (UTF-8): the bare name, or the name with 開 or 關.
std::string_view captionOf(int channel, ChannelState state);

// The table's UTF-8 texts as Qt strings.
QString text(std::string_view utf8);

// The port write: the whole output byte, as a 16-bit signed value.
using PortWrite = std::function<void(std::int16_t)>;
// Receives the state a channel's button must now show (its caption is
// captionOf(channel, state)).
using CaptionSink = std::function<void(int channel, ChannelState state)>;

// What the operations work on: the window's output byte and its two services.
struct ChannelContext {
    std::int16_t& outputState;
    PortWrite write;
    CaptionSink setCaption;
};

// Inverts the channel's bit and writes the whole byte, whatever the old state.
void ToggleChannel(ChannelContext& ctx, int channel);
// Sets the channel's bit unless it is already set; then nothing at all happens.
void SwitchChannelOn(ChannelContext& ctx, int channel);
// Clears the channel's bit unless it is already clear.
void SwitchChannelOff(ChannelContext& ctx, int channel);
// Shows every channel's on or off caption for the current byte; writes nothing.
void RefreshCaptions(ChannelContext& ctx);

} // namespace channels
