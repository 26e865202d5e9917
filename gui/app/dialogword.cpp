// The endings are tested in a fixed order and the first match wins: a name that
// ends in "file" opens the file chooser even when it also holds "dir".
#include "dialogword.h"
#include "../../framework/str.h"

namespace kzv {

dialogchoice dialog_fromword(char const* word)
{
    dialogchoice c = {dialog_help, false};
    if (!word || !word[0])
        return c;
    if (streqend(word, "file")) {
        c.kind = dialog_chooser;
    } else if (streqend(word, "dir")) {
        c.kind = dialog_chooser;
        c.dirmode = true;
    } else if (streqend(word, "info")) {
        c.kind = dialog_message;
    } else if (streqend(word, "yes_no") || streqend(word, "yesno")) {
        c.kind = dialog_question;
    }
    return c;
}

char const* dialog_word(char const* programname, char const* firstargument)
{
    if (programname && strstr(programname, "velkra"))
        return firstargument;
    return programname;
}

} // namespace kzv
