// Exits with status 42 through the i386 system call gate, with nothing else:
// the build runs it to learn whether this kernel executes 32-bit x86 programs.
extern "C" void _start()
{
    __asm__ volatile("movl $1, %%eax\n\tmovl $42, %%ebx\n\tint $0x80" ::: "memory");
}
