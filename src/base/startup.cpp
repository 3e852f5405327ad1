#include "startup.h"

#include "c331_manage.h"
#include "config_engine.h"
#include "delay.h"
#include "logMsg.h"
#include "vyrrampara.h"

void startSystem()
{
    Delay::ms(2000);
    writeLogMsg(LOG_INFO, "vyrR58N starting");
    ConfigEngine::pInstance();
    VyrRamPara::pInstance();
    c331_manage::pInstance();
}
