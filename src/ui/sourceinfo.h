#pragma once
#include <QString>
#include <cstdint>

class QLabel;

// How the six inputs are called, in which order the pages list them (HDMI1-4, DVI, EXT), their
// colours in rich text and their icons. Ids are those of the block (0 EXT, 1 DVI, 2-5 HDMI1-4).
class sourceinfo {
public:
    sourceinfo() = delete;
    static QString get_source_name_by_sourceid(uint8_t id);
    static QString get_source_name_by_listseq(uint8_t position);
    static uint8_t get_source_id_by_listseq(uint8_t position);
    static uint8_t get_listseq_by_source_id(uint8_t id);
    static QString get_source_specialstyle0_by_sourceid(uint8_t id);
    static QString get_source_specialstyle1_by_sourceid(uint8_t id, const QString& name, uint8_t count);
    static void set_source_pixmap(QLabel* label, uint8_t id);
    static void set_sourceonline_pixmap(QLabel* label, uint8_t id, uint8_t online);
    // The picture paths behind the two setters ("" for an id above 5).
    static QString iconPath(uint8_t id);
    static QString onlineIconPath(uint8_t id, bool online);
};
