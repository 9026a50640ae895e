/* Compiled to assembly only: makes avr-libc's own choice of UBRR value and
 * U2X bit for F_CPU and BAUD readable as data. */
#include <util/setbaud.h>

const unsigned int setbaudUbrr = UBRR_VALUE;
const unsigned char setbaudUse2x = USE_2X;
