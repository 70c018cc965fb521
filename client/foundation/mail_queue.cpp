// The e-mail alert queue and its sender thread.
#include "client/foundation/mail_queue.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "client/foundation/app_state.h"
#include "client/foundation/config/app_options.h"
#include "client/foundation/config/setup_config.h"
#include "client/foundation/config/system_log.h"
#include "client/foundation/config/utils.h"
#include "platform/sync/thread_name.h"
#include "platform/system/process.h"

namespace {

// One entry of the recently-mailed table.
struct MAILED {
  uint64_t time;  // 0 unused
  char dvr_name[131];
  uint8_t channel;
  uint8_t kind;
};

struct MailQueue {
  std::mutex lock;
  std::condition_variable wake;  // posts or stop
  std::condition_variable left;  // the sender left its loop
  MAIL_ITEM slots[MAIL_QUEUE_SLOTS];
  int count = 0;
  int posts = 0;  // the semaphore's count
  std::atomic<bool> stop{false};
  bool sender_running = false;
  // Keyed by receiver index and channel: an id past the table, or -1, can never index it.
  MAILED mailed[MAX_RECEIVERS][MAX_CHANNELS];
};

MailQueue& queue() {
  static MailQueue q;
  return q;
}

MAILED* mailed_entry(MailQueue& q, int dvr_index, int channel) {
  if (dvr_index < 0 || dvr_index >= MAX_RECEIVERS || channel < 1 || channel > MAX_CHANNELS)
    return nullptr;
  return &q.mailed[dvr_index][channel - 1];
}

void replace_first(std::string& text, const char* placeholder, const std::string& value) {
  const size_t at = text.find(placeholder);
  if (at != std::string::npos) text.replace(at, 2, value);
}

bool file_exists(const char* path) {
  struct stat st {};
  return path && *path && stat(path, &st) == 0;
}

void remove_file(const char* path) {
  if (path && *path) std::remove(path);
}

// The last line mailsend wrote on its standard error (its reason), "" when none.
std::string last_line(const std::string& path) {
  std::string text;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
      text.append(buf, n);
      if (text.size() > 2 * sizeof buf) text.erase(0, text.size() - sizeof buf);
    }
    std::fclose(f);
  }
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  const size_t nl = text.find_last_of('\n');
  if (nl != std::string::npos) text.erase(0, nl + 1);
  if (text.rfind("mailsend: ", 0) == 0) text.erase(0, 10);
  return text;
}

// One system log line for a mail that did not go: its recipient, subject and the reason.
// The field separator and control characters of the texts become spaces.
void log_mail_failure(const MAIL_ITEM& item, const std::string& reason) {
  auto field = [&](int i) { return std::string(item.field[i], strnlen(item.field[i], 200)); };
  std::string text = "Alert mail to <" + field(MAIL_TO) + "> not sent (" + field(MAIL_SUBJECT) +
                     "): " + (reason.empty() ? std::string("no reason given") : reason);
  if (text.size() > 480) text.resize(480);
  text = system_log_field(std::move(text));
  std::printf("%s\n", text.c_str());
  write_system_log_line("EVENT", app_options.user_id, text.c_str());
}

std::string mailsend_path() {
  const char* dir = app_options.program_dir;
  return std::string(dir[0] ? dir : "./") + "mailsend";
}

}  // namespace

void mail_queue_init() {
  MailQueue& q = queue();
  std::lock_guard<std::mutex> g(q.lock);
  std::memset(q.slots, 0, sizeof q.slots);
  std::memset(q.mailed, 0, sizeof q.mailed);
  q.count = 0;
  q.posts = 0;
  q.stop.store(false);
}

void mail_expand_template(char* out, const char* tmpl, const char* dvr_name, int channel,
                          const char* event_name) {
  std::string text(tmpl ? tmpl : "");
  if (text.size() > MAIL_FIELD_SIZE - 1) text.resize(MAIL_FIELD_SIZE - 1);
  const time_t now = time(nullptr);
  struct tm local {};
  char when[32] = "";
  if (localtime_r(&now, &local)) strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local);
  replace_first(text, "%D", dvr_name ? dvr_name : "");
  replace_first(text, "%C", std::to_string(channel));
  replace_first(text, "%T", when);
  replace_first(text, "%E", event_name ? event_name : "");
  copy_field(out, MAIL_FIELD_SIZE, text.c_str());
}

int mail_enqueue(int dvr_index, const char* dvr_name, int channel, uint8_t kind,
                 const char* jpeg_path) {
  RC_EMAIL_INFO em;
  copy_email_info(&em);
  const uint64_t now = uint64_t(time(nullptr));
  const char* name = dvr_name ? dvr_name : "";
  MailQueue& q = queue();
  {
    std::lock_guard<std::mutex> g(q.lock);
    const MAILED* last = mailed_entry(q, dvr_index, channel);
    if (last && last->time && strcmp(last->dvr_name, name) == 0 && last->channel == channel &&
        last->kind == kind && now - last->time <= em.delay) {
      remove_file(jpeg_path);
      return -1;
    }
  }

  auto item = std::make_unique<MAIL_ITEM>();
  std::memset(item.get(), 0, sizeof *item);
  char(*f)[MAIL_FIELD_SIZE] = item->field;
  const char* event_name = event_type_name(kind);
  mail_expand_template(f[MAIL_SUBJECT], em.subject, name, channel, event_name);
  mail_expand_template(f[MAIL_MESSAGE], em.inline_msg, name, channel, event_name);
  copy_field(f[MAIL_TO], MAIL_FIELD_SIZE, em.receipient);
  copy_field(f[MAIL_FROM], MAIL_FIELD_SIZE, em.from);
  copy_field(f[MAIL_REPLY_TO], MAIL_FIELD_SIZE, em.replyto);
  copy_field(f[MAIL_CC], MAIL_FIELD_SIZE, em.cc);
  copy_field(f[MAIL_BCC], MAIL_FIELD_SIZE, em.bcc);
  copy_field(f[MAIL_USER], MAIL_FIELD_SIZE, em.username);
  copy_field(f[MAIL_PASSWORD], MAIL_FIELD_SIZE, em.password);
  copy_field(f[MAIL_SMTP], MAIL_FIELD_SIZE, em.smtpserver);
  copy_field(f[MAIL_DOMAIN], MAIL_FIELD_SIZE, em.domain);
  if (em.attachment) {
    if (file_exists(jpeg_path)) {
      copy_field(f[MAIL_ATTACH], MAIL_FIELD_SIZE, jpeg_path);
      copy_field(f[MAIL_ATTACH_TYPE], MAIL_FIELD_SIZE, ",image/jpg");
    }
  } else {
    remove_file(jpeg_path);
  }
  if (!f[MAIL_TO][0] && !f[MAIL_SMTP][0]) return -2;

  std::lock_guard<std::mutex> g(q.lock);
  if (q.count >= MAIL_QUEUE_SLOTS) {
    std::printf(
        "Email queue is already full. SMTP server is unable to cope with the number of "
        "incoming events.\n");
    return -1;
  }
  q.slots[q.count++] = *item;
  ++q.posts;
  q.wake.notify_all();
  if (MAILED* e = mailed_entry(q, dvr_index, channel)) {
    e->time = now;
    copy_field(e->dvr_name, name);
    e->channel = uint8_t(channel);
    e->kind = kind;
  }
  return 0;
}

std::vector<std::string> mail_send_words(const MAIL_ITEM& item) {
  auto field = [&](int i) {
    return std::string(item.field[i], strnlen(item.field[i], MAIL_FIELD_SIZE));
  };
  std::vector<std::string> w;
  if (item.sender_form == 0) {
    const char* auth = item.auth_method == 1   ? "-auth-plain"
                       : item.auth_method == 2 ? "-auth-cram-md5"
                       : item.auth_method == 3 ? "-auth-login"
                                               : "-auth";
    // The password goes through mailsend's standard input: /proc shows every argument.
    w = {"-starttls", auth, "-user", field(MAIL_USER), "-pass", "-"};
  }
  for (const std::string& s :
       {std::string("-f"), field(MAIL_FROM), std::string("-t"), field(MAIL_TO),
        std::string("-smtp"), field(MAIL_SMTP), std::string("-d"), field(MAIL_DOMAIN)})
    w.push_back(s);
  if (item.field[MAIL_CC][0]) w.push_back("+cc");
  if (item.field[MAIL_BCC][0]) w.push_back("+bcc");
  for (const std::string& s : {std::string("-sub"), field(MAIL_SUBJECT), std::string("-attach"),
                               field(MAIL_ATTACH), std::string("-M"), field(MAIL_MESSAGE)})
    w.push_back(s);
  return w;
}

int mail_send(MAIL_ITEM item) {
  long total = 0;
  for (int i = 0; i < MAIL_NUM_FIELDS; ++i) total += long(strnlen(item.field[i], MAIL_FIELD_SIZE));
  if (total > MAIL_FIELDS_LIMIT) {
    std::printf("mailsend parameter exceeded!  %10ld\n", total);
    log_mail_failure(item,
                     "its fields exceed " + std::to_string(MAIL_FIELDS_LIMIT) + " characters");
    return -2;
  }

  // The mail sender's work file, its standard error (the reason of a failure): made private
  // and removed once the sender has ended.
  const char* tmpdir = std::getenv("TMPDIR");
  std::string temp = std::string(tmpdir && *tmpdir ? tmpdir : "/tmp") + "/vigilo-mail-XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) {
    std::printf(
        "Could not create new temporary file. Check for write access or disk full error.\n");
    temp.clear();
  } else {
    close(fd);
  }

  const std::string program = mailsend_path();
  const std::vector<std::string> words = mail_send_words(item);
  std::vector<const char*> argv{program.c_str()};
  for (const std::string& s : words) argv.push_back(s.c_str());
  argv.push_back(nullptr);
  int rc = -1;
  const unsigned pass_len =
      item.sender_form == 0 ? unsigned(strnlen(item.field[MAIL_PASSWORD], MAIL_FIELD_SIZE)) : 0;
  const int pid = start_process_with_input(argv.data(), item.field[MAIL_PASSWORD], pass_len,
                                           nullptr, temp.empty() ? nullptr : temp.c_str());
  std::string reason;
  if (pid <= 0) {
    reason = "mailsend could not be started";
  } else {
    MailQueue& q = queue();
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(MAIL_SEND_WAIT_MS);
    int code = -1, w = 1;
    while (w == 1 && !q.stop.load() && Clock::now() < deadline) w = wait_process(pid, 100, &code);
    if (w == 1) {
      // Overdue, or the client is ending: the mail is given up.
      reason = q.stop.load()
                   ? "ended at exit"
                   : "no answer within " + std::to_string(MAIL_SEND_WAIT_MS / 1000) + " s";
      terminate_process(pid);
      wait_process(pid, 2000, &code);
    } else if (w == 0 && code == 0) {
      rc = 0;
    } else {
      reason = temp.empty() ? std::string() : last_line(temp);
      if (reason.empty()) reason = "mailsend ended with code " + std::to_string(code);
    }
  }
  if (rc != 0) log_mail_failure(item, reason);
  if (!temp.empty()) std::remove(temp.c_str());
  return rc;
}

int mail_sender_thread(void*) {
  set_current_thread_name("mail sender");
  MailQueue& q = queue();
  std::unique_lock<std::mutex> g(q.lock);
  q.sender_running = true;
  auto item = std::make_unique<MAIL_ITEM>();
  while (!q.stop.load()) {
    q.wake.wait(g, [&] { return q.stop.load() || q.posts > 0; });
    if (q.stop.load()) break;
    --q.posts;
    if (q.count == 0) {
      std::printf("This shouldn't happen unless app is terminating!\n");
      continue;
    }
    *item = q.slots[0];
    std::memmove(&q.slots[0], &q.slots[1], sizeof(MAIL_ITEM) * size_t(q.count - 1));
    --q.count;
    g.unlock();
    mail_send(*item);
    g.lock();
  }
  q.sender_running = false;
  q.left.notify_all();
  return 0;
}

int mail_queue_count() {
  MailQueue& q = queue();
  std::lock_guard<std::mutex> g(q.lock);
  return q.count;
}

int mail_queue_stop() {
  MailQueue& q = queue();
  std::unique_lock<std::mutex> g(q.lock);
  q.stop.store(true);
  q.wake.notify_all();
  q.left.wait(g, [&] { return !q.sender_running; });
  const int unsent = q.count;
  q.count = 0;
  q.posts = 0;
  if (unsent > 0) {
    std::printf("There are unsent messages in the queue. They will be discarded.\n");
    return -1;
  }
  return 0;
}
