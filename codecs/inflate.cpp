// Deflate decoding. Facts the code relies on:
// - Bits are packed from the lowest bit of each byte up; Huffman codes are sent
//   starting with their most significant bit, so table indexes are the code's bits
//   reversed, while extra bits and header fields are plain little-endian numbers.
// - A block starts with 3 bits: BFINAL, then BTYPE (0 stored, 1 fixed codes,
//   2 dynamic codes, 3 invalid). A stored block skips to the byte boundary and
//   gives LEN and its ones' complement NLEN, 16 bits each, then LEN raw bytes.
// - One length/distance pair takes at most 15 + 5 + 15 + 13 = 48 bits, so after a
//   refill to 56 bits the fast loop decodes one whole symbol without checks.
// - Back-references reach at most 32768 bytes back and never before the first
//   byte of output; the output area is the window.
// The fast loop runs while 8 input bytes and 266 bytes of room are left; near the
// ends the careful path decodes one symbol at a time and takes bits only when the
// whole symbol is there, so any cut in the input can be resumed.
#include "inflate.h"
#include "deflateformat.h"
#include "../framework/mem.h"

namespace kzv {

namespace {

const int go = -1;          // internal: the step is done, carry on

constexpr u8 op_endofblock = 96;
constexpr u8 op_invalid = 64;

// What a decoded symbol means. Literal/length symbols 0 to 255 are the bytes, 256
// ends the block, and 257 to 285 are the match lengths 3 to 258, each a base with
// 0 to 5 extra bits after the code; 286 and 287 have codes in the fixed code but
// never occur in valid data. Distance symbols 0 to 29 are the distances 1 to 32768,
// a base with 0 to 13 extra bits; 30 and 31 never occur either. Code-length
// symbols are 0 to 18 (see codelengths).
constexpr inflatecode symbolentry(int type, u32 symbol, u32 length)
{
    inflatecode e{};
    e.bits = (u8)length;
    if (type == inflatetable_codelengths || (type == inflatetable_litlen && symbol < 256)) {
        e.val = (u16)symbol;                        // op 0: the literal or code-length symbol
    } else if (type == inflatetable_litlen && symbol == 256) {
        e.op = op_endofblock;
    } else if (type == inflatetable_litlen && symbol < 286) {
        e.op = (u8)(16 + deflate_lengthextra[symbol - 257]);
        e.val = deflate_lengthbase[symbol - 257];
    } else if (type == inflatetable_distance && symbol < 30) {
        e.op = (u8)(16 + deflate_distanceextra[symbol]);
        e.val = deflate_distancebase[symbol];
    } else {
        e.op = op_invalid;                          // length symbols 286, 287 and distances 30, 31
    }
    return e;
}

// Canonical codes: shorter codes first, equal lengths in symbol order. Codes longer
// than the root go to sub-tables behind the root table; a sub-table is as large as
// the longest code that shares its root bits needs, which the counts of the codes
// not yet placed tell, because codes are placed in increasing order.
constexpr char const* buildcanonical(int type, u16 const* lengths, u32 count, inflatecode* table, u32 capacity,
                                     u32& rootbits, u32& used, u16* work)
{
    u16 counts[16] = {};
    for (u32 i = 0; i < count; i++)
        counts[lengths[i]]++;
    u32 longest = 15;
    while (longest >= 1 && counts[longest] == 0)
        longest--;
    if (longest == 0)
        return "table !max";
    u32 shortest = 1;
    while (counts[shortest] == 0)
        shortest++;
    u32 root = rootbits;
    if (root > longest)
        root = longest;
    if (root < shortest)
        root = shortest;

    // Codes are at most 15 bits. Each length doubles the codes still free and its
    // own codes take their share; going below zero means the lengths ask for more
    // codes than exist, and no prefix code has such lengths.
    int left = 1;
    for (u32 len = 1; len <= 15; len++) {
        left = 2 * left - counts[len];
        if (left < 0)
            return "table left";        // more codes than the lengths allow
    }
    // Only a lone code of length 1 may leave the code incomplete.
    if (left > 0 && (type == inflatetable_codelengths || longest != 1))
        return "table type";

    // Canonical order: by length, and among equal lengths by symbol, which is the
    // order the codes count up in.
    u16 offsets[16] = {};
    for (u32 len = 1; len < 15; len++)
        offsets[len + 1] = (u16)(offsets[len] + counts[len]);
    u32 symbols = 0;
    for (u32 s = 0; s < count; s++) {
        if (lengths[s]) {
            work[offsets[lengths[s]]++] = (u16)s;
            symbols++;
        }
    }

    u32 rootsize = 1u << root;
    if (rootsize > capacity)
        return "table size";
    inflatecode bad{};
    bad.op = op_invalid;
    bad.bits = (u8)root;
    for (u32 i = 0; i < rootsize; i++)
        table[i] = bad;                 // stays only where an incomplete code leaves a gap
    used = rootsize;

    u32 code = 0, prevlength = 0;
    u32 sublow = rootsize;              // root bits of the current sub-table, none yet
    u32 subbase = 0, subbits = 0;
    for (u32 i = 0; i < symbols; i++) {
        u32 symbol = work[i];
        u32 len = lengths[symbol];
        code <<= len - prevlength;
        prevlength = len;
        u32 reversed = deflate_reversebits(code, len);
        code++;
        inflatecode e = symbolentry(type, symbol, len);
        counts[len]--;
        // The table is indexed by the next input bits, which hold the code's first
        // bit lowest: a short code fills every entry whose low bits are its own.
        if (len <= root) {
            for (u32 j = reversed; j < rootsize; j += 1u << len)
                table[j] = e;
            continue;
        }
        u32 low = reversed & (rootsize - 1);
        if (low != sublow) {
            // Grow the sub-table until the codes of this and the longer lengths fill it.
            subbits = len - root;
            int slots = 1 << subbits;
            slots -= counts[len] + 1;
            while (slots > 0 && subbits + root < longest) {
                subbits++;
                slots = 2 * slots - counts[subbits + root];
            }
            subbase = used;
            used += 1u << subbits;
            if (used > capacity)
                return "table size";
            sublow = low;
            inflatecode link{};
            link.op = (u8)subbits;
            link.bits = (u8)root;
            link.val = (u16)subbase;
            table[low] = link;
        }
        e.bits = (u8)(len - root);
        for (u32 j = reversed >> root; j < (1u << subbits); j += 1u << (len - root))
            table[subbase + j] = e;
    }
    rootbits = root;
    return nullptr;
}

struct fixedtables {
    inflatecode litlen[512];
    inflatecode distance[32];
    u32 litlenbits;
    u32 distancebits;
};

// The fixed code of block type 1: literal/length symbols 0-143 take 8 bits,
// 144-255 9 bits, 256-279 7 bits and 280-287 8 bits; all 32 distance symbols take
// 5 bits, 30 and 31 included, so both codes are complete.
constexpr fixedtables makefixedtables()
{
    fixedtables f{};
    u16 lengths[288] = {};
    u16 work[288] = {};
    for (u32 s = 0; s < 288; s++)
        lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
    u32 used = 0;
    f.litlenbits = 9;
    buildcanonical(inflatetable_litlen, lengths, 288, f.litlen, 512, f.litlenbits, used, work);
    for (u32 s = 0; s < 32; s++)
        lengths[s] = 5;
    f.distancebits = 5;
    buildcanonical(inflatetable_distance, lengths, 32, f.distance, 32, f.distancebits, used, work);
    return f;
}

constexpr fixedtables fixed = makefixedtables();
static_assert(fixed.litlenbits == 9 && fixed.distancebits == 5, "fixed code tables");
static_assert(fixed.litlen[0].op == op_endofblock && fixed.litlen[0].bits == 7, "fixed end-of-block code");

inline u32 lowmask(u32 n) { return (1u << n) - 1; }

// Byte-wise so that strict-alignment CPUs are safe; compilers merge these into one
// load or store where unaligned access is allowed.
inline u64 load64le(u8 const* p)
{
    return (u64)p[0] | (u64)p[1] << 8 | (u64)p[2] << 16 | (u64)p[3] << 24 | (u64)p[4] << 32 |
           (u64)p[5] << 40 | (u64)p[6] << 48 | (u64)p[7] << 56;
}

inline void store64le(u8* p, u64 v)
{
    p[0] = (u8)v; p[1] = (u8)(v >> 8); p[2] = (u8)(v >> 16); p[3] = (u8)(v >> 24);
    p[4] = (u8)(v >> 32); p[5] = (u8)(v >> 40); p[6] = (u8)(v >> 48); p[7] = (u8)(v >> 56);
}

// Copies a match whose room is known to reach 8 bytes past its end. The copy runs
// forward, so a distance shorter than the length repeats the pattern; a short
// distance is first widened to a multiple of itself of at least 8 bytes.
inline void copywide(u8* o, u32 distance, u32 length)
{
    u8* stop = o + length;
    u8 const* s = o - distance;
    if (distance < 8) {
        u32 period = distance;
        while (period < 8)
            period += distance;
        for (u32 i = 0; i < period && o < stop; i++)
            *o++ = *s++;
        s = o - period;
    }
    while (o < stop) {
        store64le(o, load64le(s));
        o += 8;
        s += 8;
    }
}

} // namespace

char const* inflate_buildtable(int type, u16 const* lengths, u32 count, inflatecode* table, u32 capacity,
                               u32& rootbits, u32& used, u16* work)
{
    return buildcanonical(type, lengths, count, table, capacity, rootbits, used, work);
}

void inflater::init(void* workarea)
{
    next = end = nullptr;
    window = out = outend = nullptr;
    message = nullptr;
    hold = 0;
    bits = 0;
    mode = mode_header;
    lastblock = false;
    lenbits = distbits = 0;
    nlen = ndist = ncode = have = length = distance = 0;
    lencode = distcode = nullptr;
    lens = (u16*)workarea;
    work = lens + INFLATE_MAXLENGTHS;
    table = (inflatecode*)(work + INFLATE_MAXSYMBOLS);
}

bool inflater::pull()
{
    if (next == end)
        return false;
    hold |= (u64)*next++ << bits;
    bits += 8;
    return true;
}

// Takes input bytes until n bits (n <= 48) are held; false when the input ends first.
bool inflater::need(u32 n)
{
    while (bits < n)
        if (!pull())
            return false;
    return true;
}

void inflater::drop(u32 n)
{
    hold >>= n;
    bits -= n;
}

int inflater::fail(char const* why)
{
    message = why;
    mode = mode_bad;
    return inflate_error;
}

int inflater::run()
{
    for (;;) {
        int r = go;
        switch (mode) {
        case mode_header: r = header(); break;
        case mode_storedlength: r = storedlength(); break;
        case mode_stored: r = stored(); break;
        case mode_tableheader: r = tableheader(); break;
        case mode_codelengthlengths: r = codelengthlengths(); break;
        case mode_codelengths: r = codelengths(); break;
        case mode_codes:
            fastcodes();
            if (mode == mode_codes)
                r = slowsymbol();
            break;
        case mode_copy: r = copymatch(); break;
        case mode_done: return inflate_end;
        default: return inflate_error;
        }
        if (r != go)
            return r;
    }
}

int inflater::header()
{
    if (lastblock) {
        mode = mode_done;
        return inflate_end;
    }
    // BFINAL is the first bit; BTYPE the next two, a number read lowest bit first.
    if (!need(3))
        return inflate_needinput;
    lastblock = hold & 1;
    u32 type = (u32)(hold >> 1) & 3;
    drop(3);
    switch (type) {
    case 0:
        mode = mode_storedlength;
        return go;
    case 1:
        lencode = fixed.litlen;
        lenbits = (u8)fixed.litlenbits;
        distcode = fixed.distance;
        distbits = (u8)fixed.distancebits;
        mode = mode_codes;
        return go;
    case 2:
        mode = mode_tableheader;
        return go;
    default:
        return fail("type");        // type 3 is reserved
    }
}

int inflater::storedlength()
{
    drop(bits & 7);             // to the byte boundary; held bits stay whole bytes after that
    // LEN, then NLEN, each a 16-bit little-endian number in the bytes after the
    // boundary; the bits of the block header's byte after BTYPE are padding.
    if (!need(32))
        return inflate_needinput;
    u32 len = (u32)hold & 0xffff;
    u32 inverted = (u32)(hold >> 16) & 0xffff;
    // A mismatch means corruption, not truncation.
    if ((len ^ inverted) != 0xffff)
        return fail("stored len");
    drop(32);
    length = len;
    mode = mode_stored;
    return go;
}

// The stored bytes follow LEN and NLEN unchanged. The first of them may already be
// held as whole bytes of bits; the rest are copied straight from the input.
int inflater::stored()
{
    while (length && bits >= 8) {
        if (out == outend)
            return inflate_needoutput;
        *out++ = (u8)hold;
        drop(8);
        length--;
    }
    while (length) {
        u32 room = (u32)(outend - out);
        if (room == 0)
            return inflate_needoutput;
        u64 left = (u64)(end - next);
        if (left == 0)
            return inflate_needinput;
        u32 n = kzv_min(length, room);
        if (left < n)
            n = (u32)left;
        memcpy(out, next, n);
        out += n;
        next += n;
        length -= n;
    }
    mode = mode_header;
    return go;
}

// A dynamic block starts with HLIT (5 bits), HDIST (5 bits) and HCLEN (4 bits):
// 257 to 288 literal/length code lengths, 1 to 32 distance code lengths and 4 to
// 19 code-length code lengths follow. Counts past 286 and 30 are taken: their
// extra symbols decode as invalid.
int inflater::tableheader()
{
    if (!need(14))
        return inflate_needinput;
    nlen = ((u32)hold & 31) + 257;
    ndist = ((u32)(hold >> 5) & 31) + 1;
    ncode = ((u32)(hold >> 10) & 15) + 4;
    drop(14);
    have = 0;
    mode = mode_codelengthlengths;
    return go;
}

// The code-length code's lengths, 3 bits each, come in a fixed order that puts the
// rarely used lengths last so that they can be left out; those left out are 0.
// With lengths of at most 7 bits, the 7-bit root table holds the whole code.
int inflater::codelengthlengths()
{
    while (have < ncode) {
        if (!need(3))
            return inflate_needinput;
        lens[deflate_codelengthorder[have++]] = (u16)(hold & 7);
        drop(3);
    }
    while (have < 19)
        lens[deflate_codelengthorder[have++]] = 0;
    u32 root = 7, used = 0;
    char const* bad = inflate_buildtable(inflatetable_codelengths, lens, 19, table, INFLATE_TABLEENTRIES,
                                         root, used, work);
    if (bad)
        return fail(bad);
    lencode = table;
    lenbits = (u8)root;
    have = 0;
    mode = mode_codelengths;
    return go;
}

// The literal/length and then the distance code lengths, as one run-length coded
// sequence (a repeat may cross from one into the other): symbols 0-15 are a
// length; 16 repeats the previous length 3-6 times (2 extra bits); 17 gives 3-10
// zeros (3 extra bits) and 18 gives 11-138 zeros (7 extra bits).
int inflater::codelengths()
{
    u32 total = nlen + ndist;
    while (have < total) {
        inflatecode e;
        u32 used;
        if (!peekcode(lencode, lenbits, 0, e, used))
            return inflate_needinput;
        u32 symbol = e.val;
        if (symbol < 16) {
            drop(used);
            lens[have++] = (u16)symbol;
            continue;
        }
        u32 extra = 7, base = 11, value = 0;
        if (symbol == 16) {
            if (have == 0)
                return fail("gt2");     // a repeat with nothing before it
            extra = 2, base = 3, value = lens[have - 1];
        } else if (symbol == 17) {
            extra = 3, base = 3;
        }
        if (!need(used + extra))
            return inflate_needinput;
        u32 repeat = base + ((u32)(hold >> used) & lowmask(extra));
        drop(used + extra);
        if (have + repeat > total)
            return fail("gt2a");
        while (repeat--)
            lens[have++] = (u16)value;
    }
    return buildcodes();
}

// The literal/length table with 9 root bits at the start of the table area, the
// distance table with 6 behind it: together they stay within INFLATE_TABLEENTRIES.
int inflater::buildcodes()
{
    u32 root = 9, used = 0;
    char const* bad = inflate_buildtable(inflatetable_litlen, lens, nlen, table, INFLATE_TABLEENTRIES,
                                         root, used, work);
    if (bad)
        return fail(bad);
    lencode = table;
    lenbits = (u8)root;
    u32 droot = 6, dused = 0;
    bad = inflate_buildtable(inflatetable_distance, lens + nlen, ndist, table + used,
                             INFLATE_TABLEENTRIES - used, droot, dused, work);
    if (bad)
        return fail(bad);
    distcode = table + used;
    distbits = (u8)droot;
    mode = mode_codes;
    return go;
}

// Looks up the code that starts `skip` bits into the held bits, taking input bytes
// until it is complete; false when the input ends first. Takes no bits.
bool inflater::peekcode(inflatecode const* codes, u32 rootbits, u32 skip, inflatecode& e, u32& used)
{
    for (;;) {
        if (bits >= skip) {
            u64 h = hold >> skip;
            u32 avail = bits - skip;
            e = codes[h & lowmask(rootbits)];
            if (e.op >= 1 && e.op <= 15) {
                if (e.bits <= avail) {
                    inflatecode s = codes[e.val + ((u32)(h >> e.bits) & lowmask(e.op))];
                    if ((u32)e.bits + s.bits <= avail) {
                        used = e.bits + s.bits;
                        e = s;
                        return true;
                    }
                }
            } else if (e.bits <= avail) {
                used = e.bits;
                return true;
            }
        }
        if (!pull())
            return false;
    }
}

// One symbol, taken only when all its bits are there.
// An end of block needs no room, so an exactly full output can still end.
int inflater::slowsymbol()
{
    inflatecode e;
    u32 used;
    if (!peekcode(lencode, lenbits, 0, e, used))
        return inflate_needinput;
    if (e.op == 0) {
        if (out == outend)
            return inflate_needoutput;
        drop(used);
        *out++ = (u8)e.val;
        return go;
    }
    if (e.op & 16) {
        // A match: the length code, its extra bits, the distance code, its extra
        // bits, in that order; extra bits are little-endian numbers.
        u32 lextra = e.op & 15;
        if (!need(used + lextra))
            return inflate_needinput;
        u32 len = e.val + ((u32)(hold >> used) & lowmask(lextra));
        u32 skip = used + lextra;
        inflatecode d;
        u32 dused;
        if (!peekcode(distcode, distbits, skip, d, dused))
            return inflate_needinput;
        if (!(d.op & 16))
            return fail("decode op");
        u32 dextra = d.op & 15;
        if (!need(skip + dused + dextra))
            return inflate_needinput;
        u32 dist = d.val + ((u32)(hold >> (skip + dused)) & lowmask(dextra));
        drop(skip + dused + dextra);
        // A distance may not reach before the first byte of output.
        if (dist > (u64)(out - window))
            return fail("distance");
        length = len;
        distance = dist;
        mode = mode_copy;
        return go;
    }
    if (e.op & 32) {
        drop(used);
        mode = mode_header;
        return go;
    }
    return fail("decode op");
}

int inflater::copymatch()
{
    u32 room = (u32)(outend - out);
    u32 n = kzv_min(length, room);
    u8 const* s = out - distance;
    for (u32 i = 0; i < n; i++)
        out[i] = s[i];
    out += n;
    length -= n;
    if (length)
        return inflate_needoutput;
    mode = mode_codes;
    return go;
}

// The hot loop. Keeps its state in locals and writes it back when it stops: at the
// margins, at the end of the block, or on bad data.
void inflater::fastcodes()
{
    if (end - next < 8 || outend - out < (sptr)(INFLATE_MAXMATCH + 8))
        return;
    u8 const* in = next;
    u8 const* inlast = end - 8;
    u8* o = out;
    u8* olast = outend - (INFLATE_MAXMATCH + 8);
    u8 const* base = window;
    u64 h = hold;
    u32 b = bits;
    u32 lmask = lowmask(lenbits), dmask = lowmask(distbits);
    inflatecode const* lcodes = lencode;
    inflatecode const* dcodes = distcode;
    char const* bad = nullptr;
    while (in <= inlast && o <= olast) {
        // Refill to at least 56 bits; bytes loaded beyond them are loaded again, equal.
        h |= load64le(in) << b;
        in += (63 - b) >> 3;
        b |= 56;
        inflatecode e = lcodes[h & lmask];
        if (e.op >= 1 && e.op <= 15) {
            h >>= e.bits;
            b -= e.bits;
            e = lcodes[e.val + ((u32)h & lowmask(e.op))];
        }
        h >>= e.bits;
        b -= e.bits;
        if (e.op == 0) {
            *o++ = (u8)e.val;
            continue;
        }
        if (!(e.op & 16)) {
            if (e.op & 32) {
                mode = mode_header;
            } else {
                bad = "decode op";
            }
            break;
        }
        // The length's extra bits, then the distance code and its extra bits.
        u32 len = e.val + ((u32)h & lowmask(e.op & 15));
        h >>= e.op & 15;
        b -= e.op & 15;
        inflatecode d = dcodes[h & dmask];
        if (d.op >= 1 && d.op <= 15) {
            h >>= d.bits;
            b -= d.bits;
            d = dcodes[d.val + ((u32)h & lowmask(d.op))];
        }
        h >>= d.bits;
        b -= d.bits;
        if (!(d.op & 16)) {
            bad = "decode op";
            break;
        }
        u32 dist = d.val + ((u32)h & lowmask(d.op & 15));
        h >>= d.op & 15;
        b -= d.op & 15;
        if (dist > (u64)(o - base)) {
            bad = "distance";
            break;
        }
        copywide(o, dist, len);
        o += len;
    }
    next = in;
    out = o;
    hold = h & (((u64)1 << b) - 1);
    bits = b;
    if (bad)
        fail(bad);
}

} // namespace kzv
