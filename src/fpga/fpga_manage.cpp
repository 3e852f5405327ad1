#include "fpga_manage.h"

fpga_manage* fpga_manage::p_fpga_manage = nullptr;

fpga_manage* fpga_manage::pInstance()
{
    if (!p_fpga_manage)
        p_fpga_manage = new fpga_manage();
    return p_fpga_manage;
}
