# Compiler and linker flags per configuration. Warnings are errors everywhere.
set(KZV_WARNINGS -Wall -Wextra -Werror -Wno-unused-parameter)
set(KZV_LANGUAGE -fno-exceptions -fno-rtti -fno-threadsafe-statics -fno-builtin
    -fno-tree-loop-distribute-patterns -ffunction-sections -fdata-sections)
# GCC would compile the loops of memcpy and memset into calls to themselves, hence
# -fno-tree-loop-distribute-patterns; clang has no such flag.
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  list(REMOVE_ITEM KZV_LANGUAGE -fno-tree-loop-distribute-patterns)
endif()
set(KZV_FREESTANDING -ffreestanding -fno-stack-protector -fno-pie -fno-asynchronous-unwind-tables
    -fno-unwind-tables)

if(KZV_TARGET STREQUAL "hosted")
  # GCC leaves float-cast-overflow out of "undefined"; an out-of-range float to
  # integer cast gives a different value on each CPU, so it must be reported too.
  set(KZV_SANITIZE -fsanitize=address,undefined,float-cast-overflow -fno-sanitize-recover=all
      -fno-omit-frame-pointer -g -O1)
  add_compile_options(${KZV_WARNINGS} ${KZV_LANGUAGE} ${KZV_SANITIZE})
  add_link_options(${KZV_SANITIZE})
else()
  if(KZV_TARGET STREQUAL "macos")
    # Mach-O x86-64 code is position independent; there are no C++ library headers
    # (-fno-stack-protector matters here: this target turns it on by default).
    list(REMOVE_ITEM KZV_FREESTANDING -fno-pie)
    # Nothing is exported: the entry is found through LC_MAIN, not by name.
    list(APPEND KZV_FREESTANDING -nostdinc++ -fvisibility=hidden)
  endif()
  if(KZV_TARGET STREQUAL "windows")
    list(REMOVE_ITEM KZV_FREESTANDING -fno-pie -fno-asynchronous-unwind-tables -fno-unwind-tables)
  endif()
  add_compile_options(${KZV_WARNINGS} ${KZV_LANGUAGE} ${KZV_FREESTANDING} ${KZV_ARCH_FLAGS})
  if(KZV_TARGET STREQUAL "macos")
    # libSystem is the one library, through our own stub; nothing unused is kept.
    add_link_options(-fuse-ld=lld -nostdlib -Wl,-dead_strip ${KZV_MACOS_STUB})
  elseif(KZV_TARGET STREQUAL "windows")
    # A console program without the C runtime: our own entry, the three linked
    # system libraries, and libgcc for ___chkstk_ms, which probes the guard pages
    # of frames over 4 KiB (the stack grows only through them). Unwind tables stay:
    # without them the system cannot dispatch an exception past a non-leaf frame,
    # and the unhandled-exception filter would never run.
    add_link_options(-nostdlib -Wl,--subsystem,console -Wl,-e,kzv_winentry -Wl,--gc-sections)
    link_libraries(kernel32 user32 gdi32 gcc)
  elseif(KZV_TARGET STREQUAL "linux")
    # Static, no C library, no interpreter; libgcc is the compiler's own support
    # library (64-bit division on i386, the EABI helpers on ARM).
    add_link_options(-nostdlib -static -no-pie -Wl,--gc-sections -Wl,--build-id=none ${KZV_ARCH_FLAGS})
    link_libraries(gcc)
  endif()
endif()
