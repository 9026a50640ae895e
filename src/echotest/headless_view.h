#pragma once
// The test run without a screen: the labels live in memory, the settings are
// plain fields, controls and menus do nothing.  The command line builds its
// terminal view on it; benchmarks and tests use it as it is.
#include <map>
#include <string>

#include "echotest/echo_engine.h"

namespace echotest {

class HeadlessView : public EchoTestView {
public:
    HeadlessView();

    std::string port = "1";
    std::string baud = "9600";
    bool lowerCase = false;     // a lower-case echo passes
    std::string device;         // empty: "COM" + port
    std::map<RunLabel, std::string> captions; // counters start at "0", the port "CLOSE"
    std::string lastMessage;    // the last message the run showed

    std::string portText() override { return port; }
    std::string baudText() override { return baud; }
    int check1Value() override { return lowerCase ? 1 : 0; }
    int32_t minTransmitTime() override;
    std::string deviceName(int16_t portNumber) override;
    std::string caption(RunLabel label) override { return captions[label]; }
    void setCaption(RunLabel label, const std::string &text) override { captions[label] = text; }
    void setColours(RunLabel, uint32_t, uint32_t) override {}
    void setReceivedText(const std::string &) override {}
    void showMessage(const std::string &text, MessageIcon) override { lastMessage = text; }
    void enterRunningState() override {}
    void leaveRunningState() override {}
    void disableAbortButton() override {}
    void restoreCursor() override {}
    void startLiveDisplay() override {}
    void stopLiveDisplay() override {}
    void disableMove(bool) override {}
    void yield() override {}
    void unload() override {}
};

} // namespace echotest
