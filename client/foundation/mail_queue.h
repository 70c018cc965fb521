// The e-mail alert queue: 32 slots filled by the DVR event actions, sent by one SDL sender
// thread through the outside mail sender.
//
// Not built yet: pending/mail_queue.cpp queues and sends nothing.
#pragma once

void mail_queue_init();
// Stops the sender: 0, or -1 when mails were still queued (they are discarded).
int mail_queue_stop();
// The sender loop; `quit_flag` is the address of app_quit.
int mail_sender_thread(void* quit_flag);
