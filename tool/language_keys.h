// The language keys of auxdesk with their English texts: the one table that the tool looks
// its keys up by and that the build writes into english.txt. Header only, no GTK.
//
// A key is found by its first occurrence anywhere in the language file, so the table lists
// each key before every longer key that begins with it (byte order does that), and no text
// holds a key. The build refuses a table that breaks either rule.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

struct LanguageKey {
  const char* key;
  const char* english;
};

inline constexpr LanguageKey kLanguageKeys[] = {
    {"def_ADD", "Add"},
    {"def_ADDALL", "Add all"},
    {"def_ALL", "All"},
    {"def_ALLSEL", "Select all"},
    {"def_ALWAYS", "Always"},
    {"def_BROWSE", "Browse"},
    {"def_CANCEL", "Cancel"},
    {"def_CLOSE", "Close"},
    {"def_DELETE", "Delete"},
    {"def_DISABLE", "Disable"},
    {"def_EDIT", "Edit"},
    {"def_EMAP_ADD", "Add"},
    {"def_EMAP_BROWSE", "Browse"},
    {"def_EMAP_CANCEL", "Cancel"},
    {"def_EMAP_DELETE", "Delete"},
    {"def_EMAP_EDIT", "Edit"},
    {"def_EMAP_OK", "OK"},
    {"def_EMAP_SAVE", "Save"},
    {"def_EMPTY", "Empty"},
    {"def_ENABLE", "Enable"},
    {"def_NONE", "None"},
    {"def_OFF", "Off"},
    {"def_OK", "OK"},
    {"def_ON", "On"},
    {"def_SHOWSYSLOG", "System log"},
    {"lbl_0_SECOND", "0 second"},
    {"lbl_10MIN", "10 minutes"},
    {"lbl_10_SECONDS", "10 seconds"},
    {"lbl_19200", "19200"},
    {"lbl_1_SECOND", "1 second"},
    {"lbl_2400", "2400"},
    {"lbl_30MIN", "30 minutes"},
    {"lbl_30_SECONDS", "30 seconds"},
    {"lbl_352x240", "352 x 240"},
    {"lbl_352x288", "352 x 288"},
    {"lbl_4800", "4800"},
    {"lbl_5_SECONDS", "5 seconds"},
    {"lbl_60MIN", "60 minutes"},
    {"lbl_60_SECONDS", "60 seconds"},
    {"lbl_720x240", "720 x 240"},
    {"lbl_720x288", "720 x 288"},
    {"lbl_720x480", "720 x 480"},
    {"lbl_720x576", "720 x 576"},
    {"lbl_9600", "9600"},
    {"lbl_ACCESS", "Access rights"},
    {"lbl_ACCOUNT", "Accounts"},
    {"lbl_ADDINFO", "Site information"},
    {"lbl_ADMIN", "Administrator"},
    {"lbl_ALARM", "Alarm"},
    {"lbl_ALA_TIME", "Alarm time"},
    {"lbl_ATTACHMENTS", "Attachment"},
    {"lbl_AUDIO", "Audio"},
    {"lbl_BRIGHTNESS", "Brightness"},
    {"lbl_CAMERA", "Camera"},
    {"lbl_CAMERA_HIDE", "Hide"},
    {"lbl_CAMNAME", "Camera name"},
    {"lbl_CDT", "Cycle time"},
    {"lbl_CHK_DISABLE", "Disable"},
    {"lbl_CHK_ENABLE", "Enable"},
    {"lbl_CHK_UPDATE", "Update check"},
    {"lbl_CLEAR", "Clear"},
    {"lbl_COLOR", "Colour"},
    {"lbl_CON", "Con."},
    {"lbl_CONPASS", "Confirm"},
    {"lbl_CONTRAST", "Contrast"},
    {"lbl_CON_MODE", "Connection"},
    {"lbl_DDNS", "DDNS"},
    {"lbl_DVRNAME", "DVR name"},
    {"lbl_DVRREC", "Record"},
    {"lbl_DVRSETUP", "DVR setup"},
    {"lbl_DVR_TYPE", "Model"},
    {"lbl_EMAIL", "E-mail"},
    {"lbl_EMAILCFG", "Alert mail"},
    {"lbl_EMAIL_BCC", "Bcc"},
    {"lbl_EMAIL_CC", "Cc"},
    {"lbl_EMAIL_FROM", "From"},
    {"lbl_EMAIL_MSG", "Message"},
    {"lbl_EMAIL_REPLY", "Reply to"},
    {"lbl_EMAIL_SUBJECT", "Subject"},
    {"lbl_EMAIL_TO", "To"},
    {"lbl_EMAP_CAMERA", "Camera"},
    {"lbl_EMAP_DVR_DEVICES", "Devices"},
    {"lbl_EMAP_DVR_MAPS", "Maps"},
    {"lbl_EMAP_EMAP_ADD", "Add map"},
    {"lbl_EMAP_EMAP_EDIT", "Edit map"},
    {"lbl_EMAP_EMAP_NAME", "Map name"},
    {"lbl_EMAP_EMAP_PATH", "Picture"},
    {"lbl_EMAP_NUMBER", "No."},
    {"lbl_EMAP_RELAY", "Relay"},
    {"lbl_EMAP_SENSOR", "Sensor"},
    {"lbl_ENABLEALARM", "Alarm sound"},
    {"lbl_ENGLISH", "English"},
    {"lbl_ERASE", "Erase"},
    {"lbl_EVENT_POPUP", "Event pop-up"},
    {"lbl_EVT_1LAYOUT", "Single"},
    {"lbl_EVT_PIP", "PIP"},
    {"lbl_EVT_POPUP", "Event pop-up"},
    {"lbl_EVT_SEC", "s"},
    {"lbl_EVT_SPOT", "Spot"},
    {"lbl_EVT_TIME", "Time"},
    {"lbl_FILEPLYBCK", "Playback"},
    {"lbl_FILESYS", "Recording"},
    {"lbl_FIREDEPTNO", "Fire dept."},
    {"lbl_FNAME", "Full name"},
    {"lbl_FPS", "Frame rate"},
    {"lbl_FULLTIME", "Full time"},
    {"lbl_GATEWAY", "Gateway"},
    {"lbl_GENERAL", "General"},
    {"lbl_GLIST", "Cameras"},
    {"lbl_GNAME", "Group name"},
    {"lbl_GROUP", "Groups"},
    {"lbl_HIGH", "High"},
    {"lbl_HIGHEST", "Highest"},
    {"lbl_HOSTNAME", "Host name"},
    {"lbl_HOST_NAME", "Host name"},
    {"lbl_HUE", "Hue"},
    {"lbl_IM_DHCP", "DHCP"},
    {"lbl_IM_STATIC", "Static"},
    {"lbl_IP", "IP address"},
    {"lbl_IP_MODE", "Address mode"},
    {"lbl_LANGUAGE", "Language"},
    {"lbl_LOCATION", "Location"},
    {"lbl_LOGVIEW", "Log view"},
    {"lbl_LOW", "Low"},
    {"lbl_MANAGERNAME", "Manager"},
    {"lbl_MOTION", "Motion"},
    {"lbl_MOTION_AREA", "Motion area"},
    {"lbl_MOTION_TRACE", "Motion trace"},
    {"lbl_MSELECT", "Select"},
    {"lbl_NAME_SERVER", "Name server"},
    {"lbl_NETMASK", "Netmask"},
    {"lbl_NETWORK", "Network"},
    {"lbl_NORMALUSER", "Operator"},
    {"lbl_PASSWORD", "Password"},
    {"lbl_PELCO_D", "Pelco D"},
    {"lbl_PELCO_P", "Pelco P"},
    {"lbl_POLICENO", "Police"},
    {"lbl_PORT", "Port"},
    {"lbl_PPPOE", "PPPoE"},
    {"lbl_PTZ", "PTZ"},
    {"lbl_PTZCTRL", "PTZ control"},
    {"lbl_PTZ_ADDRESS", "Address"},
    {"lbl_PTZ_PROTOCOL", "Protocol"},
    {"lbl_PTZ_SPEED", "Speed"},
    {"lbl_QUALITY", "Quality"},
    {"lbl_RECORD", "Record"},
    {"lbl_RECPATH", "Record path"},
    {"lbl_REC_MODE", "Record mode"},
    {"lbl_REC_POST", "Post-alarm"},
    {"lbl_REC_PO_TIME", "Post-alarm time"},
    {"lbl_REC_PRE", "Pre-alarm"},
    {"lbl_RELAY_TIME", "Relay time"},
    {"lbl_RESO", "Screen"},
    {"lbl_RESOLUTION", "Resolution"},
    {"lbl_RM_MOTION", "Motion"},
    {"lbl_RM_SCHEDULE", "Schedule"},
    {"lbl_RM_SENSOR", "Sensor"},
    {"lbl_SATURATION", "Saturation"},
    {"lbl_SCHED", "Schedule"},
    {"lbl_SCREENSAVER", "Screen saver"},
    {"lbl_SEARCH", "Search"},
    {"lbl_SEC", "seconds"},
    {"lbl_SELECTEDCAM", "Selected cameras"},
    {"lbl_SELECT_ALL", "All"},
    {"lbl_SENSITIVITY", "Sensitivity"},
    {"lbl_SENSOR", "Sensor"},
    {"lbl_SENSOR_TYPE", "Sensor type"},
    {"lbl_SERVER", "Server"},
    {"lbl_SETTING", "Setting"},
    {"lbl_SETUP", "Setup"},
    {"lbl_SHARPNESS", "Sharpness"},
    {"lbl_SITE", "Site"},
    {"lbl_SMTPCFG", "Mail server"},
    {"lbl_SMTPDELAY", "Delay"},
    {"lbl_SMTPDOMAIN", "Domain"},
    {"lbl_SMTPSEC", "s"},
    {"lbl_SMTPSERVER", "Server"},
    {"lbl_SNAPSHOT", "Snapshot"},
    {"lbl_SPOTWINDOW", "Spot window"},
    {"lbl_STANDARD", "Standard"},
    {"lbl_STATUS", "Status"},
    {"lbl_ST_NC", "N.C."},
    {"lbl_ST_NO", "N.O."},
    {"lbl_SYSTEM", "System"},
    {"lbl_TELNO", "Telephone"},
    {"lbl_TYPE", "Type"},
    {"lbl_USER", "User"},
    {"lbl_USER_NAME", "User name"},
    {"lbl_USER_TYPE", "Type"},
    {"lbl_VF_NTSC", "NTSC"},
    {"lbl_VF_PAL", "PAL"},
    {"lbl_VIDEO_FORMAT", "Video format"},
    {"lbl_WONWOO", "Wonwoo"},
    {"txt_CAMERAALL", "All cameras"},
    {"txt_CAMERANO", "Camera"},
    {"txt_CAM_EXIST", "This camera is already in the list."},
    {"txt_CONFIRMPASS", "The password and its confirmation differ."},
    {"txt_DELETEITEM", "Delete the selected items?"},
    {"txt_DVR_EXIST", "A DVR of this name already exists."},
    {"txt_DVR_IN_GROUP", "belongs to a group and cannot be deleted."},
    {"txt_DVR_UNIQUE", "A group already has this name."},
    {"txt_DVR_WRITE_FORMAT",
     "#dvr_name=model,ip address,connection,video,listening,control,playback,http,audio,host "
     "type,channels,location,manager name,tel No.,police station No.,firedept No.,username,"
     "password"},
    {"txt_EMAP_EXIST", "is already placed."},
    {"txt_EMAP_NOTEXIST", "The map picture cannot be found."},
    {"txt_ERROR_ADMIN", "The privileged account cannot be deleted."},
    {"txt_ERROR_AUDIO", "The audio port must be a number."},
    {"txt_ERROR_AUTHORITY", "You may only change your own account."},
    {"txt_ERROR_CONTROL", "The control port must be a number."},
    {"txt_ERROR_DELAY", "The mail delay must be a number of seconds."},
    {"txt_ERROR_FIREDEPT_NO", "The fire department number must hold digits only."},
    {"txt_ERROR_HTTP", "The HTTP port must be a number."},
    {"txt_ERROR_IP", "The IP address is not valid."},
    {"txt_ERROR_LISTENING", "The listening port must be a number."},
    {"txt_ERROR_PLAYBACK", "The playback port must be a number."},
    {"txt_ERROR_POLICE_NO", "The police number must hold digits only."},
    {"txt_ERROR_SELF_ACCOUNT", "You cannot delete your own account."},
    {"txt_ERROR_TEL_NO", "The telephone number must hold digits only."},
    {"txt_ERROR_VIDEO", "The port must be a number from 1 to 65535."},
    {"txt_ERR_8CH_LIMIT_100FPS", "The eight cameras may record 100 frames a second in all."},
    {"txt_ERR_8CH_LIMIT_120FPS", "The eight cameras may record 120 frames a second in all."},
    {"txt_ERR_8CH_LIMIT_200FPS", "The eight cameras may record 200 frames a second in all."},
    {"txt_ERR_8CH_LIMIT_240FPS", "The eight cameras may record 240 frames a second in all."},
    {"txt_ERR_8CH_LIMIT_50FPS", "The eight cameras may record 50 frames a second in all."},
    {"txt_ERR_8CH_LIMIT_60FPS", "The eight cameras may record 60 frames a second in all."},
    {"txt_ERR_LIMIT_100FPS", "The cameras may record 100 frames a second in all."},
    {"txt_ERR_LIMIT_120FPS", "The cameras may record 120 frames a second in all."},
    {"txt_ERR_LIMIT_25FPS", "A camera may record 25 frames a second at most."},
    {"txt_ERR_LIMIT_30FPS", "A camera may record 30 frames a second at most."},
    {"txt_ERR_LIMIT_50FPS", "The cameras may record 50 frames a second in all."},
    {"txt_ERR_LIMIT_60FPS", "The cameras may record 60 frames a second in all."},
    {"txt_GROUP_EXIST", "A group of this name already exists."},
    {"txt_GROUP_UNIQUE", "A DVR already has this name."},
    {"txt_INSERT_LOCATION", "Please enter the location."},
    {"txt_INVALID_GATEWAY", "The gateway address is not valid."},
    {"txt_INVALID_NAMESERVER", "The name server address is not valid."},
    {"txt_INVALID_NETMASK", "The netmask is not valid."},
    {"txt_INVALID_NET_IP", "The IP address is not valid."},
    {"txt_INVALID_PORT", "The port is not valid."},
    {"txt_NO_CAMS", "Please choose at least one camera."},
    {"txt_NO_CDT", "Please enter the cycle time."},
    {"txt_NO_DVR_NAME", "Please enter the DVR name."},
    {"txt_NO_EMAIL", "Please enter the e-mail address."},
    {"txt_NO_FIREDEPTNO", "Please enter the fire department number."},
    {"txt_NO_FIREDEPT_NO", "Please enter the fire department number."},
    {"txt_NO_FNAME", "Please enter the full name."},
    {"txt_NO_GNAME", "Please enter the group name."},
    {"txt_NO_IP", "Please enter the address."},
    {"txt_NO_MANAGERNAME", "Please enter the manager."},
    {"txt_NO_MGR_NAME", "Please enter the manager."},
    {"txt_NO_PASSWORD", "Please enter the password."},
    {"txt_NO_PASSWORDCON", "Please confirm the password."},
    {"txt_NO_POLICENO", "Please enter the police number."},
    {"txt_NO_POLICE_NO", "Please enter the police number."},
    {"txt_NO_RECPATH", "Please choose the record path."},
    {"txt_NO_TELNO", "Please enter the telephone number."},
    {"txt_NO_TEL_NO", "Please enter the telephone number."},
    {"txt_NO_USERNAME", "Please enter the user name."},
    {"txt_NO_VIDEO_STREAM", "Please enter the port."},
    {"txt_STR_ERROR", "A text is too long or holds a character that cannot be stored."},
    {"txt_SYSTEMSAVED", "The system settings are saved."},
    {"txt_USER_EXIST", "An account of this name already exists."},
};

inline constexpr size_t kNumLanguageKeys = sizeof kLanguageKeys / sizeof kLanguageKeys[0];

constexpr bool is_language_key(std::string_view key) {
  for (const LanguageKey& k : kLanguageKeys)
    if (key == k.key) return true;
  return false;
}

constexpr size_t count_language_keys(std::string_view prefix) {
  size_t n = 0;
  for (const LanguageKey& k : kLanguageKeys)
    if (std::string_view(k.key).starts_with(prefix)) ++n;
  return n;
}

static_assert(count_language_keys("lbl_") == 168 && count_language_keys("def_") == 25 &&
                  count_language_keys("txt_") == 68 && kNumLanguageKeys == 261,
              "the tool looks up 168 lbl_, 25 def_ and 68 txt_ keys");

// A key the tool looks up: built only from a literal of the table, so a key the language
// file cannot hold fails the build. The constructor throws (at compile time) on a miss.
struct LabelKey {
  consteval LabelKey(const char* k) : key(k) {  // NOLINT: implicit on purpose
    if (!is_language_key(k)) throw "not a key of the language table";
  }
  const char* key;
};

// The lines of the tool's keys in a language file: "key = text", one a line, table order.
inline std::string language_key_lines() {
  std::string out;
  for (const LanguageKey& k : kLanguageKeys) out += std::string(k.key) + " = " + k.english + "\n";
  return out;
}

// What keeps a language file text from serving the tool's lookup (the first occurrence of
// a key anywhere, then the rest of its line after the separators): "" when every key of
// the table is first found at the start of its own line followed by a separator, and every
// text is non-empty, starts with no separator and holds no key, line end or '['.
inline std::string language_file_problem(std::string_view file) {
  auto is_sep = [](char c) { return c == ' ' || c == '\t' || c == '='; };
  for (const LanguageKey& k : kLanguageKeys) {
    const std::string_view key = k.key;
    size_t at = file.find(key);
    if (at == std::string_view::npos) return std::string(key) + " is missing";
    if ((at > 0 && file[at - 1] != '\n') || at + key.size() >= file.size() ||
        !is_sep(file[at + key.size()]))
      return std::string(key) + " is first found inside another line";
    size_t text = at + key.size();
    while (text < file.size() && is_sep(file[text])) ++text;
    size_t end = file.find('\n', text);
    std::string_view value = file.substr(text, end == std::string_view::npos ? end : end - text);
    if (!value.empty() && value.back() == '\r') value.remove_suffix(1);
    if (value.empty()) return std::string(key) + " has no text";
    if (value.find_first_of("\r[") != std::string_view::npos)
      return std::string(key) + " has a text holding '[' or a line end";
    for (const LanguageKey& other : kLanguageKeys)
      if (value.find(other.key) != std::string_view::npos)
        return std::string(key) + " has a text holding the key " + other.key;
  }
  for (const LanguageKey& k : kLanguageKeys) {
    std::string_view text = k.english;
    if (text.empty() || is_sep(text.front()))
      return std::string(k.key) + " has a text that is empty or starts with a separator";
  }
  return "";
}
