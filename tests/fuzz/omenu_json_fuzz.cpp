// The on-screen menu file ("/data/configs/omenu.json", uploaded by the PC tool): parsed, and its
// first item programmed into the scaler's OSD on the simulated board.
#include "fuzz_board.h"

#include "params/omenu_file.h"
#include "scaler/c331_osd_menu.h"
#include "params/vyrrampara.h"
#include "scaler/c331_manage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzBoard::start();
    static c331_manage* scaler = [] {
        VyrRamPara::pInstance();
        return c331_manage::instanceWithoutWorker();
    }();
    FuzzBoard::writeFile(VyrRamPara::kMenuFilePath, data, size);
    OSD_LIST list;
    get_json_omenu_para(VyrRamPara::kMenuFilePath, &list);
    if (list.osdcount > 0)
        set_OSD_para(list, *scaler, 1920, 1080);
    FuzzBoard::settle();
    return 0;
}
