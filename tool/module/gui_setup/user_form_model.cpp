// Account form decisions without widgets.
#include "tool/module/gui_setup/user_form_model.h"

#include "client/foundation/config/utils.h"
#include "tool/module/gui_setup/setup_checks.h"

bool is_privileged_account(const std::string& id) { return id == "tovek" || id == "Tovek"; }

int user_form_too_long(const UserFormData& f) {
  return any_too_long(
      {{f.id, 130}, {f.fullname, 200}, {f.password, 16}, {f.confirm, 16}, {f.email, 200}});
}

namespace {

int edited_index(const UserFormData& f, const SetupSnapshot& s) {
  int at = -1;
  for (size_t i = 0; i < s.user.size(); ++i)
    if (f.old_id == s.user[i].user) at = static_cast<int>(i);
  return at;
}

bool id_taken(const UserFormData& f, const SetupSnapshot& s, int except) {
  for (size_t i = 0; i < s.user.size(); ++i)
    if (static_cast<int>(i) != except && f.id == s.user[i].user) return true;
  return false;
}

// The form's account as a record: the line writer then formats it like any stored one.
RC_USER_INFO form_record(const UserFormData& f, uint32_t mask2) {
  RC_USER_INFO u{};
  copy_field(u.user, f.id.c_str());
  copy_field(u.fullname, f.fullname.c_str());
  copy_field(u.password, f.password.c_str());
  copy_field(u.note, f.email.c_str());
  u.level = static_cast<uint16_t>(f.level);
  u.rights_mask1 = f.rights;
  u.rights_mask2 = mask2;
  return u;
}

}  // namespace

std::optional<LabelKey> check_user_form(const UserFormData& f, const SetupSnapshot& s) {
  if (user_form_too_long(f)) return LabelKey("txt_STR_ERROR");
  if (f.id.empty()) return LabelKey("txt_NO_USERNAME");
  if (f.fullname.empty()) return LabelKey("txt_NO_FNAME");
  if (f.password.empty()) return LabelKey("txt_NO_PASSWORD");
  if (f.confirm.empty()) return LabelKey("txt_NO_PASSWORDCON");
  if (f.email.empty()) return LabelKey("txt_NO_EMAIL");
  if (!f.edit) {
    if (id_taken(f, s, -1)) return LabelKey("txt_USER_EXIST");
    if (f.password != f.confirm) return LabelKey("txt_CONFIRMPASS");
  } else {
    if (f.password != f.confirm) return LabelKey("txt_CONFIRMPASS");
    if (id_taken(f, s, edited_index(f, s))) return LabelKey("txt_USER_EXIST");
  }
  if (!is_storable_text(f.id, kNoBlank | kNoEquals) || !is_storable_text(f.fullname, kNoComma) ||
      !is_storable_text(f.password) || !is_storable_text(f.email, kNoBlank | kNoComma))
    return LabelKey("txt_STR_ERROR");
  return std::nullopt;
}

std::string compose_user_add(const UserFormData& f, const SetupSnapshot& s) {
  std::string user;
  append_user_head(user, static_cast<int>(s.user.size()) + 1);
  for (const RC_USER_INFO& u : s.user) append_user_line(user, u);
  append_user_line(user, form_record(f, kNewAccountMask2));
  return compose_setup_cfg(s, {.user = user});
}

std::string compose_user_edit(const UserFormData& f, const SetupSnapshot& s) {
  std::string user;
  append_user_head(user, static_cast<int>(s.user.size()));
  for (const RC_USER_INFO& u : s.user) {
    if (f.old_id == u.user)
      append_user_line(user, form_record(f, u.rights_mask2));
    else
      append_user_line(user, u);
  }
  return compose_setup_cfg(s, {.user = user});
}

std::string compose_user_delete(const std::vector<int>& keep, const SetupSnapshot& s) {
  std::string body;
  int written = 0;
  for (int i : keep) {
    if (i < 0 || static_cast<size_t>(i) >= s.user.size()) continue;
    append_user_line(body, s.user[static_cast<size_t>(i)]);
    ++written;
  }
  std::string user;
  append_user_head(user, written);
  user += body;
  return compose_setup_cfg(s, {.user = user});
}
