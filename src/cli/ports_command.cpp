#include "cli/ports_command.h"

#include <iostream>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "cli/exit_status.h"

namespace cli {

namespace {

struct PortsOptions {
    bool json = false;
    bool all = false; // also the ports without a UART behind them
};

nlohmann::ordered_json textOrNull(const std::string &text)
{
    return text.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(text);
}

nlohmann::ordered_json numberOrNull(const std::optional<int> &number)
{
    return number ? nlohmann::ordered_json(*number) : nlohmann::ordered_json();
}

nlohmann::ordered_json asJson(const serial::SerialDevice &device)
{
    nlohmann::ordered_json holders = nlohmann::ordered_json::array();
    for (const serial::PortHolder &holder : device.holders)
        holders.push_back({{"pid", holder.pid}, {"program", textOrNull(holder.program)}});
    nlohmann::ordered_json uartFitted; // null: not a serial-core port
    if (device.uartFitted != serial::UartFitted::NotApplicable)
        uartFitted = device.uartFitted == serial::UartFitted::Yes;
    return {
        {"path", device.path},
        {"stable_path", textOrNull(device.stablePath)},
        {"driver", textOrNull(device.driver)},
        {"usb_id", textOrNull(device.usbId())},
        {"vendor_id", textOrNull(device.vendorId)},
        {"product_id", textOrNull(device.productId)},
        {"manufacturer", textOrNull(device.manufacturer)},
        {"product", textOrNull(device.product)},
        {"serial_number", textOrNull(device.serialNumber)},
        {"interface", numberOrNull(device.interfaceNumber)},
        {"usb_path", textOrNull(device.usbPath)},
        {"latency_timer_ms", numberOrNull(device.latencyTimerMs)},
        {"uart_fitted", uartFitted},
        {"uart_type", textOrNull(device.uartType)},
        {"console", device.console},
        {"in_use", device.inUse()},
        {"holders", holders},
    };
}

// The window's drop-down line, then what it leaves out.
std::string asText(const serial::SerialDevice &device)
{
    std::string line = serial::deviceLine(device);
    for (const serial::PortHolder &holder : device.holders)
        line += "  (pid " + std::to_string(holder.pid) + ")";
    const auto add = [&line](const char *what, const std::string &value) {
        if (!value.empty())
            line += std::string("  ") + what + value;
    };
    add("driver ", device.driver);
    add("maker ", device.manufacturer);
    add("serial ", device.serialNumber);
    add("", device.stablePath);
    add("usb-path:", device.usbPath);
    if (device.latencyTimerMs)
        add("latency timer ", std::to_string(*device.latencyTimerMs) + " ms");
    return line;
}

int runPorts(const PortsOptions &options, const PortDiscovery &discover, std::ostream &out)
{
    std::vector<serial::SerialDevice> devices = discover();
    if (!options.all)
        std::erase_if(devices, [](const serial::SerialDevice &device) { return !device.hasHardware(); });
    if (options.json) {
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (const serial::SerialDevice &device : devices)
            list.push_back(asJson(device));
        out << list.dump(2) << '\n';
        return kExitOk;
    }
    if (devices.empty())
        out << "No serial devices found.\n";
    for (const serial::SerialDevice &device : devices)
        out << asText(device) << '\n';
    return kExitOk;
}

} // namespace

void addPortsCommand(CLI::App &app, int &exitStatus, PortDiscovery discover, std::ostream &out)
{
    auto options = std::make_shared<PortsOptions>();
    auto *command = app.add_subcommand(
        "ports", "List the serial devices of this machine and who holds them, without opening any");
    command->add_flag("--json", options->json, "A JSON array, one object per device");
    command->add_flag("--all", options->all, "Also the legacy ports that have no UART fitted");
    command->callback([options, discover = std::move(discover), &out, &exitStatus] {
        exitStatus = runPorts(*options, discover, out);
    });
}

void addPortsCommand(CLI::App &app, int &exitStatus)
{
    addPortsCommand(app, exitStatus, serial::listSerialDevices, std::cout);
}

} // namespace cli
