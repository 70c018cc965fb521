// What the System and E-mail pages decide without widgets: the alarm sound lists, the
// checks of a save and the [SYSTEM] and [EMAIL] texts. No GTK; GTK main thread only.
#pragma once

#include <optional>
#include <string>

#include "tool/language_keys.h"
#include "tool/module/gui_setup/setup_writer.h"

constexpr int kNumAlarmSounds = 4;
extern const char* const kMotionSounds[kNumAlarmSounds];
extern const char* const kSensorSounds[kNumAlarmSounds];
// Entry of `value` in a sound list, 0 when it names none of them.
int alarm_sound_row(const char* const list[kNumAlarmSounds], const char* value);

// Cycle times the [SYSTEM] record can hold (8 bits) and the tour can use.
constexpr int kMinCycleTime = 3;
constexpr int kMaxCycleTime = 255;

// The System page's widgets as the operator left them. A list with nothing chosen is
// nullopt and writes the loaded value.
struct SystemPageData {
  std::string cycle_time;  // text of the cycle time field
  std::string rec_path;
  bool alarm = false;
  std::optional<std::string> motion_wav, sensor_wav, language, resolution;
  int popup_type = 0;  // 0 single, 1 spot, 2 PIP, 3 off
  int popup_time = 0;
  bool check_update = false;
  int relay_time = 0;
};
std::optional<LabelKey> check_system_page(const SystemPageData& p);
// The [SYSTEM] record the page saves: the loaded one with the page's values.
RC_SYSTEM_INFO system_record_of(const SystemPageData& p, const RC_SYSTEM_INFO& loaded);
std::string compose_system_save(const SystemPageData& p, const SetupSnapshot& s);

// The E-mail page's entries.
struct EmailPageData {
  std::string from, to, cc, bcc, subject, message, reply, server, domain, user, password;
  std::string delay;
  bool attachment = false;
};
int email_page_too_long(const EmailPageData& p);
std::optional<LabelKey> check_email_page(const EmailPageData& p);
std::string compose_email_save(const EmailPageData& p, const SetupSnapshot& s);
