#include "video_chips/sdi_it66121.h"

void it66121_sys::sdi_it66121_init() {}
int it66121_sys::IT66121_Test() { return 0; }
void it66121_sys::IT66121_init() {}
void it66121_sys::HDMITX_DevLoopProc() {}
