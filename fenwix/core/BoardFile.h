#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace fenwix
{

using Getenv = std::function<const char*(const char*)>;

// Where the board state file lives: FENWIX_BOARD, else
// $XDG_RUNTIME_DIR/fenwix-lpt1, else /tmp/fenwix-lpt1-<uid>.
std::string boardPath(const Getenv& getenv);

// The file's two lines: the value written (low 8 bits, decimal) and the
// backend's status ("virtual", "<device> ok" or "<device> error: <text>").
std::string formatBoardState(int value, std::string_view status);

struct BoardState {
    int value = 0;
    std::string status;
    bool hardwareError() const { return status.find(" error: ") != std::string::npos; }
};

// Reads the file's text; nothing when it is not a complete state.
std::optional<BoardState> parseBoardState(std::string_view text);

// Replaces the file atomically: a temporary copy in the same folder, renamed
// over it. Returns 0 or an errno value.
int replaceFile(const std::string& path, std::string_view contents);

} // namespace fenwix
