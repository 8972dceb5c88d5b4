#include "BoardFile.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace fenwix
{

std::string boardPath(const Getenv& getenv)
{
    if (const char* board = getenv("FENWIX_BOARD"); board && *board)
        return board;
    if (const char* runtime = getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
        return std::string(runtime) + "/fenwix-lpt1";
    return "/tmp/fenwix-lpt1-" + std::to_string(::getuid());
}

std::string formatBoardState(int value, std::string_view status)
{
    std::string text = std::to_string(value & 0xFF);
    text += '\n';
    text += status;
    text += '\n';
    return text;
}

std::optional<BoardState> parseBoardState(std::string_view text)
{
    const auto firstEnd = text.find('\n');
    if (firstEnd == std::string_view::npos || firstEnd == 0)
        return std::nullopt;
    const std::string_view first = text.substr(0, firstEnd);
    std::string_view rest = text.substr(firstEnd + 1);
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

int replaceFile(const std::string& path, std::string_view contents)
{
    const std::string temp = path + "." + std::to_string(::getpid()) + ".tmp";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return errno;
    std::size_t done = 0;
    while (done < contents.size()) {
        const ssize_t n = ::write(fd, contents.data() + done, contents.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int err = errno;
            ::close(fd);
            ::unlink(temp.c_str());
            return err;
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        return err;
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        return err;
    }
    return 0;
}

} // namespace fenwix
