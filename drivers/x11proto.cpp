// Request encodings and reply parsers. Facts the code relies on:
// - A request starts with its opcode, one byte of request data and its length in
//   4-byte words (u16); everything is padded to 4 bytes. With BIG-REQUESTS a
//   length field of 0 is followed by the length as a u32 that counts itself.
// - Replies start with 1, a byte, the sequence (u16) and the length of what
//   follows the 32-byte head in words (u32). Events and errors are 32 bytes.
// - The setup reply's additional data holds a 32-byte fixed part, the vendor
//   string padded to 4, 8 bytes per pixmap format, then the screens, each with
//   a 40-byte fixed part.
#include "x11proto.h"
#include "../framework/memprim.h"
#include "../framework/printf.h"

namespace kzv {

// ---- the writer ----

void x11writer::put8(u32 v)
{
    if (overflow || length + 1 > capacity) {
        overflow = true;
        return;
    }
    buffer[length++] = (u8)v;
}

void x11writer::put16(u32 v)
{
    put8(v & 0xff);
    put8((v >> 8) & 0xff);
}

void x11writer::put32(u32 v)
{
    put16(v & 0xffff);
    put16(v >> 16);
}

void x11writer::putbytes(void const* p, u32 n)
{
    if (overflow || (u64)length + n > capacity) {
        overflow = true;
        return;
    }
    memcpy(buffer + length, p, n);
    length += n;
}

void x11writer::pad4()
{
    while (!overflow && (length & 3))
        put8(0);
}

u32 x11writer::head(u8 opcode, u8 data)
{
    u32 start = length;
    put8(opcode);
    put8(data);
    put16(0);
    return start;
}

bool x11writer::finish(u32 start)
{
    pad4();
    u32 words = (length - start) / 4;
    if (overflow || words > 0xffff) {
        length = start;             // the request is not built at all
        overflow = false;
        return false;
    }
    buffer[start + 2] = (u8)words;
    buffer[start + 3] = (u8)(words >> 8);
    return true;
}

static u32 finished(x11writer& w, u32 start)
{
    return w.finish(start) ? w.length - start : 0;
}

static u32 textlength(char const* s)
{
    u32 n = 0;
    while (s && s[n] && n < 0xffff)
        n++;
    return n;
}

// ---- requests ----

static u32 namedrequest(x11writer& w, u8 opcode, u8 data, char const* name)
{
    u32 n = textlength(name);
    u32 start = w.head(opcode, data);
    w.put16(n);
    w.put16(0);
    w.putbytes(name, n);
    return finished(w, start);
}

u32 x11req_internatom(x11writer& w, char const* name)
{
    return namedrequest(w, xreq_internatom, 0, name);   // only-if-exists false
}

u32 x11req_queryextension(x11writer& w, char const* name)
{
    return namedrequest(w, xreq_queryextension, 0, name);
}

u32 x11req_getkeyboardmapping(x11writer& w, u32 firstkeycode, u32 count)
{
    u32 start = w.head(xreq_getkeyboardmapping, 0);
    w.put8(firstkeycode);
    w.put8(count);
    w.put16(0);
    return finished(w, start);
}

u32 x11req_extension(x11writer& w, u8 major, u8 minor, u32 const* words, u32 count)
{
    u32 start = w.head(major, minor);
    for (u32 i = 0; i < count; i++)
        w.put32(words[i]);
    return finished(w, start);
}

// Value mask bits 9 (override-redirect) and 11 (event mask), values in bit order.
u32 x11req_createwindow(x11writer& w, u32 id, u32 parent, s32 x, s32 y, u32 width, u32 height,
                        u32 eventmask)
{
    u32 start = w.head(xreq_createwindow, 0);      // depth 0: copied from the parent
    w.put32(id);
    w.put32(parent);
    w.put16((u32)x & 0xffff);
    w.put16((u32)y & 0xffff);
    w.put16(width);
    w.put16(height);
    w.put16(0);                 // border width
    w.put16(0);                 // class: copied from the parent
    w.put32(0);                 // visual: copied from the parent
    w.put32(0x0a00);
    w.put32(0);                 // override-redirect false
    w.put32(eventmask);
    return finished(w, start);
}

u32 x11req_changeproperty(x11writer& w, u32 window, u32 property, u32 type, u32 format,
                          void const* values, u32 count)
{
    u64 bytes = (u64)count * (format / 8);
    if (bytes > w.capacity)
        return 0;
    u32 start = w.head(xreq_changeproperty, 0);    // mode Replace
    w.put32(window);
    w.put32(property);
    w.put32(type);
    w.put8(format);
    w.put8(0);
    w.put16(0);
    w.put32(count);
    if (format == 32) {
        for (u32 i = 0; i < count; i++)
            w.put32(((u32 const*)values)[i]);
    } else if (format == 16) {
        for (u32 i = 0; i < count; i++)
            w.put16(((u16 const*)values)[i]);
    } else {
        w.putbytes(values, (u32)bytes);
    }
    return finished(w, start);
}

// Value mask bits 0 (function), 2 (foreground) and 3 (background).
u32 x11req_creategc(x11writer& w, u32 id, u32 drawable, u32 function, u32 foreground,
                    u32 background)
{
    u32 start = w.head(xreq_creategc, 0);
    w.put32(id);
    w.put32(drawable);
    w.put32(13);
    w.put32(function);
    w.put32(foreground);
    w.put32(background);
    return finished(w, start);
}

u32 x11req_createpixmap(x11writer& w, u32 depth, u32 id, u32 drawable, u32 width, u32 height)
{
    u32 start = w.head(xreq_createpixmap, (u8)depth);
    w.put32(id);
    w.put32(drawable);
    w.put16(width);
    w.put16(height);
    return finished(w, start);
}

u32 x11req_window(x11writer& w, u8 opcode, u32 window)
{
    u32 start = w.head(opcode, 0);
    w.put32(window);
    return finished(w, start);
}

u32 x11req_copyarea(x11writer& w, u32 src, u32 dst, u32 gc, u32 y, u32 width, u32 height)
{
    u32 start = w.head(xreq_copyarea, 0);
    w.put32(src);
    w.put32(dst);
    w.put32(gc);
    w.put16(0);
    w.put16(y);
    w.put16(0);
    w.put16(y);
    w.put16(width);
    w.put16(height);
    return finished(w, start);
}

u32 x11req_putimagehead(x11writer& w, bool big, u64 maxbytes, u32 drawable, u32 gc, u32 width,
                        u32 rows, u32 y, u32 depth, u32 databytes)
{
    u32 headbytes = big ? 28 : 24;
    u64 total = (u64)headbytes + x11_pad4(databytes);
    if (total > maxbytes || (!big && total / 4 > 0xffff) || (u64)w.length + headbytes > w.capacity)
        return 0;
    u32 start = w.length;
    w.put8(xreq_putimage);
    w.put8(2);                  // ZPixmap
    if (big) {
        w.put16(0);
        w.put32((u32)(total / 4));
    } else {
        w.put16((u32)(total / 4));
    }
    w.put32(drawable);
    w.put32(gc);
    w.put16(width);
    w.put16(rows);
    w.put16(0);                 // destination x
    w.put16(y);
    w.put8(0);                  // left pad
    w.put8(depth);
    w.put16(0);
    return w.overflow ? 0 : w.length - start;
}

// ---- the setup reply ----

bool x11_decodesetup(u8 const* data, u32 length, x11setup& out)
{
    memset0(&out, sizeof out);
    if (!data || length < 32)
        return false;
    u32 vendor = x11_get16(data + 16);
    u32 formats = data[21];
    u64 formatsat = 32 + (u64)x11_pad4(vendor);
    u64 screenat = formatsat + 8 * (u64)formats;
    if (data[20] == 0 || screenat + 40 > length)
        return false;
    out.resourcebase = x11_get32(data + 4);
    out.maxrequestwords = x11_get16(data + 18);
    out.screens = kzv_min((u32)data[20], X11_MAXSCREENS);
    out.formats = formats;
    out.imagebyteorder = data[22];
    out.bitmaporder = data[23];
    out.scanlineunit = data[24];
    out.scanlinepad = data[25];
    out.minkeycode = data[26];
    out.maxkeycode = data[27];
    u8 const* screen = data + screenat;
    out.root = x11_get32(screen);
    out.width = x11_get16(screen + 20);
    out.height = x11_get16(screen + 22);
    out.rootdepth = screen[38];
    for (u32 i = 0; i < formats; i++) {
        u8 const* f = data + formatsat + 8 * i;
        if (f[0] == out.rootdepth) {
            out.bitsperpixel = f[1];
            out.depthpad = f[2];
            break;
        }
    }
    return true;
}

void x11_refusalreason(u8 const* head, u8 const* data, u32 length, char* out, u32 capacity)
{
    if (!out || capacity == 0)
        return;
    u32 n = head && head[0] == 0 ? kzv_min((u32)head[1], length) : length;
    u32 k = 0;
    for (u32 i = 0; data && i < n && k + 1 < capacity; i++) {
        u8 c = data[i];
        if (c == 0 || c == '\n' || c == '\r')
            break;                  // one line: the reason ends at its first line end
        out[k++] = (c >= 0x20 && c < 0x7f) ? (char)c : '?';
    }
    while (k > 0 && out[k - 1] == ' ')
        k--;
    out[k] = 0;
}

// The core protocol's error codes 1 to 17; higher codes belong to extensions.
static char const* const ERRORNAMES[] = {
    "BadRequest", "BadValue", "BadWindow", "BadPixmap", "BadAtom", "BadCursor", "BadFont",
    "BadMatch", "BadDrawable", "BadAccess", "BadAlloc", "BadColormap", "BadGContext",
    "BadIDChoice", "BadName", "BadLength", "BadImplementation",
};

// An error is 32 bytes: 0, the error code, the sequence (u16 at 2), a bad value
// (u32 at 4), the minor opcode (u16 at 8) and the major opcode (byte 10).
void x11_describeerror(u8 const* e, char* out, u32 capacity)
{
    if (!out || capacity == 0)
        return;
    printsink sink = printsink_memory(out, capacity);
    u32 code = e[1];
    if (code >= 1 && code <= sizeof ERRORNAMES / sizeof ERRORNAMES[0])
        printto(sink, "%s (%d)", ERRORNAMES[code - 1], code);
    else
        printto(sink, "error %d", code);
    printto(sink, " on request %d.%d, sequence %d", e[10], x11_get16(e + 8), x11_get16(e + 2));
}

// ---- replies ----

bool x11_decodekeymap(u8 const* reply, u32 length, u32 first, u32 count, u16 (*columns)[256])
{
    if (!reply || length < 32)
        return false;
    u32 perkey = reply[1];
    u64 need = 32 + (u64)perkey * count * 4;
    if (need != length)
        return false;
    u32 take = kzv_min(perkey, 4u);
    for (u32 i = 0; i < count && first + i < 256; i++) {
        u8 const* key = reply + 32 + (u64)i * perkey * 4;
        for (u32 c = 0; c < 4; c++)
            columns[c][first + i] = c < take ? (u16)x11_get32(key + 4 * c) : 0;
    }
    return true;
}

bool x11_decodescreenresources(u8 const* reply, u32 length, u32& width, u32& height)
{
    if (!reply || length < 32)
        return false;
    u32 crtcs = x11_get16(reply + 16);
    u32 outputs = x11_get16(reply + 18);
    u32 modes = x11_get16(reply + 20);
    u64 modeat = 32 + 4 * ((u64)crtcs + outputs);
    if (modes == 0 || modeat + 32 > length)
        return false;
    u32 w = x11_get16(reply + modeat + 4);
    u32 h = x11_get16(reply + modeat + 6);
    if (w == 0 || h == 0)
        return false;
    width = w;
    height = h;
    return true;
}

bool x11_decodedri2connect(u8 const* reply, u32 length, char* device, u32 capacity)
{
    if (!reply || length < 32 || !device || capacity == 0)
        return false;
    device[0] = 0;
    u32 driver = x11_get32(reply + 8);
    u32 name = x11_get32(reply + 12);
    u64 nameat = 32 + (((u64)driver + 3) & ~(u64)3);     // a length near 2^32 must not wrap
    if (driver == 0 || name == 0 || nameat + name > length || name >= capacity)
        return false;
    memcpy(device, reply + nameat, name);
    device[name] = 0;
    return true;
}

// ---- events ----

static void inputevent(u8 const* e, x11event& out)
{
    out.window = x11_get32(e + 12);
    out.x = (s16)x11_get16(e + 24);
    out.y = (s16)x11_get16(e + 26);
    out.state = x11_get16(e + 28);
}

bool x11_decodeevent(u8 const* e, x11event& out)
{
    memset0(&out, sizeof out);
    if (!e || e[0] == xev_error || e[0] == xev_reply)
        return false;
    out.code = (u8)(e[0] & 0x7f);
    out.sent = (e[0] & xev_sent) ? 1 : 0;
    out.detail = e[1];
    out.sequence = x11_get16(e + 2);
    switch (out.code) {
    case xev_keypress: case xev_keyrelease: case xev_buttonpress: case xev_buttonrelease:
    case xev_motionnotify:
        inputevent(e, out);
        return true;
    case xev_expose:
        out.window = x11_get32(e + 4);
        out.x = x11_get16(e + 8);
        out.y = x11_get16(e + 10);
        out.width = x11_get16(e + 12);
        out.height = x11_get16(e + 14);
        out.count = x11_get16(e + 16);
        return true;
    case xev_mapnotify:
        out.window = x11_get32(e + 8);
        return true;
    case xev_configurenotify:
        out.window = x11_get32(e + 8);
        out.x = (s16)x11_get16(e + 16);
        out.y = (s16)x11_get16(e + 18);
        out.width = x11_get16(e + 20);
        out.height = x11_get16(e + 22);
        return true;
    case xev_clientmessage:
        out.window = x11_get32(e + 4);
        out.type = x11_get32(e + 8);
        out.value0 = x11_get32(e + 12);
        return true;
    case xev_destroynotify:
        out.window = x11_get32(e + 8);      // the window destroyed; the event's at 4
        return true;
    case xev_mappingnotify:
        out.request = e[4];         // then the first key code changed and the count
        return true;
    case xev_noexposure: case xev_visibilitynotify:
    case xev_unmapnotify: case xev_reparentnotify:
        return true;
    default:
        return false;
    }
}

} // namespace kzv
