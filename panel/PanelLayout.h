// SPDX-License-Identifier: MIT
#pragma once

#include "automation/Scheduler.h"
#include "channels/ChannelTable.h"

#include <array>
#include <QRect>
#include <string_view>

// Where everything of the panel's window stands, in what face, with what
// text: the window is built from these tables, and the benchmark's bare
// window from the same.
namespace panel
{

// The faces the window uses.
enum class FontKind { Window, Small, SmallBold, Clock, Title };

// Positions and sizes are in twips, 15 to a logical pixel.
inline constexpr int TwipsPerPixel = 15;

struct Twips {
    int left, top, width, height;
    QRect rect() const
    {
        return {left / TwipsPerPixel, top / TwipsPerPixel, width / TwipsPerPixel,
                height / TwipsPerPixel};
    }
};

struct ButtonRow {
    std::string_view name;
    std::string_view caption;
    Twips place;
};

// The three command buttons.
inline constexpr std::array<ButtonRow, 3> CommandButtons{{
    {"LOOP", "循環測試", {480, 5280, 975, 495}},
    {"STOP", "停止", {2520, 5280, 975, 495}},
    {"exit", "離開", {4800, 5280, 1335, 495}},
}};

// Each channel's line: its button (name and captions from the channel table),
// then its four schedule fields (numbers from the scheduler's table: on hour,
// on minute, off hour, off minute) with a colon between each hour and minute.
// Channels 0-3 stand in the left block, 4-7 in the right.
struct ChannelLine {
    int top;                       // of the fields; the button stands 120 higher
    std::array<int, 2> separators; // numbers of LabelN
};

inline constexpr std::array<ChannelLine, channels::ChannelCount> ChannelLines{{
    {1920, {3, 4}},
    {2760, {6, 7}},
    {3600, {9, 10}},
    {4440, {11, 12}},
    {1920, {15, 16}},
    {2760, {17, 18}},
    {3600, {19, 20}},
    {4440, {21, 22}},
}};

struct Block {
    int buttonLeft;
    std::array<int, 4> fieldLefts;
    std::array<int, 2> separatorLefts;
};
inline constexpr Block LeftBlock{480, {1320, 1800, 2520, 3000}, {1680, 2880}};
inline constexpr Block RightBlock{3840, {4680, 5160, 5880, 6360}, {5040, 6240}};

inline const Block& blockOf(int channel)
{
    return channel < channels::ChannelCount / 2 ? LeftBlock : RightBlock;
}

inline constexpr int ChannelButtonWidth = 735;
inline constexpr int ChannelButtonHeight = 495;
inline constexpr int ButtonAboveFields = 120;
inline constexpr int FieldWidth = 375;
inline constexpr int FieldHeight = 285;
inline constexpr int SeparatorSize = 135;
// Between each hour and minute field.
inline constexpr std::string_view Separator = "：";

struct LabelRow {
    int number;
    std::string_view caption;
    Twips place;
    FontKind font;
};

inline constexpr std::array<LabelRow, 7> Labels{{
    {1, "PC自動化控制", {1320, 360, 3375, 615}, FontKind::Title},
    {2, "", {6000, 240, 1695, 495}, FontKind::Clock},
    {5, "ON  TIME", {1320, 1560, 855, 255}, FontKind::SmallBold},
    {8, "OFF  TIME", {2520, 1560, 975, 255}, FontKind::SmallBold},
    {13, "ON  TIME", {4680, 1560, 855, 255}, FontKind::SmallBold},
    {14, "OFF  TIME", {5880, 1560, 975, 255}, FontKind::SmallBold},
    {23, "註：時間為24小時制", {4920, 6360, 2415, 375}, FontKind::Window},
}};

// Keyboard focus order after exit, BIT0..BIT7, LOOP and STOP.
inline constexpr std::array<int, automation::FieldCount> FieldFocusOrder{
    5,  7,  3,  2,  6,  8,  9,  10, 11, 12, 13, 14, 15, 16, 17, 18,
    19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 1,  4};

} // namespace panel
