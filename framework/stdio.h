// The console. `stdio` is the stream over the terminal: keys come from standard
// input in single-character mode without blocking, escape sequences go straight
// to the terminal, and bytes the terminal refuses stay buffered and are retried
// every millisecond, never dropped. `puts` and `print` write the answer and the
// help text to standard output, whole (the platform retries a terminal that
// would block); `eputs` and `eprint` write diagnostics to standard error.
#pragma once
#include "stream.h"

namespace kzv {

const u32 STDIO_READCHUNK = 256;
const u32 STDIO_RETRYMS = 1;

class stdio : public stream {
public:
    stdio() { init(nullptr); }
    ~stdio() { exit(true); }

    void init(mem* p);
    void minit();
    void exit(bool keep);

    // The view's kind words, read at init: whether there is a terminal to draw on,
    // its size (80 x 24 where it cannot tell), and whether it refused raw mode (no
    // UI can run on it then).
    u8& isterminal() { return kind.stream.source.stdio.isterminal; }
    u8& sizeknown() { return kind.stream.source.stdio.sizeknown; }
    u8& rawrefused() { return kind.stream.source.stdio.rawrefused; }
    u16& columns() { return kind.stream.source.stdio.columns; }
    u16& rows() { return kind.stream.source.stdio.rows; }

    int mread(u8* buffer, u32 n);
    int mwrite(u8 const* bytes, u32 n);
};

sptr stdio_concb(void* self, unsigned cmd, int a, int b, void const* p);

// The answer channel: 1 when all of it was written, 0 when not (null writes
// nothing and answers 0; a full, closed or broken standard output answers 0).
int puts(char const* text);             // the text and a line end
int print(char const* text);            // the text alone
// The diagnostic channel, with the same line rule as `puts`. Null answers 0,
// anything else 1: there is nowhere left to report a failed diagnostic.
int eputs(char const* text);
int eprint(char const* text);
// Later output goes to standard output even where a console module was installed.
void disconnectstdout();

} // namespace kzv
