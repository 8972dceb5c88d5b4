// SPDX-License-Identifier: MIT
#include "fenwix/core/GpioDevice.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <linux/gpio.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace fenwix
{

namespace
{

constexpr const char* Consumer = "pc-automation";
constexpr std::size_t MaxLines = 8;
constexpr unsigned LineLimit = 4096; // beyond any chip; keeps the text short

std::vector<std::string> split(const std::string& text, char at)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find(at, start)) != std::string::npos; start = end + 1)
        parts.push_back(text.substr(start, end - start));
    parts.push_back(text.substr(start));
    return parts;
}

std::string permissionRemedy()
{
    if (::getgrnam("gpio"))
        return "add your user to the gpio group (sudo adduser $USER gpio), then log in again";
    return "give your user access with a udev rule, such as SUBSYSTEM==\"gpio\", "
           "KERNEL==\"gpiochip*\", GROUP=\"plugdev\", MODE=\"0660\" in "
           "/etc/udev/rules.d/60-gpio.rules, then plug the chip in again or restart";
}

// The gpiochipN nodes in folder, in numeric order.
std::vector<std::string> chipNodes(const std::string& folder)
{
    std::vector<std::pair<long, std::string>> found;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name.rfind("gpiochip", 0) == 0 && name.size() > 8 &&
                name.find_first_not_of("0123456789", 8) == std::string::npos)
                found.emplace_back(std::atol(name.c_str() + 8), name);
        }
        ::closedir(dir);
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> nodes;
    for (auto& [number, name] : found)
        nodes.push_back(folder + "/" + name);
    return nodes;
}

// A USB chip's serial: from the nearest parent in sysfs that is a USB device
// (its serial file) or a HID device (its HID_UNIQ); empty for a chip on the
// board itself.
std::string serialOf(const std::string& busFolder, const std::string& chipName)
{
    char resolved[PATH_MAX];
    if (!::realpath((busFolder + "/" + chipName).c_str(), resolved))
        return {};
    std::string dir = resolved;
    for (std::size_t slash; (slash = dir.rfind('/')) != std::string::npos && slash > 0;) {
        dir.resize(slash);
        // HID_UNIQ first: a HID bridge's own serial attribute asks the chip.
        std::string line;
        std::ifstream uevent(dir + "/uevent");
        while (std::getline(uevent, line))
            if (line.rfind("HID_UNIQ=", 0) == 0 && line.size() > 9)
                return line.substr(9);
        if (std::ifstream serial(dir + "/serial"); std::getline(serial, line) && !line.empty())
            return line;
    }
    return {};
}

} // namespace

bool namesGpioBoard(const std::string& choice)
{
    return choice == "gpio" || choice.rfind("gpio:", 0) == 0;
}

GpioChoice parseGpioChoice(const std::string& choice)
{
    GpioChoice c;
    const std::vector<std::string> parts = split(choice, ':');
    if (parts.size() < 2 || parts[1].empty()) {
        c.problem = "name the chip: gpio:gpiochip0, gpio:/dev/gpiochip0 or gpio:LABEL (gpioinfo "
                    "lists the chips and their lines)";
        return c;
    }
    c.chip = parts[1];
    std::size_t next = 2;
    if (next < parts.size() && parts[next] != "active-low") {
        for (const std::string& number : split(parts[next], ',')) {
            const unsigned line = static_cast<unsigned>(std::atol(number.c_str()));
            if (number.empty() || number.size() > 4 ||
                number.find_first_not_of("0123456789") != std::string::npos || line >= LineLimit ||
                std::find(c.lines.begin(), c.lines.end(), line) != c.lines.end() ||
                c.lines.size() == MaxLines) {
                c.lines.clear();
                c.problem = "the lines must be up to eight different line numbers separated by "
                            "commas, such as gpio:gpiochip0:5,6,13,16,19,20,21,26";
                return c;
            }
            c.lines.push_back(line);
        }
        ++next;
    }
    if (next < parts.size() && parts[next] == "active-low") {
        c.activeLow = true;
        ++next;
    }
    if (next < parts.size()) {
        c.problem = "unexpected \"" + parts[next] +
                    "\": write gpio:CHIP, then the lines if not 0 to 7, then active-low if "
                    "wanted, each after a colon";
        return c;
    }
    if (c.lines.empty())
        for (unsigned line = 0; line < MaxLines; ++line)
            c.lines.push_back(line);
    return c;
}

GpioDevice::GpioDevice(const std::string& choice, DeviceOps ops, Reports& reports,
                       GpioFolders folders)
    : m_choice(parseGpioChoice(choice)), m_ops(std::move(ops)), m_reports(reports),
      m_folders(std::move(folders)), m_name(choice)
{
}

GpioDevice::~GpioDevice()
{
    close(); // the lines keep their levels
}

int GpioDevice::fail(const std::string& line, int err)
{
    close();
    m_reports.once(m_lastProblem, "FENWIX: " + line);
    return err;
}

void GpioDevice::close()
{
    for (int* fd : {&m_lineFd, &m_chipFd}) {
        if (*fd >= 0)
            m_ops.close(*fd);
        *fd = -1;
    }
}

std::string GpioDevice::describe(const std::string& node, const gpiochip_info& info) const
{
    const std::string serial = serialOf(m_folders.busFolder, info.name);
    return node.substr(node.rfind('/') + 1) + " (" + (*info.label ? info.label : "no label") +
           (serial.empty() ? "" : ", serial " + serial) + ")";
}

std::string GpioDevice::chipList() const
{
    std::string list;
    for (const std::string& node : chipNodes(m_folders.devFolder)) {
        const int fd = m_ops.open(node.c_str(), O_RDONLY | O_CLOEXEC);
        gpiochip_info info{};
        if (fd >= 0 && m_ops.ioctl(fd, GPIO_GET_CHIPINFO_IOCTL, &info) >= 0)
            list += (list.empty() ? "" : ", ") + describe(node, info);
        else
            list += (list.empty() ? "" : ", ") + node.substr(node.rfind('/') + 1);
        if (fd >= 0)
            m_ops.close(fd);
    }
    return list.empty() ? "no GPIO chip is present" : "found: " + list;
}

int GpioDevice::findChip(std::string& problem)
{
    // By node, or by label (which survives replugging where the number does
    // not), and among chips with one label by USB serial.
    const std::string& chip = m_choice.chip;
    const bool byNode = chip.front() == '/' || chip.rfind("gpiochip", 0) == 0;
    const std::size_t at = chip.find('@');
    const std::string label = byNode ? "" : chip.substr(0, at);
    const std::string serial = byNode || at == std::string::npos ? "" : chip.substr(at + 1);
    const std::vector<std::string> nodes =
        byNode ? std::vector<std::string>{chip.front() == '/' ? chip
                                                              : m_folders.devFolder + "/" + chip}
               : chipNodes(m_folders.devFolder);
    std::string chosen, others, refused;
    int refusedError = 0;
    for (const std::string& node : nodes) {
        const int fd = m_ops.open(node.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) {
            const int err = errno;
            if (!refusedError && err != ENOENT) {
                refusedError = err;
                refused = node + ": open failed: " + errorText(err) + "; " +
                          (err == EACCES || err == EPERM ? permissionRemedy()
                                                         : "trying again at the next write");
            }
            continue;
        }
        gpiochip_info info{};
        const bool known = m_ops.ioctl(fd, GPIO_GET_CHIPINFO_IOCTL, &info) >= 0;
        const bool wanted =
            known &&
            (byNode || (label == info.label &&
                        (serial.empty() || serial == serialOf(m_folders.busFolder, info.name))));
        if (wanted && m_chipFd < 0) {
            m_chipFd = fd;
            m_node = node;
            m_chipLines = info.lines;
            chosen = describe(node, info);
            // Named as chosen; a node by its chip's label, which stays.
            m_name = "gpio:" + (byNode && *info.label ? std::string(info.label) : chip);
            continue;
        }
        if (wanted)
            others += (others.empty() ? "" : ", ") + describe(node, info);
        m_ops.close(fd);
    }
    if (m_chipFd >= 0) {
        if (!others.empty() && !m_toldOthers) {
            m_toldOthers = true;
            m_reports.say("FENWIX: " + m_name + ": using " + chosen + "; also labelled " + label +
                          ": " + others + "; choose one with gpio:" + label + "@SERIAL");
        }
        return 0;
    }
    if (refusedError) {
        problem = m_name + ": " + refused;
        return refusedError;
    }
    problem = m_name + ": no GPIO chip " +
              (byNode ? nodes.front()
                      : "labelled " + label + (serial.empty() ? "" : " with serial " + serial)) +
              " (" + chipList() +
              "); plug it in, or choose another chip; trying again at the "
              "next write";
    return ENODEV;
}

int GpioDevice::request(int first, std::string& problem)
{
    for (const unsigned line : m_choice.lines)
        if (line >= m_chipLines) {
            problem = m_name + ": line " + std::to_string(line) + " is beyond " + m_node + "'s " +
                      std::to_string(m_chipLines) + " lines (0 to " +
                      std::to_string(m_chipLines - 1) + "); gpioinfo lists them";
            return EINVAL;
        }
    gpio_v2_line_request req{};
    for (std::size_t i = 0; i < m_choice.lines.size(); ++i)
        req.offsets[i] = m_choice.lines[i];
    req.num_lines = static_cast<std::uint32_t>(m_choice.lines.size());
    std::strncpy(req.consumer, Consumer, sizeof req.consumer - 1);
    req.config.flags = m_choice.activeLow ? GPIO_V2_LINE_FLAG_ACTIVE_LOW : 0;
    if (first >= 0) {
        // Outputs from the start with the first byte's values: no glitch.
        req.config.flags |= GPIO_V2_LINE_FLAG_OUTPUT;
        req.config.num_attrs = 1;
        req.config.attrs[0].attr.id = GPIO_V2_LINE_ATTR_ID_OUTPUT_VALUES;
        req.config.attrs[0].attr.values = static_cast<std::uint64_t>(first) & mask();
        req.config.attrs[0].mask = mask();
    }
    if (m_ops.ioctl(m_chipFd, GPIO_V2_GET_LINE_IOCTL, &req) < 0) {
        const int err = errno;
        std::string holders;
        for (const unsigned line : m_choice.lines) {
            gpio_v2_line_info info{};
            info.offset = line;
            if (err == EBUSY && m_ops.ioctl(m_chipFd, GPIO_V2_GET_LINEINFO_IOCTL, &info) >= 0 &&
                (info.flags & GPIO_V2_LINE_FLAG_USED))
                holders += (holders.empty() ? "" : ", ") + std::string("line ") +
                           std::to_string(line) + " by \"" + info.consumer + "\"";
        }
        problem = m_name + " (" + m_node + "): requesting the lines failed: " + errorText(err) +
                  (err == EBUSY ? "; another program holds them" +
                                      (holders.empty() ? "" : " (" + holders + ")") +
                                      "; stop it, or choose other lines"
                                : "; trying again at the next write");
        return err;
    }
    m_lineFd = req.fd;
    m_ops.close(m_chipFd);
    m_chipFd = -1;
    return 0;
}

int GpioDevice::open(int first)
{
    std::string problem;
    if (!m_choice.problem.empty())
        return fail(m_name + ": " + m_choice.problem, EINVAL);
    int err = findChip(problem);
    if (!err)
        err = request(first, problem);
    return err ? fail(problem, err) : 0;
}

int GpioDevice::getLines(int& byte)
{
    gpio_v2_line_values values{0, mask()};
    if (m_ops.ioctl(m_lineFd, GPIO_V2_LINE_GET_VALUES_IOCTL, &values) < 0)
        return errno;
    byte = static_cast<int>(values.bits & mask());
    return 0;
}

int GpioDevice::write(std::uint8_t byte)
{
    m_disagrees = false;
    const int target = byte & static_cast<int>(mask());
    if ((byte & ~mask()) && !m_toldFewer && m_choice.problem.empty()) {
        m_toldFewer = true;
        m_reports.say("FENWIX: " + m_name + " has " + std::to_string(m_choice.lines.size()) +
                      " lines: channels " + std::to_string(m_choice.lines.size()) +
                      " to 7 are not switched");
    }
    int err = 0;
    if (m_lineFd < 0) {
        if ((err = open(target)) != 0)
            return err;
    } else if (const std::uint64_t changed = static_cast<std::uint64_t>(m_held ^ target)) {
        // Only the lines that change, in one call.
        gpio_v2_line_values values{static_cast<std::uint64_t>(target), changed & mask()};
        if (m_ops.ioctl(m_lineFd, GPIO_V2_LINE_SET_VALUES_IOCTL, &values) < 0)
            err = errno;
    }
    // A USB chip's failed transfer shows only in the kernel's log: the lines
    // are read back.
    int now = 0;
    if (!err)
        err = getLines(now);
    if (err)
        return fail(m_name + " (" + m_node + "): writing failed: " + errorText(err) +
                        (err == ENODEV || err == EIO
                             ? "; the chip was unplugged or stopped answering; trying again at "
                               "the next write"
                             : "; trying again at the next write"),
                    err);
    m_held = now;
    m_disagrees = now != target;
    return m_reports.confirmed(m_lastProblem, m_name, now, target, "lines",
                               "the chip did not switch them (see the kernel log)");
}

int GpioDevice::read()
{
    // Before the first write the lines are read as they are and released.
    const bool borrowed = m_lineFd < 0;
    if (borrowed && open(-1) != 0)
        return -1;
    int now = 0;
    const int err = getLines(now);
    if (borrowed)
        close();
    if (err) {
        fail(m_name + " (" + m_node + "): reading failed: " + errorText(err), err);
        return -1;
    }
    m_held = now;
    if (!m_disagrees)
        m_reports.cured(m_lastProblem, m_name, "answering again");
    return now;
}

} // namespace fenwix
