// OrvoLib over a stand-in SDK: each of the 46 exports reaches its SDK_* function with the
// arguments bit for bit and hands its result back the same way; the export table holds those
// 46 names and nothing else; a libOrvoSDK.so without one of the functions stops loading.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <type_traits>
#include <vector>

#include "forward/orvolib/orvolib.h"
#include "tests/forward/call_words.h"

namespace fs = std::filesystem;

namespace {

template <class R>
R as(uint64_t v) {
  if constexpr (std::is_pointer_v<R>)
    return reinterpret_cast<R>(uintptr_t(v));
  else
    return R(v);
}

// OrvoLib loaded beside the whole stand-in SDK (found through its $ORIGIN).
class OrvoLibForwarding : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = fs::temp_directory_path() / ("orvolib-" + std::to_string(getpid()));
    fs::create_directories(dir_);
    fs::copy_file(ORVOLIB_FILE, dir_ / "libOrvoLib.so", fs::copy_options::overwrite_existing);
    fs::copy_file(fs::path(FAKE_SDK_FULL_DIR) / "libOrvoSDK.so", dir_ / "libOrvoSDK.so",
                  fs::copy_options::overwrite_existing);
    lib_ = dlopen((dir_ / "libOrvoLib.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib_, nullptr) << dlerror();
    last_ = reinterpret_cast<const char* (*)(uint64_t*)>(dlsym(lib_, "fake_sdk_last"));
    set_result_ = reinterpret_cast<void (*)(uint64_t)>(dlsym(lib_, "fake_sdk_set_result"));
    ASSERT_TRUE(last_ && set_result_) << "the stand-in SDK was not the one loaded";
  }
  static void TearDownTestSuite() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  // Calls ORVOSDK_<op> with `a...` and checks that SDK_<op> got exactly them and that its
  // result (a value with its sign bit and high bits set) came back unchanged.
  template <class R, class... A>
  void expect_forwarded(const char* op, A... a) {
    SCOPED_TRACE(op);
    auto f = reinterpret_cast<R (*)(A...)>(dlsym(lib_, (std::string("ORVOSDK_") + op).c_str()));
    ASSERT_NE(f, nullptr);
    const uint64_t result = 0x80000005F0F0F0F1ull;
    set_result_(result);
    if constexpr (std::is_void_v<R>) {
      f(a...);
    } else {
      R r = f(a...);
      EXPECT_EQ(word(r), word(as<R>(result)));
    }
    uint64_t got[6];
    EXPECT_EQ(std::string(last_(got)), std::string("SDK_") + op);
    const uint64_t want[] = {word(a)..., 0};
    for (size_t i = 0; i < sizeof...(A); ++i) EXPECT_EQ(got[i], want[i]) << "argument " << i;
  }

  static inline fs::path dir_;
  static inline void* lib_ = nullptr;
  static inline const char* (*last_)(uint64_t*) = nullptr;
  static inline void (*set_result_)(uint64_t) = nullptr;
};

TEST_F(OrvoLibForwarding, EveryExportReachesItsSdkFunctionWithArgumentsAndResultUnchanged) {
  using H = void*;
  H h = reinterpret_cast<H>(uintptr_t(0x7F00DEADBEE8ull));
  int x = 0, y = 0;
  unsigned char bytes[3] = {1, 2, 3};
  unsigned long days = 0;
  auto* info = reinterpret_cast<_SDK_DVR_INFO*>(uintptr_t(0x1000));
  auto* cb_init = reinterpret_cast<SDK_INIT_CALLBACK>(uintptr_t(0x2000));
  auto* cb_open = reinterpret_cast<SDK_OPEN_CALLBACK>(uintptr_t(0x3000));
  expect_forwarded<int, H>("CancelWait", h);
  expect_forwarded<int, H>("Close", nullptr);
  expect_forwarded<int, const char*, const char*, const char*, int, int, _SDK_DVR_INFO*>(
      "Connect", nullptr, "admin", "secret", 70000, -1, info);
  expect_forwarded<int, H, int>("ControlPTZ", h, -7);
  expect_forwarded<int, H, int>("ControlPTZAutoPan", h, 1);
  expect_forwarded<int, H, int>("ControlPTZAux1", h, 1);
  expect_forwarded<int, H, int>("ControlPTZAux2", h, 0);
  expect_forwarded<int, H, unsigned char*, unsigned char>("ControlPTZBypass", h, bytes, 0xFF);
  expect_forwarded<int, H, int>("ControlPTZCameraPower", h, 1);
  expect_forwarded<int, H, int>("ControlPTZFocus", h, 2);
  expect_forwarded<int, H, int>("ControlPTZIris", h, 3);
  expect_forwarded<int, H, int>("ControlPTZLight", h, 1);
  expect_forwarded<int, H>("ControlPTZMenuClose", h);
  expect_forwarded<int, H>("ControlPTZMenuOpen", h);
  expect_forwarded<int, H>("ControlPTZMenuSelect", h);
  expect_forwarded<int, H>("ControlPTZPump", h);
  expect_forwarded<int, H, int>("ControlPTZTour", h, 4);
  expect_forwarded<int, H>("ControlPTZWiper", h);
  expect_forwarded<int, H, int>("ControlPTZZoom", h, -5);
  expect_forwarded<int, int>("Disconnect", 1001);
  expect_forwarded<int, H>("FastBackward", h);
  expect_forwarded<int, H>("FastForward", h);
  expect_forwarded<int, int, _SDK_DVR_HEALTH_INFO*>("GetDVRHealthInfo", 1002, nullptr);
  expect_forwarded<int, H, _SDK_DVRSETUP*>("GetDVRSetup", h, nullptr);
  expect_forwarded<int, int, _SDK_DVR_INFO*>("GetDVRSystemInfo", -1, info);
  expect_forwarded<int, int, int, int, int, unsigned long*>("GetDayOfMonthlyRecord", 1003, 4, 2038,
                                                            13, &days);
  char text[8];
  expect_forwarded<void, H, char*, int>("GetLastErrorString", h, text, 1);
  expect_forwarded<int, H, _SDK_PACKET*, _SDK_FRAME_INFO*>("GetPacket", h, nullptr, nullptr);
  expect_forwarded<int, int, int, int, _SDK_REC_TIMETABLE*>("GetRecordInfo", 1004, 15, 20240115,
                                                            nullptr);
  expect_forwarded<int, int, int, int, _SDK_REC_TIMETABLE_EX*>("GetRecordInfoAllChannel", 1005, 4,
                                                               20240116, nullptr);
  expect_forwarded<int, H, int*, int*>("GetRelayState", h, &x, &y);
  expect_forwarded<unsigned long, int, _SDK_DVR_SEARCH_STATUS*>("GetSearchStatus", 1006, nullptr);
  expect_forwarded<int, SDK_INIT_CALLBACK, unsigned short>("Initialize", cb_init, 0xFFFF);
  expect_forwarded<int, H>("NormalForward", h);
  expect_forwarded<void*, int, int, _SDK_CONN_PARAM*, SDK_OPEN_CALLBACK, int, void*>(
      "Open", 1007, 8, nullptr, cb_open, 8, h);
  expect_forwarded<int, H, unsigned long, unsigned long>("PlayGoto", h, 0xFFFFFFFFFFFFFFFFul,
                                                         235959ul);
  expect_forwarded<int, H, int>("PresetRun", h, 256);
  expect_forwarded<int, H, int>("PresetSet", h, -1);
  expect_forwarded<int, H, _SDK_DVRSETUP*>("SetDVRSetup", h, nullptr);
  expect_forwarded<int, H, int>("SetDeinterlace", h, 1);
  expect_forwarded<int, H, _SDK_PACKET_PARAM*>("SetPacketParam", h, nullptr);
  expect_forwarded<int, H, int, int>("SetRelayState", h, 9, 5);
  expect_forwarded<unsigned long, int, int>("SetSearchStatus", 1008, 8);
  expect_forwarded<int, H, unsigned long>("SetWaitTimeout", h, 0x100000000ul);
  expect_forwarded<unsigned long, int, int, int, char, char, int>(
      "StartRemoteSearch", 1009, 20380119, 235960, char(-1), 2, 16);
  expect_forwarded<void>("Terminate");
}

std::string run(const std::string& cmd, int* status) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  *status = pclose(p);
  return out;
}

TEST(OrvoLibExports, TableHoldsTheFortySixNamesAndNothingElse) {
  int status = -1;
  std::string out = run(std::string("nm -D --defined-only ") + ORVOLIB_FILE, &status);
  ASSERT_EQ(status, 0);
  std::vector<std::string> names;
  char line[512];
  for (const char* p = out.c_str(); std::sscanf(p, "%511[^\n]", line) == 1;) {
    char addr[64], type[8], name[256];
    if (std::sscanf(line, "%63s %7s %255s", addr, type, name) == 3) names.push_back(name);
    p += std::strlen(line);
    while (*p == '\n') ++p;
  }
  ASSERT_EQ(names.size(), 46u) << out;
  for (const std::string& n : names) EXPECT_EQ(n.rfind("ORVOSDK_", 0), 0u) << n;
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names.front(), "ORVOSDK_CancelWait");
  EXPECT_EQ(names.back(), "ORVOSDK_Terminate");
}

TEST(OrvoLibLoading, ProgramDoesNotStartWhenTheSdkLacksAFunction) {
  int status = -1;
  run(std::string("LD_LIBRARY_PATH=") + FAKE_SDK_FULL_DIR + " " + ORVOLIB_PROBE + " 2>&1", &status);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  const std::string gap = std::string("LD_LIBRARY_PATH=") + FAKE_SDK_GAP_DIR + " ";
  std::string out = run(gap + ORVOLIB_PROBE + " 2>&1", &status);
  EXPECT_FALSE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
  EXPECT_NE(out.find("SDK_PresetRun"), std::string::npos) << out;
}

}  // namespace
