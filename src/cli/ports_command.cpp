#include "cli/ports_command.h"

#include <iostream>

#include <CLI/CLI.hpp>

#include "cli/exit_status.h"
#include "cli/ports.h"

namespace cli {

int runPorts(std::ostream &out)
{
    const auto devices = listSerialDevices();
    if (devices.empty()) {
        out << "No serial devices found.\n";
        return kExitOk;
    }
    for (const SerialDevice &device : devices) {
        out << device.name;
        if (device.inUse)
            out << "  [in use]";
        if (!device.driver.empty())
            out << "  driver " << device.driver;
        if (!device.usbId.empty())
            out << "  usb " << device.usbId;
        if (!device.product.empty())
            out << "  \"" << device.product << '"';
        if (!device.alias.empty())
            out << "  " << device.alias;
        out << '\n';
    }
    return kExitOk;
}

void addPortsCommand(CLI::App &app, int &exitStatus)
{
    auto *command = app.add_subcommand("ports", "List the serial devices of this machine");
    command->callback([&exitStatus] { exitStatus = runPorts(std::cout); });
}

} // namespace cli
