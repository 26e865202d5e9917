// The application module: start-up, the window, the 100 ms step and the end of
// the run. Exactly one answer is printed per run: once a step has printed, the
// dialog is marked done and later steps do nothing. The window and the driver are
// released before the answer is written, so the user interface has left the
// terminal by then; the platform restores the terminal's modes after the loop.
#include "usermain.h"
#include "helptext.h"
#include "../../framework/options.h"
#include "../../framework/stdio.h"
#include "../../framework/str.h"
#include "../../framework/sysprocess.h"

namespace kzv {

static char const USERMAIN_VERSION[] = "1.01\n";
const u32 USERMAIN_REFUSALCAPACITY = 1200;  // a reason and a path of up to 767 bytes

// An option's size: absent, 0 or negative is "not given"; beyond a window side is
// the largest side, which the screen then cuts.
static u32 sizeoption(char const* name)
{
    int v = arggetint(name);
    if (v <= 0)
        return 0;
    return kzv_min((u32)v, USERMAIN_MAXSIDE);
}

void usermain::initrecord(mem* p)
{
    memset0(this, sizeof(*this));
    initheader(p, "usermain", usermain_concb, type_bytestream);
    driver.init(pool);
    win.init(pool);
    container.init(pool);
    chooser.init(pool);
    button1.init(pool);
    button2.init(pool);
    strcpy(version, USERMAIN_VERSION, USERMAIN_VERSIONCAPACITY - 1);
    str_removetrailing(version);
}

void usermain::taketitle()
{
    str_copycharacters(title, sizeof title, arggetvalue("title"), USERMAIN_TITLEMAX);
}

void usermain::init(mem* p)
{
    initrecord(p);
    // -help wins over any word; the run then starts no step and ends with status 0.
    dialogchoice choice = dialog_fromword(dialog_word(process->getprogramname(), process->getargv(0)));
    if (arggetbool("help") || choice.kind == dialog_help) {
        if (!helptext_print(version, process->builddate, process->buildtime))
            refuse("the help text could not be written to standard output", nullptr);
        return;
    }
    width = sizeoption("width");
    height = sizeoption("height");
    taketitle();
    kind = choice.kind;
    bool opened = kind == dialog_chooser ? filedialog(choice.dirmode)
                : kind == dialog_message ? infodialog() : yesnodialog();
    if (!opened) {
        kind = dialog_help;
        return;
    }
    // The first frame goes out now rather than at the container's first step.
    container.requestredraw();
    container.cyclic();
    process->startthread(this, USERMAIN_STEPMS);
    state |= 1;
}

void usermain::refuse(char const* what, char const* detail)
{
    closeui();
    kind = dialog_help;
    if (process->exitcode != 2) {
        char line[USERMAIN_REFUSALCAPACITY];
        if (!str_combine(line, sizeof line, process->getprogramname(), ": ", what) ||
            (detail && !str_combine(line, sizeof line, line, detail)))
            strcpy(line, what, sizeof line - 1);
        eputs(line);
    }
    process->exitcode = 2;
    process->exit("");
}

bool usermain::guiopen(u32 xs, u32 ys, char const* wintitle)
{
    if (!driver.open())
        return false;           // the driver has told the user and ended the run
    if (!width)
        width = xs;
    if (!height)
        height = ys;
    width = kzv_min(width, USERMAIN_MAXSIDE);
    height = kzv_min(height, USERMAIN_MAXSIDE);
    u32 sw = driver.getscreenxs();
    u32 sh = driver.getscreenys();
    // Centred on a known screen; a window larger than the screen starts at its edge.
    if (x == 0 && y == 0 && sw > 0 && sh > 0) {
        x = width < sw ? (s32)((sw - width) >> 1) : 0;
        y = height < sh ? (s32)((sh - height) >> 1) : 0;
    }
    if (sw && width > sw)
        width = sw;
    if (sh && height > sh)
        height = sh;
    if (!title[0])
        strcpy(title, wintitle, USERMAIN_TITLECAPACITY - 1);
    // Even widths, except where an odd screen width cuts the window.
    u32 even = (width + 1) & 0xFFFFEu;
    if (!sw || even <= sw)
        width = even;
    return attachwindow();
}

bool usermain::attachwindow()
{
    if (!win.open(title, (u32)x, (u32)y, width, height, 0)) {
        refuse("the window could not be opened", nullptr);
        return false;
    }
    width = win.width;
    height = win.height;
    if (!container.open()) {
        refuse("the widgets could not be attached to the window", nullptr);
        return false;
    }
    connect(container.out, in);
    container.setfont(USERMAIN_FONT, USERMAIN_FONTSIZE, false, false);
    return true;
}

// Widgets first, then the window (which tells its back-end), then the driver,
// which releases the back-end. Each is left initialised and empty, so a second
// call changes nothing.
void usermain::closeui()
{
    button2.exit(false);
    button1.exit(false);
    chooser.exit(false);
    container.exit(false);
    win.exit(false);
    driver.exit(false);
}

void usermain::finish(char const* answer)
{
    kind = dialog_help;
    closeui();
    // A script that reads the answer must not take a lost one for none.
    if (answer && !puts(answer)) {
        refuse("the answer could not be written to standard output", nullptr);
        return;
    }
    process->exit("");
}

void usermain::readevents(bool& closed)
{
    data* event = nullptr;
    while (container.read(&event, sizeof(kinduimessage))) {
        if (!event || event->type != type_uimessage)
            continue;
        u8 code = event->kind.ui.code;
        s32 key = event->kind.ui.x;
        if (code == ui_keydown && key == (s32)guikey_escape)
            cancel = 1;
        else if (code == ui_keydown && key == (s32)guikey_enter)
            accept = 1;
        else if (code == ui_closed) {
            closed = true;
            return;
        }
    }
}

void usermain::cyclic()
{
    if (kind == dialog_help)
        return;                 // answered, refused or never opened
    bool closed = false;
    readevents(closed);
    if (closed) {
        finish(nullptr);
        return;
    }
    switch (kind) {
    case dialog_question:
        // No (and Esc) first: a step holding both prints only "no".
        if (button2.isclicked() || cancel) {
            finish("no");
        } else if (button1.isclicked() || accept) {
            process->exitstatus = 1;
            finish("yes");
        }
        return;
    case dialog_message:
        if (button1.isclicked() || cancel || accept)
            finish(nullptr);
        return;
    case dialog_chooser:
        checkfiledialog();
        return;
    default:
        return;
    }
}

sptr usermain_concb(void* self, unsigned cmd, int, int, void const*)
{
    usermain* u = (usermain*)self;
    switch (cmd) {
    case cmd_cyclic:
        u->cyclic();
        return 1;
    case cmd_connected:
        return 1;
    case ui_closed:
        // The close arrives from inside the back-end's own step, so the window
        // and the driver stay until the loop has ended; nothing is printed.
        u->kind = dialog_help;
        process->exit("");
        return 1;
    default:
        return 0;
    }
}

} // namespace kzv
