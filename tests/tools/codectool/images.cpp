// codectool's image commands: PNG and BMP files to kzv images and back.
//   png2kzv IN OUT   the PNG's rows as kzv encoding 54 (RGB) or 57 (RGBA)
//   bmp2kzv IN OUT   the BMP's rows as kzv encoding 54, top row first
//   kzv2png IN OUT   encodings 54, 55, 57 and 58 as RGB, 1-bit palette, RGBA and RGB
//   kzv2bmp IN OUT   the same as 24-bit or 1-bit files, rows top-down
// Skipped PNG chunks that are not known are noted on standard error as
// "png chunk NAME 0xTYPE"; refusals print "png error TEXT" or "bmp: TEXT".
#include "codectool.h"
#include "../../../codecs/bmp.h"
#include "../../../codecs/pngdecode.h"
#include "../../../codecs/pngencode.h"
#include "../../../framework/mem.h"
#include "../../../framework/os.h"
#include "../../../framework/printf.h"
#include "../../../framework/str.h"
#include "../../../framework/sysprocess.h"
#include "../../../gui/kzvcodec.h"

namespace kzv {

namespace {

// A kzv file being written: its header, then one encoded row at a time.
struct kzvout {
    deflatesink bytes;
    u8* encoded = nullptr;
    u8 encoding = 0;
    u32 width = 0;

    kzvout() { bytes.init(&process->pool); }
    bool start(u8 enc, u32 w, u32 h)
    {
        if (!kzv_checksides(w, h))
            return false;
        kzvheader k = {enc, w, h, 0, 0};
        u8* at = bytes.reserve(KZV_HEADERSIZE);
        encoded = (u8*)process->pool.getmem(kzv_maxencodedrow(enc, w) + 4);
        if (!at || !encoded)
            return false;
        kzv_writeheader(at, k);
        bytes.commit(KZV_HEADERSIZE);
        encoding = enc;
        width = w;
        return true;
    }
    bool row(u32 const* pixels)
    {
        u32 length = 0;
        u32 capacity = kzv_maxencodedrow(encoding, width) + 4;
        bool ok = encoding == kzv_rgba ? kzv_encode57(pixels, width, encoded, capacity, length)
                                       : kzv_encode54(pixels, width, encoded, capacity, length);
        return ok && bytes.append(encoded, length);
    }
    void release()
    {
        if (encoded)
            process->pool.freemem(encoded);
        bytes.release();
    }
};

int png2kzv(char const* inpath, char const* outpath)
{
    u32 length = 0;
    u8* file = codectool_load(inpath, length);
    if (!file)
        return codectool_fail("cannot read", inpath);
    pngdecoder d;
    d.init(&process->pool);
    d.next = file;
    d.end = file + length;
    kzvout k;
    int status = -1;
    while (status < 0) {
        int r = d.run();
        if (r == png_needinput)
            r = d.finish();
        switch (r) {
        case png_header:
            if (!k.start(d.format == 8888 ? kzv_rgba : kzv_rle888, d.width, d.height))
                status = codectool_fail("no memory for", inpath);
            break;
        case png_row:
            if (!k.row(d.row))
                status = codectool_fail("no memory for", inpath);
            break;
        case png_chunknote: {
            u32 t = d.notedchunk;
            eprintf("png chunk %c%c%c%c 0x%08x\n", (char)(t >> 24), (char)(t >> 16), (char)(t >> 8), (char)t, t);
            break;
        }
        case png_end:
            status = codectool_save(outpath, k.bytes) ? 0 : codectool_fail("cannot write", outpath);
            break;
        default:
            eprintf("png error %s\n", d.message);
            status = 1;
            break;
        }
    }
    d.exit();
    k.release();
    process->pool.freemem(file);
    return status;
}

int bmp2kzv(char const* inpath, char const* outpath)
{
    u32 length = 0;
    u8* file = codectool_load(inpath, length);
    if (!file)
        return codectool_fail("cannot read", inpath);
    bmpreader b;
    b.init(&process->pool);
    b.next = file;
    b.end = file + length;
    u32* pixels = nullptr;
    int status = -1;
    while (status < 0) {
        int r = b.run();
        if (r == bmp_needinput)
            r = b.finish();
        if (r == bmp_header) {
            // Rows may come bottom-up; the kzv file wants them top first.
            u64 bytes = (u64)b.width * b.height * 4;
            pixels = bytes <= MEM_MAXREQUEST ? (u32*)process->pool.getmem0(bytes ? bytes : 4) : nullptr;
            if (!pixels)
                status = codectool_fail("no memory for", inpath);
        } else if (r == bmp_row) {
            memcpy(pixels + (u64)b.line * b.width, b.row, b.width * 4);
        } else if (r == bmp_end) {
            kzvout k;
            bool ok = k.start(kzv_rle888, b.width, b.height);
            for (u32 y = 0; ok && y < b.height; y++)
                ok = k.row(pixels + (u64)y * b.width);
            status = ok && codectool_save(outpath, k.bytes) ? 0 : codectool_fail("cannot write", outpath);
            k.release();
        } else {
            eprintf("bmp: %s\n", b.message);
            status = 1;
        }
    }
    if (pixels)
        process->pool.freemem(pixels);
    b.exit();
    process->pool.freemem(file);
    return status;
}

// The two writers behind one shape: start with the kzv header, a row, finish.
struct pngfile {
    pngencoder e = {};
    bool start(kzvheader const& h, u32 const* palette, deflatesink& out)
    {
        return report(e.start(&process->pool, h.width, h.height, kzv_pixelformat(h.encoding), palette, out));
    }
    bool row(void const* pixels, deflatesink& out) { return report(e.writerow(pixels, out)); }
    bool finish(deflatesink& out) { return report(e.finish(out)); }
    bool report(bool ok)
    {
        if (!ok)
            eprintf("png error %s\n", e.message);
        return ok;
    }
    ~pngfile() { e.exit(); }
};

struct bmpfile {
    bmpwriter w = {};
    bool start(kzvheader const& h, u32 const* palette, deflatesink& out)
    {
        return report(w.start(h.width, h.height, false, kzv_pixelformat(h.encoding), palette, out));
    }
    bool row(void const* pixels, deflatesink& out) { return report(w.writerow(pixels, out)); }
    bool finish(deflatesink&) { return report(w.finish()); }
    bool report(bool ok)
    {
        if (!ok)
            eprintf("bmp: %s\n", w.message);
        return ok;
    }
};

// Decodes a kzv file row by row into the writer.
template <class W> int fromkzv(char const* inpath, char const* outpath, W& writer)
{
    u32 length = 0;
    u8* file = codectool_load(inpath, length);
    if (!file)
        return codectool_fail("cannot read", inpath);
    kzvheader h;
    if (kzv_readheader(file, length, h) != kzv_ok) {
        process->pool.freemem(file);
        return codectool_fail("not a kzv image:", inpath);
    }
    u32 palette[2] = {h.color0, h.color1};
    u32* row = (u32*)process->pool.getmem(kzv_rowlength(h.encoding, h.width) + 4);
    deflatesink out;
    out.init(&process->pool);
    kzvdecoder d;
    d.start(h);
    u32 at = KZV_HEADERSIZE;
    bool ok = row && writer.start(h, palette, out);
    while (ok && !d.finished()) {
        at += d.decode(file + at, length - at, row);
        if (!d.rowcomplete()) {
            codectool_fail("cut short:", inpath);
            ok = false;
            break;
        }
        ok = writer.row(row, out);
        d.nextrow();
    }
    ok = ok && writer.finish(out);
    int status = !ok ? 1 : codectool_save(outpath, out) ? 0 : codectool_fail("cannot write", outpath);
    if (row)
        process->pool.freemem(row);
    out.release();
    process->pool.freemem(file);
    return status;
}

int kzv2png(char const* inpath, char const* outpath)
{
    pngfile f;
    return fromkzv(inpath, outpath, f);
}

int kzv2bmp(char const* inpath, char const* outpath)
{
    bmpfile f;
    return fromkzv(inpath, outpath, f);
}

} // namespace

int codectool_benchpng(u8 const* file, u32 length, u32 reps)
{
    u64 pixelbytes = 0;
    u32 start = os_getus32();
    for (u32 r = 0; r < reps; r++) {
        pngdecoder d;
        d.init(&process->pool);
        d.next = file;
        d.end = file + length;
        pixelbytes = 0;
        int e;
        while ((e = d.run()) == png_row || e == png_header || e == png_chunknote)
            pixelbytes += e == png_row ? (u64)d.width * 4 : 0;
        if (e == png_needinput)
            e = d.finish();
        d.exit();
        if (e != png_end) {
            eprintf("png error %s\n", d.message);
            return 1;
        }
    }
    printf("%u %u\n", pixelbytes, (u64)(os_getus32() - start));
    return 0;
}

int codectool_image(char const* command, char const* inpath, char const* outpath)
{
    if (streq(command, "png2kzv"))
        return png2kzv(inpath, outpath);
    if (streq(command, "bmp2kzv"))
        return bmp2kzv(inpath, outpath);
    if (streq(command, "kzv2png"))
        return kzv2png(inpath, outpath);
    if (streq(command, "kzv2bmp"))
        return kzv2bmp(inpath, outpath);
    return -1;
}

} // namespace kzv
