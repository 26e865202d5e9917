// The console front ends: one formatted text per call, written in one piece to
// descriptor 1 (the answer) or 2 (diagnostics) through the platform, which retries
// a terminal that would block.
#include "printf.h"
#include "os.h"

namespace kzv {

printsink printsink_console(int channel)
{
    printsink s = {channel, nullptr, 0, 0};
    return s;
}

printsink printsink_memory(char* text, u32 capacity)
{
    printsink s = {channel_memory, capacity ? text : nullptr, capacity, 0};
    if (s.text)
        s.text[0] = 0;
    return s;
}

static unsigned writechannel(int channel, char const* bytes, u32 count)
{
    if (count == 0)
        return 0;
    return channel == channel_stdout ? os_stdout(bytes, count) : os_stderr(bytes, count);
}

void printsink_write(printsink& out, char const* bytes, u32 count)
{
    if (out.channel != channel_memory) {
        writechannel(out.channel, bytes, count);
        return;
    }
    if (!out.text || out.length >= out.capacity)
        return;
    u32 room = out.capacity - 1 - out.length;
    if (count > room)
        count = room;
    for (u32 i = 0; i < count; i++)
        out.text[out.length + i] = bytes[i];
    out.length += count;
    out.text[out.length] = 0;
}

void printf_begin(vprinterdata* d, char* buffer, char const* format)
{
    vprinter_begin(d, buffer, PRINTF_BUFFERSIZE, PRINTF_CAPACITY, format);
}

unsigned printf_end(vprinterdata* d, int channel) { return writechannel(channel, d->buffer, d->length); }

void printto_end(vprinterdata* d, printsink& out) { printsink_write(out, d->buffer, d->length); }

static unsigned formatonly(char const* format, int channel)
{
    char buffer[PRINTF_BUFFERSIZE];
    vprinterdata d;
    printf_begin(&d, buffer, format);
    vprinter_copyrest(&d);
    return writechannel(channel, buffer, d.length);
}

unsigned printf(char const* format) { return formatonly(format, channel_stdout); }
unsigned eprintf(char const* format) { return formatonly(format, channel_stderr); }

} // namespace kzv
