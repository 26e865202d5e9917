// The hosted build's entry: the C library starts the program and hands main the
// argument and environment vectors, which go into the same start block as in the
// freestanding programs.
#include "../../platform/linux/startblock.h"

int main(int argc, char** argv, char** envp)
{
    return kzv::startblock_run(argc, argv, envp, nullptr);
}
