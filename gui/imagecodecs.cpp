// PNG and BMP files into images and images into PNG and BMP files (members in
// image.h). Both codecs are transform modules, so one loader and one saver serve
// both: a load reads the codec's header record, opens and clears the image at its
// size and format and puts every row record at its line; a save lets the file
// pull the codec's bytes while the codec pulls the image's rows. Files and
// images never block, so neither sleeps: answers without progress are counted
// and a few in a row end the call as failed. The codec and the file stream are
// local to each call; the borrowed pins are given back before it returns. The
// bmp codec speaks only with its trace flag, so both calls set it.
#include "image.h"
#include "imageio.h"
#include "scanline.h"
#include "../codecs/bmpmodule.h"
#include "../codecs/pngmodule.h"
#include "../framework/filepacket.h"
#include "../framework/filestream.h"
#include "../framework/os.h"
#include "../framework/printf.h"
#include "../framework/str.h"

namespace kzv {

namespace {

// The codec's next record; 0 when it has none, now or ever.
sptr nextrecord(transform& codec, u32 max, data*& record)
{
    for (u32 idle = 0; idle < IMAGEIO_IDLELIMIT; idle++) {
        record = nullptr;
        sptr n = codec.call('D', (int)max, 0, &record);
        if (n > 0 && record)
            return n;
        if (codec.hasflag(tstate_error | tstate_end))
            return 0;
    }
    return 0;
}

// The header record, the image opened at its size, then the rows.
bool loadrows(image& im, transform& codec, char const* path)
{
    data* record = nullptr;
    if (nextrecord(codec, IMAGEIO_HEADERREAD, record) <= 0 || record->type != type_scanline ||
        scanline_line(*record) >= 0) {
        if (!codec.hasflag(tstate_error))
            eprintf("%s: no image in %s\n", codec.name, path);
        return false;
    }
    u32 width = scanline_width(*record), height = scanline_height(*record);
    if (!im.open(width, height, scanline_format(*record))) {
        eprintf("%s: no room for an image of %u x %u in %s\n", codec.name, width, height, path);
        return false;
    }
    im.clear(0);                    // rows a broken file never gives stay black
    while (nextrecord(codec, 0, record) > 0)
        if (record->type == type_scanline && scanline_line(*record) >= 0)
            im.putscanline(record);
    return !codec.hasflag(tstate_error) && codec.hasflag(tstate_end);
}

bool loadwith(image& im, transform& codec, char const* path)
{
    if (!path)
        path = "";
    file source;
    source.init(im.pool);
    if (!source.open(path)) {
        eprintf("%s: not found: %s\n", codec.name, path);
        return false;
    }
    codec.setflag(tstate_trace);
    connect(source.out, codec.in);
    bool loaded = loadrows(im, codec, path);
    if (source.hasstate(streamstate_error)) {
        eprintf("%s: cannot read %s\n", codec.name, path);
        loaded = false;
    }
    connect(source.out, nullptr);
    connect(codec.in, nullptr);
    return loaded;
}

// The row reader back at its start, with no end or error left from a read before.
void rewindrows(image& im)
{
    im.rowstate = imagerows_start;
    im.nextrow = 0;
    im.rowcursor = nullptr;
    im.flags &= (u8)~(image_endofdata | image_error | image_recordready);
}

// The file pulls until it stops (0); 2 is "nothing now", which a chain that
// cannot block answers only a few times in a row.
bool pump(file& target)
{
    u32 idle = 0;
    int r;
    while ((r = target.step(0)) != 0) {
        idle = r == 2 ? idle + 1 : 0;
        if (idle >= IMAGEIO_IDLELIMIT)
            return false;
    }
    target.checkwrite();
    return target.writecount == 0;
}

// Only a regular file that is no link is removed: a save onto a device or through
// a link must not delete either.
void removepartial(char const* path)
{
    data info;
    info.payload = const_cast<char*>(path);
    info.size = strlen(path) + 1;
    if (os_fileinfo(info) && file_kind(info) == filekind_file && !(file_flags(info) & fileflag_link))
        os_unlink(path);
}

bool savewith(image& im, transform& codec, char const* path)
{
    if (!path || !im.haspixels() || im.width == 0 || im.height == 0)
        return false;               // an image without rows hands out no record to encode
    file target;
    target.init(im.pool);
    if (!target.create(path)) {
        eprintf("%s: cannot write %s\n", codec.name, path);
        return false;
    }
    codec.setflag(tstate_trace);
    pin* previous = im.out.peer;
    rewindrows(im);
    connect(im.out, codec.in);
    connect(codec.out, target.in);
    bool pumped = pump(target);
    bool written = pumped && !target.hasstate(streamstate_error);
    bool saved = written && !codec.hasflag(tstate_error) && codec.hasflag(tstate_end);
    connect(codec.out, nullptr);
    connect(target.in, nullptr);
    connect(codec.in, nullptr);
    im.out.peer = previous;         // the save only borrowed the pin
    rewindrows(im);
    target.exit(false);
    if (!written && !codec.hasflag(tstate_error))
        eprintf("%s: cannot write %s\n", codec.name, path);
    if (!saved)
        removepartial(path);
    return saved;
}

} // namespace

bool image::loadpng(char const* path)
{
    png codec(pool);
    return loadwith(*this, codec, path);
}

bool image::loadbmp(char const* path)
{
    bmp codec(pool);
    return loadwith(*this, codec, path);
}

bool image::savepng(char const* path)
{
    png codec(pool);
    return savewith(*this, codec, path);
}

bool image::savebmp(char const* path)
{
    bmp codec(pool);
    return savewith(*this, codec, path);
}

} // namespace kzv
