// Group 0xC4: text commands of the cloud service (link check, properties, certificate upload,
// the receive stubs, CA verification) and group 0xC3 sub-command 11, the scrambled cloud settings.
#include "comm/cloud_commands.h"

#include "comm/file_transfer.h"
#include "comm/message_deal.h"
#include "base/delay.h"
#include "base/global.h"
#include "base/logMsg.h"
#include "base/posix_lock.h"
#include "base/utils.h"
#include "fpga/fpga_manage.h"
#include "params/config_engine.h"
#include "platform/paths.h"

#include <QMutexLocker>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iterator>
#include <vector>

uint8_t g_4G_property[k4GPropertySize];

namespace {
constexpr const char* kPropertyFile = "/data/configs/cloud_barcode";
constexpr const char* kCaFile = "/data/configs/cloud_cafile";
constexpr const char* kKnownCa = "01000121122800057758f80b.cert";
constexpr int kFileId = 101;
constexpr int kKnownCaLength = 6888;
constexpr uint32_t kDeviceType = 35666;
constexpr uint32_t kMaxPropertyText = 256;
uint32_t g_4gsendfile_len = 0;
uint32_t g_4gsendfile_staging = 0; // the uploads' staging changes when sendFile cleared the buffer

// The certificate upload belongs to the host whose sendFile opened it (request_peer::host), so a
// tool that reconnects, or sends each command from a new connection or source port, goes on.
// Until its end or cancel, or 30 s of its silence, another host's sendFile is refused, and the
// data and ends of any host but the last owner are refused always, so an end stores only the
// bytes its own upload counted. Touched under Utils::_file_deal_mutex.
constexpr const char* kOtherHost = "Another host's upload in progress.";
constexpr const char* kNoneStarted = "No upload started.";
struct CertificateUpload {
    bool open = false;  // between an accepted sendFile and its owner's end or cancel
    bool owned = false; // a sendFile has named an owner since power-up
    uint64_t owner = 0; // its host
    bool gone = false;  // cancelled or dropped for silence: its data and end are refused
    uint32_t heard = 0; // G_timeTicks of the owner's last request

    void dropIfSilent()
    {
        if (open && Utils::getTimeSpace(heard) >= file_transfer::kIdleTicks) {
            open = false;
            gone = true;
        }
    }
    // Why the peer may not start an upload; nullptr when it may.
    const char* startRefused(uint64_t peer)
    {
        dropIfSilent();
        return open && owner != request_peer::host(peer) ? kOtherHost : nullptr;
    }
    // Why the peer's data, end or cancel do not go on; nullptr when they do.
    const char* continueRefused(uint64_t peer)
    {
        dropIfSilent();
        if (!owned || (owner == request_peer::host(peer) && !gone))
            return nullptr;
        return open ? kOtherHost : kNoneStarted;
    }
};
CertificateUpload certificate;

// Why the peer's sendFile or data may not use the staging buffer; nullptr when they may. A group
// 0xC0 transfer holds it for its own connection.
const char* uploadRefused(uint64_t peer, bool starting)
{
    if (!file_transfer::stagingFreeFor(peer))
        return "File transfer in progress.";
    return starting ? certificate.startRefused(peer) : certificate.continueRefused(peer);
}

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...)
{
    char text[message_deal_4g::kReplyArea + 1];
    va_list args;
    va_start(args, fmt);
    const int n = vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    return n < 0 ? std::string() : std::string(text, std::min<size_t>(size_t(n), sizeof text - 1));
}

std::string failure(const char* name, int code, const char* why)
{
    return format("%s %d extLength:%d\r\n%s", name, code, int(strlen(why)), why);
}

// Pairs "key:value" after a command word. Keys are lower-cased and end at ':' or after 19
// characters; values end at a blank or carriage return, or after maxValue characters. A pair is
// handed over when its value ends; the scan stops at a line feed (a value it ends is not handed over).
struct Scan {
    bool word = false;       // the command word was found
    int pairs = 0;           // pairs handed over
    size_t end = 0;          // index of the character that ended the scan (or the text's size)
    bool stopped = false;    // the callback ended the scan
    size_t start = 0;        // first character behind the separator
};
Scan scanPairs(const std::string& text, const char* word, size_t maxValue,
               const std::function<bool(const std::string&, const std::string&)>& pair)
{
    Scan s;
    std::string lower(text.size(), 0);
    for (size_t i = 0; i < text.size(); ++i)
        lower[i] = char(tolower(static_cast<unsigned char>(text[i])));
    const size_t at = lower.find(word);
    if (at == std::string::npos)
        return s;
    s.word = true;
    size_t i = at + strlen(word) + 1; // the separator is skipped
    s.start = i;
    std::string key, value;
    bool inValue = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\n')
            break;
        if (!inValue) {
            if (c == ':' || key.size() >= 19)
                inValue = true;
            else
                key.push_back(char(tolower(static_cast<unsigned char>(c))));
            continue;
        }
        if (c == ' ' || c == '\r' || value.size() >= maxValue) {
            ++s.pairs;
            if (!pair(key, value)) {
                s.stopped = true;
                break;
            }
            key.clear();
            value.clear();
            inValue = false;
            continue;
        }
        value.push_back(c);
    }
    s.end = i;
    return s;
}

int toInt(const std::string& v)
{
    return int(strtol(v.c_str(), nullptr, 10));
}

// A count or an offset. A sign, or a number too large for 64 bits, gives UINT64_MAX, which every
// bound refuses: strtoull would turn "-32" into a huge value that wraps in a sum.
uint64_t toCount(const std::string& v)
{
    if (v.find('-') != std::string::npos)
        return UINT64_MAX;
    errno = 0;
    const unsigned long long n = strtoull(v.c_str(), nullptr, 10);
    return errno == ERANGE ? UINT64_MAX : uint64_t(n);
}

// The one file id the box hands out: any other refuses the file command with 330.
void checkFileId(const std::string& value, const char* name, std::string& reply)
{
    if (toInt(value) != kFileId)
        reply = failure(name, 330, "Invaild file ID.");
}

// What a file command answers before its own work: nothing without its word, the refusal its pairs
// left in reply, its bare name after an unknown key or without pairs. False: the command goes on.
bool answeredByPairs(const Scan& s, const char* name, bool unknown, std::string& reply)
{
    if (!s.word)
        reply.clear();
    else if (reply.empty() && (unknown || s.pairs == 0))
        reply = name;
    return !s.word || !reply.empty();
}

// Decimal digits only (one to five), of a value no larger than max.
bool decimalUpTo(const std::string& text, int max)
{
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    return toInt(text) <= max;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = char(tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// One property pair into the record; false for an unknown key or a malformed value.
bool takeProperty(uint8_t* p, const std::string& key, const std::string& value, bool idText)
{
    if (key == "deviceid") {
        if (value.size() != 24)
            return false;
        for (size_t i = 0; i < 12; ++i) {
            const int h = hexValue(value[2 * i]), l = hexValue(value[2 * i + 1]);
            if (h < 0 || l < 0)
                return false;
            p[25 + i] = uint8_t(h * 16 + l);
        }
        if (idText) {
            for (size_t i = 0; i < 24; ++i)
                p[i] = uint8_t(toupper(static_cast<unsigned char>(value[i])));
            p[24] = 0;
        }
        return true;
    }
    if (key == "cafilename") {
        memset(p + 37, 0, 28);
        memcpy(p + 37, value.data(), std::min<size_t>(28, value.size()));
        p[65] = 0;
        return true;
    }
    if (key == "catype") {
        p[67] = 0;
        return true;
    }
    // A number that does not fit its byte or word is no value: kept, it would wrap (300 as 44).
    if (key == "serveraddress") {
        uint8_t parts[4];
        memcpy(parts, p + 68, sizeof parts);
        size_t from = 0;
        for (int part = 0; part < 4 && from <= value.size(); ++part) {
            const size_t dot = value.find('.', from);
            const std::string text = value.substr(from, dot == std::string::npos ? std::string::npos : dot - from);
            if (!decimalUpTo(text, 255))
                return false;
            parts[part] = uint8_t(toInt(text));
            if (dot == std::string::npos)
                break;
            from = dot + 1;
        }
        memcpy(p + 68, parts, sizeof parts);
        return true;
    }
    if (key == "serverport") {
        if (!decimalUpTo(value, 65535))
            return false;
        const int port = toInt(value);
        p[126] = uint8_t(port);
        p[127] = uint8_t(port >> 8);
        return true;
    }
    return false;
}

// A server address as the next start reads it back: exactly four parts. Fewer would be mixed
// with the parts in force now and read back as zeros; more would be cut off.
bool fourParts(const std::string& value)
{
    return std::count(value.begin(), value.end(), '.') == 3;
}

// The property file: 0xAA, the text's length (big-endian u16), then the pairs behind the command
// word as setproperty took them.
enum class StoredText { Missing, NotText, TooLong, Text };
StoredText readPropertyText(std::string* text)
{
    FILE* file = fopen(platform::Paths::resolve(kPropertyFile).c_str(), "rb");
    if (!file)
        return StoredText::Missing;
    uint8_t head[3] = {};
    const bool complete = fread(head, 1, 3, file) == 3;
    const uint32_t L = uint32_t(head[1]) << 8 | head[2];
    StoredText result = StoredText::NotText;
    if (complete && head[0] == 0xAA && L > kMaxPropertyText) {
        result = StoredText::TooLong;
    } else if (complete && head[0] == 0xAA) {
        text->assign(L, '\0');
        text->resize(fread(&(*text)[0], 1, L, file));
        result = StoredText::Text;
    }
    fclose(file);
    return result;
}

// The stored properties the command sets do not name, as "key:value " pairs: the file holds every
// property in force, so one set by an earlier command is still there at the next start.
std::string keptProperties(const std::vector<std::string>& named)
{
    std::string text;
    if (readPropertyText(&text) != StoredText::Text)
        return std::string(); // nothing the start would take
    std::string kept;
    uint8_t scratch[k4GPropertySize] = {};
    scanPairs(" " + text, "", 49, [&](const std::string& k, const std::string& v) {
        // Only what the reader takes, or it would stop at it and lose the pairs behind.
        if (!takeProperty(scratch, k, v, true))
            return false;
        if (std::find(named.begin(), named.end(), k) == named.end())
            kept += k + ":" + v + " ";
        return true;
    });
    return kept;
}

int bcd(uint8_t b)
{
    return (b >> 4) * 10 + (b & 0x0F);
}

std::string cString(const uint8_t* p, size_t max)
{
    return std::string(reinterpret_cast<const char*>(p), strnlen(reinterpret_cast<const char*>(p), max));
}
}

int message_deal_4g::get_4G_property()
{
    std::string text;
    const StoredText stored = readPropertyText(&text);
    if (stored == StoredText::Missing) {
        if (traceOn())
            printf("\n CLOUD_BARCODE_FILE OPEN FAILED 1 ");
        return 1;
    }
    if (stored == StoredText::TooLong)
        return 1;
    int result = 1;
    if (stored == StoredText::Text) {
        // The stored text starts behind the command word; parse it as the pairs it holds.
        bool unknown = false;
        int taken = 0;
        const Scan s = scanPairs(" " + text, "", 49, [&](const std::string& k, const std::string& v) {
            if (!takeProperty(g_4G_property, k, v, true)) {
                unknown = true;
                return false;
            }
            ++taken;
            return true;
        });
        (void)s;
        result = taken > 0 && !unknown ? 0 : 1;
    }
    uint8_t ram[k4GRamSize]; // another transport may be writing the window
    copy4GRam(ram);
    if (ram[0] == 0xAA) {
        const uint32_t version = uint32_t(1000000 * bcd(ram[1]) + 10000 * bcd(ram[2]) + 100 * bcd(ram[3]) + bcd(ram[4]));
        memcpy(g_4G_property + 128, &version, 4);
        memcpy(g_4G_property + 72, ram + 5, 20);
        g_4G_property[92] = 0;
        memcpy(g_4G_property + 93, ram + 25, 15);
        g_4G_property[108] = 0;
        memcpy(g_4G_property + 109, ram + 40, 15);
        g_4G_property[124] = 0;
    }
    return result;
}

uint32_t message_deal_4g::message_deal_4G(MessageFrame& f)
{
    const uint8_t sub = f.at(10);
    if (sub >= 14)
        return f.status(5, 2);
    if (sub == 12) {
        f.status(0, 3);
        f.body[11] = 12;
        return 3;
    }
    // The text is scanned only up to the frame's end, and never further than 2,048 characters.
    const uint32_t available = f.length > 11 ? f.length - 11 : 0;
    const std::string text(reinterpret_cast<const char*>(f.body + 11), std::min(available, kMaxScan));
    std::string reply;
    {
        QMutexLocker lock(&Utils::_file_deal_mutex);
        reply = run(sub, text, f.body + 11, available, f.peer);
    }
    if (reply.size() > kReplyArea)
        reply.resize(kReplyArea);
    const uint32_t r = uint32_t(reply.size()) + 3;
    if (!f.fits(r))
        return f.status(1, 2);
    f.status(0, r);
    f.body[11] = sub;
    memcpy(f.body + 12, reply.data(), reply.size());
    return r;
}

namespace {

// One text command as the handlers see it: text is the command text (from body byte 11 up to the
// frame's end or the scan limit); data/dataLength everything from body byte 11 to the frame's end
// (sendFileData's payload); peer the sender, who may use the staging buffer only while no other's
// upload is open.
struct CloudRequest {
    message_deal_4g& cloud;
    const std::string& text;
    const uint8_t* data;
    uint32_t dataLength;
    uint64_t peer;
};

std::string checkLink(const CloudRequest& r)
{
    if (r.cloud.get_4G_property() == 0)
        return format("checkLink 200 deviceID:%s deviceType:%#x\r\n", cString(g_4G_property, 24).c_str(), kDeviceType);
    return format("checkLink 200 deviceType:%#x\r\n", kDeviceType);
}

std::string setProperty(const CloudRequest& r)
{
    const std::string& text = r.text;
    uint8_t scratch[k4GPropertySize];
    memcpy(scratch, g_4G_property, sizeof scratch);
    bool bad = false;
    std::vector<std::string> named;
    const Scan s = scanPairs(text, "setproperty", 49, [&](const std::string& k, const std::string& v) {
        bad = (k == "serveraddress" && !fourParts(v)) || !takeProperty(scratch, k, v, false);
        named.push_back(k);
        return !bad;
    });
    // Everything behind the separator up to and including the character that ended the scan,
    // behind the stored pairs it leaves in force.
    const size_t start = std::min(s.start, text.size());
    const std::string stored = s.word && !bad ? keptProperties(named) : std::string();
    const size_t length = stored.size() + std::min(s.end + 1, text.size()) - start;
    if (!s.word || bad || s.pairs == 0 || length > kMaxPropertyText)
        return failure("setProperty", 310, "Invalid property.");
    std::string file(3, '\0');
    file[0] = char(0xAA);
    file[1] = char(length >> 8);
    file[2] = char(length);
    file += stored;
    file.append(text, start, length - stored.size());
    const bool ok = file_transfer::writeVerified(kPropertyFile, reinterpret_cast<const uint8_t*>(file.data()), uint32_t(file.size()));
    Utils::system_plain(QStringLiteral("sync"));
    Delay::ms(100);
    if (!ok)
        return failure("setProperty", 320, "file create failed.");
    return "setProperty 200\r\n";
}

std::string getProperty(const CloudRequest& r)
{
    r.cloud.get_4G_property();
    std::string reply = "getProperty 200";
    bool bad = false, any = false;
    std::string lower(r.text);
    for (char& c : lower)
        c = char(tolower(static_cast<unsigned char>(c)));
    size_t at = lower.find("getproperty");
    if (at == std::string::npos)
        return failure("getProperty", 310, "Invaild property.");
    std::string name;
    const uint8_t* p = g_4G_property;
    for (size_t i = at + 12; i < lower.size() && lower[i] != '\n' && !bad; ++i) {
        if (lower[i] != ' ' && lower[i] != '\r') {
            name.push_back(lower[i]);
            continue;
        }
        std::string item;
        if (name == "deviceid")
            item = " deviceID:" + cString(p, 24);
        else if (name == "devicetype")
            item = format(" deviceType:%#x", kDeviceType);
        else if (name == "cafilename")
            item = " caFileName:" + cString(p + 37, 29);
        else if (name == "catype")
            item = format(" caType:%d", p[67]);
        else if (name == "version")
            item = format(" version:%u", uint32_t(p[128] | p[129] << 8 | p[130] << 16 | uint32_t(p[131]) << 24));
        else if (name == "serveraddress")
            item = format(" serverAddress:%d.%d.%d.%d", p[68], p[69], p[70], p[71]);
        else if (name == "serverport")
            item = format(" serverPort:%d", p[126] | p[127] << 8);
        else if (name == "imei")
            item = " IMEI:" + cString(p + 109, 16);
        else if (name == "iccid")
            item = " ICCID:" + cString(p + 72, 21);
        else if (name == "imsi")
            item = " IMSI:" + cString(p + 93, 16);
        else if (name != "fingermark" && name != "msisdn")
            bad = true;
        any = true;
        name.clear();
        // The reply area holds 512 bytes: a list that would not fit is refused whole.
        if (reply.size() + item.size() + 2 > message_deal_4g::kReplyArea)
            bad = true;
        reply += item;
    }
    if (bad || !any)
        return failure("getProperty", 310, "Invaild property.");
    return reply + "\r\n";
}

std::string sendFile(const CloudRequest& r)
{
    int code = 0;
    const char* why = nullptr;
    bool unknown = false;
    const Scan s = scanPairs(r.text, "sendfile", 49, [&](const std::string& k, const std::string& v) {
        if (k == "filename") {
            if (v == kKnownCa) {
                code = 321;
                why = "file already exist.";
            }
        } else if (k == "filelen") {
            if (toInt(v) >= 32768 || v.size() > 9) {
                code = 322;
                why = "Not enough space.";
            }
        } else if (k != "overwrite") {
            unknown = true;
        }
        return code == 0 && !unknown;
    });
    if (!s.word)
        return failure("sendFile", 320, "file create failed.");
    if (code)
        return failure("sendFile", code, why);
    if (unknown || s.pairs == 0)
        return "sendFile";
    if (const char* why = uploadRefused(r.peer, true))
        return failure("sendFile", 320, why);
    memset(fileBuf_kelto, 0, kStagingSize);
    g_4gsendfile_len = 0;
    g_4gsendfile_staging = file_transfer::stagingChanges();
    certificate = {true, true, request_peer::host(r.peer), false, G_timeTicks.load()};
    return format("sendFile 200 fileID:%d\r\n", kFileId);
}

std::string sendFileData(const CloudRequest& r)
{
    const std::string& text = r.text;
    std::string reply;
    bool unknown = false, haveLength = false;
    uint64_t offset = 0, ext = 0;
    const Scan s = scanPairs(text, "sendfiledata", 49, [&](const std::string& k, const std::string& v) {
        if (k == "fileid") {
            checkFileId(v, "sendFileData", reply);
        } else if (k == "offset") {
            offset = toCount(v);
        } else if (k == "extlength") {
            ext = toCount(v);
            haveLength = true;
            if (ext > 1499)
                reply = failure("sendFileData", 332, "Invaild file length.");
        } else {
            unknown = true;
        }
        return reply.empty() && !unknown;
    });
    if (answeredByPairs(s, "sendFileData", unknown, reply))
        return reply;
    // The data follow the line feed; they must lie inside the frame and the buffer. ext is at
    // most 1,499 here, so neither bound can wrap.
    const bool lineFeed = s.end < text.size() && text[s.end] == '\n';
    const uint64_t dataStart = uint64_t(s.end) + 1;
    if (!haveLength || !lineFeed || dataStart + ext > r.dataLength || offset > kStagingSize - ext)
        return failure("sendFileData", 332, "Invaild file length.");
    if (const char* why = uploadRefused(r.peer, false))
        return failure("sendFileData", 320, why);
    memcpy(fileBuf_kelto + offset, r.data + dataStart, size_t(ext));
    g_4gsendfile_len += uint32_t(ext);
    certificate.heard = G_timeTicks.load();
    return format("sendFileData 200 fileID:%d\r\n", kFileId);
}

std::string sendFileEnd(const CloudRequest& r)
{
    std::string reply;
    bool unknown = false;
    // Another's upload is not compared with: the end is refused below whatever length it names.
    const char* notOwn = certificate.continueRefused(r.peer);
    const bool own = !notOwn;
    const Scan s = scanPairs(r.text, "sendfileend", 49, [&](const std::string& k, const std::string& v) {
        if (k == "fileid") {
            checkFileId(v, "sendFileEnd", reply);
        } else if (k == "filelen") {
            if (own && (v.size() > 10 || strtoull(v.c_str(), nullptr, 10) != g_4gsendfile_len))
                reply = failure("sendFileEnd", 332, "File length mismatch.");
        } else if (k != "crc32") {
            unknown = true;
        }
        return reply.empty() && !unknown;
    });
    if (answeredByPairs(s, "sendFileEnd", unknown, reply))
        return reply;
    if (!own)
        return failure("sendFileEnd", 320, notOwn);
    certificate.open = false;
    // An empty certificate would replace the stored one with nothing the cloud link can use.
    if (g_4gsendfile_len == 0 || g_4gsendfile_len > kStagingSize)
        return failure("sendFileEnd", 332, "Invaild file length.");
    // An upload that changed the buffer since sendFile left other bytes than the ones counted.
    if (file_transfer::stagingChanges() != g_4gsendfile_staging)
        return failure("sendFileEnd", 320, "file create failed.");
    const bool ok = file_transfer::writeVerified(kCaFile, fileBuf_kelto, g_4gsendfile_len);
    Utils::system_plain(QStringLiteral("sync"));
    Delay::ms(100);
    if (!ok)
        return failure("sendFileEnd", 320, "file create failed.");
    return format("sendFileEnd 200 fileID:%d\r\n", kFileId);
}

// sendFileCancel and recvFileCancel: the id is checked; done tells that it was accepted.
std::string cancelTransfer(const char* name, const char* word, const std::string& text, bool* done = nullptr)
{
    std::string reply;
    bool unknown = false;
    const Scan s = scanPairs(text, word, 49, [&](const std::string& k, const std::string& v) {
        if (k != "fileid")
            unknown = true;
        else
            checkFileId(v, name, reply);
        return !unknown && reply.empty();
    });
    if (answeredByPairs(s, name, unknown, reply))
        return reply;
    if (done)
        *done = true;
    return format("%s 200 fileID:%d\r\n", name, kFileId);
}

// The owner's cancel ends its upload, whose bytes no end stores then; another host's changes nothing.
std::string sendFileCancel(const CloudRequest& r)
{
    bool done = false;
    const std::string reply = cancelTransfer("sendFileCancel", "sendfilecancel", r.text, &done);
    if (done && !certificate.continueRefused(r.peer)) {
        certificate.open = false;
        certificate.gone = true;
    }
    return reply;
}

std::string recvFile(const CloudRequest& r)
{
    int result = 0; // 1 known, 2 unknown name
    bool unknown = false;
    const Scan s = scanPairs(r.text, "recvfile", 49, [&](const std::string& k, const std::string& v) {
        if (k != "filename") {
            unknown = true;
            return false;
        }
        result = v == kKnownCa ? 1 : 2;
        return result == 1;
    });
    if (!s.word)
        return std::string();
    if (result == 2)
        return failure("recvFile", 334, "File not exist.");
    if (unknown || result == 0)
        return "recvFile";
    return format("recvFile 200  fileID:%d fileLen:%d\r\n", kFileId, kKnownCaLength);
}

std::string recvFileData(const CloudRequest& r)
{
    std::string reply;
    bool unknown = false;
    const Scan s = scanPairs(r.text, "recvfiledata", 49, [&](const std::string& k, const std::string& v) {
        if (k == "fileid") {
            checkFileId(v, "recvFileData", reply);
        } else if (k == "offset") {
            const long long o = strtoll(v.c_str(), nullptr, 10);
            if (o > 500)
                reply = format("recvFileData 331 extLength:15\r\nValue of offset(%d) exceeds the file length(500)",
                               int(std::min<long long>(o, INT32_MAX)));
        } else {
            unknown = true;
        }
        return reply.empty() && !unknown;
    });
    if (answeredByPairs(s, "recvFileData", unknown, reply))
        return reply;
    return format("recvFileData 200 fileID:%d offset:%d extLength:%d\r\n", kFileId, 0, 715);
}

std::string recvFileEnd(const CloudRequest& r)
{
    std::string reply;
    bool unknown = false;
    const Scan s = scanPairs(r.text, "recvfileend", 49, [&](const std::string& k, const std::string& v) {
        if (k == "fileid") {
            checkFileId(v, "recvFileEnd", reply);
        } else if (k == "filelen") {
            if (v.size() > 10 || toInt(v) != kKnownCaLength)
                reply = failure("recvFileEnd", 333, "File length mismatch.");
        } else if (k == "crc32") {
            if (v != "ab23541d")
                reply = failure("recvFileEnd", 334, "CRC32 mismatch.");
        } else {
            unknown = true;
        }
        return reply.empty() && !unknown;
    });
    if (answeredByPairs(s, "recvFileEnd", unknown, reply))
        return reply;
    return format("recvFileEnd 200 fileID:%d\r\n", kFileId);
}

std::string recvFileCancel(const CloudRequest& r)
{
    return cancelTransfer("recvFileCancel", "recvfilecancel", r.text);
}

std::string checkOnline(const CloudRequest&)
{
    return "checkOnline 200 onlineType:4Gcat1\r\n";
}

std::string verifyCA(const CloudRequest& r)
{
    bool ok = false, fail = false;
    const Scan s = scanPairs(r.text, "verifyca", 199, [&](const std::string& k, const std::string& v) {
        if (k == "catype") {
            if (v == "singleauth") {
                ok = true;
                return false;
            }
            ok = false;
        } else if (k == "verifystr") {
            ok = true;
        } else {
            fail = true;
            return false;
        }
        return true;
    });
    if (!s.word)
        return std::string();
    if (ok && !fail)
        return "verifyCA 200 verifyCode:quietmapleroad\r\n";
    return failure("verifyCA", 360, "Not find CA file.");
}

// By sub-command; 12 (the acknowledgement) is answered before any text is read.
using CloudCommand = std::string (*)(const CloudRequest&);
constexpr CloudCommand kCommands[] = {
    checkLink, setProperty, getProperty, sendFile, sendFileData, sendFileEnd, sendFileCancel,
    recvFile, recvFileData, recvFileEnd, recvFileCancel, checkOnline, nullptr, verifyCA,
};

}

std::string message_deal_4g::run(uint8_t sub, const std::string& text, const uint8_t* data, uint32_t dataLength,
                                 uint64_t peer)
{
    const CloudCommand command = sub < std::size(kCommands) ? kCommands[sub] : nullptr;
    return command ? command({*this, text, data, dataLength, peer}) : std::string();
}

uint32_t message_deal::project_set_setproperty(MessageFrame& f)
{
    const uint8_t* b = f.body;
    auto refuse = [&f] {
        f.status(11, 3);
        f.body[11] = 10;
        return 3u;
    };
    fpga_manage* fpga = fpga_manage::p_fpga_manage;
    if (!fpga || f.length < 63)
        return refuse();
    const uint8_t* K = b + 12;
    uint8_t id[16], known = 0;
    {
        PosixLock cache(fpga->reg_mutex);
        memcpy(id, fpga->control_uid, sizeof id);
    }
    for (int i = 0; i < 16; ++i) {
        known |= id[i];
        if (uint8_t(b[44 + i] ^ K[8 + i]) != id[i])
            return refuse();
    }
    if (!known) // the flash id is not read yet (or cannot be): an all-zero id is no secret
        return refuse();
    auto plain = [&](uint32_t p) { return uint8_t(b[p] ^ K[(p - 60) % 32]); };
    // Each count is checked against the frame before the bytes it announces are read.
    auto text = [&](uint32_t from, uint32_t n, std::string* out) {
        if (uint64_t(from) + n > f.length)
            return false;
        out->clear();
        for (uint32_t i = 0; i < n; ++i)
            out->push_back(char(plain(from + i)));
        return true;
    };
    const uint32_t a = plain(62);
    std::string address, user, name;
    if (!text(63, a, &address) || uint64_t(66) + a > f.length)
        return refuse();
    const uint16_t port = uint16_t(plain(63 + a) | plain(64 + a) << 8);
    const uint32_t u = plain(65 + a);
    if (!text(66 + a, u, &user) || uint64_t(67) + a + u > f.length)
        return refuse();
    const uint32_t c = plain(66 + a + u);
    if (!text(67 + a + u, c, &name))
        return refuse();
    if (traceOn())
        printf("cloud settings: total %u, address %u, user %u, name %u\n", unsigned(plain(60) | plain(61) << 8),
               unsigned(a), unsigned(u), unsigned(c));
    const QString server = QString::fromLatin1(address.data(), int(address.size()));
    const QString userId = QString::fromLatin1(user.data(), int(user.size()));
    const QString controller = QString::fromLatin1(name.data(), int(name.size()));
    // Stored first, all four in one write: settings the next start would not find are not put in
    // force, and the tool is told.
    ConfigEngine* config = ConfigEngine::p_config;
    const bool stored = config && config->write_config_variants({{ConfigItem::SkyhubServerIp, server},
                                                                 {ConfigItem::SkyhubServerPort, QString::number(port)},
                                                                 {ConfigItem::SkyhubUserIp, userId},
                                                                 {ConfigItem::SkyhubControllerName, controller}});
    if (stored) {
        g_skyhub_cloudserverip = server;
        g_skyhub_cloudserverport = port;
        g_skyhub_clouduserid = userId;
        g_skyhub_controllername = controller;
        Utils::system_plain(QStringLiteral("sync"));
        Delay::us(100);
        g_skyhub_cloud = 1;
    } else {
        writeLogMsg(LOG_ERROR, "cloud settings: the configuration could not be written, nothing changed");
    }
    const uint32_t r = f.status(stored ? 0 : 1, 3);
    f.body[11] = 11;
    return r;
}
