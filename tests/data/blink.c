/* A small 8051 program, the Intel HEX test image of the programming tests.
 * blink.hex beside it was built from this file with SDCC 4.2.0:
 *   sdcc -mmcs51 blink.c && packihx blink.ihx > blink.hex
 * The tests use the committed blink.hex, so building needs no 8051 compiler. */
#include <8051.h>

static void delay(unsigned int n)
{
    while (n--) {
        __asm nop __endasm;
    }
}

void main(void)
{
    unsigned char pattern = 0x01;
    for (;;) {
        P1 = (unsigned char)~pattern;
        delay(20000);
        pattern = (unsigned char)((pattern << 1) | (pattern >> 7));
    }
}
