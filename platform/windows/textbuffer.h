// The text buffer: a growable text in the module's pool that is written like an
// output stream and read back like an input stream ('B', 'C', 'D', 'F', with 'G'
// and 'H' giving read bytes back). The buffer always keeps one byte behind the
// content for its terminator. An append that would pass TEXTBUFFER_MAXCAPACITY, or
// that the pool refuses, answers 0 and changes nothing. Once every byte has been
// read, the next append starts the content over at offset 0; the line-end state is
// kept, so a CR LF split across two appends still ends one line.
#pragma once
#include "../../framework/stream.h"

namespace kzv {

// Far above any text the program assembles, and it keeps every 32-bit offset and
// size sum clear of wrapping.
const u32 TEXTBUFFER_MAXCAPACITY = STREAM_MAXBUFFER;
const u32 TEXTBUFFER_LOADCHUNK = 0x4000;    // one file read while loading

class textbuffer : public module {
public:
    u32 capacity;           // bytes allocated; capacity >= length + 1 once allocated
    u32 length;             // bytes of content
    u32 pending;            // bytes not yet read: length - readpos
    u32 readpos;            // start of the unread bytes; those before it can be given back
    u32 linestate;          // 1 the last line read ended with LF, 2 with CR, else 0
    char eol1;              // what `putline` appends: LF after init
    char eol2;              // 0 = none
    u8* buffer;
    u32 total;              // bytes appended over the buffer's life, wrapping

    textbuffer() { init(nullptr); }
    ~textbuffer() { exit(true); }

    void init(mem* p);
    void exit(bool keep);

    // Room for n bytes behind the content (and the terminator behind them), or null
    // with nothing changed. `commit` then counts bytes written there as content; it
    // never counts more than the room behind the content.
    u8* reserve(unsigned int n);
    void commit(unsigned int n);

    // Appends: each answers the bytes appended, 0 when refused, and is whole or
    // nothing. The content stays terminated by a zero that is not counted.
    u32 write(char const* bytes, unsigned int n);
    u32 putchar(unsigned short c);          // UTF-8 from 128 on
    u32 putline(char const* text);          // the text, then eol1 and eol2 when set
    u32 putwide(char16_t const* text);      // UTF-8; a surrogate pair as one 4-byte sequence

    // One line from the stream on the IN pin, appended with `putline`: 1. Without
    // a line: 2 when the peer is open and may still bring one; 0 at its end (the
    // buffer's own end flag is then set), on its error, when it is not open, when
    // nothing is connected, or when the line could not be appended.
    int readline();
    // `readline` until the peer has nothing now, its end, or `us` microseconds
    // (0: no limit, waiting on "nothing now" with the scheduler running). 0 at the
    // end; 1 when it stopped earlier (nothing now, time, or the process exiting).
    int fill(unsigned int us);
    // Appends the whole file (or resource entry). False when it does not open,
    // cannot be read to its end, or does not fit: a size past the cap changes
    // nothing; a failure while reading drops what this load appended.
    bool loadfile(char const* path);
    void removenewlines();

    // The stream commands of the reading side.
    sptr getline(char** p);
    sptr read(u8** p, int n);
    sptr readrecord(data** p, int n);
    sptr getbyte();
    sptr giveback(int n);
    sptr restart();
    void seteol(char const* p);             // 'S': eol1 and eol2 := p[0], p[1]

private:
    u8* reservebytes(u64 n);
    bool appendparts(u8 const* a, u32 na, u8 const* b, u32 nb);
    bool appendline(char const* text);
    u32 eollength() const;
    bool loadfrom(stream& source, u64 sizehint);
    void take(u32 n);
    void skiplineendpair();
    void setend();
    void clearend();
    bool atend();
};

sptr textbuffer_concb(void* self, unsigned cmd, int a, int b, void const* p);

} // namespace kzv
