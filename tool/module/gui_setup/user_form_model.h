// What the account page and form decide without widgets: the rights table, the checks of a
// save and the [USER] texts of add, edit and delete. No GTK; GTK main thread only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tool/language_keys.h"
#include "tool/module/gui_setup/setup_writer.h"

// Account levels the tool knows.
constexpr int kLevelAdmin = 1;
constexpr int kLevelNormal = 2;
// The ten rights of rights mask 1, bit 0 first; all ten is 0x3FF.
constexpr int kNumRights = 10;
constexpr uint32_t kAllRights = 0x3FF;
// Rights mask 2 of a new account: the form has no control for it; all bits is what the
// reader assumes for a field it cannot read.
constexpr uint32_t kNewAccountMask2 = 0xFFFFFFFFu;

// The privileged account: `tovek` or `Tovek`.
bool is_privileged_account(const std::string& id);

struct UserFormData {
  bool edit = false;
  std::string old_id;  // edit: the id the account had when the form opened
  int level = kLevelNormal;
  std::string id, fullname, password, confirm, email;
  uint32_t rights = 0;
};

// 1 when the id, full name, password, confirmation or e-mail is longer than allowed.
int user_form_too_long(const UserFormData& f);
// The first check of a save that fails, in the form's order (add reports a taken id
// before a wrong confirmation, edit the other way round), or nothing.
std::optional<LabelKey> check_user_form(const UserFormData& f, const SetupSnapshot& s);

// setup.cfg after adding or editing the account, or after a delete that keeps the accounts
// `keep` (indexes into s.user) in that order.
std::string compose_user_add(const UserFormData& f, const SetupSnapshot& s);
std::string compose_user_edit(const UserFormData& f, const SetupSnapshot& s);
std::string compose_user_delete(const std::vector<int>& keep, const SetupSnapshot& s);
