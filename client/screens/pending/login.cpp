// Stand-in until the login screen lands; that module replaces this file.
#include "client/screens/login.h"

// No screen yet: the login is not completed, so an operator must come in through -u.
[[gnu::weak]] int init_skin_window(APP_OPTIONS*) { return 0; }
