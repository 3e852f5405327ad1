// Cloud text commands (group 0xC4) and the scrambled cloud settings (0xC3 sub-command 11): the
// replies, the property and certificate files under the root, and what refused text leaves alone.
#include "cloud_settings.h"
#include "message_deal_fixture.h"

#include "base/global.h"
#include "comm/cloud_commands.h"
#include "params/config_engine.h"
#include "test_root.h"

#include <QDir>
#include <QSettings>
#include <cstdio>

namespace {

class CloudCommands : public MessageDealTest {
protected:
    void SetUp() override
    {
        MessageDealTest::SetUp();
        ConfigEngine::pInstance();
        memset(g_4G_RAM, 0, k4GRamSize);
    }
    // Runs one text command; the reply text (status 0 and the sub-command checked).
    std::string cloud(uint8_t sub, const std::string& text, const std::string& after = std::string(),
                      uint64_t peer = request_peer::kLocal)
    {
        std::vector<uint8_t> p = {0x00, 0xF1, 0x10, 0xF0, 0, 0, 0, 0, 0, 0xC4, sub};
        p.insert(p.end(), text.begin(), text.end());
        p.insert(p.end(), after.begin(), after.end());
        const uint32_t r = deal(p, kMessageBufferSize, peer);
        EXPECT_GE(r, 3u);
        EXPECT_LE(r, 515u);
        EXPECT_EQ(buf[10], 0);
        EXPECT_EQ(buf[11], sub);
        return r < 3 ? std::string() : std::string(buf.begin() + 12, buf.begin() + 12 + (r - 3));
    }
    static QString ini(const char* key)
    {
        QSettings s(QString::fromStdString(TestRoot::path(ConfigEngine::kIniPath)), QSettings::IniFormat);
        return s.value(QString("config/") + key).toString();
    }
};

TEST_F(CloudCommands, FixedAnswers)
{
    EXPECT_EQ(send(kController, 0xC4, {14, 'x'}), 2u);
    EXPECT_EQ(buf[10], 5);
    EXPECT_EQ(send(kController, 0xC4, {12}), 3u);
    EXPECT_EQ(buf[11], 12);
    EXPECT_EQ(cloud(11, "anything"), "checkOnline 200 onlineType:4Gcat1\r\n");
    EXPECT_EQ(cloud(11, "anything").size(), 35u);
    EXPECT_EQ(cloud(0, ""), "checkLink 200 deviceType:0x8b52\r\n");
    EXPECT_EQ(send(kController, 0xC3, {12}), 0u);
}

TEST_F(CloudCommands, PropertiesAreStoredAndReadBack)
{
    const std::string set = "setproperty deviceid:0123456789abcdef01234567 serveraddress:10.20.30.40 "
                            "serverport:8883 cafilename:ca.cert\r\n";
    EXPECT_EQ(cloud(1, set), "setProperty 200\r\n");
    const QByteArray file = TestRoot::readFile("/data/configs/cloud_barcode");
    const QByteArray text = QByteArray::fromStdString(set.substr(12)); // behind the separator, up to the end
    ASSERT_EQ(file.size(), 3 + text.size());
    EXPECT_EQ(uint8_t(file[0]), 0xAA);
    EXPECT_EQ((uint8_t(file[1]) << 8) | uint8_t(file[2]), text.size());
    EXPECT_EQ(file.mid(3), text);

    EXPECT_EQ(cloud(0, ""), "checkLink 200 deviceID:0123456789ABCDEF01234567 deviceType:0x8b52\r\n");
    EXPECT_EQ(cloud(2, "GETPROPERTY devicetype serverport\r\n"), "getProperty 200 deviceType:0x8b52 serverPort:8883\r\n");
    EXPECT_EQ(cloud(2, "getproperty serveraddress cafilename catype fingermark \n"),
              "getProperty 200 serverAddress:10.20.30.40 caFileName:ca.cert caType:0\r\n");

    // The modem's window supplies version and identities.
    std::vector<uint8_t> ram = {0xAA, 0x01, 0x02, 0x03, 0x04};
    const std::string iccid = "89860012345678901234", imsi = "460001234567890", imei = "867530900011122";
    ram.insert(ram.end(), iccid.begin(), iccid.end());
    ram.insert(ram.end(), imsi.begin(), imsi.end());
    ram.insert(ram.end(), imei.begin(), imei.end());
    EXPECT_EQ(writeRam(0xA1000000, ram), 0);
    EXPECT_EQ(cloud(2, "getproperty version iccid imsi imei\r\n"),
              "getProperty 200 version:1020304 ICCID:" + iccid + " IMSI:" + imsi + " IMEI:" + imei + "\r\n");

    // What an earlier command set is still in force at the next start, which reads only the file.
    EXPECT_EQ(cloud(1, "setproperty serverport:80 \n"), "setProperty 200\r\n");
    memset(g_4G_property, 0, k4GPropertySize);
    EXPECT_EQ(cloud(2, "getproperty serveraddress serverport cafilename\r\n"),
              "getProperty 200 serverAddress:10.20.30.40 serverPort:80 caFileName:ca.cert\r\n");
    EXPECT_EQ(cloud(0, ""), "checkLink 200 deviceID:0123456789ABCDEF01234567 deviceType:0x8b52\r\n");
}

TEST_F(CloudCommands, RefusedPropertiesChangeNothing)
{
    ASSERT_EQ(cloud(1, "setproperty serverport:65535 serveraddress:255.255.255.0 \n"), "setProperty 200\r\n");
    ASSERT_EQ(cloud(1, "setproperty serverport:1 \n"), "setProperty 200\r\n");
    const QByteArray before = TestRoot::readFile("/data/configs/cloud_barcode");
    const std::string invalid = "setProperty 310 extLength:17\r\nInvalid property.";
    std::string longText = "setproperty";
    for (int i = 0; i < 21; ++i)
        longText += " serverport:4";
    longText += " \n";
    const std::vector<std::string> bad = {
        "setproperty colour:red \n",
        "setproperty \n",
        "setprop serverport:2 \n",
        "setproperty deviceid:0123456789abcdef0123456z \n",
        "setproperty deviceid:0123 \n",
        longText, // more than 256 characters: the file could not be read back
        "setproperty serverport:5", // never ended inside the frame
        "setproperty serverport:65536 \n",
        "setproperty serverport:70000 \n",
        "setproperty serverport:-1 \n",
        "setproperty serveraddress:300.1.2.999 \n",
        "setproperty serveraddress:10.0.0.256 \n",
        "setproperty serveraddress:10.0.x.1 \n",
        "setproperty serveraddress:10.0 \n", // the next start would read 10.0.0.0
        "setproperty serveraddress:10.0.0.1.7 \n",
    };
    for (const std::string& t : bad) {
        SCOPED_TRACE(t.substr(0, 40));
        EXPECT_EQ(cloud(1, t), invalid);
    }
    EXPECT_EQ(TestRoot::readFile("/data/configs/cloud_barcode"), before);

    const std::string invalidGet = "getProperty 310 extLength:17\r\nInvaild property.";
    EXPECT_EQ(cloud(2, "getproperty colour \r\n"), invalidGet);
    EXPECT_EQ(cloud(2, "getproperty deviceid\n"), invalidGet);
    EXPECT_EQ(cloud(2, "nothing here"), invalidGet);
    // A list whose answer would not fit the 512-byte area is refused whole.
    std::string many = "getproperty";
    for (int i = 0; i < 60; ++i)
        many += " deviceid";
    EXPECT_EQ(cloud(2, many + "\r\n"), invalidGet);
}

TEST_F(CloudCommands, CertificateUploadWritesTheCountedBytes)
{
    EXPECT_EQ(cloud(3, "sendfile filename:ca.pem filelen:10 overwrite:1 \n"), "sendFile 200 fileID:101\r\n");
    EXPECT_EQ(cloud(4, "sendfiledata fileid:101 offset:0 extlength:5 \n", "HELLO"), "sendFileData 200 fileID:101\r\n");
    EXPECT_EQ(cloud(4, "sendfiledata fileid:101 offset:5 extlength:5 \n", "WORLD"), "sendFileData 200 fileID:101\r\n");
    EXPECT_EQ(cloud(5, "sendfileend fileid:101 filelen:11 \n"), "sendFileEnd 332 extLength:21\r\nFile length mismatch.");
    EXPECT_FALSE(TestRoot::exists("/data/configs/cloud_cafile"));
    EXPECT_EQ(cloud(5, "sendfileend fileid:101 filelen:10 crc32:0 \n"), "sendFileEnd 200 fileID:101\r\n");
    EXPECT_EQ(TestRoot::readFile("/data/configs/cloud_cafile"), QByteArray("HELLOWORLD"));
    // An empty certificate is refused and the stored one kept.
    EXPECT_EQ(cloud(3, "sendfile filename:x.crt filelen:0 \n"), "sendFile 200 fileID:101\r\n");
    EXPECT_EQ(cloud(5, "sendfileend fileid:101 filelen:0 \n"), "sendFileEnd 332 extLength:20\r\nInvaild file length.");
    EXPECT_EQ(cloud(5, "sendfileend fileid:101 \n"), "sendFileEnd 332 extLength:20\r\nInvaild file length.");
    EXPECT_EQ(TestRoot::readFile("/data/configs/cloud_cafile"), QByteArray("HELLOWORLD"));

    EXPECT_EQ(cloud(3, "sendfile filename:01000121122800057758f80b.cert \n"), "sendFile 321 extLength:19\r\nfile already exist.");
    EXPECT_EQ(cloud(3, "sendfile filelen:40000 \n"), "sendFile 322 extLength:17\r\nNot enough space.");
    EXPECT_EQ(cloud(3, "nothing"), "sendFile 320 extLength:19\r\nfile create failed.");
    EXPECT_EQ(cloud(3, "sendfile colour:1 \n"), "sendFile");
    EXPECT_EQ(cloud(6, "sendfilecancel fileid:7 \n"), "sendFileCancel 330 extLength:16\r\nInvaild file ID.");
    EXPECT_EQ(cloud(6, "sendfilecancel fileid:101 \n"), "sendFileCancel 200 fileID:101\r\n");
}

// An upload through group 0xC0 shares the staging buffer: a certificate whose bytes it changed
// between sendFile and sendFileEnd is not stored.
TEST_F(CloudCommands, CertificateOverwrittenByAnUploadIsNotStored)
{
    const std::vector<uint8_t> upload[] = {
        {1, 0, 0, 'A', 'L', 'I', 'S', 0, 5, 0, 0, 0},                   // start: clears the buffer
        {2, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 'Z'},                   // one block at offset 0
    };
    for (const std::vector<uint8_t>& request : upload) {
        SCOPED_TRACE(int(request[0]));
        ASSERT_EQ(cloud(3, "sendfile filelen:5 \n"), "sendFile 200 fileID:101\r\n");
        ASSERT_EQ(cloud(4, "sendfiledata fileid:101 offset:0 extlength:5 \n", "HELLO"), "sendFileData 200 fileID:101\r\n");
        send(kController, 0xC0, request);
        ASSERT_EQ(buf[10], 0);
        EXPECT_EQ(cloud(5, "sendfileend fileid:101 filelen:5 \n"), "sendFileEnd 320 extLength:19\r\nfile create failed.");
        EXPECT_FALSE(TestRoot::exists("/data/configs/cloud_cafile"));
    }
    // Another peer's open upload owns the buffer: the certificate transfer is refused until it ends.
    const uint64_t tool = request_peer::tcp(0x7F000001, 1);
    G_timeTicks += 3000; // the upload above fell silent: it is dropped
    const std::vector<uint8_t> start = {0x00, 0xF1, 0x10, 0xF0, 0, 0, 0, 0, 0, 0xC0, 1, 0, 0, 'A', 'L', 'I', 'S', 0, 5, 0, 0, 0};
    ASSERT_EQ(deal(start, kMessageBufferSize, tool), 3u);
    ASSERT_EQ(buf[10], 0);
    EXPECT_EQ(cloud(3, "sendfile filelen:5 \n"), "sendFile 320 extLength:26\r\nFile transfer in progress.");
    EXPECT_EQ(cloud(4, "sendfiledata fileid:101 offset:0 extlength:5 \n", "HELLO"),
              "sendFileData 320 extLength:26\r\nFile transfer in progress.");
    EXPECT_EQ(cloud(3, "sendfile filelen:5 \n", "", tool), "sendFile 200 fileID:101\r\n") << "the owner's own";
    G_timeTicks += 3000;
    // A transfer the uploads left alone is stored.
    ASSERT_EQ(cloud(3, "sendfile filelen:5 \n"), "sendFile 200 fileID:101\r\n");
    ASSERT_EQ(cloud(4, "sendfiledata fileid:101 offset:0 extlength:5 \n", "HELLO"), "sendFileData 200 fileID:101\r\n");
    EXPECT_EQ(cloud(5, "sendfileend fileid:101 filelen:5 \n"), "sendFileEnd 200 fileID:101\r\n");
    EXPECT_EQ(TestRoot::readFile("/data/configs/cloud_cafile"), QByteArray("HELLO"));
}

// Two hosts' certificate uploads: the first sendFile's host owns the upload until its end, its
// cancel or 30 s of its silence, whichever connection or source port its requests come from.
// Meanwhile the other's sendFile, data and end are refused, saying why, and an end stores only the
// bytes of its host's own upload.
TEST_F(CloudCommands, CertificateUploadBelongsToTheHostThatStartedIt)
{
    const uint64_t A = request_peer::tcp(0x0A000001, 1), B = request_peer::tcp(0x0A000002, 2);
    const uint64_t reconnectedA = request_peer::tcp(0x0A000001, 3), udpA = request_peer::udp(0x0A000001, 40000);
    auto sendFile = [&](uint64_t p) { return cloud(3, "sendfile filelen:5 \n", "", p); };
    auto data = [&](uint64_t p, const char* d) { return cloud(4, "sendfiledata fileid:101 offset:0 extlength:5 \n", d, p); };
    auto end = [&](uint64_t p) { return cloud(5, "sendfileend fileid:101 filelen:5 \n", "", p); };
    auto cancel = [&](uint64_t p) { return cloud(6, "sendfilecancel fileid:101 \n", "", p); };
    auto busy = [](const char* name) { return std::string(name) + " 320 extLength:34\r\nAnother host's upload in progress."; };
    auto none = [](const char* name) { return std::string(name) + " 320 extLength:18\r\nNo upload started."; };
    const std::string started = "sendFile 200 fileID:101\r\n", taken = "sendFileData 200 fileID:101\r\n",
                      stored = "sendFileEnd 200 fileID:101\r\n";
    auto certificate = [] { return TestRoot::readFile("/data/configs/cloud_cafile"); };

    EXPECT_EQ(sendFile(A), started);
    EXPECT_EQ(cloud(4, "sendfiledata fileid:101 offset:0 extlength:3 \n", "AAA", reconnectedA), taken);
    EXPECT_EQ(cloud(4, "sendfiledata fileid:101 offset:3 extlength:2 \n", "aa", udpA), taken);
    EXPECT_EQ(sendFile(B), busy("sendFile"));
    EXPECT_EQ(data(B, "BBBBB"), busy("sendFileData"));
    EXPECT_EQ(end(B), busy("sendFileEnd"));
    EXPECT_EQ(end(reconnectedA), stored);
    EXPECT_EQ(certificate(), QByteArray("AAAaa"));

    // A's upload ended: B's goes through, and A's late end stores nothing over it.
    EXPECT_EQ(data(B, "BBBBB"), none("sendFileData"));
    EXPECT_EQ(sendFile(B), started);
    EXPECT_EQ(data(B, "BBBBB"), taken);
    EXPECT_EQ(end(A), busy("sendFileEnd"));
    EXPECT_EQ(end(B), stored);
    EXPECT_EQ(certificate(), QByteArray("BBBBB"));

    // A cancel ends an upload without its bytes; another host's cancel ends nothing.
    EXPECT_EQ(sendFile(A), started);
    EXPECT_EQ(data(A, "CCCCC"), taken);
    EXPECT_EQ(cancel(B), "sendFileCancel 200 fileID:101\r\n");
    EXPECT_EQ(sendFile(B), busy("sendFile"));
    EXPECT_EQ(cancel(udpA), "sendFileCancel 200 fileID:101\r\n");
    EXPECT_EQ(end(A), none("sendFileEnd"));
    EXPECT_EQ(certificate(), QByteArray("BBBBB"));

    // Silence: 30 s (3000 ticks) after the owner's last request another host may start.
    G_timeTicks = 100000;
    EXPECT_EQ(sendFile(B), started);
    G_timeTicks += 2000;
    EXPECT_EQ(data(B, "DDDDD"), taken);
    G_timeTicks += 2999;
    EXPECT_EQ(sendFile(A), busy("sendFile"));
    G_timeTicks += 1;
    EXPECT_EQ(sendFile(A), started);
    EXPECT_EQ(end(B), busy("sendFileEnd"));
}

TEST_F(CloudCommands, FileDataOutsideTheFrameOrTheBufferIsRefused)
{
    ASSERT_EQ(cloud(3, "sendfile filelen:3 \n"), "sendFile 200 fileID:101\r\n");
    const std::string refused = "sendFileData 332 extLength:20\r\nInvaild file length.";
    struct Case {
        const char* what;
        std::string text, data;
    };
    const std::vector<Case> cases = {
        {"past the buffer", "sendfiledata fileid:101 offset:5242878 extlength:5 \n", "ABCDE"},
        {"huge offset", "sendfiledata fileid:101 offset:99999999999 extlength:5 \n", "ABCDE"},
        {"offset past 64 bits", "sendfiledata fileid:101 offset:18446744073709551615 extlength:5 \n", "ABCDE"},
        {"offset just before", "sendfiledata fileid:101 offset:-32 extlength:40 \n", std::string(40, 'A')},
        {"offset far before", "sendfiledata fileid:101 offset:-1200 extlength:1499 \n", std::string(1499, 'B')},
        {"last byte past the end", "sendfiledata fileid:101 offset:5242876 extlength:5 \n", "ABCDE"},
        {"past the frame", "sendfiledata fileid:101 offset:0 extlength:10 \n", "ABC"},
        {"too long", "sendfiledata fileid:101 offset:0 extlength:1500 \n", std::string(1500, 'z')},
        {"no length", "sendfiledata fileid:101 offset:0 \n", "ABC"},
        {"no line feed", "sendfiledata fileid:101 offset:0 extlength:3 ", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(cloud(4, c.text, c.data), refused);
    }
    EXPECT_EQ(cloud(4, "sendfiledata fileid:9 offset:0 extlength:3 \n", "ABC"), "sendFileData 330 extLength:16\r\nInvaild file ID.");
    // None of them counted: the three bytes below are the whole file.
    EXPECT_EQ(cloud(4, "sendfiledata fileid:101 offset:0 extlength:3 \n", "XYZ"), "sendFileData 200 fileID:101\r\n");
    EXPECT_EQ(cloud(5, "sendfileend fileid:101 filelen:3 \n"), "sendFileEnd 200 fileID:101\r\n");
    EXPECT_EQ(TestRoot::readFile("/data/configs/cloud_cafile"), QByteArray("XYZ"));
    // The buffer's last five bytes are still its own.
    EXPECT_EQ(cloud(4, "sendfiledata fileid:101 offset:5242875 extlength:5 \n", "ABCDE"), "sendFileData 200 fileID:101\r\n");
}

// The announced file length, the block length and the read offset, each at its limit and one past it.
TEST_F(CloudCommands, TransferLimitsAtTheirEdges)
{
    const struct {
        uint8_t sub;
        std::string text, data, reply;
    } rows[] = {
        {3, "sendfile filelen:32767 \n", "", "sendFile 200 fileID:101\r\n"},
        {3, "sendfile filelen:32768 \n", "", "sendFile 322 extLength:17\r\nNot enough space."},
        {4, "sendfiledata fileid:101 offset:0 extlength:1499 \n", std::string(1499, 'a'), "sendFileData 200 fileID:101\r\n"},
        {4, "sendfiledata fileid:101 offset:0 extlength:1500 \n", std::string(1500, 'a'), "sendFileData 332 extLength:20\r\nInvaild file length."},
        {8, "recvfiledata fileid:101 offset:500 \n", "", "recvFileData 200 fileID:101 offset:0 extLength:715\r\n"},
        {8, "recvfiledata fileid:101 offset:501 \n", "",
         "recvFileData 331 extLength:15\r\nValue of offset(501) exceeds the file length(500)"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(cloud(r.sub, r.text, r.data), r.reply) << r.text;
}

TEST_F(CloudCommands, ReceiveStubsAndVerification)
{
    EXPECT_EQ(cloud(7, "recvfile filename:01000121122800057758f80b.cert \n"), "recvFile 200  fileID:101 fileLen:6888\r\n");
    EXPECT_EQ(cloud(7, "recvfile filename:other \n"), "recvFile 334 extLength:15\r\nFile not exist.");
    EXPECT_EQ(cloud(8, "recvfiledata fileid:101 offset:600 \n"),
              "recvFileData 331 extLength:15\r\nValue of offset(600) exceeds the file length(500)");
    EXPECT_EQ(cloud(8, "recvfiledata fileid:101 offset:0 \n"), "recvFileData 200 fileID:101 offset:0 extLength:715\r\n");
    EXPECT_EQ(cloud(9, "recvfileend fileid:101 filelen:6888 crc32:ab23541d \n"), "recvFileEnd 200 fileID:101\r\n");
    EXPECT_EQ(cloud(9, "recvfileend fileid:101 filelen:6887 \n"), "recvFileEnd 333 extLength:21\r\nFile length mismatch.");
    EXPECT_EQ(cloud(9, "recvfileend crc32:00000000 \n"), "recvFileEnd 334 extLength:15\r\nCRC32 mismatch.");
    EXPECT_EQ(cloud(10, "recvfilecancel fileid:101 \n"), "recvFileCancel 200 fileID:101\r\n");
    EXPECT_EQ(cloud(5, "unrelated"), "");
    const std::string ok = "verifyCA 200 verifyCode:quietmapleroad\r\n";
    const std::string fail = "verifyCA 360 extLength:17\r\nNot find CA file.";
    EXPECT_EQ(cloud(13, "verifyca catype:singleauth \n"), ok);
    EXPECT_EQ(cloud(13, "verifyca catype:mutual \n"), fail);
    EXPECT_EQ(cloud(13, "verifyca catype:mutual verifystr:abc \n"), ok);
    EXPECT_EQ(cloud(13, "verifyca colour:x verifystr:abc \n"), fail);
    EXPECT_EQ(cloud(13, "verifyca \n"), fail);
    EXPECT_EQ(cloud(13, "catype:singleauth \n"), "") << "no command word, no text";
}

TEST_F(CloudCommands, CloudSettingsNeedTheBoxsId)
{
    ASSERT_EQ(fpga->get_control_uid(0), 0); // the id of the simulated flash
    uint8_t uid[16];
    memcpy(uid, fpga->control_uid, 16);
    uint8_t other[16];
    memcpy(other, uid, 16);
    other[15] ^= 1;
    const QString before = ini("skyhubserverip");
    g_skyhub_cloud = 0;
    for (const auto& request : {cloudSettingsRequest(other, "1.2.3.4", 9000, "u", "n"),
                                cloudSettingsRequest(uid, "1.2.3.4", 9000, "user", "name", 2)}) {
        ASSERT_EQ(send(kController, 0xC3, request), 3u);
        EXPECT_EQ(buf[10], 11);
        EXPECT_EQ(buf[11], 10);
    }
    // Before the flash id is read the box's id is all zero: an all-zero request must not pass.
    const uint8_t zero[16] = {};
    {
        PosixLock cache(fpga->reg_mutex);
        memset(fpga->control_uid, 0, 16);
    }
    ASSERT_EQ(send(kController, 0xC3, cloudSettingsRequest(zero, "1.2.3.4", 9000, "u", "n")), 3u);
    EXPECT_EQ(buf[11], 10);
    {
        PosixLock cache(fpga->reg_mutex);
        memcpy(fpga->control_uid, uid, 16);
    }
    EXPECT_EQ(ini("skyhubserverip"), before);
    EXPECT_EQ(g_skyhub_cloud.load(), 0);

    ASSERT_EQ(send(kController, 0xC3, cloudSettingsRequest(uid, "cloud.example.net", 8883, "user-7", "hall A")), 3u);
    EXPECT_EQ(buf[10], 0);
    EXPECT_EQ(buf[11], 11);
    EXPECT_EQ(ini("skyhubserverip"), QString("cloud.example.net"));
    EXPECT_EQ(ini("skyhubserverport"), QString("8883"));
    EXPECT_EQ(ini("skyhubuserip"), QString("user-7"));
    EXPECT_EQ(ini("skyhubcontrollername"), QString("hall A"));
    EXPECT_EQ(g_skyhub_cloud.load(), 1);
}

// Settings the INI file did not take, whole or from its second item on, answer status 1 and
// change nothing, on disk, in force or in the next write of the file.
TEST_F(CloudCommands, CloudSettingsNotStoredAnswerFailureAndChangeNothing)
{
    ASSERT_EQ(fpga->get_control_uid(0), 0);
    const std::string file = TestRoot::path(ConfigEngine::kIniPath), aside = file + ".aside";
    for (bool folder : {true, false}) {
        SCOPED_TRACE(folder ? "a folder in the file's place" : "the port cannot be written");
        const QByteArray before = TestRoot::readFile(ConfigEngine::kIniPath);
        if (folder) {
            ASSERT_EQ(::rename(file.c_str(), aside.c_str()), 0);
            ASSERT_TRUE(QDir().mkpath(QString::fromStdString(file + "/x")));
        }
        ConfigEngine::failWritesOf(folder ? -1 : ConfigItem::SkyhubServerPort);
        const uint32_t r = send(kController, 0xC3, cloudSettingsRequest(fpga->control_uid, "10.9.8.7", 8883, "u", "n"));
        ConfigEngine::failWritesOf(-1);
        if (folder) {
            ASSERT_TRUE(QDir(QString::fromStdString(file)).removeRecursively());
            ASSERT_EQ(::rename(aside.c_str(), file.c_str()), 0);
        }
        ASSERT_EQ(r, 3u);
        EXPECT_EQ(buf[10], 1);
        EXPECT_EQ(buf[11], 11);
        EXPECT_EQ(TestRoot::readFile(ConfigEngine::kIniPath), before);
        EXPECT_EQ(g_skyhub_cloudserverip.get(), QString(" "));
        EXPECT_EQ(g_skyhub_cloud.load(), 0);
        ASSERT_TRUE(ConfigEngine::p_config->write_config_variant(ConfigItem::Barcode, QString("B")));
        EXPECT_FALSE(TestRoot::readFile(ConfigEngine::kIniPath).contains("10.9.8.7"));
    }
}

} // namespace
