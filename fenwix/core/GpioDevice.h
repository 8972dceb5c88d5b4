// SPDX-License-Identifier: MIT
#pragma once

#include "fenwix/core/Advice.h"
#include "fenwix/core/Device.h"

#include <cstdint>
#include <linux/gpio.h>
#include <string>
#include <vector>

namespace fenwix
{

// Where the chips' nodes and their sysfs entries are; tests point both elsewhere.
struct GpioFolders {
    std::string devFolder = "/dev";
    std::string busFolder = "/sys/bus/gpio/devices";
};

// What "gpio:CHIP[:LINES][:active-low]" asks for.
struct GpioChoice {
    std::string chip;            // gpiochipN, /dev/gpiochipN, LABEL or LABEL@SERIAL
    std::vector<unsigned> lines; // channel i is lines[i]
    bool activeLow = false;
    std::string problem; // empty when the choice is well formed
};
GpioChoice parseGpioChoice(const std::string& choice);

// Whether FENWIX_LPT1's value names a board on GPIO lines: "gpio" or "gpio:...".
bool namesGpioBoard(const std::string& choice);

// A relay board on up to eight GPIO lines of one chip, through the kernel's
// GPIO character device (uAPI v2): a relay HAT on a Raspberry Pi's lines, or
// a USB bridge's GPIO. The lines are requested once, together, as outputs
// with the first byte as their values, and held until the device goes;
// released lines keep their level. USB chips take milliseconds a transfer:
// the port calls this from its own thread.
class GpioDevice final : public Device
{
  public:
    GpioDevice(const std::string& choice, DeviceOps ops, Reports& reports,
               GpioFolders folders = {});
    ~GpioDevice() override;
    GpioDevice(const GpioDevice&) = delete;
    GpioDevice& operator=(const GpioDevice&) = delete;

    // Sets the lines that change in one call, then reads the lines back: a
    // chip that holds anything else is an error.
    int write(std::uint8_t byte) override;
    // The lines as the chip reports them.
    int read() override;
    bool isOpen() const override { return m_lineFd >= 0; }
    // "gpio:LABEL" once the chip is found, the choice before.
    const std::string& name() const override { return m_name; }
    std::string problem() const override { return m_lastProblem; }
    int held() const override { return m_lineFd >= 0 ? m_held : -1; }

  private:
    // Each returns 0 or an errno value, having said what went wrong.
    // Finds the chip and requests the lines: as outputs holding first, or
    // (first < 0) as they are, to read them.
    int open(int first);
    int findChip(std::string& problem);
    int request(int first, std::string& problem);
    int getLines(int& byte);
    int fail(const std::string& line, int err);
    void close();
    // The lines' bits, which are the channels' (line i of the request is channel i).
    std::uint64_t mask() const { return (std::uint64_t{1} << m_choice.lines.size()) - 1; }
    // "gpiochipN (LABEL, serial S)" for messages; every chip present, likewise.
    std::string describe(const std::string& node, const gpiochip_info& info) const;
    std::string chipList() const;

    GpioChoice m_choice;
    DeviceOps m_ops;
    Reports& m_reports;
    GpioFolders m_folders;
    std::string m_name;
    std::string m_node;
    unsigned m_chipLines = 0;
    int m_chipFd = -1;
    int m_lineFd = -1;
    int m_held = 0; // the lines as last read back, by channel
    bool m_toldFewer = false;
    bool m_toldOthers = false;
    bool m_disagrees = false; // the last write left the lines otherwise
    std::string m_lastProblem;
};

} // namespace fenwix
