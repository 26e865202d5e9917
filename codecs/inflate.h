// Raw deflate decoder (the block format inside zlib, gzip, zip and PNG data). It
// decodes from a caller-given input span into a caller-given output area and stops
// when the input runs out, the room runs out, the final block ends or the data are
// bad; it can be resumed with more input or room at any bit. The caller owns every
// buffer: the bytes of the output area before the write position are the history
// that back-references reach, and the work area holds the code tables. Nothing is
// allocated here. Bad data stop the decoder for good with a short message.
#pragma once
#include "../framework/types.h"

namespace kzv {

enum inflateresult : int {
    inflate_needinput,      // every input byte is taken; give more (or the stream is cut short)
    inflate_needoutput,     // the room is used up; make room and call again
    inflate_end,            // the final block ended
    inflate_error,          // bad data; `message` says what, and every later call repeats it
};

struct inflatecode {        // one decoding-table entry
    u8 op;                  // 0 literal, 1..15 link, 16+e base with e extra bits, bit 5 end, bit 6 bad
    u8 bits;                // bits the code takes
    u16 val;                // literal, base, or the sub-table's place
};

// The work area: 320 code lengths, 288 sorted symbols and 2048 table entries,
// which hold the largest literal/length table (852 entries with 9 root bits)
// together with the largest distance table (592 entries with 6 root bits).
const u32 INFLATE_MAXLENGTHS = 320;
const u32 INFLATE_MAXSYMBOLS = 288;
const u32 INFLATE_TABLEENTRIES = 2048;
const u32 INFLATE_WORKBYTES = INFLATE_MAXLENGTHS * 2 + INFLATE_MAXSYMBOLS * 2 + INFLATE_TABLEENTRIES * 4;

// A match writes at most this many bytes; the room check of the fast loop adds
// the eight bytes that a word-wise copy may write beyond the match.
const u32 INFLATE_MAXMATCH = 258;
const u32 INFLATE_WINDOW = 32768;

class inflater {
public:
    // The caller's spans, read and moved by `run`.
    u8 const* next;         // next input byte
    u8 const* end;          // end of input
    u8* window;             // first output byte a back-reference may reach
    u8* out;                // write position
    u8* outend;             // end of room
    char const* message;    // set with inflate_error

    void init(void* workarea);     // INFLATE_WORKBYTES, 4-byte aligned, any content
    int run();
    bool ended() const { return mode == mode_done; }
    u32 heldbits() const { return bits; }   // input bits taken but not yet decoded

private:
    enum : u8 {
        mode_header, mode_storedlength, mode_stored, mode_tableheader, mode_codelengthlengths,
        mode_codelengths, mode_codes, mode_copy, mode_done, mode_bad,
    };
    u64 hold;               // input bits, lowest first
    u32 bits;               // how many of them are valid
    u8 mode;
    bool lastblock;
    u8 lenbits, distbits;   // root index bits of the current tables
    u32 nlen, ndist, ncode; // code-length counts of a dynamic header
    u32 have;               // code lengths read so far
    u32 length;             // stored bytes left, or match bytes left to copy
    u32 distance;           // distance of the match being copied
    inflatecode const* lencode;
    inflatecode const* distcode;
    u16* lens;
    u16* work;
    inflatecode* table;

    bool pull();
    bool need(u32 n);
    void drop(u32 n);
    int fail(char const* why);
    int header();
    int storedlength();
    int stored();
    int tableheader();
    int codelengthlengths();
    int codelengths();
    int buildcodes();
    int slowsymbol();
    int copymatch();
    void fastcodes();
    bool peekcode(inflatecode const* codes, u32 rootbits, u32 skip, inflatecode& e, u32& used);
};

enum inflatetabletype : int { inflatetable_codelengths, inflatetable_litlen, inflatetable_distance };

// Builds the decoding table of a canonical code from its code lengths into `table`
// (at most `capacity` entries); `rootbits` is the wanted root size on entry and the
// one used on return, `used` the entries taken. Returns null, or what was wrong.
char const* inflate_buildtable(int type, u16 const* lengths, u32 count, inflatecode* table, u32 capacity,
                               u32& rootbits, u32& used, u16* work);

} // namespace kzv
