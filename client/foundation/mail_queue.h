// The e-mail alert queue: 32 slots filled by the DVR event actions and sent one at a time by
// the sender thread through the project's `mailsend` program (beside vigilo), with the
// [EMAIL] settings of setup.cfg. The same event of the same DVR channel is mailed at most
// once within [EMAIL] delay seconds.
//
// Threads: mail_enqueue from the event actions' worker; mail_sender_thread is the one
// sender; init and stop from start-up and shutdown. The queue is guarded by its own lock.
// The password reaches mailsend through a pipe on its standard input, never its command line,
// and is never printed or logged.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr int MAIL_QUEUE_SLOTS = 32;
constexpr int MAIL_FIELD_SIZE = 1000;    // each text field, with its NUL
constexpr int MAIL_FIELDS_LIMIT = 1000;  // most characters of all fields that are sent
// How long the sender waits for one mailsend run before it ends it (mailsend ends itself
// within 60 s).
constexpr int MAIL_SEND_WAIT_MS = 90000;

enum MAIL_FIELD : int {
  MAIL_AUTH,
  MAIL_USER,
  MAIL_PASSWORD,
  MAIL_FROM,
  MAIL_TO,
  MAIL_SMTP,
  MAIL_DOMAIN,
  MAIL_CC,
  MAIL_BCC,
  MAIL_SUBJECT,
  MAIL_ATTACH,
  MAIL_ATTACH_TYPE,
  MAIL_MESSAGE,
  MAIL_REPLY_TO,
  MAIL_SPARE,
  MAIL_NUM_FIELDS
};

struct MAIL_ITEM {
  char field[MAIL_NUM_FIELDS][MAIL_FIELD_SIZE];
  uint32_t sender_form;  // 0 the full form with authentication, else the short form
  uint32_t auth_method;  // 1 PLAIN, 2 CRAM-MD5, 3 LOGIN, other: as the server offers
};

// Empties the queue and the recently-mailed table.
void mail_queue_init();
// Queues the alert of channel `channel` (1..32) of the DVR at receiver index `dvr_index`
// named `dvr_name`, event `kind`, with the JPEG at `jpeg_path` (may be null): 0 queued;
// -1 refused as a repeat within the delay or because 32 mails wait ("Email queue is already
// full. ..."); -2 when both the recipient and the SMTP server are empty. A repeat, or a mail
// while [EMAIL] attachment is 0, deletes the JPEG.
int mail_enqueue(int dvr_index, const char* dvr_name, int channel, uint8_t kind,
                 const char* jpeg_path);
// Expands "%D" (DVR name), "%C" (channel), "%T" (local time now) and "%E" (event name),
// each at its first place only, into out[MAIL_FIELD_SIZE]; the result is cut to fit.
void mail_expand_template(char* out, const char* tmpl, const char* dvr_name, int channel,
                          const char* event_name);
// The argument vector of one mail, without the program: the words the mailsend of this
// project takes, one word for each value however empty or spaced; the password is "-pass -"
// (mailsend reads it from its standard input).
std::vector<std::string> mail_send_words(const MAIL_ITEM& item);
// Sends one item with `<program dir>mailsend`, the password on its standard input, waiting
// at most MAIL_SEND_WAIT_MS (or until the queue stops): 0 mailsend reported success; -1 it
// failed, could not start or was ended; -2 the fields exceed MAIL_FIELDS_LIMIT ("mailsend
// parameter exceeded!  %10d"), not sent. Each mail not sent writes one "EVENT" line to the
// system log and standard output: recipient, subject and the reason (mailsend's last line on
// its standard error, which goes to the work file, or why it was ended).
int mail_send(MAIL_ITEM item);
// The sender loop (SDL thread); the argument is unused. Returns 0 once the queue stops.
int mail_sender_thread(void* unused);
// Mails waiting in the queue.
int mail_queue_count();
// Stops the queue: tells the sender, wakes it and waits until it has left (a mailsend run in
// progress is ended), then empties the queue. 0, or -1 when mails were still queued ("There
// are unsent messages in the queue. They will be discarded."). mail_queue_init starts anew.
int mail_queue_stop();
