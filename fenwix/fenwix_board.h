/* SPDX-License-Identifier: MIT */
/* The board state file: the contract between the port library, which writes
 * it, and whoever shows or reads it (lpt-board, scripts). Header-only, so a
 * reader needs none of the library's working.
 *
 * The file holds exactly two lines: the value last written (its low 8 bits, decimal)
 * and the backend's status: "virtual", "<device> ok" or
 * "<device> error: <text>". */
#ifndef FENWIX_BOARD_H
#define FENWIX_BOARD_H

#include <cerrno>
#include <charconv>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace fenwix
{

using Getenv = std::function<const char*(const char*)>;

// Where the file lives, and the folder that must be this user's alone before
// it is trusted (empty when the user chose the place).
struct BoardLocation {
    std::string path;
    std::string privateFolder;
};

// FENWIX_BOARD, else $XDG_RUNTIME_DIR/fenwix-lpt1, else lpt1 in the private
// folder /tmp/fenwix-<uid>: /tmp itself is everyone's, where another user
// could take the name first.
inline BoardLocation boardLocation(const Getenv& getenv)
{
    if (const char* board = getenv("FENWIX_BOARD"); board && *board)
        return {board, {}};
    if (const char* runtime = getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
        return {std::string(runtime) + "/fenwix-lpt1", {}};
    const std::string folder = "/tmp/fenwix-" + std::to_string(::getuid());
    return {folder + "/lpt1", folder};
}

// Empty when folder is a real folder (not a link) owned by this user that no
// one else can write to; otherwise what is wrong with it.
inline std::string folderNotPrivate(const std::string& folder)
{
    struct stat st {
    };
    if (::lstat(folder.c_str(), &st) != 0)
        return std::strerror(errno);
    if (!S_ISDIR(st.st_mode))
        return "not a folder";
    if (st.st_uid != ::getuid())
        return "owned by another user";
    if (st.st_mode & (S_IWGRP | S_IWOTH))
        return "writable by other users";
    return {};
}

// Control characters would let a status forge lines of its own.
inline bool isControl(char c)
{
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
}

inline std::string formatBoardState(int value, std::string_view status)
{
    std::string text = std::to_string(value & 0xFF);
    text += '\n';
    for (char c : status)
        text += isControl(c) ? '?' : c;
    text += '\n';
    return text;
}

struct BoardState {
    int value = 0;
    std::string status;
    bool hardwareError() const { return status.find(" error: ") != std::string::npos; }
};

// A reader reads at most this much; a larger file is no board state.
inline constexpr std::size_t MaxBoardFileSize = 4096;

// Nothing when the text is not exactly one complete state.
inline std::optional<BoardState> parseBoardState(std::string_view text)
{
    const auto firstEnd = text.find('\n');
    if (firstEnd == std::string_view::npos || firstEnd == 0)
        return std::nullopt;
    const std::string_view first = text.substr(0, firstEnd);
    const std::string_view rest = text.substr(firstEnd + 1);
    const auto secondEnd = rest.find('\n');
    if (secondEnd == std::string_view::npos || secondEnd == 0 || secondEnd + 1 != rest.size())
        return std::nullopt;
    const std::string_view status = rest.substr(0, secondEnd);
    for (char c : status)
        if (isControl(c))
            return std::nullopt;

    BoardState state;
    const auto [end, ec] = std::from_chars(first.data(), first.data() + first.size(), state.value);
    if (ec != std::errc() || end != first.data() + first.size() || state.value < 0 ||
        state.value > 255)
        return std::nullopt;
    state.status = std::string(status);
    return state;
}

} // namespace fenwix

#endif
