#include "engine/port_fault_messages.h"

#include "serial/comm_error.h"

namespace echotest {

namespace {

const char kCrLf[] = "\r\n";

// A run names the device it opened (the window and --device: a path on
// Linux, COMn on Windows; --port: COMn).  The node the system reached
// follows where it differs (COMn mapped on Linux).
std::string displayName(const serial::SystemCause &cause, const PortNames &names)
{
    const std::string &name = names.deviceName.empty() ? names.comName : names.deviceName;
    if (cause.devicePath.empty() || cause.devicePath == name)
        return name;
    return name + " (" + cause.devicePath + ")";
}

std::string openedName(const PortNames &names)
{
    return names.deviceName.empty() ? names.comName : names.deviceName;
}

// "host" of "host:port" or "[v6]:port".
std::string hostOf(const std::string &hostAndPort)
{
    std::string host = hostAndPort.substr(0, hostAndPort.rfind(':'));
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    return host;
}

std::string permissionMessage(const serial::SystemCause &cause, const PortNames &names)
{
    std::string message = "No permission to open " + displayName(cause, names) + "!    " + kCrLf;
    message += "(" + (cause.systemText.empty() ? std::string("Permission denied") : cause.systemText) + ".)";
    message += kCrLf;
    message += kCrLf;
    if (cause.ownerGroupIsRoot || cause.ownerGroup.empty()) {
        message += "Only root may open this device as it is set up; ask the administrator for access.";
        return message;
    }
    message += "The device belongs to the group " + cause.ownerGroup + ". Add your user to it:" + kCrLf;
    message += "    sudo usermod -aG " + cause.ownerGroup + " $USER" + kCrLf;
    message += "then log out and log in again.";
    return message;
}

} // namespace

std::string openCauseMessage(const serial::SystemCause &cause, const PortNames &names)
{
    using Kind = serial::SystemCause::Kind;
    switch (cause.kind) {
    case Kind::Permission:
        return permissionMessage(cause, names);
    case Kind::Held:
        // Without a name the window's own "already open" message says it all.
        if (cause.holderProgram.empty() && cause.holderPid == 0)
            return {};
        return names.comName + " already open!    " + kCrLf + "(In use by another program: " +
            (cause.holderProgram.empty() ? std::string("unknown") : cause.holderProgram) + ", pid " +
            std::to_string(cause.holderPid) + ").";
    case Kind::NotSerial:
        return withSystemText(displayName(cause, names) + " is not a serial port!    ", cause.systemText);
    case Kind::RegularFile:
        return displayName(cause, names) + " is a regular file, not a serial port!    ";
    case Kind::Directory:
        return displayName(cause, names) + " is a directory, not a serial port!    ";
    case Kind::HostNotFound:
        return withSystemText(openedName(names) + ": the host " + hostOf(cause.devicePath) + " cannot be found!    ",
                              cause.systemText);
    case Kind::Unreachable:
        return withSystemText(openedName(names) + ": no connection to " + cause.devicePath + "!    ", cause.systemText);
    case Kind::NotRfc2217:
        return withSystemText(openedName(names) + ": " + cause.devicePath + " is not an RFC 2217 port server!    " +
                                  kCrLf + "(A raw TCP port or another service. The test was not run.)",
                              cause.systemText);
    case Kind::NoAnswer:
        return withSystemText(openedName(names) + ": the port server at " + cause.devicePath +
                                  " did not take the line settings!    ",
                              cause.systemText);
    case Kind::FrameRefused:
        return withSystemText(displayName(cause, names) + " cannot run the frame asked for!    ", cause.systemText);
    case Kind::Lost:
    case Kind::NoModemLines: // never met at open: only the line calls report it
    case Kind::None:
        break;
    }
    return {};
}

std::string withSystemText(std::string message, const std::string &systemText)
{
    if (systemText.empty())
        return message;
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
        message.pop_back();
    return message + kCrLf + "(" + systemText + ")";
}

std::string lostPortMessage(const serial::SystemCause &cause, const PortNames &names, const std::string &report)
{
    return withSystemText(displayName(cause, names) + " was disconnected or hung up during the test!    " + kCrLf + report,
                          cause.systemText);
}

} // namespace echotest
