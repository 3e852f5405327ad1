#include "ui/pages_settings/test_chart.h"

#include "scaler/c331_manage.h"
#include "ui/pagenav.h"
#include "params/block_layout.h"
#include "params/vyrrampara.h"

QPointer<test_chart> g_test_chart;

test_chart::test_chart(QWidget* parent)
    : VyrPage(16, "test_chart", UiText::TitleTestChart, parent)
{
}

void test_chart::slot_Button_back_clicked()
{
    // A pattern must not stay on the LED wall once the page is gone.
    if (VyrRamPara* store = VyrRamPara::p_vyrrampara_config) {
        ScalerHandOver handOver;
        store->block[blk::kTestPattern] = 0;
        handOver.commit();
    }
    PageNav::back(this);
}
