// The X11 display back-end: a module that speaks the X protocol itself over the
// byte stream on its IN pin (a pipe or tcp stream). It authorizes from the user's
// authority file, sets the connection up, interns its atoms, reads the keyboard
// map, asks for RANDR, BIG-REQUESTS, DRI2, DRI3 and Present, then opens windows,
// sends their pixels and turns X events into window events. A keyboard map that
// changes is read again, and the keys typed under the new map wait for it. Every
// reply length and count from the server is checked before use; a reply too long
// to read is skipped in pieces. A refused setup, an error for a request of the
// set-up or a lost connection ends the run with one line on standard error and
// exit status 2; a window another client destroys closes as by its close box.
// The module's pool holds its window list and the back buffers; the stream
// belongs to whoever connected it.
#pragma once
#include "../framework/mem.h"
#include "../framework/module.h"
#include "../framework/timers.h"
#include "../gui/guiwindow.h"
#include "x11proto.h"

namespace kzv {

class stream;

// Connection states.
enum : u32 {
    x11state_none = 0,
    x11state_setuphead = 2,     // waiting for the setup reply's head
    x11state_setupdata = 3,     // reading its additional data
    x11state_setupreplies = 4,  // atoms, keyboard map and extensions pending
    x11state_screenreplies = 5, // RANDR screen size and BIG-REQUESTS pending
    x11state_ready = 6,
    x11state_refused = 7,       // reading the reason of a refused setup
    x11state_dri2probe = 20,    // acts as ready
    x11state_ended = 24,        // the run was told to end; nothing more is read
};

// Reply reader states.
enum : u32 { x11reader_event = 0, x11reader_longreply = 17, x11reader_discard = 19 };

// DRI2 probe states.
enum : u32 { x11dri2_unprobed = 0, x11dri2_done = 1, x11dri2_probing = 18 };

// Kinds and parameters of pending replies.
enum : u32 { x11pending_keymap = 12, x11pending_extension = 13, x11pending_atom = 14 };
enum : u32 {
    x11ext_randr = 7, x11ext_bigrequests = 8, x11ext_dri2 = 9, x11ext_dri3 = 10,
    x11ext_present = 11, x11ext_screenresources = 15, x11ext_bigreqenable = 16,
    x11ext_dri2connect = 20,
};

// The extensions asked for at set-up, as slots of `opcode`. A QueryExtension
// reply's kind is x11ext_randr + its slot, so the kinds must stay contiguous.
enum : u32 {
    x11slot_randr = 0, x11slot_bigrequests = 1, x11slot_dri2 = 2, x11slot_dri3 = 3, x11slot_present = 4,
    X11_EXTENSIONCOUNT = 5,
};
static_assert(x11ext_bigrequests - x11ext_randr == x11slot_bigrequests &&
                  x11ext_dri2 - x11ext_randr == x11slot_dri2 && x11ext_dri3 - x11ext_randr == x11slot_dri3 &&
                  x11ext_present - x11ext_randr == x11slot_present &&
                  x11ext_present - x11ext_randr + 1 == X11_EXTENSIONCOUNT,
              "the extension kinds index opcode[] from x11ext_randr");

// The atoms, in the order they are interned.
enum : u32 {
    x11atom_wmname, x11atom_wmiconname, x11atom_string, x11atom_int32, x11atom_wmhints,
    x11atom_wmclass, x11atom_wmdeletewindow, x11atom_atom, x11atom_wmprotocols,
    x11atom_wmnormalhints, x11atom_wmsizehints, x11atom_wmtransientfor, x11atom_window,
    x11atom_netwmstate, x11atom_netwmstatehidden, x11atom_netwmstatefullscreen,
    x11atom_motifwmhints, X11_ATOMCOUNT,
};

const u32 X11_PENDINGCOUNT = 64;
const u32 X11_HELDKEYS = 32;             // key events kept while a new key map comes
const u32 X11_REQUESTCAPACITY = 2048;    // the longest request built here: a title property
const u32 X11_TITLEMAX = 1000;           // bytes; longer titles are cut between characters
const u32 X11_PATHCAPACITY = 1024;       // the authority file's path
const u32 X11_AUTHFILEMAX = 0x100000;    // authority files hold a few entries
const u32 X11_MAXREPLY = 0x40000;        // longer replies are skipped, never read whole
const u32 X11_DEFAULTMAXREQUEST = 258000;
const u64 X11_MAXREQUESTCAP = 0x1000000; // 16 MiB per request at the most
const u32 X11_RETRYMS = 12288;           // a setup reply that never comes
const u32 X11_SETUPINTERVAL = 1;
const u32 X11_READYINTERVAL = 20;
const u32 X11_REPLYWAITMS = 10000;
const u32 X11_PENDINGOUTPUT = 4096;      // queued bytes above which updates wait
const u32 X11_READSPERSTEP = 1024;       // events and replies taken in one step
const u32 X11_MAXSIDE = 32767;           // screen and window sides kept
// The first Expose follows the MapNotify; a window that gets none (covered at
// once) is not waited for longer than this.
const u32 X11_EXPOSEWAITMS = 100;

struct x11pending {
    u32 sequence;           // the request's 16-bit sequence number
    u8 inuse;               // apart from the sequence, which wraps to 0
    u32 parameter;
    void* target;
    u32 kind;
};

// The back-end's fields in a window's guiwindow record (its back-end part).
struct x11windowpart {
    u32 windowid;
    u32 gcid;
    u32 pixmapid;
    u32 linesperstrip;
    u8 mapped;
    u8 exposed;             // its first Expose has come
    u32 mappedat;           // ms clock of the MapNotify
    u8 hasbackbuffer;
    u8 dirty;               // an update was put off while output was queued
    u32 sendrow;            // rows [sendrow, sendend) still to be put into the pixmap
    u32 sendend;
    u32 copyfirst;          // rows [copyfirst, copyend) copied to the window once put
    u32 copyend;
    u8 destroyed;           // the server destroyed it (another client asked)
    u32 bbstride;           // bytes per back-buffer row, padded as the server wants
    u32 bbwidth;
    u32 bbheight;
    u8* bbpixels;
    u64 frameaccumulator;   // microseconds
    u32 nextframe;          // ms on the frame clock
    timer frameclock;
    u32 refreshmhz;         // 0: 60 Hz
    u32 extraformat;        // 888 or 8888 (0: 8888)
    u32 extrawidth;
    u32 extraheight;
    u32* extrapixels;
    image extraimage;       // over the extra buffer
};

class x11 : public module {
public:
    u32 connstate;
    u32 setuplength;        // additional setup-reply bytes
    u32 openflags;
    u8 bigrequests;
    u32 maxrequest;         // bytes
    u32 root;
    u32 nextid;
    u32 screencount;
    u8 imagebyteorder;
    u8 bitmaporder;
    u8 scanlineunit;
    u8 scanlinepad;
    u8 rootdepth;
    u8 bytesperpixel;
    u8 rowpad;              // bytes a pixmap row is padded to
    u8 minkeycode;
    u8 maxkeycode;
    u16 sequence;
    u32 readerstate;
    u32 longreply;          // bytes of the reply being read whole, head included
    u64 discardleft;        // bytes of a skipped reply still to come (up to 16 GiB)
    u32 screenwidth;        // as found: the first screen, then RANDR's first mode
    u32 screenheight;
    u32 dri2state;
    int dri2fd;
    u32 atoms[X11_ATOMCOUNT];
    u32 opcode[X11_EXTENSIONCOUNT];  // by x11slot_*; 0 = absent
    u8 request[X11_REQUESTCAPACITY];
    u16 keymap[4][256];
    // Key events read while the key map is asked for again: they were typed under
    // the new map, so they wait for it, in the order they came.
    u8 heldkeys[X11_HELDKEYS][X11_EVENTBYTES];
    u32 heldcount;
    timer setuptimer;
    smem store;             // the window list
    x11pending pending[X11_PENDINGCOUNT];
    guiwindow** windows;
    u32 windowcapacity;
    u32 displaynumber;      // what `open` was given, for the retry
    u32 remoteaddress;
    u8 authmissing;         // no cookie went out; said once the server answers
    u32 interval;           // the step interval asked of the scheduler
    int serverfd;           // the socket the stream reads, for the waits; 0 unknown
    // The PutImage whose pixels are going out straight from a back buffer: its
    // request head is out, `stripleft` bytes of pixels and `strippad` zeros not.
    u8 const* strippixels;
    u32 stripleft;
    u32 strippad;
    char authpath[X11_PATHCAPACITY];

    void init(mem* p);
    void exit(bool keep);
    void mexit();

    // Starts the connection on the stream of the IN pin: display number, the
    // authority file ('~' is the home directory), the driver's format request, and
    // the server's IPv4 address when it is another host (0 for this one). 1.
    int open(u32 display, char const* authfile, u32 flags, u32 remote = 0);
    u32 generateauth(u32 display, u8 const* file, u32 size);
    bool decodeserverinfo(u8 const* data, u32 length);

    u32 getatom(char const* name, u32* target);
    u32 getkeymap();
    bool keymappending() const;
    u32 checkextension(char const* name, u32 parameter);
    void cyclic();
    void waitforallrepliesfinished();
    bool readx11();

    sptr command(unsigned code, int a, int b, guiwindow* w);
    bool isready() const { return (flags & 0x40) != 0; }
    stream* connection() const;

    // Requests: `send` writes bytes to the stream; `sendrequest` sends what the
    // writer built and answers its sequence number.
    bool send(void const* bytes, u32 n);
    // While the server has something a caller waits for (the setup, a window's
    // MapNotify, a reply, pixels the socket has not taken yet) the module steps
    // every 1 ms, so what arrives is read at once; otherwise every 20 ms.
    bool awaitingserver() const;
    void pace();
    void stopwaking();
    u16 sendrequest(u32 length);
    void group(bool on);        // requests between on and off leave as one write
    u32 newid() { return nextid++; }
    x11pending* addpending(u16 seq, u32 kind, u32 parameter, void* target);
    x11pending* findpending(u16 seq);
    u32 pendingcount() const;

    // Windows (x11window.cpp).
    int openwindow(guiwindow* w);
    void closewindow(guiwindow* w);
    void createbackbuffer(guiwindow* w);
    sptr update(guiwindow* w, u32 firstrow, u32 rows, bool whole);
    void sendstrips(guiwindow* w);
    bool writestrip();
    void finishstrip();
    bool sending(guiwindow* w) const;
    bool anysending() const;
    void createbuffer(guiwindow* w, u32 width, u32 height);
    void getbufferimage(guiwindow* w);
    void setbuffer(guiwindow* w, int x, int y);
    int timerbufav(guiwindow* w);
    void checkrealtime();
    void redodirty();
    bool haswindow(guiwindow* w) const;
    guiwindow* findwindow(u32 id) const;
    static x11windowpart* part(guiwindow* w) { return w->backendfields<x11windowpart>(); }

    // Events (x11events.cpp).
    bool dispatchevent(u8 const* e);
    void dispatchreply(u8 const* reply, u32 length);
    void dispatcherror(u8 const* e);
    void mappingchanged(u8 request);
    void holdkey(u8 const* e);
    void releaseheldkeys();
    void sendkey(x11event const& e);

    // Ends the run: one line on standard error, exit status 2.
    void endrun(char const* what, char const* reason);

private:
    void setupstep();
    bool readsetuphead();
    bool readsetupdata();
    void readrefusal();
    void askscreen();
    void becomeready();
    bool checkconnection();
    void readall();
    bool readlong();
    bool discard();
    void retry();
    bool addwindow(guiwindow* w);
    void removewindow(guiwindow* w);
    void setpixelformat();
};

sptr x11_concb(void* self, unsigned cmd, int a, int b, void const* p);

// The key code a key event gives, from its key code, state and the keyboard map;
// 0 when the key is dropped.
u32 x11_keycode(u16 const (*keymap)[256], u32 keycode, u32 state);

} // namespace kzv
