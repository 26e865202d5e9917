// kzvtool: runs the kzv codec module between files, so that the end-to-end tests
// can check it against an independent reader and writer. Diagnostics go to
// standard error; the exit status is 0 on success, 1 when the codec or a file
// refused, 2 for a usage error.
//   encode FMT W H RAW OUT   an image of format FMT filled from RAW (rows in the
//                            format's memory layout, little-endian words, row after
//                            row without padding) is written to OUT through the
//                            codec and the file stream
//   demo OUT                 a 160 x 100 888 picture of the drawing primitives and the
//                            compiled-in dir-up icon, written to OUT through the codec
//   decode IN OUT            IN (a file, else an embedded resource) is decoded; OUT
//                            gets the line "FORMAT WIDTH HEIGHT COLOR0 COLOR1\n" and
//                            then every decoded row's bytes
#include "../../../framework/fileload.h"
#include "../../../framework/filestream.h"
#include "../../../framework/mem.h"
#include "../../../framework/os.h"
#include "../../../framework/printf.h"
#include "../../../framework/str.h"
#include "../../../framework/sysprocess.h"
#include "../../../gui/image.h"
#include "../../../gui/kzvimage.h"
#include "../../../resources/icondirup.h"

namespace kzv {

namespace {

u32 rowbytes(u32 format, u32 width)
{
    switch (format) {
    case 1: return (width + 7) / 8;
    case 8:
    case 332: return width;
    case 555:
    case 565: return width * 2;
    default: return width * 4;
    }
}

u8* rowstart(image& im, u32 y)
{
    switch (im.format) {
    case 555:
    case 565: return (u8*)im.row16((s32)y);
    case 888:
    case 8888: return (u8*)im.row32((s32)y);
    default: return im.row8((s32)y);
    }
}

bool fillimage(image& im, u32 format, u32 width, u32 height, char const* rawpath)
{
    u64 need = (u64)rowbytes(format, width) * height;
    if (need == 0)
        return true;                // loadfile answers null for an empty file
    unsigned size = 0;
    char* raw = loadfile(rawpath, size);
    if (!raw || size != need) {
        eprintf("kzvtool: %s holds %u bytes, the image needs %u\n", rawpath, size, (u32)need);
        if (raw)
            process->pool.free_int(raw);
        return false;
    }
    u32 n = rowbytes(format, width);
    for (u32 y = 0; y < height; y++)
        memcpy(rowstart(im, y), raw + (uptr)y * n, n);
    process->pool.free_int(raw);
    return true;
}

// The file pulls the encoded bytes from the codec, which pulls rows from the
// image. The source is memory and never blocks, so the pump needs no sleep; a long
// run of "nothing now" means the chain is stuck.
int save(image& im, char const* outpath)
{
    kzvimage codec;
    file out;
    if (!out.create(outpath))
        return 1;
    connect(im.out, codec.in);
    connect(codec.out, out.in);
    u32 idle = 0;
    int r;
    while ((r = out.step(0)) != 0 && idle < 100)
        idle = r == 2 ? idle + 1 : 0;
    out.checkwrite();
    bool failed = codec.hasflag(tstate_error) || out.hasstate(streamstate_error) || idle >= 100 ||
                  !codec.hasflag(tstate_end);
    connect(codec.out, nullptr);
    connect(out.in, nullptr);
    connect(im.out, nullptr);
    connect(codec.in, nullptr);
    out.exit(false);
    if (failed) {
        os_unlink(outpath);
        return 1;
    }
    return 0;
}

int encode(u32 format, u32 width, u32 height, char const* rawpath, char const* outpath)
{
    image im;
    if (!im.open(width, height, format)) {
        eprintf("kzvtool: cannot make a %ux%u image of format %u\n", width, height, format);
        return 1;
    }
    if (!fillimage(im, format, width, height, rawpath))
        return 1;
    return save(im, outpath);
}

// Known colours at known places, for the test to find in the reader's pixels.
int demo(char const* outpath)
{
    image im;
    if (!im.open(160, 100, 888))
        return 1;
    im.clear(0xF0F0F0);
    im.fillrect(10, 10, 40, 30, 0xCC2222);
    im.drawrect(8, 8, 44, 34, 0x000000);
    im.fillcircle(90, 30, 18.0f, 0x2255CC);
    im.fillroundedrect(10, 55, 60, 35, 8, 0x22AA44);
    im.drawline(80, 60, 150, 95, 0x000000, 3.0f);
    im.drawline(80, 95, 150, 60, 0x884400, 1.0f);
    im.copyres(icondirup, sizeof icondirup, 120, 5);
    return save(im, outpath);
}

int decode(char const* inpath, char const* outpath)
{
    file in;
    if (!in.open(inpath)) {
        eprintf("kzvtool: cannot open %s\n", inpath);
        return 1;
    }
    file out;
    if (!out.create(outpath))
        return 1;
    kzvimage codec;
    connect(in.out, codec.in);
    data* r = nullptr;
    u32 rows = 0;
    while (codec.call('D', 0, 0, &r) > 0 && rows < 0x100000) {
        kindscanline const& k = r->kind.scanline;
        if (k.line < 0) {
            u32 const* palette = k.palette;
            char line[96];
            printsink text = printsink_memory(line, sizeof line);
            printto(text, "%u %u %u %u %u\n", (u32)k.pixelformat, k.width, k.height,
                    palette ? palette[0] : 0, palette ? palette[1] : 0);
            out.write(line, text.length);
            continue;
        }
        out.write(r->payload, r->size);
        rows++;
    }
    out.checkwrite();
    connect(in.out, nullptr);
    connect(codec.in, nullptr);
    if (codec.hasflag(tstate_error) || !codec.hasflag(tstate_end))
        return 1;
    return out.hasstate(streamstate_error) ? 1 : 0;
}

} // namespace

void memoryinit(unsigned&, unsigned&) {}

void mmain()
{
    char const* command = process->getargv(0);
    int status = 2;
    if (streq(command, "encode") && process->getargc() == 6)
        status = encode((u32)atoi(process->getargv(1)), (u32)atoi(process->getargv(2)),
                        (u32)atoi(process->getargv(3)), process->getargv(4), process->getargv(5));
    else if (streq(command, "demo") && process->getargc() == 2)
        status = demo(process->getargv(1));
    else if (streq(command, "decode") && process->getargc() == 3)
        status = decode(process->getargv(1), process->getargv(2));
    else
        eprintf("usage: kzvtool encode FMT W H RAW OUT | demo OUT | decode IN OUT\n");
    process->exitcode = status;
}

} // namespace kzv
