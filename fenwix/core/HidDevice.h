// SPDX-License-Identifier: MIT
#pragma once

#include "fenwix/core/Advice.h"
#include "fenwix/core/Device.h"

#include <cstdint>
#include <string>

namespace fenwix
{

// Where the hidraw nodes are listed and opened; tests point both elsewhere.
struct HidFolders {
    std::string classFolder = "/sys/class/hidraw";
    std::string devFolder = "/dev";
};

// A USB HID relay board (USB id 16c0:05df, product USBRelay1/2/4/8) through
// the kernel's hidraw interface. choice: "hid" (the first such board), "hid:SERIAL"
// (the board with that serial) or a hidraw node. Channel i is relay i+1.
// Transfers take milliseconds: the port calls this from its own thread.
class HidDevice final : public Device
{
  public:
    HidDevice(std::string choice, DeviceOps ops, Reports& reports, HidFolders folders = {});
    ~HidDevice() override;
    HidDevice(const HidDevice&) = delete;
    HidDevice& operator=(const HidDevice&) = delete;

    // Sends commands for the relays that change, then reads the relays back:
    // a board that holds anything else is an error.
    int write(std::uint8_t byte) override;
    // The relays as the board reports them.
    int read() override;
    bool isOpen() const override { return m_fd >= 0; }
    // "hid:SERIAL" once a board has answered, the choice before.
    const std::string& name() const override { return m_name; }
    std::string problem() const override { return m_lastProblem; }
    int held() const override { return m_fd >= 0 ? m_held : -1; }

  private:
    // Each returns 0 or an errno value, having said what went wrong.
    int open();
    int openNode(const std::string& node, std::string& problem);
    int getState(std::string* serial);
    int command(std::uint8_t code, std::uint8_t relay);
    int fail(const std::string& line, int err);
    void close();

    std::string m_choice;
    DeviceOps m_ops;
    Reports& m_reports;
    HidFolders m_folders;
    std::string m_name;
    std::string m_node;
    int m_fd = -1;
    int m_relays = 8;
    int m_held = 0; // the relays as last read back
    bool m_toldFewer = false;
    std::string m_lastProblem;
    bool m_disagrees = false; // the last write left the relays otherwise
};

// Whether FENWIX_LPT1's value names a USB HID relay board rather than a
// parallel port: "hid", "hid:SERIAL", or a hidraw node (also through a link).
bool namesUsbRelayBoard(const std::string& choice);

} // namespace fenwix
