// ansitool: drives the terminal renderer, its key decoder and the ANSI emulator
// from the command line, so that the end-to-end tests can check them against real
// terminals (tmux, xterm). Diagnostics go to standard error.
//   render LOGFILE         text UI on the terminal through the standard-I/O stream:
//                          a fixed picture (below), then every key code decoded is
//                          logged as "key HEX" and shown on the last row; 'q' ends
//                          the run ("done" logged). The first line logged is
//                          "size COLUMNS ROWS".
//   emulate COLS ROWS FILE the file's bytes through an emulator of that size; the
//                          screen on standard output, one line a row in UTF-8 with
//                          trailing blanks removed, then "cursor X Y"
// The picture: a blue box (background 0x0000FF) at column 2, row 1, 20 x 5 with a
// white frame, "velkra" in yellow at (4, 2), "é€" in white at (4, 3), a red 'X' at
// (0, 0), and a horizontal line on row 7 from column 0 to 10 crossing a vertical one
// at column 5 (rows 6 to 8), all in the 256-colour palette.
#include "../../../drivers/ansiterminal.h"
#include "../../../framework/fileload.h"
#include "../../../framework/mem.h"
#include "../../../framework/os.h"
#include "../../../framework/printf.h"
#include "../../../framework/stdio.h"
#include "../../../framework/str.h"
#include "../../../framework/sysprocess.h"

namespace kzv {

namespace {

const u32 TOOL_STEPMS = 20;

class ansitool : public module {
public:
    stdio console;
    ansiterminal renderer;
    int logfd;
    u32 keycount;

    void log(char const* format, u32 a, u32 b);
    void draw();
    void step();
};

void ansitool::log(char const* format, u32 a, u32 b)
{
    char line[64];
    u32 n = vprinter_format(line, sizeof(line), 48, format, a, b);
    if (logfd)
        os_write(logfd, line, n);
}

void ansitool::draw()
{
    ansiterminal& r = renderer;
    r.termfillrect(2, 1, 20, 5, 0x0000FF);
    r.termdrawrect(2, 1, 20, 5, 0xFFFFFF);
    r.termputstring8(4, 2, 0xFFFF00, "velkra");
    r.termputstring8(4, 3, 0xFFFFFF, "\xc3\xa9\xe2\x82\xac");
    r.termputchar(0, 0, 0xFF0000, 'X');
    r.termdrawline(5, 6, 5, 8, 0x00FF00);
    r.termdrawline(0, 7, 10, 7, 0x00FF00);
    r.termupdate(false);
}

void ansitool::step()
{
    for (u32 k; (k = renderer.termgetkey()) != 0;) {
        log("key %x\n", k, 0);
        char text[32];
        vprinter_format(text, sizeof(text), 24, "last %x n %u   ", k, ++keycount);
        renderer.termputstring8(0, renderer.rows - 1, 0xFFFFFF, text);
        renderer.termupdate(false);
        if (k == 'q') {
            log("done\n", 0, 0);
            process->exit("");
            return;
        }
    }
}

sptr ansitool_concb(void* self, unsigned cmd, int a, int b, void const* p)
{
    ansitool* t = (ansitool*)self;
    if (cmd == cmd_cyclic)
        t->step();
    else if (cmd == cmd_exit)
        t->renderer.exit(true);         // its goodbye goes out before the console closes
    return 1;
}

int render(char const* logpath)
{
    ansitool* t = (ansitool*)process->pool.getmem0(sizeof(ansitool));
    if (!t)
        return 2;
    t->initheader(nullptr, "ansitool", ansitool_concb, type_bytestream);
    t->console.init(nullptr);
    t->renderer.init(nullptr);
    t->logfd = os_fopen(logpath, 3);
    connect(t->console.out, t->renderer.in);
    if (!t->renderer.open(0, 0, 1, 1)) {
        eputs("ansitool: the renderer did not open");
        return 2;
    }
    t->log("size %u %u\n", (u32)t->renderer.columns, (u32)t->renderer.rows);
    t->draw();
    process->startthread(t, TOOL_STEPMS);
    return 0;
}

int emulate(int columns, int rows, char const* path)
{
    unsigned size = 0;
    char* bytes = loadfile(path, size);
    ansiterminal* t = (ansiterminal*)process->pool.getmem0(sizeof(ansiterminal));
    if (!t || !t->open(columns, rows, 0, 0)) {
        eputs("ansitool: no emulator of that size");
        return 2;
    }
    if (bytes)
        t->writeemu((u8 const*)bytes, size);
    char* line = (char*)process->pool.getmem((u64)columns * 3 + 2);
    for (int y = 0; y < rows && line; y++) {
        u32 n = 0, end = 0;
        for (int x = 0; x < columns; x++) {
            u32 ch = cell_char(t->grid[y * columns + x]);
            n += term_utf8((u8*)line + n, ch < 32 ? ' ' : ch);
            if (ch > 32)
                end = n;
        }
        line[end] = '\n';
        os_stdout(line, end + 1);
    }
    printf("cursor %d %d\n", (int)t->cursorx, (int)t->cursory);
    return 0;
}

} // namespace

void memoryinit(unsigned&, unsigned&) {}

void mmain()
{
    char const* command = process->getargv(0);
    int status;
    if (streq(command, "render"))
        status = render(process->getargv(1));
    else if (streq(command, "emulate"))
        status = emulate(atoi(process->getargv(1)), atoi(process->getargv(2)), process->getargv(3));
    else {
        eputs("usage: ansitool render LOGFILE | emulate COLUMNS ROWS FILE");
        status = 2;
    }
    if (status || !streq(command, "render")) {
        process->exitcode = status;
        process->exit("");
    }
}

} // namespace kzv
