#include "startup.h"

#include "c331_manage.h"
#include "config_engine.h"
#include "delay.h"
#include "fpga_manage.h"
#include "keltosource.h"
#include "logMsg.h"
#include "networkmanage.h"
#include "vyrrampara.h"

void startSystem()
{
    Delay::ms(2000);
    writeLogMsg(LOG_INFO, "vyrR58N starting");
    ConfigEngine::pInstance();
    VyrRamPara::pInstance();
    keltosource::pInstance();
    fpga_manage::pInstance();
    keltosource::p_kelto_source->initialize();
    c331_manage::pInstance();
    networkManage::pInstance();
}
