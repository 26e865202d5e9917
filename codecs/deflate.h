// Deflate encoder: lazy matching over a 32768-byte window with hash chains of
// 3-byte strings, and blocks coded stored, with the fixed codes or with dynamic
// Huffman codes, whichever is smallest. Store-only mode writes stored blocks only.
// Input comes in pieces of any size; the blocks are appended to a caller-owned
// growable output (`deflatesink`). The encoder's buffers are one block of about
// 250 KiB taken from the pool at init, and for the best parameter set a second one
// of about 420 KiB taken at its first restart; both are kept until exit.
#pragma once
#include "../framework/types.h"

namespace kzv {

class mem;

// The caller's output buffer. Bytes [start, length) are written and not yet taken
// by the caller's reader; the room is reserved before each block is written.
struct deflatesink {
    mem* pool;
    u8* data;
    u32 start;
    u32 length;
    u32 capacity;
    u64 appended;           // bytes appended since init, wherever they now lie
    bool nomemory;          // a reservation failed; the output is incomplete

    void init(mem* p);
    u8* reserve(u32 n);     // room for n bytes at data + length: moves unread bytes down or grows; null on failure
    void commit(u32 n) { length += n; appended += n; }   // n reserved bytes are written
    bool append(void const* bytes, u32 n);
    void release();
};

enum deflatemode : int { deflate_storeonly, deflate_quick, deflate_best };

struct deflatework;
struct deflatebest;
struct sublevel;
struct matchsearch;

class deflater {
public:
    bool init(mem* pool, int mode);   // false when the pool has no room for the buffers
    bool restart(int mode);           // a new stream with the same buffers; false when best mode finds no room
    void exit();
    // Both return false when the output could not be reserved.
    bool write(void const* bytes, u32 count, deflatesink& sink);
    bool finish(deflatesink& sink);   // the final block; the stream is then complete

private:
    mem* pool;
    deflatework* w;
    deflatebest* bw;        // best mode's own block, taken when first needed
    u8* window;
    int mode;
    u32 chainlength, goodlength, nicelength;
    s32 blockstart;         // window offset of the current block's first byte; negative after a slide
    u32 strstart;           // window offset of the string being matched
    u32 lookahead;          // bytes after strstart
    u32 matchlength, prevlength;
    u32 matchstart, prevmatch;
    bool matchavailable;    // the byte before strstart waits: a literal or the start of a match
    u32 symbols;            // symbols held for the current block
    u64 bitbuffer;          // bits not yet written, lowest first
    u32 bitcount;

    void setmode(int m);
    void resetblock();
    u32 fillwindow(u8 const* p, u32 n);
    void slidewindow();
    u32 insertstring(u32 position);
    u32 longestmatch(u32 head);
    u32 longestmatchbest(u32 head);
    u32 hashwalk(matchsearch& s);
    u32 levelwalk(matchsearch& s, u32 level, u32 below);
    bool beyondchain(matchsearch const& s, u32 candidate) const;
    void insertlevels(u32 level);
    void insertlevel(sublevel& sub, u32 length, u32 end);
    bool lazy(bool final, deflatesink& sink);
    bool storeonly(u8 const* p, u32 n, deflatesink& sink);
    bool flushblock(bool final, deflatesink& sink);
    bool storedblocks(u8 const* bytes, u32 count, bool final, deflatesink& sink);
    void tallyliteral(u32 c);
    void tallymatch(u32 distance, u32 length);
};

} // namespace kzv
