// readVarnexConfig on real INI files: effective values, where each came from,
// and the keys a switch leaves unread.
#include "config/varnex_config.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <map>

#include "support/import_redirect.h"
#include "support/temp_folder.h"

using namespace varnex;
using varnex_test::TempFolder;

namespace {

VarnexConfig readFrom(const TempFolder &folder, const std::string &content) {
    const std::string path = folder.file("Varnex.ini");
    varnex_test::writeFile(path, content);
    return readVarnexConfig(SettingsFile(path.c_str())).value();
}

TEST(VarnexConfigTest, NoFileGivesTheDefaultsFromNowhere) {
    TempFolder folder;
    const VarnexConfig config = readVarnexConfig(SettingsFile(folder.file("absent.ini").c_str())).value();
    EXPECT_EQ(config.driverName.value, "C:\\");
    EXPECT_FALSE(config.driverName.fromFile);
    EXPECT_TRUE(config.signalMode.on);
    EXPECT_EQ(config.signalFile.value, "Signal.txt");
    EXPECT_TRUE(config.signalFile.read);
    EXPECT_FALSE(config.varnexMode.on);
    EXPECT_FALSE(config.signalDebugFile.read);
    EXPECT_FALSE(config.socketClient.on);
    EXPECT_FALSE(config.clientID.read);
    EXPECT_TRUE(config.endpoints.empty());
    EXPECT_FALSE(config.logMode.on);
    EXPECT_FALSE(config.logFile.read);
    EXPECT_FALSE(config.logRotate.read);
}

TEST(VarnexConfigTest, LogRotationIsReadWithTheLogOnly) {
    TempFolder folder;
    const std::string keys = "logRotate=Daily\r\nlogKeepDays=-4\r\n";
    const VarnexConfig off = readFrom(folder, "[Setting]\r\n" + keys);
    EXPECT_FALSE(off.logRotate.read);
    const VarnexConfig on = readFrom(folder, "[Setting]\r\nlogMode=True\r\n" + keys);
    EXPECT_TRUE(on.logRotate.read);
    EXPECT_EQ(on.logRotate.value, "Daily");
    EXPECT_EQ(on.logKeepDays.value, 0);  // fewer than none keeps every log
    EXPECT_EQ(on.logKeepDays.text, "-4");
    const VarnexConfig defaults = readFrom(folder, "[Setting]\r\nlogMode=True\r\n");
    EXPECT_EQ(defaults.logRotate.value, "");
    EXPECT_FALSE(defaults.logKeepDays.fromFile);
    EXPECT_EQ(defaults.logKeepDays.value, 0);
}

TEST(VarnexConfigTest, FileValuesAreMarkedAndSwitchesKeepTheirText) {
    TempFolder folder;
    const VarnexConfig config =
        readFrom(folder,
                 "[Setting]\r\ndriverName=D:\\x\\\r\nsignalMode=TRUE\r\nsignalFile=never.txt\r\n"
                 "logmode=true\r\nlogFile=\r\nsignalDebugMode=True\r\nvarnexMode=\r\n");
    EXPECT_EQ(config.driverName.value, "D:\\x\\");
    EXPECT_TRUE(config.driverName.fromFile);
    EXPECT_FALSE(config.signalMode.on);
    EXPECT_EQ(config.signalMode.text, "TRUE");
    EXPECT_TRUE(config.signalMode.fromFile);
    EXPECT_FALSE(config.signalFile.read);  // signalMode is off
    EXPECT_TRUE(config.signalDebugMode.on);
    EXPECT_EQ(config.signalDebugFile.value, "SignalDebug.txt");
    EXPECT_FALSE(config.signalDebugFile.fromFile);
    EXPECT_FALSE(config.varnexMode.on);  // present but empty
    EXPECT_TRUE(config.varnexMode.fromFile);
    EXPECT_TRUE(config.logMode.on);
    EXPECT_EQ(config.logFile.value, "");  // present and empty: not the default
    EXPECT_TRUE(config.logFile.fromFile);
}

TEST(VarnexConfigTest, EndpointsFollowClientIdWithTheirOrigins) {
    TempFolder folder;
    const VarnexConfig config = readFrom(
        folder,
        "[Setting]\r\nsocketClient=True\r\n[SocketClient]\r\nclientID=B,A,B,C,D\r\n"
        "[SC-A]\r\nserverPort=5001\r\nackTimeout=0\r\n[SC-B]\r\nserverIp=127.0.0.2\r\nackTimeout=250\r\n"
        "[SC-C]\r\nserverPort=70000\r\nackTimeout=2147483647\r\n[SC-D]\r\nserverPort=80000000000\r\n"
        "ackTimeout=-1\r\n");
    EXPECT_TRUE(config.clientID.fromFile);
    ASSERT_EQ(config.endpoints.size(), 4u);
    const EndpointSettings &b = config.endpoints[0], &a = config.endpoints[1];
    EXPECT_EQ(b.id, "B");
    EXPECT_EQ(b.serverIp.value, "127.0.0.2");
    EXPECT_TRUE(b.serverIp.fromFile);
    EXPECT_EQ(b.serverPort.value, 0);
    EXPECT_FALSE(b.serverPort.fromFile);
    EXPECT_EQ(b.ackTimeout.value, 250);
    EXPECT_EQ(a.id, "A");
    EXPECT_EQ(a.serverIp.value, "127.0.0.1");
    EXPECT_FALSE(a.serverIp.fromFile);
    EXPECT_EQ(a.serverPort.value, 5001);
    EXPECT_EQ(a.ackTimeout.value, kDefaultAckTimeoutMs);  // zero would fail every order
    EXPECT_TRUE(a.ackTimeout.fromFile);
    // Numbers out of range are neither wrapped nor taken silently.
    const EndpointSettings &c = config.endpoints[2], &d = config.endpoints[3];
    EXPECT_EQ(c.serverPort.written, 70000);
    EXPECT_EQ(c.serverPort.value, 0);
    EXPECT_EQ(c.ackTimeout.value, kLongestAckTimeoutMs);
    EXPECT_EQ(d.serverPort.written, 80000000000);
    EXPECT_EQ(d.serverPort.value, 0);
    EXPECT_EQ(d.ackTimeout.value, kDefaultAckTimeoutMs);
    EXPECT_EQ(
        valuesNotTakenAsWritten(config),
        (std::vector<std::string>{
            "[SC-B] serverPort (not set) is not a TCP port (1 to 65535): no order is sent to that server",
            "[SC-A] ackTimeout=0 is outside 1 to 120000 ms: 5000 ms is used",
            "[SC-C] serverPort=70000 is not a TCP port (1 to 65535): no order is sent to that server",
            "[SC-C] ackTimeout=2147483647 is outside 1 to 120000 ms: 120000 ms is used",
            "[SC-D] serverPort=80000000000 is not a TCP port (1 to 65535): no order is sent to that server",
            "[SC-D] ackTimeout=-1 is outside 1 to 120000 ms: 5000 ms is used"}));
}

// Every profile read of the test program, by section and key.
std::map<std::string, int> keyReads;
decltype(&GetPrivateProfileStringA) realGetString = nullptr;
decltype(&GetPrivateProfileIntA) realGetInt = nullptr;

DWORD WINAPI countingGetString(LPCSTR section, LPCSTR key, LPCSTR fallback, LPSTR out, DWORD size,
                               LPCSTR file) {
    ++keyReads[std::string(section) + "/" + key];
    return realGetString(section, key, fallback, out, size, file);
}

UINT WINAPI countingGetInt(LPCSTR section, LPCSTR key, INT fallback, LPCSTR file) {
    ++keyReads[std::string(section) + "/" + key];
    return realGetInt(section, key, fallback, file);
}

TEST(VarnexConfigTest, EachKeyIsReadFromTheFileOnce) {
    const HMODULE self = GetModuleHandleA(nullptr);
    ASSERT_TRUE(varnex_test::redirectImport(self, "GetPrivateProfileStringA",
                                            reinterpret_cast<void *>(&countingGetString),
                                            reinterpret_cast<void **>(&realGetString)));
    ASSERT_TRUE(varnex_test::redirectImport(self, "GetPrivateProfileIntA",
                                            reinterpret_cast<void *>(&countingGetInt),
                                            reinterpret_cast<void **>(&realGetInt)));
    TempFolder folder;
    const VarnexConfig config =
        readFrom(folder,
                 "[Setting]\r\nsignalDebugMode=True\r\nsocketClient=True\r\nlogMode=True\r\n"
                 "[SocketClient]\r\nclientID=A,B\r\n[SC-A]\r\nserverPort=0x10\r\n");
    EXPECT_EQ(config.endpoints.at(0).serverPort.value, 16);
    // Thirteen keys of [Setting] (the log's rotation keys with the log on),
    // clientID and three keys of each endpoint.
    EXPECT_EQ(keyReads.size(), 20u);
    for (const auto &entry : keyReads) EXPECT_EQ(entry.second, 1) << entry.first;
}

TEST(VarnexConfigTest, LongValuesAndListsAreReadWhole) {
    TempFolder folder;
    std::string ids, sections;
    for (int i = 0; i < 100; ++i) {
        const std::string id = "SYM" + std::to_string(i);
        ids += (i ? "," : "") + id;
        sections += "[SC-" + id + "]\r\nserverPort=" + std::to_string(5000 + i) + "\r\n";
    }
    const VarnexConfig config = readFrom(
        folder, "[Setting]\r\ndriverName=" + std::string(300, 'd') +
                    "\r\nsocketClient=True\r\n[SocketClient]\r\nclientID=" + ids + "\r\n" + sections);
    EXPECT_EQ(config.driverName.value, std::string(300, 'd'));
    ASSERT_EQ(config.endpoints.size(), 100u);
    EXPECT_EQ(config.endpoints.back().id, "SYM99");
    EXPECT_EQ(config.endpoints.back().serverPort.value, 5099);
}

}  // namespace
