// The recorded-file browser: in-process its start folder and filter, and the real auxdesk in
// mode "browse" on screen, ended by OK, Cancel and closing the window.
#include <filesystem>
#include <fstream>

#include "tests/client/screens/eventually.h"
#include "tests/tool/auxdesk_run.h"
#include "tests/tool/gtk_fixture.h"
#include "tool/browse.h"
#include "tests/tool/screen_grab.h"

namespace {

// setup.cfg of the fixture with another rec_path.
std::string with_rec_path(const std::string& rec_path) {
  std::string cfg = fixture_setup_cfg();
  const std::string key = "rec_path=./record/";
  return cfg.replace(cfg.find(key), key.size(), "rec_path=" + rec_path);
}

void make_recordings(const std::filesystem::path& folder) {
  std::filesystem::create_directories(folder / "2024-01-31");
  std::ofstream(folder / "a.zol") << "zol";
  std::ofstream(folder / "b.txt") << "txt";
}

TEST(BrowseFolder, rec_path_dot_is_the_system_drive_and_backslashes_are_separators) {
  EXPECT_EQ(browse_start_folder("."), "/");
  EXPECT_EQ(browse_start_folder(".\\"), "./");
  EXPECT_EQ(browse_start_folder(".\\rec\\cam"), "./rec/cam");
  EXPECT_EQ(browse_start_folder(""), "");
}

class BrowseWindow : public GtkToolDir {};

TEST_F(BrowseWindow, the_chooser_starts_in_rec_path_and_lists_only_recordings_and_folders) {
  make_recordings(dir_ / "rec");
  load(with_rec_path(".\\rec\\"));
  ASSERT_EQ(create_browse_window(), 0);
  GtkFileChooser* chooser = GTK_FILE_CHOOSER(browse_chooser());
  std::string shown;
  eventually([&] {  // the chooser takes the folder once it has loaded it
    pump();
    gchar* folder = gtk_file_chooser_get_current_folder(chooser);
    shown = folder ? folder : "";
    g_free(folder);
    return !shown.empty();
  });
  EXPECT_EQ(shown, (dir_ / "rec").string());

  GSList* filters = gtk_file_chooser_list_filters(chooser);
  ASSERT_EQ(g_slist_length(filters), 1u);
  GtkFileFilter* filter = GTK_FILE_FILTER(filters->data);
  g_slist_free(filters);
  EXPECT_STREQ(gtk_file_filter_get_name(filter), "ZOL Files");
  for (const char* name : {"a.zol", "b.txt"}) {
    GtkFileFilterInfo info{};
    info.contains = GTK_FILE_FILTER_DISPLAY_NAME;
    info.display_name = name;
    EXPECT_EQ(gtk_file_filter_filter(filter, &info), name[0] == 'a') << name;
  }
  gtk_widget_destroy(browse_window());
  pump();
}

class BrowseGui : public RealAuxdesk {};

TEST_F(BrowseGui, a_625_by_500_window_that_ok_cancel_and_closing_each_end_with_zero) {
  make_recordings(dir_ / "rec");
  std::ofstream(dir_ / "setup.cfg") << with_rec_path("./rec");
  enum Way { ok, cancel, close } ways[] = {ok, cancel, close};
  for (Way way : ways) {
    SCOPED_TRACE(way);
    start({"browse", "admin", "admin", "x", "x"});
    unsigned long win = 0;
    ASSERT_TRUE(eventually([&] { return (win = viewable_window_of(pid_)) != 0; })) << err();
    ASSERT_TRUE(eventually([&] { return grab(win).colours() > 8; })) << "the chooser shows";
    EXPECT_EQ(window_size(win), (std::pair<int, int>{625, 500}));
    if (way == close) {
      ASSERT_EQ(x11_close_window(win), 0);
    } else {
      xdo({"mousemove", "--window", std::to_string(win), way == ok ? "570" : "485", "455", "click",
           "1"});
    }
    EXPECT_EQ(finish(), 0) << err();
  }
}

}  // namespace
