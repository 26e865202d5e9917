# velkra-linux-arm: static, freestanding ARMv5T (ARM state, soft float), run under qemu.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_CXX_COMPILER arm-linux-gnueabi-g++)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm;-cpu;arm926)
set(KZV_TARGET linux CACHE STRING "" FORCE)
set(KZV_ARCH arm CACHE STRING "" FORCE)
set(KZV_ARCH_FLAGS -march=armv5t -marm -mfloat-abi=soft)
