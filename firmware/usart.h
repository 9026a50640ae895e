/* One name for each USART register and bit on the two parts the echo
 * firmware is built for.  The ATmega16 has a single USART without a number
 * (UDR, UCSRA, ...); the ATmega328P numbers it 0 (UDR0, UCSR0A, ...).  The
 * ATmega16 also shares one I/O address between UCSRC and UBRRH, told apart
 * by the URSEL bit, which the 328P does not have. */
#ifndef ECHO_USART_H
#define ECHO_USART_H

#include <avr/io.h>

#if defined(UDR0)
#define ECHO_UDR UDR0
#define ECHO_UCSRA UCSR0A
#define ECHO_UCSRB UCSR0B
#define ECHO_UCSRC UCSR0C
#define ECHO_UBRRH UBRR0H
#define ECHO_UBRRL UBRR0L
#define ECHO_RXC RXC0
#define ECHO_UDRE UDRE0
#define ECHO_U2X U2X0
#define ECHO_RXEN RXEN0
#define ECHO_TXEN TXEN0
#define ECHO_RXCIE RXCIE0
#define ECHO_UDRIE UDRIE0
#define ECHO_FRAME_8N1 ((1 << UCSZ01) | (1 << UCSZ00))
#define ECHO_RX_VECTOR USART_RX_vect
#define ECHO_UDRE_VECTOR USART_UDRE_vect
#elif defined(UDR) && defined(URSEL)
#define ECHO_UDR UDR
#define ECHO_UCSRA UCSRA
#define ECHO_UCSRB UCSRB
#define ECHO_UCSRC UCSRC
#define ECHO_UBRRH UBRRH
#define ECHO_UBRRL UBRRL
#define ECHO_RXC RXC
#define ECHO_UDRE UDRE
#define ECHO_U2X U2X
#define ECHO_RXEN RXEN
#define ECHO_TXEN TXEN
#define ECHO_RXCIE RXCIE
#define ECHO_UDRIE UDRIE
#define ECHO_FRAME_8N1 ((1 << URSEL) | (1 << UCSZ1) | (1 << UCSZ0))
#define ECHO_RX_VECTOR USART_RXC_vect
#define ECHO_UDRE_VECTOR USART_UDRE_vect
#else
#error "echo firmware: this part's USART is not mapped in usart.h"
#endif

/* ubrr_config.h is written by ubrr-gen from the calculator's arithmetic:
 * ECHO_UBRR_VALUE and ECHO_USE_U2X for the chosen clock and rate. */
#include "ubrr_config.h"

#if ECHO_UBRR_VALUE > 4095
#error "echo firmware: UBRR value does not fit the 12-bit register"
#endif

/* 8 data bits, no parity, 1 stop bit, as the echo test opens the port.
 * U2X and the frame format are set before UBRR so that the register write
 * that starts the baud generator (UBRRL) sees the final settings. */
static inline void echoUsartInit(unsigned char interrupts)
{
    ECHO_UCSRA = ECHO_USE_U2X ? (1 << ECHO_U2X) : 0;
    ECHO_UCSRC = ECHO_FRAME_8N1;
    ECHO_UBRRH = (unsigned char)((ECHO_UBRR_VALUE >> 8) & 0x0F);
    ECHO_UBRRL = (unsigned char)(ECHO_UBRR_VALUE & 0xFF);
    ECHO_UCSRB = (1 << ECHO_RXEN) | (1 << ECHO_TXEN) | (interrupts ? (1 << ECHO_RXCIE) : 0);
}

/* The lower-case build returns 'a' for 'A'.  Only A to Z are shifted: adding
 * 32 to any other byte would corrupt it (a '[' would come back as '{'). */
static inline unsigned char echoTransform(unsigned char c)
{
#if defined(ECHO_LOWER_CASE) && ECHO_LOWER_CASE
    if (c >= 'A' && c <= 'Z')
        c = (unsigned char)(c + 32);
#endif
    return c;
}

#endif
