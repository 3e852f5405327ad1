#pragma once
#include <QString>

// Every text of the front panel, one literal per language: 0 simplified Chinese, 1 English,
// 2 Russian, 3 Vietnamese, 4 traditional Chinese; any other language value shows English.
enum class UiText {
    BarRecall,
    BarStore,
    Using,
    TipUsbIn,
    TipUsbOut,
    TipUsbReading,
    LedSize,
    TitleMachineState,
    TitleInputChoose,
    TitleCustomMode,
    TitleOption,
    TitleOutputSet,
    TitleInputCut,
    TitleEDIDset,
    TitleImageLayout,
    TitleLinkOption,
    TitleImageQuality,
    TitleAdvancedOption,
    TitleLedset,
    TitleNetset,
    TitleLcdshow,
    TitleTestChart,
    TitleOthersetup,
    TitleFactory,
    TitleQuality,
    TitleTemperature,
    TitleLinkcom,
    TitleLinkwlan,
    TitleFactoryage,
    TitleSmartMapping,
    TitleRcvRecovery,
    TitleUsbUpgrade,
    Upgrading,
    SettingsNotSaved,
    StoreFailed,
    Count
};

int languageColumn(int language); // 0-4; English for every unknown value
QString uiText(UiText id);        // in g_language
QString uiText(UiText id, int language);
