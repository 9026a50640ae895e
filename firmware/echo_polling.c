/* Echo firmware, polling: every byte received on the USART is sent straight
 * back (in lower case with ECHO_LOWER_CASE=1).  No interrupts are used. */
#include "usart.h"

int main(void)
{
    echoUsartInit(0);
    for (;;) {
        if (ECHO_UCSRA & (1 << ECHO_RXC)) {
            const unsigned char c = echoTransform(ECHO_UDR);
            while (!(ECHO_UCSRA & (1 << ECHO_UDRE)))
                ;
            ECHO_UDR = c;
        }
    }
}
