// Writes the fuzz targets' seed corpus (tests/fuzz/corpus/<target>/) from the inputs the tests
// build: frames of every group, file-transfer sequences, cloud and Wi-Fi commands, the JSON files,
// card files, upgrade packages with a real program, INI-like files and stick events.
// Inputs that found a fault stay in the corpus beside these as found_<fault> (not written here).
//   build/fuzz_seeds tests/fuzz/corpus
#include "cloud_settings.h"
#include "rcv_recovery_files.h"
#include "sample_program.h"
#include "upgrade_package_gen.h"

#include "base/bytes.h"
#include "base/md5.h"
#include "comm/file_transfer.h"
#include "comm/message_deal.h"
#include "comm/protocol_phy.h"
#include "params/block_layout.h"
#include "params/vyrrampara.h"
#include "platform/sim/devices/fpga_flash.h"
#include "platform/sim/devices/fpga_network.h"
#include "tools/upgrade_package.h"

#include <QDir>
#include <QFile>
#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {
using Bytes = std::vector<uint8_t>;
QString out;

void seed(const char* target, const char* name, const QByteArray& bytes)
{
    QDir().mkpath(out + "/" + target);
    QFile f(out + "/" + target + "/" + name);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size()) {
        fprintf(stderr, "cannot write %s/%s\n", target, name);
        exit(1);
    }
}
QByteArray q(const Bytes& b) { return QByteArray(reinterpret_cast<const char*>(b.data()), int(b.size())); }
QByteArray q(const std::string& s) { return QByteArray::fromStdString(s); }
Bytes cat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes sealed(Bytes body) // with its XOR check byte
{
    uint8_t x = 0;
    for (uint8_t b : body)
        x ^= b;
    body.push_back(x);
    return body;
}
// Body (destination F100 from the PC tool) with its check byte, stuffed onto the wire. word4: body
// bytes 4-5 (a named read's name length).
Bytes frame(uint8_t group, const Bytes& payload, uint16_t dest = 0xF100, uint8_t byte7 = 0, uint16_t word4 = 0)
{
    Bytes body = {uint8_t(dest), uint8_t(dest >> 8), 0x10, 0xF0, uint8_t(word4), uint8_t(word4 >> 8), 0, byte7, 0, group};
    body.insert(body.end(), payload.begin(), payload.end());
    body = sealed(body);
    Bytes wire(protocol_phy::encoded_max(uint32_t(body.size())));
    protocol_phy phy;
    wire.resize(phy.data_re_transf_meaning(0, wire.data(), body.data(), uint32_t(body.size()), nullptr));
    return wire;
}
Bytes ram(uint32_t address, uint16_t n, const Bytes& data = {})
{
    Bytes p(8, 0);
    putU32(p.data(), address);
    putU16(p.data() + 4, n);
    return cat(p, data);
}
Bytes fileStart(const char* tag, uint32_t length)
{
    Bytes p = {1, 0, 0, uint8_t(tag[0]), uint8_t(tag[1]), uint8_t(tag[2]), uint8_t(tag[3]), 0, 0, 0, 0, 0};
    putU32(p.data() + 8, length);
    return p;
}
Bytes namedStart(const std::string& name, uint8_t type, uint32_t length)
{
    Bytes p = {7, 0, 0, uint8_t(name.size()), 0};
    p.insert(p.end(), name.begin(), name.end());
    p.push_back(type);
    p.resize(p.size() + 4);
    putU32(p.data() + p.size() - 4, length);
    return p;
}
Bytes fileBlock(uint32_t offset, const Bytes& data)
{
    Bytes p(13, 0);
    p[0] = 2;
    putU32(p.data() + 5, offset);
    putU32(p.data() + 9, uint32_t(data.size()));
    return cat(p, data);
}
Bytes fileEnd(const Bytes& data) // with the data's digest, as the tool closes an upload
{
    Bytes p = {3, 0, 0, 0, 0};
    MD5 m(data.data(), data.size());
    return cat(p, Bytes(m.digest(), m.digest() + 16));
}
// The file-transfer target adds the digest to an end of five bytes.
const Bytes kEnd = {3, 0, 0, 0, 0};
Bytes readBlock(uint32_t offset, uint32_t n)
{
    Bytes p(13, 0);
    p[0] = 5;
    putU32(p.data() + 5, offset);
    putU32(p.data() + 9, n);
    return p;
}
// Requests of one group as the file-transfer and cloud targets take them: pieces joined by sep.
QByteArray pieces(const std::vector<Bytes>& list, const char* sep)
{
    QByteArray all;
    for (size_t i = 0; i < list.size(); ++i)
        all += (i ? QByteArray(sep) : QByteArray()) + q(list[i]);
    return all;
}
Bytes text(uint8_t sub, const std::string& t)
{
    Bytes p = {sub};
    p.insert(p.end(), t.begin(), t.end());
    return p;
}

// The cloud settings with the box's id: its FPGA flash's 8 bytes and 8 zeros.
Bytes cloudSettings(const std::string& address, uint16_t port, const std::string& user, const std::string& name)
{
    uint8_t id[16] = {};
    const std::array<uint8_t, 8> flash = platform::Sim::FpgaFlash().uniqueId();
    std::copy(flash.begin(), flash.end(), id);
    return cloudSettingsRequest(id, address, port, user, name);
}

void frames()
{
    constexpr uint16_t kFpga = 0xF200; // a frame for the FPGA side; byte 7 = 2: the second FPGA
    // Reads of the controller's windows: the parameter block, a user mode's record, the device
    // description and both capability tables, the status bytes, the device information, the
    // screenshot's flag, header and picture.
    Bytes windows;
    for (const auto& r : std::vector<std::pair<uint32_t, uint16_t>>{{0x0400, 64}, {0x1000, 64}, {0x600000, 6}, {0x600040, 64},
                                                                    {0x600440, 64}, {0x600880, 8}, {0xA0000000, 256},
                                                                    {0x800000, 2}, {0x800002, 126}, {0x800080, 256}})
        windows = cat(windows, frame(0x61, ram(r.first, r.second)));
    // The FPGA's RAM areas: parameters, the extension (by its two addresses), the port banks, the
    // default and zoom areas, the transmit bank, the command area; written, then read back.
    Bytes fpgaRam;
    for (uint32_t a : {0x00000010u, 0x00000800u, 0x06000010u, 0x01001000u, 0x01002000u, 0x02000000u, 0x02001000u, 0x04000000u,
                       0x05000000u}) {
        fpgaRam = cat(fpgaRam, frame(0x60, ram(a, 8, {1, 2, 3, 4, 5, 6, 7, 8}), kFpga));
        fpgaRam = cat(fpgaRam, frame(0x61, ram(a, 8), kFpga, 2));
    }
    // Registers with an action (11 the controller's flags, 16 factory defaults, 17 the inputs,
    // 160-165 the special ones) and a register of the FPGA.
    Bytes registers;
    for (uint8_t r : {11, 16, 17, 160, 161, 162, 163, 164, 165})
        registers = cat(registers, frame(0xA0, {r, 0x01, 0, 0x01}));
    registers = cat(registers, frame(0xA0, {20, 0xFF, 0, 1}, kFpga));
    const std::vector<std::pair<const char*, Bytes>> list = {
        {"register_write", frame(0xA0, {20, 0xFF, 0, 1})},
        {"register_read", cat(frame(0xA1, {0x04, 0x37}), frame(0xA1, {21, 0}, kFpga, 2))},
        {"registers", registers},
        {"ram_write", frame(0x60, ram(0x0400, 4, {1, 2, 3, 4}))},
        {"ram_read", frame(0x61, ram(0x0400, 64))},
        {"windows", windows},
        {"fpga_ram", fpgaRam},
        {"mode_ram_write", frame(0x60, ram(0x1010, 2, {5, 6}))},
        {"single_para", frame(0xB0, {'1', 0, 54, 17, 0, 60, 1, 0, 93, 1, 0, 6, 50, 0})},
        {"save", frame(0x81, {}, kFpga)},
        {"flash_erase", frame(0x70, {0x00, 0x10, 0x00, 0x03, 1, 1})},
        {"flash_write", frame(0x71, ram(0x03001000, 8, {1, 2, 3, 4, 5, 6, 7, 8}))},
        {"flash_read", cat(frame(0x72, ram(0x03001000, 16)), frame(0x72, ram(0x00480000, 16)))},
        {"scaler_flash", cat(frame(0x70, {0x00, 0x10, 0x00, 0x04, 1, 1}), frame(0x72, ram(0x04001000, 16)))},
        {"card_version", cat(frame(0x82, {}), frame(0x82, {}, kFpga))},
        {"card_uid", frame(0x83, {}, kFpga)},
        {"rtc", frame(0x87, {0x24, 0x20, 0x03, 0x05, 0x07, 0x08, 0x09})},
        {"barcode", cat(frame(0xA2, {30, 8, 0, 'V', 'Y', 'R', '-', '0', '1'}), frame(0xA2, {31}))},
        {"net_set", frame(0xA4, {1, 0, 0, 0, 192, 168, 1, 50, 255, 255, 255, 0, 192, 168, 1, 1, 0x88, 0x13})},
        {"net_search", frame(0xA4, {3})},
        {"device_info", frame(0xA4, {16})},
        {"restart", frame(0x84, {0x02}, kFpga)},
        {"cloud_check", frame(0xC4, text(0, ""))},
        {"cloud_settings", frame(0xC3, cloudSettings("10.1.2.3", 8883, "user", "wall"))},
        {"file_start", frame(0xC0, fileStart("ALIS", 10))},
        // Reads by name: a user mode's file, and a scan file (its name's length in bytes 4-5).
        {"named_reads", cat(frame(0xC0, {8, 0, 0, 0, 0, 'M', 'O', '0', '1', 7}, 0xF100, 0, 4),
                            frame(0xC0, {8, 0, 0, 0, 0, 'w', 'a', 'l', 'l', '.', 'q', 'z', 'f', 'i', 'l', 'e', 13}, 0xF100, 0, 11))},
        // The 4G window (256 bytes at 0xA1000000) written and read whole, and a byte over; the
        // cloud properties then read the modem's version and numbers from it (marker 0xAA).
        {"modem_window", cat(cat(cat(frame(0x60, ram(0xA1000000, 256, cat({0xAA, 0x01, 0x02, 0x03, 0x04}, Bytes(251, 0x34)))),
                                     frame(0x60, ram(0xA1000000, 257, Bytes(257, 0x4E)))),
                                 cat(frame(0x61, ram(0xA1000000, 256)), frame(0x61, ram(0xA1000000, 257)))),
                             frame(0xC4, text(2, "getproperty version iccid imsi imei\r\n")))},
    };
    Bytes stream;
    for (const auto& f : list) {
        seed("dispatch", f.first, q(f.second));
        seed("frame_decode", f.first, q(cat({uint8_t(f.second.size() % 7 + 1)}, f.second)));
        stream = cat(stream, f.second);
    }
    seed("dispatch", "every_group", q(stream));
    const std::string t = "{\"namelist\":{}}";
    seed("dispatch", "alias_upload",
         q(cat(cat(frame(0xC0, fileStart("ALIS", uint32_t(t.size()))), frame(0xC0, fileBlock(0, Bytes(t.begin(), t.end())))),
               frame(0xC0, fileEnd(Bytes(t.begin(), t.end()))))));
}

// Every window, image and table a request addresses, at its end: a range whose last byte is the
// window's last (taken), and the same range a byte further on (its last byte the first one out).
void edges()
{
    constexpr uint16_t kFpga = 0xF200;
    const Bytes two = {0x11, 0x22};
    auto pair = [&](uint8_t group, uint32_t end, uint16_t dest, uint8_t byte7 = 0) {
        const bool write = group == 0x60 || group == 0x71;
        return cat(frame(group, ram(end - 2, 2, write ? two : Bytes{}), dest, byte7),
                   frame(group, ram(end - 1, 2, write ? two : Bytes{}), dest, byte7));
    };
    // The FPGA's images, 1024 bytes each (the default area 2048): parameters, the extension by
    // both its addresses, the port banks, default and zoom, transmit, command area; for FPGA 0,
    // and those of each FPGA for FPGA 1 (byte 7 = 2).
    Bytes writes, reads, second;
    for (uint32_t base : {0x00000000u, 0x00000800u, 0x06000000u, 0x01001000u, 0x01002000u, 0x02000000u, 0x02001000u,
                          0x04000000u, 0x05000000u}) {
        writes = cat(writes, pair(0x60, base + 1024, kFpga));
        reads = cat(reads, pair(0x61, base + 1024, kFpga));
    }
    for (uint32_t base : {0x00000000u, 0x01001000u, 0x01002000u, 0x04000000u})
        second = cat(cat(second, pair(0x60, base + 1024, kFpga, 2)), pair(0x61, base + 1024, kFpga, 2));
    seed("dispatch", "edge_fpga_writes", q(writes));
    seed("dispatch", "edge_fpga_reads", q(reads));
    seed("dispatch", "edge_fpga_second", q(second));
    // The controller: the parameter block, the first and last user-mode record's window, the 4G
    // window; reads across the status registers' end (register 170), the device information,
    // the screenshot's data and the capability tables.
    Bytes controller;
    for (uint32_t end : {0x1000u, 0x2000u, 0x11000u, 0xA1000100u})
        controller = cat(cat(controller, pair(0x60, end, 0xF100)), pair(0x61, end, 0xF100));
    for (uint32_t end : {0x600880u + 170 - 37, 0xA0001000u, 0xA00080u, 0x600840u})
        controller = cat(controller, pair(0x61, end, 0xF100));
    seed("dispatch", "edge_controller", q(controller));
    // Register 169 and 170, of the controller and of the FPGA.
    Bytes registers;
    for (uint8_t r : {169, 170})
        registers = cat(cat(registers, cat(frame(0xA0, {r, 0x01, 0, 0x01}), frame(0xA1, {r, 0}))),
                        cat(frame(0xA0, {r, 0x01, 0, 0x01}, kFpga), frame(0xA1, {r, 0}, kFpga)));
    seed("dispatch", "edge_registers", q(registers));
    // The flashes: FPGA 0's window (region 0), FPGA 1's flash (region 3), the region without a
    // device (8), the FPGA side's flash; written, read, and the last sector erased and the next.
    Bytes flash;
    for (const auto& r : std::vector<std::pair<uint32_t, uint16_t>>{{0x004C0000, 0xF100}, {0x03800000, 0xF100}, {0x08010000, 0xF100},
                                                                    {0x00800000, kFpga}}) {
        flash = cat(cat(flash, pair(0x71, r.first, r.second)), pair(0x72, r.first, r.second));
        for (uint32_t sector : {r.first - 0x1000, r.first}) {
            Bytes erase(6, 0);
            putU32(erase.data(), sector);
            erase[4] = 1;
            erase[5] = 1;
            flash = cat(flash, frame(0x70, erase, r.second));
        }
    }
    seed("dispatch", "edge_flash", q(flash));
    // Single parameters: the last item whole, then one cut short by a byte.
    seed("dispatch", "edge_single_items", q(cat(frame(0xB0, {'1', 0, 6, 50, 0, 6, 51}), frame(0xB0, {'1', 0, 6, 50, 0}))));
}

void fileTransfers()
{
    const Bytes data = PackageGen::pattern(300, 3);
    const Bytes json = {'{', '"', 'n', 'a', 'm', 'e', 'l', 'i', 's', 't', '"', ':', '{', '}', '}'};
    seed("file_transfer", "alias", pieces({fileStart("ALIS", uint32_t(json.size())), fileBlock(0, json), kEnd}, "#C0#"));
    seed("file_transfer", "logo", pieces({fileStart("LOGO", 300), fileBlock(0, data), kEnd}, "#C0#"));
    seed("file_transfer", "kernel", pieces({fileStart("FKRN", 300), fileBlock(0, data), kEnd}, "#C0#"));
    seed("file_transfer", "menu", pieces({fileStart("OSDS", uint32_t(json.size())), fileBlock(0, json), kEnd}, "#C0#"));
    seed("file_transfer", "recovery", pieces({fileStart("QZFX", 300), fileBlock(0, data), kEnd}, "#C0#"));
    seed("file_transfer", "mode_named", pieces({namedStart("MO01.json", 7, uint32_t(json.size())), fileBlock(0, json), kEnd}, "#C0#"));
    seed("file_transfer", "scan_named", pieces({namedStart("wall.qzfile", 13, 600), fileBlock(0, data), fileBlock(300, data), kEnd}, "#C0#"));
    seed("file_transfer", "recovery_named", pieces({namedStart("QZFR", 9, 300), fileBlock(0, data), kEnd}, "#C0#"));
    const Bytes program = sampleProgram();
    std::vector<Bytes> app = {fileStart("FMCU", uint32_t(program.size()))};
    for (size_t at = 0; at < program.size(); at += 4096)
        app.push_back(fileBlock(uint32_t(at), Bytes(program.begin() + long(at), program.begin() + long(std::min(program.size(), at + 4096)))));
    app.push_back(kEnd);
    app.push_back({'A', '0', 14, 0x01, 0, 0x01}); // register 14: put it in place
    seed("file_transfer", "application", pieces(app, "#C0#"));
    seed("file_transfer", "mode_tags", pieces({fileStart("MO01", uint32_t(json.size())), fileBlock(0, json), kEnd, {4, 0, 0, 'M', 'O', '1', '0'},
                                              readBlock(0, 16), {6}}, "#C0#"));
    seed("file_transfer", "read_alias", pieces({{4, 0, 0, 'A', 'L', 'I', 'S'}, readBlock(0, 100), {6}}, "#C0#"));
    // The largest read whose reply (status, sub-command, data) fits the transport's buffer, and
    // one a byte larger.
    seed("file_transfer", "read_largest", pieces({{4, 0, 0, 'A', 'L', 'I', 'S'}, readBlock(0, kMessageBufferSize - 13),
                                                  readBlock(0, kMessageBufferSize - 12), {6}}, "#C0#"));
    // A second tool ('@') starting, sending and ending while the first one's upload is open.
    const Bytes alias(json.begin(), json.end());
    seed("file_transfer", "two_tools", pieces({fileStart("ALIS", uint32_t(json.size())), cat({'@'}, fileStart("LOGO", 20)),
                                               cat({'@'}, fileBlock(0, data)), fileBlock(0, json), cat({'@'}, kEnd), kEnd}, "#C0#"));
    // The edges of the staging buffer and the logo partition (a block ending there, and one a
    // byte further), and of a stored name.
    const Bytes tail = PackageGen::pattern(16, 5);
    seed("file_transfer", "app_at_end", pieces({fileStart("FMCU", kStagingSize), fileBlock(kStagingSize - 15, tail),
                                                fileBlock(kStagingSize - 16, tail), kEnd}, "#C0#"));
    const uint32_t logoRoom = 0x60000 - 372;
    seed("file_transfer", "logo_at_end", pieces({fileStart("LOGO", logoRoom), fileBlock(logoRoom - 15, tail),
                                                 fileBlock(logoRoom - 16, tail), kEnd}, "#C0#"));
    seed("file_transfer", "long_name", pieces({namedStart(std::string(250, 'n') + ".qzfile", 13, 16), fileBlock(0, tail), kEnd}, "#C0#"));
}

void cloud()
{
    seed("cloud_commands", "properties",
         pieces({text(1, "setproperty deviceid:0123456789abcdef01234567 serveraddress:10.20.30.40 serverport:8883 cafilename:ca.cert\r\n"),
                 text(2, "getproperty devicetype serverport serveraddress cafilename catype fingermark version iccid imsi imei\r\n"),
                 text(0, "")}, "#C4#"));
    seed("cloud_commands", "send_file",
         pieces({text(3, "sendfile filename:ca.cert filelen:10 overwrite:1\r\n"),
                 text(4, "sendfiledata fileid:101 offset:0 extlength:10\r\n0123456789"),
                 text(5, "sendfileend fileid:101 filelen:10\r\n"), text(13, "verifyca catype:singleauth\r\n")}, "#C4#"));
    // The last bytes of the staging buffer in the longest block a command takes, and a byte further.
    seed("cloud_commands", "send_at_end",
         pieces({text(3, "sendfile filename:ca.cert filelen:1499\r\n"),
                 text(4, "sendfiledata fileid:101 offset:5241382 extlength:1499\r\n" + std::string(1499, 'c')),
                 text(4, "sendfiledata fileid:101 offset:5241381 extlength:1499\r\n" + std::string(1499, 'c')),
                 text(5, "sendfileend fileid:101 filelen:1499\r\n"), text(6, "sendfilecancel fileid:101\r\n")}, "#C4#"));
    seed("cloud_commands", "recv_file",
         pieces({text(7, "recvfile filename:ca.cert\r\n"), text(7, "recvfile filename:01000121122800057758f80b.cert\r\n"), text(8, "recvfiledata fileid:101 offset:500\r\n"),
                 text(9, "recvfileend fileid:101 filelen:6888 crc32:ab23541d\r\n"), text(10, "recvfilecancel fileid:101\r\n"),
                 text(6, "sendfilecancel fileid:101\r\n")}, "#C4#"));
    seed("cloud_commands", "fixed", pieces({text(11, "x"), text(12, ""), text(14, "x"), Bytes{'C', '3', 11, 'a'}}, "#C4#"));
}

void wifi()
{
    const std::string ifconfig = "wlan0     Link encap:Ethernet  HWaddr 00:E0:4C:81:92:A1  \n"
                                 "          inet addr:192.168.22.101  Bcast:192.168.22.255  Mask:255.255.255.0\n"
                                 "          inet6 addr: fe80::2e0:4cff:fe81:92a1/64 Scope:Link\n";
    seed("wifi_at", "set_and_check", q("AT+SETDATA=2,0,Cafe AP,3,secret123,5,10.1.2.3,5005#AT#AT+CHECKDATA#AT#" + ifconfig));
    seed("wifi_at", "others", q("AT+GETVER#AT#AT+RST#AT#AT+RESTORE#AT#AT+SETDATA=1#AT#AT+SETDATA=3#AT#AT+X#AT#"));
    // The longest SSID and passphrase hostapd takes, then each a byte longer, and each with a line
    // end in it. The target takes the last piece for what ifconfig prints: an empty one follows.
    const std::string ssid(32, 'S'), passphrase(63, 'p');
    seed("wifi_at", "longest", q("AT+SETDATA=2,0," + ssid + ",3," + passphrase + ",5,10.1.2.3,5005#AT#AT+SETDATA=2,0," + ssid +
                                 "s,3," + passphrase + ",5,10.1.2.3,5005#AT#AT+SETDATA=2,0,x,3," + passphrase + "p,5,10.1.2.3,5005#AT#"));
    seed("wifi_at", "line_ends", q("AT+SETDATA=2,0,Cafe\nAP,3,secret123,5,10.1.2.3,5005#AT#AT+SETDATA=2,0,Cafe AP,3,secret\n123,5,10.1.2.3,5005#AT#"));
    // The access point's address either side of each edge of what it takes: the first and last
    // unicast network, loopback, the DHCP pool (150-199), the network and broadcast hosts.
    std::string edges;
    for (const char* address : {"0.1.2.3", "1.0.0.1", "127.0.0.1", "223.1.2.149", "224.1.2.3", "10.1.2.150", "10.1.2.199",
                                "10.1.2.200", "10.1.2.0", "10.1.2.254", "10.1.2.255"})
        edges += std::string(edges.empty() ? "" : "#AT#") + "AT+SETDATA=2,0,Cafe AP,3,secret123,5," + address + ",5005";
    seed("wifi_at", "address_edges", q(edges + "#AT#")); // the last piece: what ifconfig prints
    seed("wifi_at", "open_ap", q("AT+SETDATA=2,1,x,0,,0,192.168.22.101,5005#AT#AT+CHECKDATA#AT#" + ifconfig));
    // The security and channel fields at their edges: the first and last value each takes, and the
    // value just past each; the port either side of the control port in force (5005) and past what
    // a port takes; then the read-back.
    std::string fieldEdges;
    for (const char* fields : {"0,,0,10.1.2.3,5005", "4,secret123,13,10.1.2.3,5005", "5,secret123,5,10.1.2.3,5005",
                               "3,secret123,14,10.1.2.3,5005", "3,secret123,5,10.1.2.3,5004", "3,secret123,5,10.1.2.3,5006",
                               "3,secret123,5,10.1.2.3,65536", "3,secret123,5,10.1.2.3,0"})
        fieldEdges += std::string("AT+SETDATA=2,0,Cafe AP,") + fields + "#AT#";
    seed("wifi_at", "field_edges", q(fieldEdges + "AT+CHECKDATA#AT#" + ifconfig));
    const QByteArray hostapd = "interface=wlan0\nssid=Cafe AP\nchannel=6\nwpa=2\nwpa_passphrase=secret123\n";
    const QByteArray wpa = "network={\nssid=\"home\"\npsk=\"password\"\n}\n";
    QByteArray mode(int(kModeFileSize), '\0');
    mode[0] = mode[1] = char(blk::kMarkerSaved);
    seed("stored_files", "all", mode + "#FILE#" + hostapd + "#FILE#" + wpa + "#FILE#" + q(ifconfig));
    seed("stored_files", "empty_mode", "\xFF\xFF#FILE#ssid=x\n#FILE##FILE#");
}

void jsonFiles()
{
    seed("alias_json", "names", R"({"filename":"x","namelist":{
  "source":[{"id":2,"valid":"on","name":"Camera"},{"id":3,"valid":"off","name":"Stage"},
            {"id":"5","valid":"yes","name":"Laptop \u00e9"},{"valid":"on","name":"NoId"}],
  "win":[{"id":0,"valid":"on","name":"Main"}],
  "crop":[{"id":1,"valid":"on","name":"Left half"}],
  "usermode":[{"id":1,"name":"NoValid"}]}})");
    seed("alias_json", "odd", R"({"namelist":{"source":[{"id":2,"name":{"a":1}}]}})");
    // Ids at the edges of 32 bits: the last in either way, the first out, and ids one and two
    // rounds of 2^32 above the ids the pages look up (0, 1, 5, -1).
    seed("alias_json", "id_edges", R"({"namelist":{"source":[{"id":2147483647,"valid":"on","name":"Max"},)"
                                   R"({"id":-2147483648,"valid":"on","name":"Min"},{"id":2147483648,"valid":"on","name":"Over"},)"
                                   R"({"id":-2147483649,"valid":"on","name":"Under"},{"id":4294967296,"valid":"on","name":"Zero?"},)"
                                   R"({"id":"4294967297","valid":"on","name":"One?"},{"id":8589934597,"valid":"on","name":"Five?"},)"
                                   R"({"id":4294967295,"valid":"on","name":"MinusOne?"}]}})");
    auto item = [](const std::string& texts) {
        return R"({"type":0,"status":"on","pos":{"x":10,"y":20,"w":300,"h":100,"layer":"top"},)"
               R"("act":{"effect":2,"speed":5,"staytime":3},"backpara":{"enable":"on","color":"123456"},)"
               R"("fontpara":{"startx":4,"starty":6,"fontw":32,"fonth":32,"wordspace":1,"verticalspace":2,"color":"FF0000"},)"
               R"("texts":[")" + texts + R"("],"start":0,"end":10})";
    };
    auto menu = [](int count, const std::string& items) {
        return q(R"({"name":"menu","osdcount":)" + std::to_string(count) + R"(,"oactcount":7,"menu":[)" + items + "]}");
    };
    const std::string hello = item("Hello\\nWorld");
    seed("omenu_json", "one_item", menu(1, hello));
    seed("omenu_json", "three_items", menu(3, hello + "," + hello + "," + hello));
    // The edges of the scaler's text: 64 lines of 128 characters (one kept for the end of a line).
    auto lines = [](int count, size_t length, const std::string& unit) {
        std::string t;
        for (int n = 0; n < count; ++n) {
            for (size_t i = 0; i < length; ++i)
                t += unit;
            if (n + 1 < count)
                t += "\\n";
        }
        return t;
    };
    seed("omenu_json", "lines_64_of_127", menu(1, item(lines(64, 127, "x"))));
    seed("omenu_json", "lines_65_of_128", menu(1, item(lines(65, 128, "y"))));
    seed("omenu_json", "wide_64th_line_of_129", menu(1, item(lines(63, 1, "a") + "\\n" + lines(1, 129, "\xe4\xb8\xad"))));
    // UTF-8 at the edges of each form, a line each: the first and last character in, then the
    // bytes just past (overlong, surrogates, past U+10FFFF); and text that is no menu at all, with
    // stray and cut-short sequences the JSON reader would refuse.
    seed("omenu_json", "utf8_edges",
         menu(1, item("\xDF\xBF\xC2\x80\xC1\xBF\\n\xE0\xA0\x80\xEF\xBF\xBF\xE0\x9F\xBF\\n\xED\x9F\xBF\xEE\x80\x80\xED\xA0\x80\xED\xBF\xBF"
                      "\\n\xF0\x90\x80\x80\xF4\x8F\xBF\xBF\xF0\x8F\xBF\xBF\xF4\x90\x80\x80\\n\xEF\xBF\xBD\\ud83d\\ude00")));
    seed("omenu_json", "no_menu_text", "Hello \xE4\xB8\n\x80\xBF\xF8\xFF\xE4\xB8\xAD\xF0\x9F\x98\n\xC3");
}

void cardFiles()
{
    using namespace CardFiles;
    Op ramWrite;
    ramWrite.targetAddr = 0x1000;
    ramWrite.data = QByteArray(2500, '\x5A');
    Op reg;
    reg.target = 2;
    reg.data = QByteArray::fromHex("0500010A");
    Op save;
    save.type = 2;
    save.data.clear();
    Op pause;
    pause.type = 6;
    pause.timeticks = 10;
    Screen s;
    s.configId = 0x11223344;
    s.nets = {Net{0, {{reg}, {save}}}, Net{1, {{}, {}, {ramWrite}, {pause}}}};
    s.para = {reg, save};
    // The operations sent as one card command: firmware activation, reconfiguration, card search,
    // a user-defined command.
    std::vector<Op> commands;
    for (uint8_t type : {3, 5, 7, 16}) {
        Op c;
        c.type = type;
        c.target = 2;
        c.data = QByteArray::fromHex("01020304");
        commands.push_back(c);
    }
    s.nets[1].cards[1] = commands;
    const QByteArray qzfx = packedFile({s});
    std::vector<Op> scanOps = {reg, ramWrite, save, pause};
    scanOps.insert(scanOps.end(), commands.begin(), commands.end());
    const QByteArray scan = scanFile(scanOps);
    seed("card_files", "qzfx", qzfx);
    seed("card_files", "scan", scan);
    seed("card_replay", "scan_port1", QByteArray(1, char(0x12)) + scan); // 0x12 % 3 = 0: job 2; bits 4-5: port 1
    seed("card_replay", "query", QByteArray(1, char(1)) + qzfx); // job 5
    seed("card_replay", "recovery", QByteArray(1, char(2)) + qzfx); // job 6
    seed("card_replay", "recovery_of_a_card", QByteArray(1, char(0x41)) + qzfx); // job 6 (0x41 % 3 = 2) after a query that finds a card (bit 6)
}

void packages()
{
    PackageGen::Package p;
    PackageGen::Entry app;
    app.type = 10;
    app.file = sampleProgram();
    PackageGen::Entry fpga;
    fpga.type = 7;
    fpga.file = PackageGen::fpgaImage(PackageGen::pattern(512, 1));
    PackageGen::Entry font;
    font.type = 13;
    font.file = PackageGen::font(1, 32, 600);
    p.entries = {app, fpga, font};
    seed("upgrade_package", "app_fpga_font", PackageGen::build(p));
    PackageGen::Package fonts;
    PackageGen::Entry cn = font, fpga1 = fpga;
    cn.file = PackageGen::font(0, 64, 300);
    fpga1.type = 8;
    fonts.entries = {cn, fpga1};
    seed("upgrade_package", "font_fpga1", PackageGen::build(fonts));
    seed("upgrade_package", "program", q(sampleProgram()));
    // Entries that fill their flash areas exactly, and one a byte over: their last entry's file is
    // cut after its header and the target's "#ZEROS#" trailer gives the rest as zeros.
    auto filling = [](uint8_t type, std::vector<uint8_t> head, uint32_t length, int64_t imageLength) {
        PackageGen::Package big;
        PackageGen::Entry e;
        e.type = type;
        e.file = std::move(head);
        e.lenOverride = imageLength < 0 ? length : 64 + imageLength;
        big.entries = {e};
        QByteArray bytes = PackageGen::build(big);
        const uint32_t zeros = uint32_t(49 + 21 + uint64_t(e.lenOverride) - uint64_t(bytes.size()));
        Bytes n(4);
        putU32(n.data(), zeros);
        return bytes + "#ZEROS#" + q(n);
    };
    const uint32_t fpgaRoom = 0x6C0000;
    seed("upgrade_package", "fpga_fills_area", filling(7, PackageGen::fpgaImage({}, fpgaRoom), 0, fpgaRoom));
    seed("upgrade_package", "fpga_over_area", filling(8, PackageGen::fpgaImage({}, fpgaRoom + 1), 0, fpgaRoom + 1));
    seed("upgrade_package", "font_fills_slot", filling(13, PackageGen::font(1, 32, 35), 0x10000, -1));
    seed("upgrade_package", "font_over_slot", filling(13, PackageGen::font(1, 64, 35), 0x40001, -1));
    seed("upgrade_package", "app_fills_staging", filling(10, sampleProgram(), kStagingSize, -1));
}

void edid()
{
    const struct {
        const char* name;
        uint8_t input;
        uint16_t w, h, rate;
    } rows[] = {{"1080p60", 0, 1920, 1080, 60}, {"uhd30", 4, 3840, 2160, 30}, {"wide", 5, 4095, 1080, 60}, {"odd", 2, 1280, 720, 75},
                // The descriptor's widest field and the receivers' clocks (300 and 600 MHz), and just beyond.
                {"too_wide", 5, 4096, 1080, 30}, {"clock_at_limit", 0, 1920, 1080, 126}, {"clock_over_limit", 1, 1920, 1080, 127},
                {"uhd60", 4, 3840, 2160, 60}, {"uhd61", 5, 3840, 2160, 61}};
    for (const auto& r : rows) {
        Bytes b = {r.input, 0, 0, 0, 0, 0, 0};
        putU16(b.data() + 1, r.w);
        putU16(b.data() + 3, r.h);
        putU16(b.data() + 5, r.rate);
        seed("edid_request", r.name, q(b));
    }
}

void usb()
{
    const std::string dev = "/devices/platform/ehci/usb1/1-1/1-1:1.0/host0/target0:0:0/0:0:0:0";
    auto event = [](const std::string& action, const std::string& path) {
        std::string e = action + "@" + path;
        e += '\0';
        e += "ACTION=" + action;
        e += '\0';
        e += "DEVPATH=" + path;
        e += '\0';
        e += "SUBSYSTEM=block";
        e += '\0';
        return e;
    };
    const std::string mounts = "/dev/root / ext4 rw 0 0\n/dev/sda1 /mnt/usb1 vfat rw,relatime 0 0\n";
    seed("usb_events", "stick_in", q(event("add", dev + "/block/sda") + "#EV#" + event("add", dev + "/block/sda/sda1") + "#EV#" + mounts));
    seed("usb_events", "stick_out", q(event("remove", dev + "/block/sda/sda1") + "#EV#" + event("remove", dev + "/block/sda") + "#EV#"));
    // Events of the receive buffer's size (8192 bytes) and one byte over, padded behind the header.
    auto padded = [&](size_t length) {
        std::string e = event("add", dev + "/block/sda/sda1") + "PAD=";
        e.resize(length, 'p');
        return e;
    };
    seed("usb_events", "buffer_edges", q(padded(8192) + "#EV#" + padded(8193) + "#EV#" + mounts));
}

// The card link: replies as the LED network returns them to the box's own packets and to PC
// frames, the PC frames themselves, and worker passes between them.
void cardLink()
{
    using platform::Sim::LedNetwork;
    LedNetwork net;
    for (int port : {0, 1, 5, 12}) {
        net.port(port).linked = true;
        net.port(port).cards.resize(size_t(port % 4 + 1));
    }
    net.port(12).multifunction.present = true;
    uint8_t serial = 0x20;
    auto pc = [&serial](uint16_t dest, uint8_t selector, uint8_t portByte, uint8_t group, const Bytes& data) {
        Bytes b = {uint8_t(dest), uint8_t(dest >> 8), 0x10, 0xF0, 0x10, ++serial, selector, portByte, 0, group};
        b.insert(b.end(), data.begin(), data.end());
        return sealed(b);
    };
    auto search = [](int port) { // as the worker searches a port
        Bytes b(29, 0);
        putU16(b.data(), uint16_t(((port % 4) << 12) + 0x0FFE));
        putU16(b.data() + 2, 0xF000);
        b[4] = 0x10;
        b[5] = 0xAA;
        b[6] = 0xFF;
        b[7] = uint8_t(port + 1);
        b[9] = 0x10;
        return sealed(b);
    };
    auto box = [](uint16_t dest, uint8_t group, const Bytes& data) {
        Bytes b = {uint8_t(dest), uint8_t(dest >> 8), 0x00, 0xF0, 0x10, 0x30, 0x00, 0, 0, group};
        b.insert(b.end(), data.begin(), data.end());
        return sealed(b);
    };
    // Replies keep a good check byte through the fuzzer's changes with 48 added (the target sets it).
    auto op = [](uint8_t kind, int port, bool sealing = false) { return uint8_t(kind + 3 * port + (sealing ? 48 : 0)); };
    auto piece = [&](uint8_t code, const Bytes& b) { return cat({code}, b); };
    auto answers = [&](int port, const Bytes& packet) {
        std::vector<Bytes> out;
        for (const Bytes& r : net.deliver(port, packet))
            out.push_back(piece(op(1, port), r));
        return out;
    };
    std::vector<Bytes> replies;
    for (int port : {0, 1, 5, 12})
        for (const Bytes& r : answers(port, search(port)))
            replies.push_back(r);
    replies.back()[0] = op(1, 12, true);
    // The multifunction card's sensor bytes (dest F000: kept for the brightness task) and a RAM
    // read by the box past the 129 bytes it keeps.
    for (const Bytes& r : answers(12, box(0x4000, 0x61, cat(ram(0x02000000, 128), {}))))
        replies.push_back(r);
    for (const Bytes& r : answers(5, box(0x0000, 0x61, ram(0x100, 300))))
        replies.push_back(r);
    seed("card_link", "replies", pieces(replies, "#RX#"));
    // Search replies at the lengths the link tells apart: 11 (head), 14, 15 (count and flag), 25
    // (an error-search's result), and the whole 1024-byte RX buffer.
    std::vector<Bytes> edges;
    for (size_t n : {11u, 14u, 15u, 25u, 1024u}) {
        Bytes r = {0x00, 0xF0, 0x01, 0x10, 0x10, 0xAA, 0xFF, 2, 0, 0x10, 0, 7, 0, 0};
        r.resize(n - 1, 0);
        edges.push_back(piece(op(1, 1, true), sealed(r)));
    }
    // A byte past the port byte's edge: a search reply on pair 0 naming port 5 (pair 2), with a
    // count of its own.
    edges.push_back(piece(op(1, 1, true), sealed({0x00, 0xF0, 0x01, 0x10, 0x10, 0xAA, 0xFF, 6, 0, 0x10, 0, 7, 0, 0})));
    seed("card_link", "reply_lengths", pieces(edges, "#RX#"));
    // PC frames: one card by the port byte, all cards of every port, by the destination's port
    // bits, the multifunction card; each with worker passes for the merge after it.
    const Bytes passes = piece(op(2, 0), {20});
    seed("card_link", "pass_through",
         pieces({piece(0, pc(0x0001, 0, 2, 0x61, ram(0x100, 8))), passes,
                 piece(0, pc(0x0FFF, 1, 255, 0x61, ram(0x100, 4))), passes,
                 piece(0, pc(0x1002, 1, 0, 0xA0, {0x00, 0x0F, 1, 5})), passes,
                 piece(0, pc(0x4000, 1, 13, 0x61, ram(0x02000000, 64))), piece(op(2, 0), {250})}, "#RX#"));
    // A frame passed, then a reply of the cards for it arriving on the wire.
    const Bytes asked = pc(0x0001, 0, 6, 0x61, ram(0x100, 8));
    std::vector<Bytes> forwarded = {piece(0, asked)};
    for (const Bytes& r : answers(5, asked))
        forwarded.push_back(r);
    seed("card_link", "answer_forwarded", pieces(forwarded, "#RX#"));
    // The last port a frame can name (16) and the first it cannot (17), by the port byte alone and
    // by the selectors that also take the destination's port bits.
    std::vector<Bytes> edgePorts;
    for (uint8_t selector : {0, 1})
        for (uint8_t portByte : {16, 17})
            edgePorts.push_back(piece(0, pc(0x0001, selector, portByte, 0x61, ram(0x100, 8))));
    seed("card_link", "port_edges", pieces(edgePorts, "#RX#"));
    // Answers that come late: a frame whose answer the transport has not yet looked for when the
    // next frame is passed (op bit 1, then bit 0), for a single card and for every port.
    const uint8_t unpolled = 3 * 2, late = 3 * 1, both = 3 * 3;
    seed("card_link", "late_answers",
         pieces({piece(unpolled, pc(0x0001, 0, 2, 0x61, ram(0x100, 8))), piece(late, pc(0x0002, 0, 2, 0x61, ram(0x100, 4))),
                 piece(unpolled, pc(0x0FFF, 1, 255, 0x61, ram(0x100, 4))), piece(late, pc(0x0001, 0, 6, 0x61, ram(0x100, 4))),
                 piece(both, pc(0x0001, 0, 13, 0x61, ram(0x100, 4))), piece(late, pc(0x0000, 0, 1, 0x61, ram(0x100, 2)))},
                "#RX#"));
    // The smart mapping job (op 47) on the ports the target gives cards (port 1: 4, port 5: 3,
    // port 0: 2): a wall of exactly as many cabinets as cards, and walls of one cabinet fewer, in
    // each family of wiring (snaking rows and columns, straight rows and columns).
    auto mapping = [&](int port, int rows, int columns, int type) {
        Bytes b(12, 0);
        putU16(b.data(), 64);
        putU16(b.data() + 2, 32);
        putU16(b.data() + 4, 5);
        putU16(b.data() + 6, 7);
        b[8] = uint8_t(port);
        b[9] = uint8_t(rows);
        b[10] = uint8_t(columns);
        b[11] = uint8_t(type);
        return piece(47, b);
    };
    seed("card_link", "mapping_fills_the_wall", pieces({mapping(1, 2, 2, 1), mapping(1, 2, 2, 6)}, "#RX#"));
    seed("card_link", "mapping_cards_beyond",
         pieces({mapping(1, 1, 3, 4), mapping(5, 2, 1, 8), mapping(0, 1, 1, 10), mapping(1, 3, 1, 16)}, "#RX#"));
}

// What a PC tool sends the TCP and UDP transports: the first byte the transport (bit 0 UDP) and
// a tool that reads its replies only at the end (bit 1), then its writes or datagrams.
void transports()
{
    const Bytes reads = cat(cat(frame(0xA1, {0x04, 0x37}), frame(0x61, ram(0x0400, 64))), frame(0xA4, {16}));
    // Two frames for card 1 of port 0 (port byte 1) with serials of their own (byte 5), a request
    // between them.
    const Bytes card = frame(0x61, ram(0x100, 8), 0x0001, 1, 0x2100), card2 = frame(0x61, ram(0x100, 8), 0x0001, 1, 0x2200);
    const std::string t = "{\"namelist\":{}}";
    const Bytes upload = cat(cat(frame(0xC0, fileStart("ALIS", uint32_t(t.size()))), frame(0xC0, fileBlock(0, Bytes(t.begin(), t.end())))),
                             frame(0xC0, fileEnd(Bytes(t.begin(), t.end()))));
    // Cut inside a frame, inside an escape, between frames.
    const QByteArray stream = q(cat(reads, upload));
    auto cut = [](const QByteArray& all, std::initializer_list<int> at) {
        QByteArray out;
        int from = 0;
        for (int a : at) {
            out += all.mid(from, a - from) + "#NET#";
            from = a;
        }
        return out + all.mid(from);
    };
    seed("transport", "tcp_requests", QByteArray(1, 0) + cut(stream, {5, 17, int(reads.size()), stream.size() - 3}));
    seed("transport", "udp_requests", QByteArray(1, 1) + cut(stream, {int(reads.size()) / 2, int(reads.size())}));
    seed("transport", "tcp_card", QByteArray(1, 0) + q(cat(cat(card, frame(0xA1, {0x04, 0x37})), card2)));
    seed("transport", "udp_card", QByteArray(1, 1) + q(card) + "#NET#" + q(frame(0xA1, {0x04, 0x37})) + "#NET#" + q(card2));
    // Replies beyond the socket buffers (the client's 256 KiB in the kernel) while the tool does
    // not read: the transport holds back.
    Bytes large;
    for (int i = 0; i < 80; ++i)
        large = cat(large, frame(0x61, ram(0x1000 * uint32_t(i % 16 + 1), 0x1000)));
    seed("transport", "tcp_held_back", QByteArray(1, 2) + q(large) + "#NET#" + q(reads));
    // A write or datagram longer than 4 KiB in one piece: a RAM write of a whole mode record.
    const QByteArray longWrite = q(frame(0x60, ram(0x1000, 4000, Bytes(4000, 0x5A))));
    seed("transport", "tcp_long_write", QByteArray(1, 0) + longWrite + "#NET#" + q(reads));
    seed("transport", "udp_long_datagram", QByteArray(1, 1) + longWrite + "#NET#" + q(reads));
    // Reads of zeros whose reply fills one datagram exactly (the head, status, data and check
    // byte, none of them escaped, take 16 bytes on the wire beside the data), and one a byte over,
    // which is refused.
    const uint32_t fits = 65507 - 16;
    seed("transport", "udp_reply_edge",
         QByteArray(1, 1) + q(cat(frame(0x61, ram(0xFD000000, uint16_t(fits))), frame(0x61, ram(0xFD000000, uint16_t(fits + 1))))));
}

// Files read whole: the parameter file, the stick's folder, an upgrade package.
void storedFiles()
{
    QByteArray para(reinterpret_cast<const char*>(default_para_ramlist), int(kBlockSize));
    // Crops in use, one at each end of the numbers a source has, one beyond them.
    const uint16_t crops[] = {blk::crop::idWord(0, 1), blk::crop::idWord(5, 40), blk::crop::idWord(2, 41), blk::crop::idWord(6, 1)};
    for (uint32_t k = 0; k < 4; ++k)
        putU16(reinterpret_cast<uint8_t*>(para.data()) + 2 + blk::cropField(k, blk::crop::kId) - kPersistStart, crops[k]);
    seed("files", "params_saved", QByteArray("\x00\x00", 2) + para);
    seed("files", "params_short", QByteArray("\x00\x00", 2) + para.left(0x100));
    seed("files", "params_long", QByteArray("\x00\x00", 2) + para + QByteArray(16, '\x77'));
    QByteArray marked = para;
    marked[1] = char(blk::kMarkerEmpty);
    seed("files", "params_bad_marker", QByteArray("\x00\x00", 2) + marked);
    seed("files", "params_missing", QByteArray("\x00\x01", 2));
    seed("files", "params_folder", QByteArray("\x00\x02", 2));
    // The stick: files, a link to one, a folder, hidden and misnamed files.
    auto entry = [](char kind, const QByteArray& name) { return "#NAME#" + QByteArray(1, kind) + name; };
    const QByteArray names = entry(0, "a.VYR") + entry(0, "b.VYRZK") + entry(0, ".hidden.VYR") + entry(1, "link.VYR") +
                             entry(2, "folder.VYR") + entry(3, "dirlink.VYRZK") + entry(0, "lower.vyr") + entry(0, "c.VYR.bak");
    seed("files", "stick_root", "\x01 " + names);
    seed("files", "stick_folder", "\x01upgrade/r58" + names);
    seed("files", "stick_up", "\x01../../data" + names); // the program's own /data
    for (int n : {100, 101}) {
        QByteArray many = "\x01 ";
        for (int i = 0; i < n; ++i)
            many += entry(0, QByteArray::number(i) + ".VYR");
        seed("files", n == 100 ? "stick_100" : "stick_101", many);
    }
    // Packages: an application, an FPGA image of one sector and a bit, a font shorter than the
    // page that holds its header; fonts of the other slots and an FPGA 1 image.
    auto entryOf = [](uint8_t type, const Bytes& file) {
        PackageGen::Entry e;
        e.type = type;
        e.file = file;
        return e;
    };
    const Bytes image = PackageGen::fpgaImage(PackageGen::pattern(4100, 1));
    PackageGen::Package p;
    p.entries = {entryOf(10, sampleProgram()), entryOf(7, image), entryOf(13, PackageGen::font(1, 32, 200))};
    seed("files", "upgrade_app_fpga_font", "\x02" + PackageGen::build(p));
    PackageGen::Package fonts;
    fonts.entries = {entryOf(13, PackageGen::font(0, 64, 300)), entryOf(8, image), entryOf(7, image)};
    fonts.publishType = 0x80;
    seed("files", "upgrade_fonts_fpga1", "\x02" + PackageGen::build(fonts));
    // Entries passed over or refused: text for a program, an empty image, a type of no use here;
    // the installed program's version with "skip installed"; a package of another controller.
    const std::string text = "not a program";
    PackageGen::Package odd;
    odd.entries = {entryOf(10, Bytes(text.begin(), text.end())), entryOf(7, PackageGen::fpgaImage({})), entryOf(99, {1, 2, 3})};
    seed("files", "upgrade_refused", "\x02" + PackageGen::build(odd));
    PackageGen::Package installed;
    installed.entries = {entryOf(10, sampleProgram())};
    std::copy(upgrade::kInstalledAppVersion, upgrade::kInstalledAppVersion + 6, installed.entries[0].version);
    installed.publishType = 0x80;
    seed("files", "upgrade_installed", "\x02" + PackageGen::build(installed));
    PackageGen::Package other = p;
    other.controllerType = 0x1234;
    seed("files", "upgrade_other_controller", "\x02" + PackageGen::build(other));
}
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: fuzz_seeds <corpus folder>\n");
        return 2;
    }
    out = QString::fromLocal8Bit(argv[1]);
    frames();
    edges();
    fileTransfers();
    cloud();
    wifi();
    jsonFiles();
    cardFiles();
    packages();
    edid();
    usb();
    cardLink();
    transports();
    storedFiles();
    return 0;
}
