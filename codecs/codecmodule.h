// The common head of the codec modules: the module header with typed access to
// its 16-bit flag word, the header's flags byte (low) and state byte (high).
#pragma once
#include "../framework/module.h"

namespace kzv {

class codecmodule : public module {
public:
    u16 flagword() const { return (u16)(flags | state << 8); }
    bool hasflag(u16 f) const { return (flagword() & f) != 0; }
    void setflag(u16 f)
    {
        flags |= (u8)f;
        state |= (u8)(f >> 8);
    }
    void clearflag(u16 f)
    {
        flags &= (u8)~f;
        state &= (u8)~(f >> 8);
    }
};

} // namespace kzv
