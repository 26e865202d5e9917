// Which dialog a run shows. The word is the program's own name (its base name
// without the last extension), or the first argument when that name contains
// "velkra"; it is matched by its ending, so a link named choosedir opens the
// folder chooser. Any other word, and none, means the help text.
#pragma once
#include "../../framework/types.h"

namespace kzv {

enum dialogkind : u32 {
    dialog_help = 0,        // no dialog: the help text
    dialog_chooser = 1,     // file or folder chooser
    dialog_message = 2,
    dialog_question = 3,
};

struct dialogchoice {
    dialogkind kind;
    bool dirmode;           // the folder chooser
};

// The dialog for one word; null or empty gives the help text.
dialogchoice dialog_fromword(char const* word);
// The word of this run: the program name, or argument 0 after a name holding "velkra".
char const* dialog_word(char const* programname, char const* firstargument);

} // namespace kzv
