#include "echotest/headless_view.h"

#include "echotest/baud_selection.h"

namespace echotest {

HeadlessView::HeadlessView()
{
    for (RunLabel counter : {RunLabel::Label18, RunLabel::Label21, RunLabel::Label23, RunLabel::Label25})
        captions[counter].assign(1, '0'); // not = "0": GCC 12 warns falsely (-Wrestrict)
    captions[RunLabel::Label15] = "CLOSE";
}

int32_t HeadlessView::minTransmitTime()
{
    return echotest::minTransmitTime(baudValue(baud));
}

std::string HeadlessView::deviceName(int16_t portNumber)
{
    return device.empty() ? EchoTestView::deviceName(portNumber) : device;
}

} // namespace echotest
