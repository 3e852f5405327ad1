# Cross-build for the box: 32-bit ARM Linux (Debian armhf multiarch libraries).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)

set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabihf /usr/lib/arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
set(CMAKE_PREFIX_PATH /usr/lib/arm-linux-gnueabihf/cmake)

# Tests run under user-mode emulation. The sysroot is "/", where the multiarch libc6:armhf keeps its
# loader and libraries together: /usr/arm-linux-gnueabihf holds the cross toolchain's own (older)
# loader, which crashes in thread start-up when paired with the multiarch libc that Qt comes with.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L /)

# moc, rcc and uic come from the host's Qt tools.
set(QT_HOST_PATH /usr)
