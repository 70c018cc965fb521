// System and E-mail page decisions without widgets.
#include "tool/module/gui_setup/system_email_model.h"

#include <cstdlib>
#include <cstring>

#include "client/foundation/config/utils.h"
#include "tool/module/gui_setup/setup_checks.h"

const char* const kMotionSounds[kNumAlarmSounds] = {"wave\\ding.wav", "wave\\ding2.wav",
                                                    "wave\\ding3.wav", "wave\\ding4.wav"};
const char* const kSensorSounds[kNumAlarmSounds] = {"wave\\chord.wav", "wave\\chord2.wav",
                                                    "wave\\chord3.wav", "wave\\chord4.wav"};

int alarm_sound_row(const char* const list[kNumAlarmSounds], const char* value) {
  for (int i = 0; value && i < kNumAlarmSounds; ++i)
    if (strcmp(list[i], value) == 0) return i;
  return 0;
}

std::optional<LabelKey> check_system_page(const SystemPageData& p) {
  if (p.cycle_time.empty()) return LabelKey("txt_NO_CDT");
  if (p.rec_path.empty()) return LabelKey("txt_NO_RECPATH");
  // rec_path is a 256-byte field: a longer path would come back cut.
  if (p.rec_path.size() > 255 || !is_storable_text(p.rec_path, kNoLeadingEquals))
    return LabelKey("txt_STR_ERROR");
  return std::nullopt;
}

RC_SYSTEM_INFO system_record_of(const SystemPageData& p, const RC_SYSTEM_INFO& loaded) {
  RC_SYSTEM_INFO y = loaded;
  long cycle = strtol(p.cycle_time.c_str(), nullptr, 10);
  if (cycle < kMinCycleTime) cycle = kMinCycleTime;
  if (cycle > kMaxCycleTime) cycle = kMaxCycleTime;
  y.cycle_time = static_cast<uint8_t>(cycle);
  copy_field(y.rec_path, p.rec_path.c_str());
  y.enable_alarm = p.alarm ? 1 : 0;
  if (p.motion_wav) copy_field(y.motion_wav, p.motion_wav->c_str());
  if (p.sensor_wav) copy_field(y.sensor_wav, p.sensor_wav->c_str());
  if (p.language) copy_field(y.language, p.language->c_str());
  if (p.resolution) copy_field(y.resolution, p.resolution->c_str());
  y.event_popup_type = static_cast<uint8_t>(p.popup_type);
  y.event_popup_time = static_cast<uint32_t>(p.popup_time);
  y.check_update = p.check_update ? 1 : 0;
  y.relay_duration = static_cast<uint32_t>(p.relay_time);
  return y;
}

std::string compose_system_save(const SystemPageData& p, const SetupSnapshot& s) {
  std::string system;
  write_system_section(system, system_record_of(p, s.sys));
  return compose_setup_cfg(s, {.system = system});
}

int email_page_too_long(const EmailPageData& p) {
  return any_too_long({{p.from, 200},
                       {p.to, 200},
                       {p.cc, 200},
                       {p.bcc, 200},
                       {p.reply, 200},
                       {p.server, 200},
                       {p.domain, 200},
                       {p.subject, 140},
                       {p.message, 140},
                       {p.user, 130},
                       {p.password, 16}});
}

std::optional<LabelKey> check_email_page(const EmailPageData& p) {
  if (email_page_too_long(p)) return LabelKey("txt_STR_ERROR");
  if (!is_digit_string(p.delay.c_str())) return LabelKey("txt_ERROR_DELAY");
  for (const std::string* t : {&p.from, &p.to, &p.cc, &p.bcc, &p.subject, &p.message, &p.reply,
                               &p.server, &p.domain, &p.user, &p.password})
    if (!is_storable_text(*t, kNoLeadingEquals)) return LabelKey("txt_STR_ERROR");
  return std::nullopt;
}

std::string compose_email_save(const EmailPageData& p, const SetupSnapshot& s) {
  RC_EMAIL_INFO m = s.mail;
  copy_field(m.from, p.from.c_str());
  copy_field(m.receipient, p.to.c_str());
  copy_field(m.cc, p.cc.c_str());
  copy_field(m.bcc, p.bcc.c_str());
  copy_field(m.subject, p.subject.c_str());
  m.attachment = p.attachment ? 1 : 0;
  copy_field(m.inline_msg, p.message.c_str());
  copy_field(m.replyto, p.reply.c_str());
  copy_field(m.username, p.user.c_str());
  copy_field(m.password, p.password.c_str());
  copy_field(m.smtpserver, p.server.c_str());
  copy_field(m.domain, p.domain.c_str());
  std::string email;
  write_email_section(email, m, p.delay.c_str());
  return compose_setup_cfg(s, {.email = email});
}
