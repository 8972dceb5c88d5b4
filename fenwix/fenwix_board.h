/* The board state file: the contract between the port library, which writes
 * it, and whoever shows or reads it (lpt-board, scripts). Header-only, so a
 * reader needs none of the library's working.
 *
 * The file holds two lines: the value last written (its low 8 bits, decimal)
 * and the backend's status: "virtual", "<device> ok" or
 * "<device> error: <text>". */
#ifndef FENWIX_BOARD_H
#define FENWIX_BOARD_H

#include <charconv>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unistd.h>

namespace fenwix
{

using Getenv = std::function<const char*(const char*)>;

// Where the file lives: FENWIX_BOARD, else $XDG_RUNTIME_DIR/fenwix-lpt1, else
// /tmp/fenwix-lpt1-<uid>.
inline std::string boardPath(const Getenv& getenv)
{
    if (const char* board = getenv("FENWIX_BOARD"); board && *board)
        return board;
    if (const char* runtime = getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
        return std::string(runtime) + "/fenwix-lpt1";
    return "/tmp/fenwix-lpt1-" + std::to_string(::getuid());
}

inline std::string formatBoardState(int value, std::string_view status)
{
    std::string text = std::to_string(value & 0xFF);
    text += '\n';
    text += status;
    text += '\n';
    return text;
}

struct BoardState {
    int value = 0;
    std::string status;
    bool hardwareError() const { return status.find(" error: ") != std::string::npos; }
};

// Nothing when the text is not one complete state.
inline std::optional<BoardState> parseBoardState(std::string_view text)
{
    const auto firstEnd = text.find('\n');
    if (firstEnd == std::string_view::npos || firstEnd == 0)
        return std::nullopt;
    const std::string_view first = text.substr(0, firstEnd);
    const std::string_view rest = text.substr(firstEnd + 1);
    const auto secondEnd = rest.find('\n');
    if (secondEnd == std::string_view::npos || secondEnd == 0)
        return std::nullopt;

    BoardState state;
    const auto [end, ec] = std::from_chars(first.data(), first.data() + first.size(), state.value);
    if (ec != std::errc() || end != first.data() + first.size() || state.value < 0 ||
        state.value > 255)
        return std::nullopt;
    state.status = std::string(rest.substr(0, secondEnd));
    return state;
}

} // namespace fenwix

#endif
