// Deflate encoding. Facts the code relies on:
// - Matches are 3 to 258 bytes long and reach at most 32768 bytes back. Positions
//   are window offsets below 65536, kept in 16-bit hash heads and chains; 0 means
//   "no earlier string". The window holds two halves: when the string being
//   matched passes 65536 - 262, the upper half moves down and every position
//   drops by 32768. 262 bytes of look-ahead (a longest match, a hashed string and
//   one byte) are kept before a match is searched, except at the end of input.
// - Lazy matching: a match found at one byte is taken only when the next byte
//   does not start a longer one; otherwise the first byte goes out as a literal.
// - A block holds at most 16383 symbols. Each is costed three ways (stored, fixed
//   codes, dynamic codes with their code-length header) and written the cheapest
//   way; a block can be stored only while its bytes are still in the window.
// - Huffman codes are limited to 15 bits (7 for the code-length code) and always
//   complete: at least two symbols get codes. Codes go out bit-reversed, lowest
//   bit first, as inflate reads them.
// - Every block's exact size is known before it is written, and that room (plus
//   the bit buffer's bytes) is reserved first, so writing needs no checks.
// - The best parameter set looks at up to 4096 hash chain entries a search. It
//   also keeps chains of strings that share 4, 6 and 8 bytes, and numbers the
//   entries of each hash chain, so that it can pass over the entries that cannot
//   beat the best match so far and still pick exactly the match the plain walk
//   picks (longestmatchbest).
#include "deflate.h"
#include "deflateformat.h"
#include "../framework/mem.h"

namespace kzv {

namespace {

const u32 WINDOWSIZE = 32768;
const u32 WINDOWMASK = WINDOWSIZE - 1;
const u32 MINMATCH = 3;
const u32 MAXMATCH = 258;
const u32 MINLOOKAHEAD = MAXMATCH + MINMATCH + 1;
const u32 MAXDISTANCE = WINDOWSIZE - MINLOOKAHEAD;       // farthest match kept, so a slide never loses one
const u32 SLIDEAT = 2 * WINDOWSIZE - MINLOOKAHEAD;
const u32 HASHBITS = 15;
const u32 HASHSIZE = 1u << HASHBITS;
const u32 WINDOWSLACK = 272;                              // match checks may look up to 258 + 8 bytes past the data
const u32 MAXSYMBOLS = 16384;                             // a block is flushed at one less
const u32 FARLENGTH3 = 4096;                              // a 3-byte match farther back costs more than its literals
const u32 STOREDMAX = 65535;                              // LEN is a 16-bit field
// Symbols that valid data use: 256 literals and end of block and 29 lengths, 30
// distances, 19 code-length symbols.
const u32 LITLENCODES = 286, DISTANCECODES = 30, CODELENGTHCODES = 19;
// Code lengths are sent as 0-15; the code-length code's own lengths in 3 bits.
const u32 MAXBITS = 15, MAXCODELENGTHBITS = 7;
const u32 ENDOFBLOCK = 256;
// The best parameter set also keeps chains of strings that share their first 4, 6
// and 8 bytes (see longestmatchbest).
const u32 SUBLEVELS = 3;
const u32 SUBHASHBITS = 14;
const u32 SUBHASHSIZE = 1u << SUBHASHBITS;
const u32 sublength[SUBLEVELS] = {4, 6, 8};

struct symboltables {
    u8 lengthcode[256];     // match length - 3 -> length code 0..28
    u8 distancecode[512];   // distance - 1 -> code: below 256 directly, else 256 + (d >> 7)
    u8 fixedlitlens[288];
    u16 fixedlitcodes[288];
    u8 fixeddistlens[30];
    u16 fixeddistcodes[30];
};

// Canonical codes from code lengths, stored bit-reversed.
constexpr void makecodes(u8 const* lengths, u32 n, u16* codes)
{
    u32 counts[MAXBITS + 1] = {};
    for (u32 i = 0; i < n; i++)
        counts[lengths[i]]++;
    counts[0] = 0;
    u32 nextcode[MAXBITS + 1] = {};
    for (u32 len = 1; len <= MAXBITS; len++)
        nextcode[len] = (nextcode[len - 1] + counts[len - 1]) << 1;
    for (u32 i = 0; i < n; i++)
        codes[i] = lengths[i] ? (u16)deflate_reversebits(nextcode[lengths[i]]++, lengths[i]) : 0;
}

// Length code c covers lengths base to base + 2^extra - 1. Distance codes from 16
// on (distances above 256) have at least 7 extra bits and bases of the form
// 128k + 1, so (distance - 1) >> 7 tells them apart and 512 entries cover all.
constexpr symboltables makesymboltables()
{
    symboltables t{};
    for (u32 c = 0; c < 28; c++)
        for (u32 k = 0; k < (1u << deflate_lengthextra[c]); k++)
            t.lengthcode[deflate_lengthbase[c] - 3 + k] = (u8)c;
    t.lengthcode[255] = 28;             // 258 has a code of its own (symbol 285, no extra bits)
    for (u32 c = 0; c < 30; c++) {
        for (u32 k = 0; k < (1u << deflate_distanceextra[c]); k++) {
            u32 d = deflate_distancebase[c] - 1 + k;
            t.distancecode[d < 256 ? d : 256 + (d >> 7)] = (u8)c;
        }
    }
    // The fixed code: literal/length 0-143 in 8 bits, 144-255 in 9, 256-279 in 7,
    // 280-287 in 8; every distance in 5.
    for (u32 s = 0; s < 288; s++)
        t.fixedlitlens[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
    makecodes(t.fixedlitlens, 288, t.fixedlitcodes);
    for (u32 s = 0; s < 30; s++)
        t.fixeddistlens[s] = 5;
    makecodes(t.fixeddistlens, 30, t.fixeddistcodes);
    return t;
}

constexpr symboltables tables = makesymboltables();
static_assert(tables.fixedlitcodes[256] == 0 && tables.fixedlitlens[256] == 7, "fixed end-of-block code");
static_assert(tables.lengthcode[0] == 0 && tables.lengthcode[254] == 27, "length codes");

inline u32 distancecodeof(u32 d) { return tables.distancecode[d < 256 ? d : 256 + (d >> 7)]; }

inline u64 load64le(u8 const* p)
{
    return (u64)p[0] | (u64)p[1] << 8 | (u64)p[2] << 16 | (u64)p[3] << 24 | (u64)p[4] << 32 |
           (u64)p[5] << 40 | (u64)p[6] << 48 | (u64)p[7] << 56;
}

inline void store32le(u8* p, u32 v)
{
    p[0] = (u8)v; p[1] = (u8)(v >> 8); p[2] = (u8)(v >> 16); p[3] = (u8)(v >> 24);
}

inline u32 hash3(u8 const* p)
{
    u32 v = (u32)p[0] | (u32)p[1] << 8 | (u32)p[2] << 16;
    return (v * 0x9E3779B1u) >> (32 - HASHBITS);
}

// The hash of the first `length` bytes (4, 6 or 8) of the 8 in v, lowest first.
inline u32 hashlong(u64 v, u32 length)
{
    if (length < 8)
        v &= ((u64)1 << (8 * length)) - 1;
    return (u32)((v * 0x9E3779B97F4A7C15ull) >> (64 - SUBHASHBITS));
}

// Reads 8 bytes whatever the length; the window's slack keeps that in bounds.
inline u32 hashlong(u8 const* p, u32 length) { return hashlong(load64le(p), length); }

// Bytes at the start of two strings that agree; 64 bits at a time, the first
// differing byte found from the lowest set bit of their difference.
inline u32 commonlength(u8 const* a, u8 const* b, u32 from, u32 limit)
{
    u32 len = from;
    while (len + 8 <= limit) {
        u64 x = load64le(a + len) ^ load64le(b + len);
        if (x)
            return len + ((u32)__builtin_ctzll(x) >> 3);
        len += 8;
    }
    while (len < limit && a[len] == b[len])
        len++;
    return len;
}

// The length of the match at `match`, or 0 when it cannot beat best: the two
// bytes that end the best match so far are tested first, where most candidates
// fail.
inline u32 candidatelength(u8 const* scan, u8 const* match, u32 best, u32 limitlength)
{
    if (match[best] != scan[best] || match[best - 1] != scan[best - 1] || match[0] != scan[0] ||
        match[1] != scan[1])
        return 0;
    return commonlength(scan, match, 2, limitlength);
}

// The chain level whose strings share best + 1 bytes or fewer: 0 the 3-byte
// hash chains, 1 to 3 the sub-levels of 4, 6 and 8 bytes.
inline u32 levelfor(u32 best) { return best >= 7 ? 3 : best >= 5 ? 2 : best >= 3 ? 1 : 0; }

} // namespace

// Scratch of the tree builder; kept in the work block, not on the stack.
struct treescratch {
    u32 leaffreq[LITLENCODES];
    u16 leafsymbol[LITLENCODES];
    u32 nodefreq[2 * LITLENCODES];
    u16 parent[2 * LITLENCODES];
    u8 depth[2 * LITLENCODES];
};

// Positions of strings whose first `sublength` bytes hash alike, newest first.
// Positions are inserted when a search first needs them, up to the string being
// matched; `next` is the first one not yet inserted.
struct sublevel {
    u16 head[SUBHASHSIZE];
    u16 chain[WINDOWSIZE];
    u32 next;
};

// What only the best parameter set uses, taken at its first restart.
struct deflatebest {
    // A position's number among the strings of its hash chain, one more than the
    // string before it in that chain.
    u16 sequence[WINDOWSIZE];
    u16 inserted[HASHSIZE];         // strings inserted into each hash chain, wrapping
    sublevel levels[SUBLEVELS];
};

// One search of the best parameter set.
struct matchsearch {
    u8 const* scan;         // the string at strstart
    u32 best;               // the longest match so far
    u32 limitlength;        // no match is longer
    u32 nice;               // a match this long ends the search
    u32 limit;              // candidates lie above it (the first one may lie at it)
    u32 head;               // the hash chain's first entry
    u32 headsequence;       // and its sequence number
    u32 chainmax;           // hash chain entries the search may look at
};

struct deflatework {
    u8 window[2 * WINDOWSIZE + WINDOWSLACK];
    u16 head[HASHSIZE];
    u16 chain[WINDOWSIZE];
    u8 literals[MAXSYMBOLS];        // literal, or match length - 3
    u16 distances[MAXSYMBOLS];      // 0 for a literal
    u32 litfreq[288];
    u32 distfreq[30];
    u32 clfreq[19];
    u8 litlens[288];
    u8 distlens[30];
    u8 cllens[19];
    u16 litcodes[288];
    u16 distcodes[30];
    u16 clcodes[19];
    u8 tokens[LITLENCODES + DISTANCECODES];       // run-length coded code lengths
    u8 tokenextra[LITLENCODES + DISTANCECODES];
    treescratch tree;
};

namespace {

// Optimal code lengths, limited to maxbits: Huffman's merge over the used symbols
// sorted by frequency, then, if some code came out too long, the deepest shorter
// codes are lengthened until the set fits, and any slack left is given back to
// the longest codes, so the code stays complete. Lengths go to the symbols in
// order of frequency.
void buildlengths(u32 const* freq, u32 n, u32 maxbits, u8* lengths, treescratch& t)
{
    u32 leaves = 0;
    int lastused = -1;
    for (u32 s = 0; s < n; s++) {
        lengths[s] = 0;
        if (freq[s]) {
            t.leaffreq[leaves] = freq[s];
            t.leafsymbol[leaves++] = (u16)s;
            lastused = (int)s;
        }
    }
    // Fewer than two symbols: add a neighbour so the code has two of length 1.
    while (leaves < 2) {
        u32 s = lastused < 2 ? (u32)++lastused : 0;
        t.leaffreq[leaves] = 1;
        t.leafsymbol[leaves++] = (u16)s;
    }
    for (u32 i = 1; i < leaves; i++) {
        u32 f = t.leaffreq[i];
        u16 s = t.leafsymbol[i];
        u32 j = i;
        for (; j > 0 && (t.leaffreq[j - 1] > f || (t.leaffreq[j - 1] == f && t.leafsymbol[j - 1] > s)); j--) {
            t.leaffreq[j] = t.leaffreq[j - 1];
            t.leafsymbol[j] = t.leafsymbol[j - 1];
        }
        t.leaffreq[j] = f;
        t.leafsymbol[j] = s;
    }
    // Two queues: the sorted leaves and the merged nodes, which come out in order.
    for (u32 i = 0; i < leaves; i++)
        t.nodefreq[i] = t.leaffreq[i];
    u32 nextleaf = 0, nextnode = leaves, made = leaves;
    while (made < 2 * leaves - 1) {
        u32 pick[2];
        for (int k = 0; k < 2; k++) {
            bool leaf = nextleaf < leaves && (nextnode == made || t.nodefreq[nextleaf] <= t.nodefreq[nextnode]);
            pick[k] = leaf ? nextleaf++ : nextnode++;
        }
        t.nodefreq[made] = t.nodefreq[pick[0]] + t.nodefreq[pick[1]];
        t.parent[pick[0]] = t.parent[pick[1]] = (u16)made;
        made++;
    }
    t.depth[made - 1] = 0;
    u32 counts[MAXBITS + 2] = {};
    for (int x = (int)made - 2; x >= 0; x--) {
        u32 d = t.depth[t.parent[x]] + 1u;
        t.depth[x] = (u8)(d > 255 ? 255 : d);
        if (x < (int)leaves)
            counts[d < maxbits ? d : maxbits]++;
    }
    u32 full = 1u << maxbits;
    u32 kraft = 0;
    for (u32 len = 1; len <= maxbits; len++)
        kraft += counts[len] << (maxbits - len);
    while (kraft > full) {
        u32 len = maxbits - 1;
        while (counts[len] == 0)
            len--;
        counts[len]--;
        counts[len + 1]++;
        kraft -= 1u << (maxbits - len - 1);
    }
    while (kraft < full) {
        u32 len = maxbits;
        while (counts[len] == 0 || (1u << (maxbits - len)) > full - kraft)
            len--;
        counts[len]--;
        counts[len - 1]++;
        kraft += 1u << (maxbits - len);
    }
    u32 len = maxbits;
    for (u32 i = 0; i < leaves; i++) {
        while (counts[len] == 0)
            len--;
        lengths[t.leafsymbol[i]] = (u8)len;
        counts[len]--;
    }
}

// Run-length codes the code lengths: 16 repeats the previous length 3-6 times,
// 17 gives 3-10 zeros, 18 gives 11-138 zeros.
u32 runlengths(u8 const* lengths, u32 n, u8* tokens, u8* extra, u32 at)
{
    u32 i = 0;
    while (i < n) {
        u32 value = lengths[i];
        u32 run = 1;
        while (i + run < n && lengths[i + run] == value)
            run++;
        i += run;
        if (value == 0) {
            for (; run >= 11; at++) {
                u32 take = kzv_min(run, 138u);
                tokens[at] = 18, extra[at] = (u8)(take - 11);
                run -= take;
            }
            if (run >= 3) {
                tokens[at] = 17, extra[at++] = (u8)(run - 3);
                run = 0;
            }
        } else {
            tokens[at] = (u8)value, extra[at++] = 0;
            run--;
            for (; run >= 3; at++) {
                u32 take = kzv_min(run, 6u);
                tokens[at] = 16, extra[at] = (u8)(take - 3);
                run -= take;
            }
        }
        for (; run; run--)
            tokens[at] = (u8)value, extra[at++] = 0;
    }
    return at;
}

u32 tokenextrabits(u32 token) { return token == 16 ? 2 : token == 17 ? 3 : token == 18 ? 7 : 0; }

// The bit writer of one block: room is reserved beforehand. Bits fill each byte
// from its lowest bit up, so a number goes out lowest bit first; Huffman codes are
// stored reversed so that their first bit goes out first.
struct bitwriter {
    u8* at;
    u64 buffer;
    u32 count;

    void put(u32 value, u32 n)      // n <= 32; fewer than 32 bits stay pending
    {
        buffer |= (u64)value << count;
        count += n;
        if (count >= 32) {
            store32le(at, (u32)buffer);
            at += 4;
            buffer >>= 32;
            count -= 32;
        }
    }
    void align()                    // pads with zero bits to a byte and writes every pending byte
    {
        while (count > 0) {
            *at++ = (u8)buffer;
            buffer >>= 8;
            count = count > 8 ? count - 8 : 0;
        }
    }
};

u64 databits(deflatework const& w, u8 const* litlens, u8 const* distlens)
{
    u64 bits = 0;
    for (u32 s = 0; s < LITLENCODES; s++)
        bits += (u64)w.litfreq[s] * (litlens[s] + (s > ENDOFBLOCK ? deflate_lengthextra[s - 257] : 0));
    for (u32 d = 0; d < DISTANCECODES; d++)
        bits += (u64)w.distfreq[d] * (distlens[d] + deflate_distanceextra[d]);
    return bits;
}

void writesymbols(deflatework const& w, u32 symbols, bitwriter& out, u16 const* litcodes, u8 const* litlens,
                  u16 const* distcodes, u8 const* distlens)
{
    for (u32 i = 0; i < symbols; i++) {
        u32 value = w.literals[i];
        u32 distance = w.distances[i];
        if (distance == 0) {
            out.put(litcodes[value], litlens[value]);
            continue;
        }
        // A match: its length symbol with the length's extra bits, then its distance
        // code with the distance's extra bits.
        u32 lc = tables.lengthcode[value];
        u32 ls = 257 + lc;
        out.put(litcodes[ls] | (value + 3 - deflate_lengthbase[lc]) << litlens[ls], litlens[ls] + deflate_lengthextra[lc]);
        u32 d = distance - 1;
        u32 dc = distancecodeof(d);
        out.put(distcodes[dc] | (distance - deflate_distancebase[dc]) << distlens[dc], distlens[dc] + deflate_distanceextra[dc]);
    }
    out.put(litcodes[ENDOFBLOCK], litlens[ENDOFBLOCK]);
}

} // namespace

void deflatesink::init(mem* p)
{
    pool = p;
    data = nullptr;
    start = length = capacity = 0;
    appended = 0;
    nomemory = false;
}

u8* deflatesink::reserve(u32 n)
{
    if (start == length)
        start = length = 0;
    if (capacity - length >= n)
        return data + length;
    u32 unread = length - start;
    if (start > 0 && capacity - unread >= n) {
        memmove(data, data + start, unread);
        start = 0;
        length = unread;
        return data + length;
    }
    u64 want = ((u64)length + n + 255) & ~(u64)255;
    u64 grown = (u64)capacity + capacity / 2;
    if (want < grown)
        want = grown;
    if (want > MEM_MAXREQUEST) {
        nomemory = true;
        return nullptr;
    }
    u8* bigger = (u8*)(data ? pool->resize(data, want) : pool->getmem(want));
    if (!bigger) {
        nomemory = true;
        return nullptr;
    }
    data = bigger;
    capacity = (u32)want;
    return data + length;
}

bool deflatesink::append(void const* bytes, u32 n)
{
    u8* at = reserve(n);
    if (!at)
        return false;
    memcpy(at, bytes, n);
    commit(n);
    return true;
}

void deflatesink::release()
{
    if (data)
        pool->freemem(data);
    init(pool);
}

bool deflater::init(mem* p, int m)
{
    pool = p;
    w = (deflatework*)pool->getmem(sizeof(deflatework));
    if (!w)
        return false;
    window = w->window;
    memset0(window + 2 * WINDOWSIZE, WINDOWSLACK);
    bw = nullptr;
    if (restart(m))
        return true;
    exit();
    return false;
}

void deflater::exit()
{
    if (w)
        pool->freemem(w);
    if (bw)
        pool->freemem(bw);
    w = nullptr;
    bw = nullptr;
    window = nullptr;
}

void deflater::setmode(int m)
{
    mode = m;
    bool best = m == deflate_best;
    chainlength = best ? 4096 : 4;
    goodlength = best ? 32 : 8;
    nicelength = best ? MAXMATCH : 16;
}

bool deflater::restart(int m)
{
    if (m == deflate_best && !bw) {
        bw = (deflatebest*)pool->getmem(sizeof(deflatebest));
        if (!bw)
            return false;
        memset0(bw->inserted, sizeof bw->inserted);     // only differences count, but no byte is left unset
    }
    setmode(m);
    memset0(w->head, sizeof w->head);
    if (m == deflate_best) {
        for (sublevel& sub : bw->levels) {
            memset0(sub.head, sizeof sub.head);
            sub.next = 0;
        }
    }
    blockstart = 0;
    strstart = lookahead = 0;
    matchlength = prevlength = MINMATCH - 1;
    matchstart = prevmatch = 0;
    matchavailable = false;
    bitbuffer = 0;
    bitcount = 0;
    resetblock();
    return true;
}

void deflater::resetblock()
{
    memset0(w->litfreq, sizeof w->litfreq);
    memset0(w->distfreq, sizeof w->distfreq);
    w->litfreq[ENDOFBLOCK] = 1;
    symbols = 0;
}

bool deflater::write(void const* bytes, u32 count, deflatesink& sink)
{
    u8 const* p = (u8 const*)bytes;
    if (mode == deflate_storeonly)
        return storeonly(p, count, sink);
    while (count) {
        u32 took = fillwindow(p, count);
        p += took;
        count -= took;
        if (!lazy(false, sink))
            return false;
    }
    return true;
}

bool deflater::finish(deflatesink& sink)
{
    if (mode == deflate_storeonly) {
        bool ok = storedblocks(window, lookahead, true, sink);
        lookahead = 0;
        return ok;
    }
    return lazy(true, sink);
}

// The window is the held chunk: a full one goes out only when more input follows,
// so the last one can carry the final bit (and empty input gives one empty block).
bool deflater::storeonly(u8 const* p, u32 n, deflatesink& sink)
{
    while (n) {
        if (lookahead == STOREDMAX) {
            if (!storedblocks(window, lookahead, false, sink))
                return false;
            lookahead = 0;
        }
        u32 take = kzv_min(n, STOREDMAX - lookahead);
        memcpy(window + lookahead, p, take);
        lookahead += take;
        p += take;
        n -= take;
    }
    return true;
}

// Positions drop by the half window; those that fall out of it become 0, "none".
static void slidepositions(u16* positions, u32 count)
{
    for (u32 i = 0; i < count; i++) {
        u32 v = positions[i];
        positions[i] = (u16)(v >= WINDOWSIZE ? v - WINDOWSIZE : 0);
    }
}

void deflater::slidewindow()
{
    memcpy(window, window + WINDOWSIZE, WINDOWSIZE);
    matchstart = matchstart >= WINDOWSIZE ? matchstart - WINDOWSIZE : 0;
    strstart -= WINDOWSIZE;
    blockstart -= (s32)WINDOWSIZE;
    slidepositions(w->head, HASHSIZE);
    slidepositions(w->chain, WINDOWSIZE);
    if (mode != deflate_best)
        return;
    for (sublevel& sub : bw->levels) {
        slidepositions(sub.head, SUBHASHSIZE);
        slidepositions(sub.chain, WINDOWSIZE);
        sub.next = sub.next >= WINDOWSIZE ? sub.next - WINDOWSIZE : 0;
    }
}

u32 deflater::fillwindow(u8 const* p, u32 n)
{
    if (strstart >= SLIDEAT)
        slidewindow();
    u32 room = 2 * WINDOWSIZE - strstart - lookahead;
    u32 take = kzv_min(n, room);
    memcpy(window + strstart + lookahead, p, take);
    lookahead += take;
    return take;
}

u32 deflater::insertstring(u32 position)
{
    u32 h = hash3(window + position);
    u32 old = w->head[h];
    w->chain[position & WINDOWMASK] = (u16)old;
    w->head[h] = (u16)position;
    if (mode == deflate_best)
        bw->sequence[position & WINDOWMASK] = bw->inserted[h]++;
    return old;
}

// The longest match for strstart along the chain from head; sets matchstart. The
// quick parameter set's search.
u32 deflater::longestmatch(u32 head)
{
    u32 chain = prevlength >= goodlength ? chainlength >> 2 : chainlength;
    u32 limitlength = kzv_min(MAXMATCH, lookahead);
    u32 nice = kzv_min(nicelength, limitlength);
    u32 best = prevlength;
    u8 const* scan = window + strstart;
    u32 limit = strstart > MAXDISTANCE ? strstart - MAXDISTANCE : 0;
    u32 candidate = head;
    do {
        u32 len = candidatelength(scan, window + candidate, best, limitlength);
        if (len > best) {
            matchstart = candidate;
            best = len;
            if (len >= nice)
                break;
        }
    } while ((candidate = w->chain[candidate & WINDOWMASK]) > limit && --chain);
    return kzv_min(best, lookahead);
}

// The best parameter set's search finds exactly the match that the walk above
// would: the first candidate along the hash chain, within `chainmax` entries of
// it, with the longest match. But most of those entries cannot beat the best
// match so far, and with 4096 of them a walk is slow. A candidate can beat a best
// of n bytes only if it shares n + 1 bytes with the string, so once best reaches
// 3, 5 or 7 the search goes on along the chain of strings that share 4, 6 or 8
// bytes, in the same newest-first order; it takes from it only strings of the
// hash chain (those with the same first 3 bytes), and their sequence numbers tell
// how far down the hash chain each one lies, so the entry limit holds exactly.
u32 deflater::longestmatchbest(u32 head)
{
    matchsearch s;
    s.scan = window + strstart;
    s.best = prevlength;
    s.limitlength = kzv_min(MAXMATCH, lookahead);
    s.nice = kzv_min(nicelength, s.limitlength);
    s.limit = strstart > MAXDISTANCE ? strstart - MAXDISTANCE : 0;
    s.head = head;
    s.headsequence = bw->sequence[head & WINDOWMASK];
    s.chainmax = prevlength >= goodlength ? chainlength >> 2 : chainlength;
    if (s.best >= s.limitlength)
        return kzv_min(s.best, lookahead);      // no candidate can be longer
    u32 below = levelfor(s.best) == 0 ? hashwalk(s) : strstart;
    while (below)
        below = levelwalk(s, levelfor(s.best), below);
    return kzv_min(s.best, lookahead);
}

// Along the hash chain until best reaches a sub-level; answers the candidate
// below which the search goes on there, or 0 when it is over.
u32 deflater::hashwalk(matchsearch& s)
{
    u32 chain = s.chainmax;
    u32 candidate = s.head;
    do {
        u32 len = candidatelength(s.scan, window + candidate, s.best, s.limitlength);
        if (len > s.best) {
            matchstart = candidate;
            s.best = len;
            if (len >= s.nice)
                return 0;
            if (levelfor(len) > 0)
                return candidate;
        }
    } while ((candidate = w->chain[candidate & WINDOWMASK]) > s.limit && --chain);
    return 0;
}

// Along one sub-level's chain from the newest string below `below`. Strings
// above it were seen already, or share too few bytes to matter, since none of
// them beat best. Answers as hashwalk does.
u32 deflater::levelwalk(matchsearch& s, u32 level, u32 below)
{
    insertlevels(level);
    sublevel const& sub = bw->levels[level - 1];
    u32 candidate = sub.head[hashlong(s.scan, sublength[level - 1])];
    while (candidate >= below)
        candidate = sub.chain[candidate & WINDOWMASK];
    // The hash walk takes its first entry even at the limit; every later one lies above it.
    u32 floor = s.head == s.limit ? s.limit - 1 : s.limit;
    for (u32 seen = 1; candidate > floor; seen++) {
        u8 const* match = window + candidate;
        u32 len = candidatelength(s.scan, match, s.best, s.limitlength);
        if (len > s.best) {
            // Sharing more than 3 bytes, it is on the hash chain.
            if (beyondchain(s, candidate))
                return 0;
            matchstart = candidate;
            s.best = len;
            if (len >= s.nice)
                return 0;
            if (levelfor(len) > level)
                return candidate;
        } else if (seen % 16 == 0 && match[0] == s.scan[0] && match[1] == s.scan[1] && match[2] == s.scan[2] &&
                   beyondchain(s, candidate)) {
            // Those past the entry limit never count; now and then a check ends the walk.
            return 0;
        }
        candidate = sub.chain[candidate & WINDOWMASK];
    }
    return 0;
}

// For a candidate on the hash chain: its entry number there, 1 + the difference of
// sequence numbers, lies past the entries the search may look at.
bool deflater::beyondchain(matchsearch const& s, u32 candidate) const
{
    return (u16)(s.headsequence - bw->sequence[candidate & WINDOWMASK]) >= s.chainmax;
}

// Inserts the positions below strstart that the sub-levels lack, all three in one
// pass while 8 bytes of look-ahead remain, else only the level searched. Those a
// match can no longer reach are skipped. Every position inserted has all the bytes
// its level hashes in the window: a level is searched only for strings at least
// that long.
void deflater::insertlevels(u32 level)
{
    u32 from = strstart > MAXDISTANCE ? strstart - MAXDISTANCE : 0;
    bool joint = lookahead >= 8;
    u32 first = joint ? 0 : level - 1, last = joint ? SUBLEVELS - 1 : level - 1;
    u32 common = 0;
    for (u32 l = first; l <= last; l++) {
        sublevel& sub = bw->levels[l];
        sub.next = kzv_max(sub.next, from);
        common = kzv_max(common, sub.next);
    }
    for (u32 l = first; l <= last; l++)
        insertlevel(bw->levels[l], sublength[l], common);
    if (joint) {
        sublevel* levels = bw->levels;
        for (u32 position = common; position < strstart; position++) {
            u64 v = load64le(window + position);
            u32 slot = position & WINDOWMASK;
            for (u32 l = 0; l < SUBLEVELS; l++) {
                u32 h = hashlong(v, sublength[l]);
                levels[l].chain[slot] = levels[l].head[h];
                levels[l].head[h] = (u16)position;
            }
        }
        for (u32 l = 0; l < SUBLEVELS; l++)
            levels[l].next = strstart;
        return;
    }
    for (u32 l = first; l <= last; l++)
        insertlevel(bw->levels[l], sublength[l], strstart);
}

// One level's positions from its next up to `end`.
void deflater::insertlevel(sublevel& sub, u32 length, u32 end)
{
    for (u32 position = sub.next; position < end; position++) {
        u32 h = hashlong(window + position, length);
        sub.chain[position & WINDOWMASK] = sub.head[h];
        sub.head[h] = (u16)position;
    }
    sub.next = kzv_max(sub.next, end);
}

void deflater::tallyliteral(u32 c)
{
    w->literals[symbols] = (u8)c;
    w->distances[symbols++] = 0;
    w->litfreq[c]++;
}

void deflater::tallymatch(u32 distance, u32 length)
{
    u32 code = tables.lengthcode[length - MINMATCH];
    w->literals[symbols] = (u8)(length - MINMATCH);
    w->distances[symbols++] = (u16)distance;
    w->litfreq[257 + code]++;
    w->distfreq[distancecodeof(distance - 1)]++;
}

// Runs the matcher while enough look-ahead is held; at the end of input, down to
// the last byte, and then writes the final block.
bool deflater::lazy(bool final, deflatesink& sink)
{
    for (;;) {
        if (lookahead < MINLOOKAHEAD && (!final || lookahead == 0))
            break;
        u32 head = 0;
        if (lookahead >= MINMATCH)
            head = insertstring(strstart);
        prevlength = matchlength;
        prevmatch = matchstart;
        matchlength = MINMATCH - 1;
        if (head && prevlength < MAXMATCH && strstart - head <= MAXDISTANCE) {
            matchlength = mode == deflate_best ? longestmatchbest(head) : longestmatch(head);
            if (matchlength == MINMATCH && strstart - matchstart > FARLENGTH3)
                matchlength = MINMATCH - 1;
        }
        if (prevlength >= MINMATCH && matchlength <= prevlength) {
            // The match that starts at the previous byte wins.
            u32 lastinsert = strstart + lookahead - MINMATCH;
            tallymatch(strstart - 1 - prevmatch, prevlength);
            lookahead -= prevlength - 1;
            for (u32 k = prevlength - 2; k; k--)
                if (++strstart <= lastinsert)
                    insertstring(strstart);
            matchavailable = false;
            matchlength = MINMATCH - 1;
            strstart++;
            if (symbols == MAXSYMBOLS - 1 && !flushblock(false, sink))
                return false;
        } else if (matchavailable) {
            // The block ends before strstart, whose byte still waits.
            tallyliteral(window[strstart - 1]);
            if (symbols == MAXSYMBOLS - 1 && !flushblock(false, sink))
                return false;
            strstart++;
            lookahead--;
        } else {
            matchavailable = true;
            strstart++;
            lookahead--;
        }
    }
    if (!final)
        return true;
    if (matchavailable) {
        tallyliteral(window[strstart - 1]);
        matchavailable = false;
    }
    return flushblock(true, sink);
}

// Stored blocks of at most 65535 bytes each: the 3 header bits (BFINAL, BTYPE 0),
// zero bits to the byte boundary, LEN and its ones' complement NLEN (16 bits each,
// little-endian), then the bytes. A piece costs at most 5 bytes besides its data;
// the 8 more cover the bits already pending.
bool deflater::storedblocks(u8 const* bytes, u32 count, bool final, deflatesink& sink)
{
    u32 pieces = count / STOREDMAX + 1;
    u8* at = sink.reserve(count + 5 * pieces + 8);
    if (!at)
        return false;
    bitwriter out{at, bitbuffer, bitcount};
    do {
        u32 n = kzv_min(count, STOREDMAX);
        count -= n;
        out.put((final && count == 0) ? 1 : 0, 3);
        out.align();
        out.at[0] = (u8)n;
        out.at[1] = (u8)(n >> 8);
        out.at[2] = (u8)~n;
        out.at[3] = (u8)(~n >> 8);
        memcpy(out.at + 4, bytes, n);
        out.at += 4 + n;
        bytes += n;
    } while (count);
    if (final)
        out.align();                // the stream ends on a whole byte
    sink.commit((u32)(out.at - at));
    bitbuffer = out.buffer;
    bitcount = out.count;
    return true;
}

// Codes the held symbols as one block the cheapest of the three ways.
bool deflater::flushblock(bool final, deflatesink& sink)
{
    deflatework& k = *w;
    u32 rawcount = (u32)((s32)strstart - blockstart);
    u8 const* raw = blockstart >= 0 ? window + blockstart : nullptr;

    buildlengths(k.litfreq, LITLENCODES, MAXBITS, k.litlens, k.tree);
    buildlengths(k.distfreq, DISTANCECODES, MAXBITS, k.distlens, k.tree);
    // Trailing zero lengths are not sent, down to what the header can count: HLIT
    // starts at 257 lengths, HDIST at 1 and HCLEN at 4 (in the fixed order).
    u32 nlit = LITLENCODES;
    while (nlit > 257 && k.litlens[nlit - 1] == 0)
        nlit--;
    u32 ndist = DISTANCECODES;
    while (ndist > 1 && k.distlens[ndist - 1] == 0)
        ndist--;
    u32 tokens = runlengths(k.litlens, nlit, k.tokens, k.tokenextra, 0);
    tokens = runlengths(k.distlens, ndist, k.tokens, k.tokenextra, tokens);
    memset0(k.clfreq, sizeof k.clfreq);
    for (u32 i = 0; i < tokens; i++)
        k.clfreq[k.tokens[i]]++;
    buildlengths(k.clfreq, CODELENGTHCODES, MAXCODELENGTHBITS, k.cllens, k.tree);
    u32 ncl = CODELENGTHCODES;
    while (ncl > 4 && k.cllens[deflate_codelengthorder[ncl - 1]] == 0)
        ncl--;

    // The costs: a dynamic block's header (HLIT, HDIST, HCLEN, 3 bits a code-length
    // length, the coded lengths) and symbols, a fixed block's symbols, each with
    // the 3 block header bits, rounded up to bytes; a stored block its bytes and
    // the 4 of LEN and NLEN.
    u64 dynamicbits = 5 + 5 + 4 + 3 * ncl + databits(k, k.litlens, k.distlens);
    for (u32 i = 0; i < tokens; i++)
        dynamicbits += k.cllens[k.tokens[i]] + tokenextrabits(k.tokens[i]);
    u64 fixedbits = databits(k, tables.fixedlitlens, tables.fixeddistlens);
    u64 dynamicbytes = (dynamicbits + 3 + 7) / 8;
    u64 fixedbytes = (fixedbits + 3 + 7) / 8;

    bool ok;
    if (raw && rawcount + 4 <= kzv_min(dynamicbytes, fixedbytes)) {
        ok = storedblocks(raw, rawcount, final, sink);
    } else {
        bool fixed = fixedbytes <= dynamicbytes;
        u8* at = sink.reserve((u32)(fixed ? fixedbytes : dynamicbytes) + 8);
        ok = at != nullptr;
        if (ok) {
            bitwriter out{at, bitbuffer, bitcount};
            if (fixed) {
                out.put((final ? 1 : 0) | 1 << 1, 3);      // BFINAL, BTYPE 1
                writesymbols(k, symbols, out, tables.fixedlitcodes, tables.fixedlitlens, tables.fixeddistcodes,
                             tables.fixeddistlens);
            } else {
                makecodes(k.litlens, LITLENCODES, k.litcodes);
                makecodes(k.distlens, DISTANCECODES, k.distcodes);
                makecodes(k.cllens, CODELENGTHCODES, k.clcodes);
                out.put((final ? 1 : 0) | 2 << 1, 3);      // BFINAL, BTYPE 2
                out.put(nlit - 257, 5);
                out.put(ndist - 1, 5);
                out.put(ncl - 4, 4);
                for (u32 i = 0; i < ncl; i++)
                    out.put(k.cllens[deflate_codelengthorder[i]], 3);
                for (u32 i = 0; i < tokens; i++) {
                    u32 t = k.tokens[i];
                    out.put(k.clcodes[t], k.cllens[t]);
                    out.put(k.tokenextra[i], tokenextrabits(t));
                }
                writesymbols(k, symbols, out, k.litcodes, k.litlens, k.distcodes, k.distlens);
            }
            if (final)
                out.align();
            sink.commit((u32)(out.at - at));
            bitbuffer = out.buffer;
            bitcount = out.count;
        }
    }
    resetblock();
    blockstart = (s32)strstart;
    return ok;
}

} // namespace kzv
