// The kzv codec over buffers. Every loop is bounded by the input left or by the
// row width; a run is clipped to the pixels the row still needs, so no input can
// write past a row buffer of kzv_rowlength bytes.
#include "kzvcodec.h"

namespace kzv {

bool kzv_checksides(u64 width, u64 height)
{
    return width <= KZV_MAXSIDE && height <= KZV_MAXSIDE;
}

// Header offsets: 0 the magic, 4 the word 0xEFCD, 6 the encoding, 7 zero, 8 width,
// 10 height, 12 and 16 the two colour words, 20 to 31 zero. Only the first three
// magic bytes are tested: the fourth and the word at 4 are written, not checked.
kzvresult kzv_readheader(u8 const* bytes, u32 length, kzvheader& h)
{
    if (!bytes || length < KZV_HEADERSIZE)
        return kzv_shortheader;
    if (bytes[0] != 'k' || bytes[1] != 'z' || bytes[2] != 'v')
        return kzv_badmagic;
    h.encoding = bytes[6];
    h.width = get16le(bytes + 8);
    h.height = get16le(bytes + 10);
    h.color0 = get32le(bytes + 12);
    h.color1 = get32le(bytes + 16);
    if (kzv_pixelformat(h.encoding) == 0)
        return kzv_badencoding;
    if (!kzv_checksides(h.width, h.height))
        return kzv_toolarge;
    return kzv_ok;
}

void kzv_writeheader(u8* out32, kzvheader const& h)
{
    for (u32 i = 0; i < KZV_HEADERSIZE; i++)
        out32[i] = 0;
    out32[0] = 'k';
    out32[1] = 'z';
    out32[2] = 'v';
    out32[3] = ' ';
    put16le(out32 + 4, 0xEFCD);
    out32[6] = h.encoding;
    put16le(out32 + 8, h.width);
    put16le(out32 + 10, h.height);
    // The colour words mean something only to 1-bit images; others keep zeros.
    if (h.encoding == kzv_bits) {
        put32le(out32 + 12, h.color0);
        put32le(out32 + 16, h.color1);
    }
}

u32 kzv_pixelformat(u8 encoding)
{
    switch (encoding) {
    case kzv_rle888: return 888;
    case kzv_bits: return 1;
    case kzv_rgba: return 8888;
    case kzv_rle565: return 565;
    default: return 0;
    }
}

u32 kzv_rowlength(u8 encoding, u32 width)
{
    switch (encoding) {
    case kzv_rle888:
    case kzv_rgba: return width * 4;
    case kzv_bits: return (width + 7) / 8;
    case kzv_rle565: return width * 2;
    default: return 0;
    }
}

// The encoder's runs cover at least one pixel, so its worst row is a word (54) or
// a triplet (58) for every pixel.
u32 kzv_maxencodedrow(u8 encoding, u32 width)
{
    switch (encoding) {
    case kzv_rle888:
    case kzv_rgba: return width * 4;
    case kzv_bits: return (width + 7) / 8;
    case kzv_rle565: return width * 3;
    default: return 0;
    }
}

// ---- decoder

void kzvdecoder::start(kzvheader const& h)
{
    header = h;
    line = 0;
    done = 0;
    partialcount = 0;
}

u32 kzvdecoder::rowend() const
{
    return header.encoding == kzv_bits ? (header.width + 7) / 8 : header.width;
}

u32 kzvdecoder::unitsize() const
{
    switch (header.encoding) {
    case kzv_bits: return 1;
    case kzv_rle565: return 3;
    default: return 4;
    }
}

bool kzvdecoder::rowcomplete() const
{
    return done >= rowend();
}

void kzvdecoder::nextrow()
{
    line++;
    done = 0;
}

// One complete unit: a run word, a pixel, a bitmap byte or a run triplet. Runs
// longer than the pixels left in the row are cut at the row end.
void kzvdecoder::unit(u8 const* p, void* row)
{
    u32 left = rowend() - done;
    switch (header.encoding) {
    case kzv_rle888: {
        // Bits 0-23 the colour 0xRRGGBB (bytes B, G, R), bits 24-31 the run less one.
        u32 word = get32le(p);
        u32 n = kzv_min((word >> 24) + 1, left);
        u32* out = (u32*)row + done;
        for (u32 i = 0; i < n; i++)
            out[i] = word & 0xFFFFFF;
        done += n;
        break;
    }
    case kzv_rle565: {
        // A byte with the run itself (0 gives no pixel), then the 565 pixel.
        u32 n = kzv_min((u32)p[0], left);
        u16 pixel = (u16)get16le(p + 1);
        u16* out = (u16*)row + done;
        for (u32 i = 0; i < n; i++)
            out[i] = pixel;
        done += n;
        break;
    }
    case kzv_rgba:
        // File order R, G, B, A; in memory the word 0xAARRGGBB.
        ((u32*)row)[done++] = (u32)p[3] << 24 | (u32)p[0] << 16 | (u32)p[1] << 8 | p[2];
        break;
    default:
        ((u8*)row)[done++] = p[0];      // 1-bit rows are stored as they are drawn
        break;
    }
}

u32 kzvdecoder::decode(u8 const* in, u32 length, void* row)
{
    u32 used = 0;
    u32 size = unitsize();
    while (!rowcomplete() && used < length) {
        if (partialcount > 0 || length - used < size) {
            partial[partialcount++] = in[used++];
            if (partialcount == size) {
                partialcount = 0;
                unit(partial, row);
            }
            continue;
        }
        unit(in + used, row);
        used += size;
    }
    return used;
}

// ---- encoders

// Writes the runs of one row as 54 words (runs up to 256) or 58 triplets (runs up
// to 255). A new run starts at a change of value or when a run is full.
template <class P, class F>
static u32 writeruns(P const* pixels, u32 width, F value, u32 maxrun, bool triplets, u8* out)
{
    u8* p = out;
    u32 current = 0, count = 0;
    auto emit = [&]() {
        if (triplets) {
            p[0] = (u8)count;
            put16le(p + 1, current);
            p += 3;
        } else {
            put32le(p, current | (count - 1) << 24);   // a run of 256 is the top byte 255
            p += 4;
        }
    };
    for (u32 i = 0; i < width; i++) {
        u32 v = value(pixels[i]);
        if (count > 0 && (v != current || count == maxrun)) {
            emit();
            count = 0;
        }
        current = v;
        count++;
    }
    if (count > 0)
        emit();
    return (u32)(p - out);
}

bool kzv_encode54(u32 const* pixels, u32 width, u8* out, u32 capacity, u32& length)
{
    if (capacity < kzv_maxencodedrow(kzv_rle888, width))
        return false;
    length = writeruns(pixels, width, [](u32 c) { return c & 0xFFFFFF; }, 256, false, out);
    return true;
}

bool kzv_encode54_8(u8 const* indexes, u32 const* palette, u32 width, u8* out, u32 capacity, u32& length)
{
    if (capacity < kzv_maxencodedrow(kzv_rle888, width) || !palette)
        return false;
    length = writeruns(indexes, width, [palette](u8 i) { return palette[i] & 0xFFFFFF; }, 256, false, out);
    return true;
}

bool kzv_encode58(u16 const* pixels, u32 width, u8* out, u32 capacity, u32& length)
{
    if (capacity < kzv_maxencodedrow(kzv_rle565, width))
        return false;
    length = writeruns(pixels, width, [](u16 v) { return (u32)v; }, 255, true, out);
    return true;
}

bool kzv_encode55(u8 const* bits, u32 width, u8* out, u32 capacity, u32& length)
{
    u32 n = kzv_maxencodedrow(kzv_bits, width);
    if (capacity < n)
        return false;
    for (u32 i = 0; i < n; i++)
        out[i] = bits[i];
    length = n;
    return true;
}

bool kzv_encode57(u32 const* pixels, u32 width, u8* out, u32 capacity, u32& length)
{
    if (capacity < kzv_maxencodedrow(kzv_rgba, width))
        return false;
    // 0xAARRGGBB in memory, the bytes R, G, B, A in the file.
    for (u32 i = 0; i < width; i++) {
        u32 c = pixels[i];
        out[4 * i] = (u8)(c >> 16);
        out[4 * i + 1] = (u8)(c >> 8);
        out[4 * i + 2] = (u8)c;
        out[4 * i + 3] = (u8)(c >> 24);
    }
    length = width * 4;
    return true;
}

} // namespace kzv
