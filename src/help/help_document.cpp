#include "help/help_document.h"

#include <array>

namespace help {
namespace {

// One entry per line, in order.  Lines 119-150 and 159-220 are BASCOM AVR
// listings and must stay valid source when copied out of the view, which is
// why the long Config Lcdpin statement uses the line-continuation form.
// The broken bar of the heading boxes is spelled as its UTF-8 bytes so the
// text does not depend on the compiler's source character set.
constexpr std::array<std::string_view, kHelpLineCount> kLines = {
    // line 1: title
    "                    R E B O U N C E   T E S T",
    "",
    "",
    "",
    // line 5: what the test is
    "A rebounce test (an echo test) checks a serial port in the simplest possible",
    "way: every byte that the computer sends out on pin 3 (TXD) of the 9-pin serial",
    "connector comes straight back into pin 2 (RXD) of the same port, where the",
    "program reads it again and compares it with what it has sent. The only hardware",
    "needed is a rebounce plug (echo plug), described in the next section, so this is",
    "a quick check of whether a computer's serial port works at a given baud rate.",
    "",
    "The same test can be run with an AVR microcontroller in place of the plug. The",
    "microcontroller then returns every byte itself, and the tool becomes a simple",
    "environment for trying out serial communication programs written with BASCOM",
    "AVR. It is simpler than a terminal emulator but no replacement for one: it only",
    "sends its fixed test pattern and checks what comes back.",
    "",
    "",
    "",
    // line 20: the test with an echo plug
    "+----------------------------------------------------------------------------+",
    "\xC2\xA6              Performing a rebounce test with a rebounce plug               \xC2\xA6",
    "+----------------------------------------------------------------------------+",
    "",
    "",
    "Hardware requirements:",
    "",
    "- A rebounce plug: a female DB-9 connector with pins 2 and 3 shorted (connected",
    "  together). Plug it straight into the serial port under test; no other pin is",
    "  used and no cable is needed.",
    "",
    "Software requirements:",
    "",
    "- Windows 2000 Workstation or Windows XP.",
    "- The program Rebounce.exe. (This tool).",
    "",
    "",
    "Run the program. If it shows an error message instead of its main window, read",
    "the last section of this document, 'General notes about the Rebounce tool'.",
    "",
    "1. In the main window, select the serial port ('COM port') and the baud rate",
    "   ('Bits per second'). A custom baud rate can be typed into the baud rate box.",
    "2. Press 'Rebounce'. The tool opens the port and sends 1000 bytes, the text",
    "   ABCDEFGHIJABC.... shown in the upper box. With a working port the same data",
    "   appear at once in the lower box (green).",
    "3. If the received data equal the transmitted data, the result is 'PASS'; if",
    "   they differ, the result is 'FAIL'.",
    "As soon as all 1000 bytes have come back, the port is closed at once and the",
    "data are compared. With fewer than 1000 bytes the program waits for the",
    "calculated minimum transmission time plus a time-out delay and checks the",
    "reception buffer repeatedly during that time. If the correct data have not come",
    "back by then, the result is 'FAIL'; at the time-out the port is closed.",
    "The time-out delay depends on the baud rate:",
    "   up to 300 baud ............ 3000 ms",
    "   301 to 1201 baud .......... 1000 ms",
    "   1202 baud and above ........ 100 ms",
    "The program shows timing figures for the various operations: the time needed to",
    "hand the 1000 bytes to the system, the calculated minimum transmission time and",
    "the time of the last read. Several elements of the main window carry tooltips",
    "with further information; rest the mouse pointer on them to read them.",
    "Hold down the Enter key to repeat the test run after run. A double-click on a",
    "counter offers to clear all four counters.",
    "",
    "",
    "",
    // line 65: the test with an AVR microcontroller
    "+----------------------------------------------------------------------------+",
    "\xC2\xA6          Performing a rebounce test with an AVR microcontroller            \xC2\xA6",
    "+----------------------------------------------------------------------------+",
    "",
    "",
    "Here a microcontroller takes the place of the rebounce plug: it receives every",
    "byte that the PC sends and sends it back at once. The diagram in the main",
    "window shows how the serial port, the RS-232 transceiver and the microcontroller",
    "system are connected; RXD of the AVR receives the data, TXD returns the echo.",
    "",
    "The test itself is the same as the one with the rebounce plug; please read the",
    "previous section first.",
    "",
    "",
    "Hardware requirements:",
    "",
    "- AVR microcontroller system with a RS-232 transceiver. (RS-232 level shifter).",
    "- Serial cable.",
    "",
    "Software requirements:",
    "",
    "- Windows 2000 Workstation or Windows XP.",
    "- The BASCOM AVR compiler.",
    "- The program Rebounce.exe. (This tool).",
    "",
    "",
    "The purpose of this test is to try out serial communication firmware: the tool",
    "sends a known pattern and tells at once whether the firmware has returned it",
    "complete and unchanged.",
    "With the two samples below on an AVR clocked at 14.7456 MHz the test passed up",
    "to 921600 baud, the maximum of the PC's serial ports used (a 16C950 UART on a",
    "PCI card), and 14.7456 MHz divides exactly into the standard baud rates. A",
    "standard UART on a PC motherboard usually handles up to 115200 baud. Above",
    "115200 baud a high-speed RS-232 transceiver is needed; the MAX232 works only up",
    "to 120 kbit/s.",
    "",
    "The two samples are very simple examples that use the hardware UART of the AVR.",
    "BASCOM AVR supports both hardware and software UARTs; see the BASCOM help file",
    "for details.",
    "",
    "Real applications generally add hardware or software handshaking to protect the",
    "receiver against overload; this tool uses no flow control. The serial port of",
    "the PC has large FIFO buffers, and the program was tested up to 921600 baud",
    "without losing data. A 'FAIL' with a microcontroller can come from the firmware",
    "or the wiring as well as from the port: use the rebounce plug to test the",
    "serial port itself.",
    "",
    "",
    "",
    "",
    "",
    "",
    "(If needed, you can select and copy any part of this document).",
    "",
    // line 119: sample code A, polling (lines 119-150)
    "'***********************************************",
    "' Bascom rebounce sample code A   (Polling mode)",
    "'",
    "' Above 115200 baud a high-speed RS-232 transceiver is needed:",
    "' the MAX232 works only up to 120 kbit/s.",
    "' This code was tested up to 921600 baud.",
    "'***********************************************",
    "",
    "$regfile = \"m16def.dat\"                 ' ATmega16",
    "$crystal = 14745600",
    "$baud = 115200",
    "$hwstack = 32",
    "$swstack = 16",
    "$framesize = 32",
    "",
    "' The UART is polled: this sample uses no interrupts.",
    "Dim Rx_char As Byte",
    "",
    "' Main loop: whenever a character is waiting in the UART, read it and",
    "' send it straight back. Adding 32 to an upper-case letter gives its",
    "' lower-case form ('A' = 65, 'a' = 97).",
    "Do",
    "   If Ischarwaiting() = 1 Then",
    "      Rx_char = Inkey()",
    "      'Rx_char = Rx_char + 32       ' uncomment to send back lower case",
    "      Printbin Rx_char",
    "   End If",
    "Loop",
    "",
    "End",
    "",
    "'***********************************************",
    "",
    "",
    "",
    "",
    "",
    "",
    "(If needed, you can select and copy any part of this document).",
    "",
    // line 159: sample code B, interrupt-driven (lines 159-220)
    "'***********************************************",
    "' Bascom rebounce sample code B   (Interrupt-driven mode)",
    "'",
    "' Above 115200 baud a high-speed RS-232 transceiver is needed:",
    "' the MAX232 works only up to 120 kbit/s.",
    "' This code was tested up to 921600 baud.",
    "'***********************************************",
    "",
    "$regfile = \"m16def.dat\"                 ' ATmega16",
    "$crystal = 14745600",
    "$baud = 115200",
    "$hwstack = 32",
    "$swstack = 16",
    "$framesize = 32",
    "",
    "' Character LCD module (HD44780 compatible), 16 x 2, in 4-bit mode:",
    "'",
    "'   LCD pin          Connection",
    "'   DB4 - DB7        PORTB.4 - PORTB.7",
    "'   E                PORTB.3",
    "'   RS               PORTB.2",
    "'   DB0 - DB3        not connected",
    "'   R/W              GND (the program only writes to the display)",
    "'   Contrast (Vo)    GND on most displays",
    "'",
    "'   Other displays need a slightly positive contrast voltage: take it from the wiper of a",
    "'   10k potentiometer connected between +5V and GND.",
    "",
    "Config Lcd = 16 * 2",
    "Config Lcdpin = Pin , Db4 = Portb.4 , Db5 = Portb.5 , Db6 = Portb.6 , Db7 = Portb.7 , _",
    "   E = Portb.3 , Rs = Portb.2",
    "Config Lcdmode = Port",
    "Cursor Off",
    "",
    "Dim Rx_char As Byte",
    "Dim My_counter As Long",
    "",
    "On Urxc Getchar                         ' UART receive interrupt",
    "Enable Urxc",
    "Enable Interrupts",
    "",
    "Waitms 100                              ' let the LCD power up",
    "Cls",
    "Lcd \"Rebounce test\"",
    "Lowerline",
    "Lcd \"Echo ready\"",
    "Waitms 1000",
    "",
    "Do",
    "   Cls",
    "   Incr My_counter",
    "   Lcd My_counter",
    "   Waitms 1000",
    "Loop",
    "",
    "Getchar:",
    "   Rx_char = Inkey()",
    "   'Rx_char = Rx_char + 32       ' uncomment to send back lower case",
    "   Printbin Rx_char",
    "Return",
    "End",
    "'***********************************************",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    // line 229: the baud rate calculator
    "+----------------------------------------------------------------------------+",
    "\xC2\xA6            AVR baud rate calculator  (Asynchronous operation)              \xC2\xA6",
    "+----------------------------------------------------------------------------+",
    "",
    "",
    "The calculator computes all the baud rates that an AVR can generate from a given",
    "system clock frequency, and so helps to choose the clock (crystal) for the baud",
    "rate you need. Open it with the 'Calculator' button of the main window. Select",
    "the requested baud rate and the system clock frequency in the calculator window,",
    "or enter custom values for either of them.",
    "",
    "The calculator shows the following values:",
    "(With U2Xn=0 and U2Xn=1).",
    "",
    "- Baud rate closest match",
    "- Baud rate error in %",
    "- UBRRn values (UBRRnH - UBRRnL)",
    "",
    "It also lists every baud rate that the clock can produce: all 4096 UBRRn values",
    "for U2Xn = 0 and all 4096 UBRRn values for U2Xn = 1, each with its baud rate.",
    "Selecting an entry in the list shows its UBRRnH and UBRRnL values. Clicking one",
    "of the two grey UBRRn values in the upper part of the window locates that value",
    "in the list, so that neighbouring rates can be",
    "compared at a glance.",
    "",
    "All values are calculated with the equations of the USART chapter of the Atmel",
    "AVR datasheets.",
    "",
    "Note that BASCOM AVR computes and sets the baud rate register values itself when",
    "the program uses the directive \"$BAUD = x\", or when the baud rate is set in the",
    "BASCOM development environment (Options - Compiler - Communication), which also",
    "shows the error in %.",
    "",
    "",
    "",
    // line 264: general notes
    "+----------------------------------------------------------------------------+",
    "\xC2\xA6                  General notes about this Rebounce tool                    \xC2\xA6",
    "+----------------------------------------------------------------------------+",
    "",
    "",
    "Rebounce Test is free software. It comes as it is, without support of any kind.",
    "It is made by the Rebounce Test project; see the README for its authors.",
    "The program runs only on Windows XP and Windows 2000.",
    "It writes nothing to the registry and nothing to the disk.",
    "The serial port is reached through the Windows API, so no additional components",
    "need to be installed.",
    "",
    "Run-time library files needed by the program (normally installed with it, in",
    "the program's folder):",
    "   - Qt6Core.dll, Qt6Gui.dll, Qt6Widgets.dll",
    "   - platforms\\qwindows.dll",
    "   - the C++ run-time library of the compiler used",
    "If one of them is missing, Windows says so when the program starts. They come",
    "with Qt 6 and with the compiler.",
    "The README names the exact versions.",
    "",
    "Support, updates and questions:",
    "See the README of the Rebounce Test project.",
    "",
    "",
    "Document date: 2026-12-08",
    "",
    "",
    "-- The Rebounce Test developers",
    "",
    "",
    "",
};

} // namespace

std::vector<std::string> helpLines()
{
    return {kLines.begin(), kLines.end()};
}

std::string buildHelpDocument()
{
    std::size_t size = 0;
    for (std::string_view line : kLines)
        size += 2 + line.size();

    std::string document;
    document.reserve(size);
    for (std::string_view line : kLines) {
        document += "\r\n";
        document += line;
    }
    return document;
}

std::size_t countCodePoints(std::string_view utf8)
{
    std::size_t count = 0;
    for (char c : utf8) {
        // Continuation bytes (10xxxxxx) belong to the preceding character.
        if ((static_cast<unsigned char>(c) & 0xC0U) != 0x80U)
            ++count;
    }
    return count;
}

std::size_t viewPositionOfOffset(std::string_view document, std::size_t offset)
{
    std::size_t characters = 0;
    std::size_t position = 0;
    for (std::size_t i = 0; i < document.size() && characters < offset; ++i) {
        const auto byte = static_cast<unsigned char>(document[i]);
        if ((byte & 0xC0U) == 0x80U)
            continue;
        ++characters;
        // The LF of a CR LF pair adds nothing: the view stores the pair as
        // one line break, already counted at the CR.
        if (byte == '\n' && i > 0 && document[i - 1] == '\r')
            continue;
        ++position;
    }
    return position;
}

} // namespace help
