#include "video_chips/keltosource.h"

#include "fpga/fpga_manage.h"

keltosource* keltosource::p_kelto_source = nullptr;

keltosource* keltosource::pInstance()
{
    if (!p_kelto_source)
        p_kelto_source = new keltosource();
    return p_kelto_source;
}

int keltosource::initialize()
{
    // Until the input polling thread and its clock synthesiser set-up exist, the clock counts as
    // programmed: FPGA 0 leaves reset and the FPGA worker may bring it up.
    if (fpga_manage* fpga = fpga_manage::p_fpga_manage)
        fpga_manage::gpio_write(fpga->rst_fpga0, 16);
    clock_state[0] = 2;
    return 0;
}
