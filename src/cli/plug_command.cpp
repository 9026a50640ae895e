#include "cli/plug_command.h"

#include <iostream>
#include <memory>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/exit_status.h"
#include "cli/terminal.h"
#include "engine/test_plan.h"

namespace cli {

namespace {

serial::Dcb boardFrame(const echotest::Frame &frame)
{
    serial::Dcb dcb;
    dcb.byteSize = static_cast<std::uint8_t>(frame.dataBits);
    switch (frame.parity) {
    case echotest::Frame::Parity::None: dcb.parity = serial::Dcb::NoParity; break;
    case echotest::Frame::Parity::Odd: dcb.parity = serial::Dcb::OddParity; break;
    case echotest::Frame::Parity::Even: dcb.parity = serial::Dcb::EvenParity; break;
    case echotest::Frame::Parity::Mark: dcb.parity = serial::Dcb::MarkParity; break;
    case echotest::Frame::Parity::Space: dcb.parity = serial::Dcb::SpaceParity; break;
    }
    dcb.stopBits = frame.stopBits == echotest::Frame::StopBits::One ? serial::Dcb::OneStopBit
        : frame.stopBits == echotest::Frame::StopBits::OneAndHalf ? serial::Dcb::One5StopBits
                                                                  : serial::Dcb::TwoStopBits;
    return dcb;
}

} // namespace

int runPlug(const serial::EchoPlugOptions &options, std::ostream &out, std::ostream &err)
{
    installInterruptHandler();
    serial::VirtualEchoPlug plug(options);
    if (!plug.start()) {
        err << "The virtual echo plug could not start: " << plug.errorText() << '\n';
        return kExitFailed;
    }
    out << plug.devicePath() << '\n' << std::flush;
    waitForInterrupt();
    plug.stop();
    err << "Echo plug stopped: " << plug.bytesReceived() << " bytes received, " << plug.bytesSent()
        << " bytes answered.\n";
    return kExitOk;
}

void addPlugCommand(CLI::App &app, int &exitStatus)
{
    struct Options {
        serial::EchoPlugOptions plug;
        std::vector<std::size_t> drops;
        std::vector<std::size_t> corrupts;
        std::vector<std::size_t> hangUp;
        std::vector<std::size_t> adds;
        std::string frame;
    };
    auto options = std::make_shared<Options>();
    auto *command = app.add_subcommand("plug", "Host a virtual echo plug; prints its device path first");
    command->add_flag("--lowercase", options->plug.lowerCase, "Answer A..Z in lower case");
    command->add_flag("--silent", options->plug.silent, "Answer nothing");
    command->add_option("--drop", options->drops, "Do not answer the byte at this 0-based position (repeatable)");
    command->add_option("--corrupt", options->corrupts, "Answer the byte at this position garbled (repeatable)");
    command->add_option("--hang-up-after", options->hangUp, "Hang up after this many bytes")->expected(1);
    command->add_option("--board-rate", options->plug.boardRate,
                        "Fixed rate of the board (0: none); bytes sent more than 5% away arrive garbled");
    command->add_option("--add", options->adds, "Answer one extra byte '+' after the byte at this position (repeatable)");
    command->add_option("--line-rate", options->plug.pacedRate,
                        "Pace the line at this rate whatever rate the program sets (a driver running another rate)");
    command->add_option("--fault-period", options->plug.faultPeriod,
                        "Repeat the fault positions with this period (1000: in every run of the echo test)");
    command->add_option("--frame", options->frame,
                        "Frame of the board (8N1, 7E1, ...); a line set to another frame is answered as a UART would");
    command->callback([options, &exitStatus] {
        serial::EchoPlugOptions plug = options->plug;
        if (!options->frame.empty()) {
            const auto frame = echotest::parseFrame(options->frame);
            if (!frame) {
                std::cerr << "--frame: '" << options->frame
                          << "' is no frame (data bits 5-8, parity N/E/O/M/S, stop bits 1, 1.5 or 2: 8N1, 7E1)\n";
                exitStatus = kExitUsage;
                return;
            }
            plug.boardFrame = boardFrame(*frame);
        }
        plug.dropAt.insert(options->drops.begin(), options->drops.end());
        plug.corruptAt.insert(options->corrupts.begin(), options->corrupts.end());
        for (const std::size_t at : options->adds)
            plug.addAt[at] = "+";
        if (!options->hangUp.empty())
            plug.hangUpAfter = options->hangUp.front();
        exitStatus = runPlug(plug, std::cout, std::cerr);
    });
}

} // namespace cli
