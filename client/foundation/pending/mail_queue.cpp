// Stand-ins until the e-mail alert queue lands; that module replaces this file.
#include "client/foundation/mail_queue.h"

[[gnu::weak]] void mail_queue_init() {}
[[gnu::weak]] int mail_queue_stop() { return 0; }
[[gnu::weak]] int mail_sender_thread(void*) { return 0; }
