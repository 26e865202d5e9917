// Console front ends of the formatting engine. `printf` writes to standard output,
// which carries only the answer line and the help text; `eprintf` writes to
// standard error and takes every diagnostic, error dump and trace. Each call
// formats into its own 512-byte stack buffer (capacity 500, text clipped at byte
// 511) and writes the text in one piece; no line end is added. A `printsink`
// sends the pieces of a longer dump to a console channel or into memory.
#pragma once
#include "vprinter.h"

namespace kzv {

const u32 PRINTF_BUFFERSIZE = 512;
const u32 PRINTF_CAPACITY = 500;        // the 12 bytes behind it take the overshoot and the zero

enum : int { channel_memory = 0, channel_stdout = 1, channel_stderr = 2 };

// Where formatted pieces go: written at once to descriptor 1 or 2, or appended to
// `text` (capacity bytes with the terminator; what does not fit is cut).
struct printsink {
    int channel;
    char* text;
    u32 capacity;
    u32 length;
};

printsink printsink_console(int channel);
printsink printsink_memory(char* text, u32 capacity);
void printsink_write(printsink& out, char const* bytes, u32 count);

// The format alone: text copied up to the capacity, a '%' making the next
// character literal (%% gives %, a stray %d gives d). Returns the bytes written.
unsigned printf(char const* format);
unsigned eprintf(char const* format);

// Internal to the templates below: the text of one call and its hand-over.
void printf_begin(vprinterdata* d, char* buffer, char const* format);
unsigned printf_end(vprinterdata* d, int channel);
void printto_end(vprinterdata* d, printsink& out);

template <class... A> inline unsigned printf(char const* format, A... args)
{
    char buffer[PRINTF_BUFFERSIZE];
    vprinterdata d;
    printf_begin(&d, buffer, format);
    vprinter_int(&d, args...);
    return printf_end(&d, channel_stdout);
}

template <class... A> inline unsigned eprintf(char const* format, A... args)
{
    char buffer[PRINTF_BUFFERSIZE];
    vprinterdata d;
    printf_begin(&d, buffer, format);
    vprinter_int(&d, args...);
    return printf_end(&d, channel_stderr);
}

template <class... A> inline void printto(printsink& out, char const* format, A... args)
{
    char buffer[PRINTF_BUFFERSIZE];
    vprinterdata d;
    printf_begin(&d, buffer, format);
    vprinter_int(&d, args...);
    printto_end(&d, out);
}

} // namespace kzv
