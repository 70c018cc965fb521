// Login values of auxdesk, set once by main before any other thread starts and only read
// afterwards (window handlers, the remote-setup fetch thread, started client windows).
#pragma once

// Account id of the operator; in mode "dvrsetup" the chosen DVR's user name.
extern char login_user[131];
// Password of the operator in plain text; in mode "dvrsetup" the chosen DVR's password.
// Never printed or logged.
extern char login_password[195];
// Name of the DVR whose settings mode "dvrsetup" edits.
extern char setup_dvr_name[131];

// The usage line, naming every mode word.
constexpr const char* kUsageText =
    "USAGE: ./auxdesk <browse, setup, emap, dvrsetup, logview> <username> <password> <passval1> "
    "<passval2>\n";
