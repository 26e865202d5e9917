// Transform modules: a codec between two pins. It pulls records from the peer of
// its IN pin (or takes what writers push in), runs its codec a step at a time and
// hands the result out as records to its reader or pushes it to the peer of its OUT
// pin. Its buffers come from its pool and go with its reset; a refused or oversized
// buffer sets the error bit. Reads answer a count (0 = nothing now; the flag word
// tells error and end) and store the module itself through their record pointer.
#pragma once
#include "module.h"

namespace kzv {

class transform;

struct transformcodec {
    bool (*step)(transform* t);             // one step of the codec's state machine
    void (*exit)(transform* t);             // frees the codec's blocks, clears its state
};

// The flag word: the header's flags byte (low) and state byte (high).
enum : u16 {
    tstate_error = 0x0001,      // a peer failed or the input was refused; reads answer 0
    tstate_stop = 0x0002,       // stop producing; never set on a record handed out
    tstate_end = 0x0004,        // end of data
    tstate_headerset = 0x0010,  // the output record's format is known
    tstate_inputseen = 0x0040,
    tstate_autorestart = 0x0800,// a read that finds the end restarts the module
    tstate_trace = 0x1000,      // '^' prints its message
};

// Transform flags.
enum : u8 {
    tflag_ready = 0x01,         // the module's record is ready to be handed out
    tflag_handedout = 0x02,     // the ready record was handed out
    tflag_end = 0x04,           // the input side has ended
    tflag_gaveback = 0x08,      // output was given back since the last read
    tflag_keeptype = 0x10,      // bytes handed out keep the record's type
    tflag_gather = 0x20,        // keep producing until the requested amount is pending
    tflag_routed = 0x40,        // reads go to the peer of the direct-input pin
    tflag_directend = 0x80,     // end state of that peer
};

// Input states.
enum : u32 {
    tinput_idle = 0,            // records come from the peer of the IN pin
    tinput_record = 3,          // a pushed record waits
    tinput_bytes = 4,           // pushed bytes are buffered
    tinput_recordout = 5,       // the pushed record was handed out
    tinput_again = 8,           // the last pulled record is handed out again
    tinput_gathering = 10,      // collecting a minimum from the IN peer
};

// Bytes the module buffers at most in one block: far above any row or header.
const u32 TRANSFORM_MAXBUFFER = 0x4000000;

class transform : public module {
public:
    u8 tflags;
    u8 inputclosed;             // 'N' came: no more input after what is buffered
    u32 inputstate;
    u32 buffersize;             // 1024 after init
    u32 linestate;              // getline: 1 after a CR, 2 after an LF
    u32 mediatype;              // from the last byte record pulled
    u32 charset;
    char eol[2];                // what putline appends (the second only when not 0)
    u32 outcapacity;
    u32 outwrite;               // the output byte buffer
    u32 outread;
    u32 outpending;
    u8* outbuf;
    u32 directread;             // bytes handed out straight from a codec's block
    u32 directpending;
    u8 const* directdata;
    u32 gathersize;             // the minimum being gathered, and how far it got
    u32 gathered;
    u8* gatherbuf;
    u32 pushedcapacity;         // bytes pushed in by write and putline
    u32 pushedlength;
    u32 pushedread;
    u8* pushedbuf;
    data* lastinput;            // the record pulled or pushed last
    data piece;                 // bytes handed out of the gather or pushed buffers
    u64 passthrough;            // not 0: record reads and give-backs go to the input side
    pin direct;                 // a third pin, owned by the module
    transformcodec const* codec;

    void inittransform(mem* p, char const* modulename, modulecallback cb, s8 recordtype,
                       transformcodec const* c);
    void exittransform(bool keep);          // frees everything; unless keep, inits again
    void restart();                         // reset keeping the three pin peers
    // The reply to every command; a codec's callback sends everything here.
    sptr command(unsigned cmd, int a, int b, void const* p);

    u16 flagword() const { return (u16)(flags | (state << 8)); }
    bool hasflag(u16 bits) const { return (flagword() & bits) != 0; }
    void setflag(u16 bits);
    void clearflag(u16 bits);
    void fail() { setflag(tstate_error); }
    bool inputended() const { return (tflags & tflag_end) != 0; }

    // The reader side.
    sptr read(data** out, u32 max);
    sptr read(u8** out, u32 max);
    sptr getline(char** out);
    sptr rewind(u32 n);

    // The codec side.
    sptr mread(data** out, u32 max, u32 min);
    void mrewind(u32 n);
    u8* mgetmem(u32 n);                     // room for n output bytes, counted as pending
    void munget(u32 n);                     // returns the last n reserved bytes unused
    void setready();                        // the module's own record is ready

    // The writer side.
    sptr write(data* record);
    sptr writebytes(void const* bytes, u32 n);      // appends to the pushed bytes
    sptr pushbytes(void const* bytes, u32 n);       // 'I' and 'J': as a pushed record
    void writeout();
    sptr close();
    sptr putline(char const* text);

private:
    bool produce(u32 max);
    sptr handout(u8 const* bytes, u32 n);
    sptr handoutrun(u8 const* base, u32& readpos, u32& pending, u32 max);
    sptr pullpeer(data** out, u32 max, u32 min);
    sptr gather(data** out, u32 min);
    sptr pushedout(data** out, u32 max, u32 min);
    bool reservepushed(u32 n);
    void drain();
    void freeblocks();
    sptr scanline(char** out);
};

} // namespace kzv
