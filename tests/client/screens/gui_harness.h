// The real program on a private X server, for the GUI tests of the screens: a copy of the run
// tree in a temporary directory, the simulated 'Q' DVR on a free port, vigilo started with
// its own output files, xdotool for keys and the mouse, and screenshots read pixel by pixel.
// Every wait has a deadline; nothing sleeps a fixed time to let the program catch up.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "client/screens/skin.h"
#include "platform/system/process.h"
#include "platform/system/x11_windows.h"
#include "tests/client/screens/run_tree.h"
#include "tests/platform/private_x.h"

// Xlib's macros collide with GoogleTest's names: include it last.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace gui {

namespace fs = std::filesystem;

inline int free_tcp_port() { return free_loopback_port(); }

// Counts of picture features inside a rectangle of a screenshot.
struct Census {
  int white = 0, black = 0, red = 0, grey64 = 0, yellow = 0, blue = 0, total = 0;
  long sum = 0;   // of r + g + b
  int light = 0;  // pixels of r, g and b all above 200 (widget text)
  double mean() const { return total ? double(sum) / (3.0 * total) : 0; }
};

class Shot {
 public:
  explicit Shot(const char* display) : dpy_(XOpenDisplay(display)) {
    // A window may end between its look-up and a query of it (a program closing): that
    // query fails, where Xlib's default handler would exit the test process and leave its
    // children behind.
    static const XErrorHandler installed = XSetErrorHandler(on_error);
    previous() = installed;
    if (dpy_) ours() = dpy_;
  }
  ~Shot() {
    if (img_) XDestroyImage(img_);
    if (dpy_) XCloseDisplay(dpy_);
    if (ours() == dpy_) ours() = nullptr;
  }
  bool ok() const { return dpy_ != nullptr; }
  void take() {
    if (img_) XDestroyImage(img_);
    Window root = DefaultRootWindow(dpy_);
    XWindowAttributes wa;
    XGetWindowAttributes(dpy_, root, &wa);
    img_ = XGetImage(dpy_, root, 0, 0, wa.width, wa.height, AllPlanes, ZPixmap);
  }
  // Top-left of window `w` on the root window.
  bool origin(unsigned long w, int* x, int* y) {
    Window child;
    return XTranslateCoordinates(dpy_, w, DefaultRootWindow(dpy_), 0, 0, x, y, &child) != 0;
  }
  bool size(unsigned long w, int* width, int* height) {
    XWindowAttributes wa;
    if (!XGetWindowAttributes(dpy_, w, &wa)) return false;
    *width = wa.width;
    *height = wa.height;
    return true;
  }
  unsigned long pixel(int x, int y) const { return img_ ? XGetPixel(img_, x, y) : 0; }
  Census census(int x0, int y0, int w, int h) const {
    Census c;
    if (!img_) return c;
    for (int y = y0; y < y0 + h; ++y) {
      for (int x = x0; x < x0 + w; ++x) {
        if (x < 0 || y < 0 || x >= img_->width || y >= img_->height) continue;
        unsigned long p = XGetPixel(img_, x, y);
        int r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
        ++c.total;
        c.sum += r + g + b;
        if (r > 215 && g > 215 && b > 215) ++c.white;
        if (r > 200 && g > 200 && b > 200) ++c.light;
        if (r < 30 && g < 30 && b < 30) ++c.black;
        if (r > g + 50 && r > b + 50) ++c.red;
        if (r > 200 && g > 200 && b < 60) ++c.yellow;
        if (b > 200 && r < 60 && g < 60) ++c.blue;
        if (r == 64 && g == 64 && b == 64) ++c.grey64;
      }
    }
    return c;
  }

 private:
  static Display*& ours() {
    static Display* d = nullptr;
    return d;
  }
  static XErrorHandler& previous() {
    static XErrorHandler h = nullptr;
    return h;
  }
  // Errors on other connections (the platform's look-ups) go to the handler before ours.
  static int on_error(Display* d, XErrorEvent* e) {
    if (d == ours() || !previous()) return 0;
    return previous()(d, e);
  }

  Display* dpy_;
  XImage* img_ = nullptr;
};

// Runs a command to its end (at most 10 s; then it is killed).
inline void run(std::vector<std::string> args) {
  std::vector<const char*> argv;
  for (auto& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  int pid = start_process(argv.data());
  ASSERT_GT(pid, 0) << args[0];
  int code = -1;
  if (wait_process(pid, 10000, &code) != 0) {
    kill(pid, SIGKILL);
    wait_process(pid, 5000, &code);
  }
}

class GuiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    run_tree_ = run_tree_dir();
    sim_ = run_tree_.parent_path() / "peers" / "qdvr_sim";
    if (!fs::exists(run_tree_ / "vigilo")) GTEST_FAIL() << "no vigilo in " << run_tree_;
    if (!fs::exists(sim_)) GTEST_FAIL() << "no simulated 'Q' DVR at " << sim_;
    if (!fs::exists(run_tree_ / "skin.cfg")) GTEST_FAIL() << "no default skin in the run tree";
    x_ = std::make_unique<PrivateX>(depth_, "1600x1200");
    if (x_->display().empty()) GTEST_FAIL() << "Xvfb did not start";
    setenv("DISPLAY", x_->display().c_str(), 1);
    setenv("VIGILO_BOX_ANSWER", "yes", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    use_own_link_port();
    char tmpl[] = "gui-run-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = fs::absolute(tmpl);
    // libX11 never releases the input-method context that SDL's video start-up creates.
    std::ofstream(dir_ / "lsan.supp") << "leak:libX11.so\nleak:libgtk\nleak:libgdk\nleak:libglib\n"
                                         "leak:libgobject\nleak:libfontconfig\nleak:libpango\n";
    setenv("LSAN_OPTIONS", ("suppressions=" + (dir_ / "lsan.supp").string()).c_str(), 1);
    copy_run_tree(run_tree_, dir_, false);
    shot_ = std::make_unique<Shot>(x_->display().c_str());
    ASSERT_TRUE(shot_->ok());
  }

  void TearDown() override {
    if (vigilo_ > 0 && process_running(vigilo_)) {
      // The windows the program started (playback, spot) would outlive it, still writing
      // into the run folder while it is removed: they go first, the program held meanwhile.
      kill(vigilo_, SIGSTOP);
      const std::vector<int> started = descendants(vigilo_);
      for (int pid : started) kill(pid, SIGKILL);
      kill(vigilo_, SIGKILL);
      wait_process(vigilo_, 5000, nullptr);
      for (int pid : started)
        for (int i = 0; i < 200 && state_of(pid) != 0 && state_of(pid) != 'Z'; ++i)
          std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    for (int dvr : dvrs_)
      if (dvr > 0 && process_running(dvr)) {
        kill(dvr, SIGTERM);
        wait_process(dvr, 5000, nullptr);
      }
    shot_.reset();
    if (skins_ready_) free_skins();
    if (!dir_.empty()) fs::remove_all(dir_);
  }

  // A process's state letter and parent from /proc (state 0 when it is gone).
  static char state_of(int pid, int* parent = nullptr) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    std::getline(in, stat);
    const size_t close = stat.rfind(')');
    int ppid = 0;
    char state = 0;
    if (close == std::string::npos ||
        std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &ppid) != 2)
      return 0;
    if (parent) *parent = ppid;
    return state;
  }

  // Every process below `root`, from /proc.
  static std::vector<int> descendants(int root) {
    std::vector<std::pair<int, int>> table;  // pid, parent
    std::error_code ec;
    for (const auto& e : fs::directory_iterator("/proc", ec)) {
      const int pid = std::atoi(e.path().filename().c_str());
      int ppid = 0;
      if (pid > 0 && state_of(pid, &ppid) != 0) table.emplace_back(pid, ppid);
    }
    std::vector<int> found{root};
    for (size_t k = 0; k < found.size(); ++k)
      for (const auto& [pid, ppid] : table)
        if (ppid == found[k]) found.push_back(pid);
    found.erase(found.begin());
    return found;
  }

  // A simulated DVR listening on a free port (tried again when another test took the port
  // between the look-up and the bind); its port.
  int start_dvr(std::vector<std::string> extra = {}) {
    for (int attempt = 0; attempt < 3; ++attempt) {
      const int port = free_tcp_port();
      std::vector<std::string> args{sim_.string(), "--port", std::to_string(port), "--channels",
                                    "16"};
      args.insert(args.end(), extra.begin(), extra.end());
      std::vector<const char*> argv;
      for (auto& a : args) argv.push_back(a.c_str());
      argv.push_back(nullptr);
      const std::string n = std::to_string(dvrs_.size());
      int pid = start_process(argv.data(), (dir_ / ("dvr" + n + ".out")).c_str(),
                              (dir_ / ("dvr" + n + ".err")).c_str());
      if (pid <= 0) continue;
      for (int i = 0; i < 400 && process_running(pid); ++i) {
        int s = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(uint16_t(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool up = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        close(s);
        if (up) {
          dvrs_.push_back(pid);
          return port;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
      if (process_running(pid)) kill(pid, SIGTERM);
      wait_process(pid, 5000, nullptr);
    }
    ADD_FAILURE() << "the simulated DVR did not listen";
    return -1;
  }

  // The demo setup.cfg with DVR-1 (and DVR-2) on the given ports, then `edit` applied.
  void write_setup(int port1, int port2 = -1,
                   const std::function<void(std::string&)>& edit = nullptr) {
    std::string cfg = read_file(run_tree_ / "setup.cfg");
    auto swap = [&](const char* from, int to) {
      if (to < 0) return;
      const std::string port = std::to_string(to);
      for (size_t p = cfg.find(from); p != std::string::npos; p = cfg.find(from, p + port.size()))
        cfg.replace(p, 4, port);
    };
    swap("9101", port1);
    swap("9102", port2);
    if (edit) edit(cfg);
    std::ofstream(dir_ / "setup.cfg") << cfg;
  }

  // Starts vigilo with `args` and waits for a window titled `title`.
  void start_vigilo(std::vector<std::string> args, const char* title = "ZOL Main",
                    const std::vector<std::string>& env = {}) {
    const std::string exe = (dir_ / "vigilo").string();
    std::vector<std::string> all{exe};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<const char*> argv;
    for (auto& a : all) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    // setenv copies: the caller's strings may be temporaries.
    for (const std::string& e : env) {
      const size_t eq = e.find('=');
      if (eq != std::string::npos) setenv(e.substr(0, eq).c_str(), e.substr(eq + 1).c_str(), 1);
    }
    const fs::path cwd = fs::current_path();
    fs::current_path(dir_);
    vigilo_ =
        start_process(argv.data(), (dir_ / "vigilo.out").c_str(), (dir_ / "vigilo.err").c_str());
    fs::current_path(cwd);
    ASSERT_GT(vigilo_, 0);
    win_ = 0;
    for (int i = 0; i < 600 && !win_ && process_running(vigilo_); ++i) {
      win_ = x11_find_window(title);
      if (!win_) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_NE(win_, 0u) << out() << err();
  }

  // Polls the screen until `pred` holds or `seconds` pass (a loaded machine runs the
  // sanitised client slowly). The window origin is refreshed each time: SDL moves the window
  // after mapping it.
  bool wait_for(const std::function<bool()>& pred, int seconds = 45) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
      shot_->origin(win_, &wx_, &wy_);
      shot_->take();
      if (pred()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }
  // Waits until `text` shows in the program's standard output (or error, `err_stream`).
  bool wait_output(const std::string& text, bool err_stream = false, int seconds = 45) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
      if ((err_stream ? err() : out()).find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }
  // Exit code of vigilo, which must end within 30 s; -1000 when it did not.
  int wait_exit() {
    int code = -1;
    if (wait_process(vigilo_, 30000, &code) != 0) return -1000;
    return code;
  }

  void key(const std::string& name) {
    run({"xdotool", "key", "--window", std::to_string(win_), name});
  }
  void type(const std::string& text) {
    run({"xdotool", "type", "--window", std::to_string(win_), "--delay", "30", text});
  }
  // Mouse actions at window coordinates: moves, then "click 1", "mousedown 1" and the like.
  void mouse(int x, int y, std::vector<std::string> then) {
    shot_->origin(win_, &wx_, &wy_);
    std::vector<std::string> args{"xdotool", "mousemove", std::to_string(wx_ + x),
                                  std::to_string(wy_ + y)};
    args.insert(args.end(), then.begin(), then.end());
    run(args);
  }
  void click(int x, int y, int button = 1) { mouse(x, y, {"click", std::to_string(button)}); }
  // Clicks the middle of widget `name` of skin window `id`.
  void press(int id, const char* name) {
    const SDL_Rect r = widget(id, name);
    click(cx(r), cy(r));
  }
  void double_click(int x, int y) { mouse(x, y, {"click", "--repeat", "2", "--delay", "80", "1"}); }

  // Widget rectangle of window `id` in the run tree's skin `file`.
  SDL_Rect widget(int id, const char* name, const char* file = "skin.cfg") {
    if (!skins_ready_) init_skins();
    skins_ready_ = true;
    const std::string text = read_file(dir_ / file);
    SKIN_WINDOW* win = get_skin_window(id);
    WIDGET_PROPS props{};
    const int index = find_widget(id, name);
    EXPECT_GT(index, 0) << name;
    if (index <= 0) return {};
    EXPECT_EQ(
        config_to_props(name, win->widgets[index].num_states, text.c_str(), win->name, &props), 0)
        << name;
    return SDL_Rect{Sint16(props.dest_x), Sint16(props.dest_y), Uint16(props.width),
                    Uint16(props.height)};
  }
  SDL_Rect video_rect(const char* file = "skin.cfg") {
    SKIN_WINDOW w;
    const std::string text = read_file(dir_ / file);
    EXPECT_EQ(parse_skins_line("main", text.c_str(), &w), 0);
    return w.video_rect;
  }
  // Census of a rectangle given in window coordinates, on the last screenshot.
  Census at(const SDL_Rect& r) const { return shot_->census(wx_ + r.x, wy_ + r.y, r.w, r.h); }
  static SDL_Rect inner(const SDL_Rect& r, int margin) {
    return SDL_Rect{Sint16(r.x + margin), Sint16(r.y + margin), Uint16(r.w - 2 * margin),
                    Uint16(r.h - 2 * margin)};
  }
  static int cx(const SDL_Rect& r) { return r.x + r.w / 2; }
  static int cy(const SDL_Rect& r) { return r.y + r.h / 2; }

  // Cell (col, row) of an n x n grid over video_, shrunk by a tenth and an eighth so that the
  // on-screen text lines at the cell edges stay out of it.
  Census cell(int col, int row, int n) const {
    const int w = video_.w / n, h = video_.h / n;
    return at(SDL_Rect{Sint16(video_.x + col * w + w / 10), Sint16(video_.y + row * h + h / 8),
                       Uint16(w - w / 5), Uint16(h - h / 4)});
  }
  // Tile (c, r) of an n x n grid over video_, inside a 4-pixel margin.
  Census tile(int c, int r, int n = 4) const {
    const int w = video_.w / n, h = video_.h / n;
    return at(SDL_Rect{Sint16(video_.x + c * w + 4), Sint16(video_.y + r * h + 4), Uint16(w - 8),
                       Uint16(h - 8)});
  }
  // The tile shows a synthetic picture: white digits on their black box.
  bool tile_live(int c, int r, int n = 4) const {
    const Census t = tile(c, r, n);
    return t.white > t.total / 200 && t.black > t.total / 50;
  }
  // Pixels of `r` (window coordinates, last screenshot) whose r, g, b `pred` accepts.
  int count_pixels(const SDL_Rect& r, const std::function<bool(int, int, int)>& pred) const {
    int n = 0;
    for (int y = r.y; y < r.y + r.h; ++y)
      for (int x = r.x; x < r.x + r.w; ++x) {
        const unsigned long p = shot_->pixel(wx_ + x, wy_ + y);
        n += pred(int((p >> 16) & 0xFF), int((p >> 8) & 0xFF), int(p & 0xFF));
      }
    return n;
  }
  // Pure white pixels in the lower right quarter of the video area, where the enlarged
  // picture's white frame lies (the pictures' own white is a little darker).
  int enlarged_frame() const {
    const SDL_Rect quarter{Sint16(video_.x + video_.w / 2), Sint16(video_.y + video_.h / 2),
                           Uint16(video_.w - video_.w / 2), Uint16(video_.h - video_.h / 2)};
    return count_pixels(quarter,
                        [](int r, int g, int b) { return r >= 250 && g >= 250 && b >= 250; });
  }
  // vigilo ends within 30 s with exit code 0 after its event loop said goodbye.
  void expect_clean_exit() {
    EXPECT_EQ(wait_exit(), 0) << err();
    EXPECT_NE(out().find("Exiting event loop ..."), std::string::npos);
  }

  std::string out() const { return read_file(dir_ / "vigilo.out"); }
  std::string err() const { return read_file(dir_ / "vigilo.err"); }
  // Today's system log of the run.
  std::string system_log() const {
    std::string all;
    if (fs::exists(dir_ / "logs"))
      for (const auto& e : fs::directory_iterator(dir_ / "logs"))
        if (e.path().filename().string().rfind("sys2", 0) == 0) all += read_file(e.path());
    return all;
  }

  int depth_ = 24;
  fs::path run_tree_, sim_, dir_;
  std::unique_ptr<PrivateX> x_;
  std::unique_ptr<Shot> shot_;
  std::vector<int> dvrs_;
  int vigilo_ = -1;
  unsigned long win_ = 0;
  int wx_ = 0, wy_ = 0;
  SDL_Rect video_{};  // the video area of the window under test, set by the test
  bool skins_ready_ = false;
};

}  // namespace gui
