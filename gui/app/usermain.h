// The dialog application: one module that reads the command line, builds one of
// four dialogs (file chooser, folder chooser, message box, yes/no question) in a
// window on the display the driver finds, prints the user's one answer on
// standard output and ends the run. Path and pattern options too long for their
// buffers, a -folder that is not a folder, a working directory too long to show
// and an answer or help text that standard output does not take end the run with
// one line on standard error and exit status 2; a -textfile or -folder that
// cannot be read keeps the dialog and is named on standard error. The record
// embeds every module it uses; it lives in one block of the process pool.
#pragma once
#include "../gui.h"
#include "../guibutton.h"
#include "../guidriver.h"
#include "../guifiledialog.h"
#include "../window.h"
#include "dialogword.h"

namespace kzv {

const u32 USERMAIN_MINRECORD = 4096;        // the block the application takes at least
const u32 USERMAIN_VERSIONCAPACITY = 32;
// -title is a display text: one of more characters is cut after the 120th. A
// character takes at most 4 bytes, so the cut is never made by the buffer.
const u32 USERMAIN_TITLEMAX = 120;
const u32 USERMAIN_TITLECAPACITY = USERMAIN_TITLEMAX * 4 + 1;
// The chooser's longest answer: a 511-byte folder, '/', a 255-byte name, the zero.
const u32 USERMAIN_PATHCAPACITY = 768;
const u32 USERMAIN_STATUSCAPACITY = 256;
const u32 USERMAIN_FILTERCAPACITY = 512;
const u32 USERMAIN_FOLDERMAX = 511;         // the chooser's folder buffer holds 512
const u32 USERMAIN_FILTERMAX = 511;
const u32 USERMAIN_TEXTFILEMAX = 767;       // the name goes into the path buffer
const u32 USERMAIN_TEXTCAPACITY = 16384;
const u32 USERMAIN_TEXTMAX = 16000;         // -text and the text file's bytes
const u32 USERMAIN_LINEMAX = 1023;          // one message line; longer ones continue below
const u32 USERMAIN_STEPMS = 100;
const u32 USERMAIN_MAXSIDE = 16383;         // window sides are 16-bit fields
// The dialogs' font: the container draws in it and the message text is measured in it.
static char const USERMAIN_FONT[] = "droidmono";
const u32 USERMAIN_FONTSIZE = 960;          // size code; / 64 is the line height in pixels

// Default and smallest window sizes.
const u32 USERMAIN_CHOOSERWIDTH = 750, USERMAIN_CHOOSERHEIGHT = 550;
const u32 USERMAIN_CHOOSERMINWIDTH = 300, USERMAIN_CHOOSERMINHEIGHT = 200;
const u32 USERMAIN_MESSAGEMINWIDTH = 300, USERMAIN_MESSAGEMINHEIGHT = 100;

// The path, the status line and the filter lie back to back: the message dialogs
// use the three together as the buffer of one text line.
struct usermaintext {
    char path[USERMAIN_PATHCAPACITY];
    char statusline[USERMAIN_STATUSCAPACITY];
    char filter[USERMAIN_FILTERCAPACITY];
};

enum optiontake : u8 { option_absent, option_taken, option_refused };

class usermain : public module {
public:
    u8 dirmode;             // the folder chooser
    u8 showhidden;          // list names that begin with '.'
    u8 cancel;              // an Esc key event reached the application
    u8 accept;              // an Enter key event reached the application
    s32 x, y;               // window position, set by the centring
    u32 width, height;      // -width / -height (0 when absent), then the window's
    u32 kind;               // dialogkind
    char version[USERMAIN_VERSIONCAPACITY];
    char title[USERMAIN_TITLECAPACITY];
    usermaintext text;
    guidriver driver;
    window win;
    gui container;
    guifiledialog chooser;
    guibutton button1;      // "OK" or "Yes"
    guibutton button2;      // "Cancel" or "No"

    void init(mem* p);
    // The record with its embedded modules, before any option is read.
    void initrecord(mem* p);
    // The -title option into title, cut after its USERMAIN_TITLEMAX-th character.
    void taketitle();
    bool filedialog(bool folders);
    bool infodialog();
    bool yesnodialog();
    // Opens the display and the window (width and height default to xs and ys) and
    // attaches the widget container; false when the run has been ended.
    bool guiopen(u32 xs, u32 ys, char const* wintitle);
    // The window at x, y with the record's size and title on the open display,
    // and the widget container on it; false when the run has been ended.
    bool attachwindow();
    // The widgets of the choosers on the attached window, from the path, filter
    // and showhidden fields; false when the run has been ended.
    bool buildchooser();
    // The icon, the buttons and the text t of a message box or a question.
    void buildmessage(bool question, char const* t);
    void cyclic();
    void checkfiledialog();

    char* linebuffer() { return (char*)(void*)&text; }
    // Ends the run: the window goes first, so that the user interface is gone
    // from the terminal before the answer (or null for none) is written.
    void finish(char const* answer);
    // One line on standard error and exit status 2.
    void refuse(char const* what, char const* detail);
    // One line on standard error naming the option's path and why it was not
    // read; the run goes on.
    void tellunread(char const* option, char const* path, char const* why);

private:
    optiontake takeoption(char const* name, char* out, u32 max, char const* refusal);
    bool readfolder();
    bool readfilter();
    bool messagedialog(bool question);
    char* loadtext();
    void measuretext(char const* t, u32& w, u32& h);
    void printtext(char const* t);
    void readevents(bool& closed);
    void drawstatusline();
    bool answerchooser();
    void closeui();
};

sptr usermain_concb(void* self, unsigned cmd, int a, int b, void const* p);

// The block the application takes from the process pool: the record, at least 4096.
const u32 USERMAIN_RECORDSIZE = sizeof(usermain) > USERMAIN_MINRECORD ? (u32)sizeof(usermain) : USERMAIN_MINRECORD;

// The layout the dialogs rely on, on every target.
static_assert(sizeof(usermaintext) >= USERMAIN_LINEMAX + 1, "a message line fits the joined buffers");
static_assert(USERMAIN_PATHCAPACITY >= GUIFILEDIALOG_SELECTEDCAPACITY, "the chooser's answer fits the path");
static_assert(USERMAIN_FOLDERMAX < GUIFILEDIALOG_PATHCAPACITY, "a folder the application takes fits the chooser");
static_assert(USERMAIN_FILTERCAPACITY <= GUIFILEDIALOG_FILTERCAPACITY, "the filter fits the chooser's");
static_assert(USERMAIN_TEXTFILEMAX < USERMAIN_PATHCAPACITY, "a text file name fits the path");
static_assert(alignof(usermain) <= 16, "pool blocks are 16-aligned");
static_assert(USERMAIN_RECORDSIZE >= sizeof(usermain) && USERMAIN_RECORDSIZE >= USERMAIN_MINRECORD, "record block");

} // namespace kzv
