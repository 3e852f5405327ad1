#include "params/omenu_file.h"

#include "base/global.h"
#include "base/logMsg.h"
#include "base/utils.h"
#include "params/json_document.h"
#include "platform/paths.h"

#include <QMutexLocker>
#include <boost/property_tree/ptree.hpp>

#include <algorithm>
#include <cstdio>
#include <fstream>

OSD_LIST g_osd_list;

namespace {

namespace pt = boost::property_tree;

// The transfer buffer's size: an upload cannot be larger.
constexpr std::streamsize kMaxFile = 5242880;

// A key that is missing or of the wrong kind leaves the field as it was (empty or 0).
void take(const pt::ptree& tree, const char* key, int32_t& out)
{
    try {
        if (auto v = tree.get_optional<int32_t>(key))
            out = *v;
    } catch (const pt::ptree_error&) {
    }
}

// A number the OSD does arithmetic with, held to what the chip can show (16-bit positions and
// sizes, an 8-bit scroll speed before its scaling, spacings within one glyph advance), so that
// nothing from the file overflows on the way to the registers.
void take(const pt::ptree& tree, const char* key, int32_t& out, int32_t lowest, int32_t highest)
{
    take(tree, key, out);
    out = std::clamp(out, lowest, highest);
}

constexpr int32_t kMaxPosition = 0xFFFF, kMaxSpeed = 255, kMaxSpacing = 255;

void take(const pt::ptree& tree, const char* key, std::string& out)
{
    try {
        if (auto v = tree.get_child_optional(key))
            if (v->empty())
                out = v->data();
    } catch (const pt::ptree_error&) {
    }
}

const pt::ptree* child(const pt::ptree& tree, const char* key)
{
    auto v = tree.get_child_optional(key);
    return v ? &*v : nullptr;
}

bool readWhole(const std::string& file, std::string* text, bool* tooBig)
{
    // Under the file mutex, so an upload being written is read whole or not at all.
    QMutexLocker locker(&Utils::_file_deal_mutex);
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return false;
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    *tooBig = size > kMaxFile;
    if (size < 0 || *tooBig)
        return true;
    in.seekg(0);
    text->resize(size_t(size));
    in.read(&(*text)[0], size);
    text->resize(size_t(in.gcount()));
    return true;
}

void readItem(const pt::ptree& item, OMENU_PARA& m)
{
    take(item, "type", m.type);
    take(item, "status", m.status);
    if (const pt::ptree* pos = child(item, "pos")) {
        take(*pos, "x", m.x, 0, kMaxPosition);
        take(*pos, "y", m.y, 0, kMaxPosition);
        take(*pos, "w", m.w, 0, kMaxPosition);
        take(*pos, "h", m.h, 0, kMaxPosition);
        if (m.type == 0)
            take(*pos, "layer", m.layer);
    }
    if (const pt::ptree* act = child(item, "act")) {
        take(*act, "effect", m.effect);
        take(*act, "speed", m.speed, 0, kMaxSpeed);
        take(*act, "staytime", m.staytime);
    }
    if (m.type == 0) {
        if (const pt::ptree* back = child(item, "backpara")) {
            take(*back, "enable", m.enable);
            take(*back, "color", m.color);
        }
        if (const pt::ptree* font = child(item, "fontpara")) {
            take(*font, "startx", m.startx, 0, kMaxPosition);
            take(*font, "starty", m.starty, 0, kMaxPosition);
            take(*font, "fontw", m.fontw);
            take(*font, "fonth", m.fonth);
            take(*font, "wordspace", m.wordspace, -kMaxSpacing, kMaxSpacing);
            take(*font, "verticalspace", m.verticalspace, -kMaxSpacing, kMaxSpacing);
            take(*font, "color", m.font_color);
        }
        // The value of the first element, of an array or an object alike; none: no text.
        if (const pt::ptree* texts = child(item, "texts"))
            if (!texts->empty() && texts->begin()->second.empty())
                m.texts = texts->begin()->second.data();
    } else if (m.type == 1) {
        if (!child(item, "bmppara"))
            writeLogMsg(LOG_WARNING, "on-screen menu picture item without bmppara");
        take(item, "start", m.start);
        take(item, "end", m.end);
    }
    if (traceOn()) {
        printf("  type: %d , status: %s \n", m.type, m.status.c_str());
        printf("  pos_x: %d , pos_y: %d , pos_w: %d , pos_h: %d \n", m.x, m.y, m.w, m.h);
        printf("  effect: %d , speed: %d , staytime: %d \n", m.effect, m.speed, m.staytime);
        printf("  backpara_enable: %s , backpara_color: %s ,backpara_layer:%s\n", m.enable.c_str(), m.color.c_str(),
               m.layer.c_str());
        printf("  startx: %d , starty: %d , fontw: %d , fonth: %d \n", m.startx, m.starty, m.fontw, m.fonth);
        printf("  wordspace: %d , verticalspace: %d , font_color: %s \n", m.wordspace, m.verticalspace,
               m.font_color.c_str());
        printf("  texts: %s \n", m.texts.c_str());
    }
}

}

uint32_t omenuColour(const std::string& text)
{
    std::string digits = text;
    if (digits.size() == 8)
        digits = digits.substr(2); // a two-character prefix such as "0x"
    if (digits.empty() || digits.size() > 6)
        return 0;
    uint32_t v = 0;
    for (char c : digits) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return 0;
        v = v << 4 | uint32_t(d);
    }
    return v;
}

uint32_t omenuSwapRedBlue(uint32_t c)
{
    return ((c >> 16) & 0xFF) + ((c & 0xFF) << 16) + (c & 0xFF00);
}

void get_json_omenu_para(const char* path, OSD_LIST* out)
{
    if (!out)
        return;
    *out = OSD_LIST{};
    if (!path)
        return;
    const std::string file = platform::Paths::resolve(path);
    std::string text;
    bool tooBig = false;
    if (!readWhole(file, &text, &tooBig))
        return;
    if (tooBig) {
        writeLogMsg(LOG_WARNING, std::string("on-screen menu file ") + path + " too large, not read");
        return;
    }
    pt::ptree doc;
    std::string why;
    const JsonRead read = readJsonDocument(text, &doc, &why);
    if (read == JsonRead::TooDeep) {
        writeLogMsg(LOG_WARNING, std::string("on-screen menu file ") + path + " nested too deeply, not read");
        return;
    }
    if (read == JsonRead::NotJson) {
        if (traceOn())
            printf("json error: %s", why.c_str());
        writeLogMsg(LOG_WARNING, std::string("on-screen menu file ") + path + " is not valid JSON (" + why +
                                     "), deleted");
        // The file that failed, never another: a user mode's copy must not take the uploaded master.
        Utils::system_mutex(QStringLiteral("rm -rf ") + QString::fromStdString(path));
        return;
    }
    if (traceOn())
        printf("\n *************************START OSDS******************************** ");
    std::string name;
    int32_t osdcount = 0, oactcount = 0;
    take(doc, "name", name);
    take(doc, "osdcount", osdcount);
    take(doc, "oactcount", oactcount);
    out->oactcount = oactcount;
    if (osdcount <= 0) {
        out->osdcount = 0;
        return;
    }
    if (traceOn())
        printf(" \n file_name: %s , osdcount: %d , oactcount: %d\n", name.c_str(), osdcount, oactcount);
    const pt::ptree* menu = child(doc, "menu");
    if (!menu || menu->empty()) {
        writeLogMsg(LOG_WARNING, std::string("on-screen menu file ") + path + " has no menu items");
        return;
    }
    int n = 0;
    for (const auto& item : *menu) {
        if (n == 3)
            break;
        if (traceOn())
            printf("\n *************************osd%d start******************************** ", n + 1);
        readItem(item.second, out->menu[n]);
        if (traceOn())
            printf("\n *************************osd%d over******************************** ", n + 1);
        ++n;
    }
    out->osdcount = osdcount;
    if (traceOn())
        printf("\n *************************OSDS OVER******************************** ");
}
