// mailsend: sends one alert mail over SMTP (libcurl), with the command line the client's
// mail queue builds, each value one word:
//   mailsend [-starttls] [-auth|-auth-plain|-auth-login|-auth-cram-md5] [-user U] [-pass P]
//            -f FROM -t TO[,TO...] -smtp HOST[:PORT] [-d DOMAIN] [+cc] [+bcc]
//            [-sub SUBJECT] [-attach PATH] [-M MESSAGE]
// -d is the name given in EHLO; -attach an empty word for none, else a file sent as a MIME
// part typed by its extension; +cc and +bcc are accepted and carry nothing. "-pass -" reads
// the password from standard input (up to its end; one trailing line break is dropped), so
// it never shows in the argument vector that every local user can read; a password given
// as a word is wiped from the argument vector at once. With a user the mail goes only over
// TLS (STARTTLS): credentials are never sent in the clear. -starttls alone upgrades when the
// server offers it. Addresses and names holding CR or LF are refused: they would reach the
// SMTP commands as commands of their own. Every step is bounded: the connect 15 s, each
// server answer 20 s, the whole run (the password read included) 60 s. Exit 0 only when the
// server accepted the mail; 1 when it did not; 2 for a bad command line. Nothing printed
// holds the password. $VIGILO_MAILSEND_TIMEOUT (seconds) shortens every limit (tests).
#include <curl/curl.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

constexpr long kConnectTimeout = 15;   // seconds
constexpr long kResponseTimeout = 20;  // each answer of the server, the last one included
constexpr long kTransferTimeout = 60;  // the whole run, from the password read to the QUIT
constexpr size_t kPasswordMax = 4096;

struct Options {
  bool starttls = false;
  std::string auth;  // login options of libcurl, empty: PLAIN or LOGIN as offered
  std::string user, pass, from, to, smtp, domain, subject, attach, message;
};

void usage() {
  std::fprintf(stderr,
               "usage: mailsend [-starttls] [-auth] [-user U -pass P] -f FROM -t TO[,TO...]\n"
               "                -smtp HOST[:PORT] [-d DOMAIN] [+cc] [+bcc] [-sub SUBJECT]\n"
               "                [-attach PATH] [-M MESSAGE]\n");
}

// 0, or 2 with the usage on a bad command line.
int parse(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    std::string* value = nullptr;
    // clang-format off
    if (a == "-starttls") o->starttls = true;
    else if (a == "-auth") o->auth = "AUTH=PLAIN;AUTH=LOGIN";
    else if (a == "-auth-plain") o->auth = "AUTH=PLAIN";
    else if (a == "-auth-login") o->auth = "AUTH=LOGIN";
    else if (a == "-auth-cram-md5") o->auth = "AUTH=CRAM-MD5";
    else if (a == "+cc" || a == "+bcc") continue;
    else if (a == "-user") value = &o->user;
    else if (a == "-pass") value = &o->pass;
    else if (a == "-f") value = &o->from;
    else if (a == "-t") value = &o->to;
    else if (a == "-smtp") value = &o->smtp;
    else if (a == "-d") value = &o->domain;
    else if (a == "-sub") value = &o->subject;
    else if (a == "-attach") value = &o->attach;
    else if (a == "-M") value = &o->message;
    // clang-format on
    else {
      std::fprintf(stderr, "mailsend: unknown option %s\n", a.c_str());
      usage();
      return 2;
    }
    if (!value) continue;
    if (i + 1 >= argc) {
      std::fprintf(stderr, "mailsend: %s needs a value\n", a.c_str());
      usage();
      return 2;
    }
    *value = argv[++i];
    if (value == &o->pass && o->pass != "-") std::memset(argv[i], 0, std::strlen(argv[i]));
  }
  if (o->auth.empty()) o->auth = "AUTH=PLAIN;AUTH=LOGIN";
  if (o->from.empty() || o->to.empty() || o->smtp.empty()) {
    std::fprintf(stderr, "mailsend: -f, -t and -smtp are required\n");
    usage();
    return 2;
  }
  const struct {
    const char* option;
    const std::string& value;
  } lines[] = {{"-f", o->from}, {"-t", o->to}, {"-smtp", o->smtp}, {"-d", o->domain}};
  for (const auto& l : lines)
    if (l.value.find_first_of("\r\n") != std::string::npos) {
      std::fprintf(stderr, "mailsend: %s holds a line break\n", l.option);
      return 2;
    }
  return 0;
}

std::vector<std::string> split_recipients(const std::string& list) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(',', start);
    if (comma == std::string::npos) comma = list.size();
    std::string r = list.substr(start, comma - start);
    const size_t b = r.find_first_not_of(" \t"), e = r.find_last_not_of(" \t");
    if (b != std::string::npos) out.push_back(r.substr(b, e - b + 1));
    start = comma + 1;
  }
  return out;
}

// A header text outside ASCII, or with line breaks, as an RFC 2047 encoded word.
std::string header_text(const std::string& text) {
  bool plain = true;
  for (unsigned char c : text)
    if (c >= 0x80 || c == '\r' || c == '\n') plain = false;
  if (plain) return text;
  static const char* b64 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out = "=?UTF-8?B?";
  for (size_t i = 0; i < text.size(); i += 3) {
    uint32_t v = uint32_t(uint8_t(text[i])) << 16;
    if (i + 1 < text.size()) v |= uint32_t(uint8_t(text[i + 1])) << 8;
    if (i + 2 < text.size()) v |= uint8_t(text[i + 2]);
    out += b64[(v >> 18) & 63];
    out += b64[(v >> 12) & 63];
    out += i + 1 < text.size() ? b64[(v >> 6) & 63] : '=';
    out += i + 2 < text.size() ? b64[v & 63] : '=';
  }
  return out + "?=";
}

const char* mime_type_of(const std::string& path) {
  std::string ext;
  const size_t dot = path.rfind('.');
  if (dot != std::string::npos) ext = path.substr(dot + 1);
  for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
  if (ext == "jpg" || ext == "jpeg") return "image/jpeg";
  if (ext == "bmp") return "image/bmp";
  if (ext == "png") return "image/png";
  if (ext == "txt" || ext == "log") return "text/plain";
  return "application/octet-stream";
}

std::string smtp_url(const Options& o) {
  std::string host = o.smtp;
  if (host.find(':') == std::string::npos) host += ":25";
  return "smtp://" + host + "/" + o.domain;
}

long timeout_or(long fallback) {
  const char* env = std::getenv("VIGILO_MAILSEND_TIMEOUT");
  const long v = env ? std::atol(env) : 0;
  return v > 0 && v < fallback ? v : fallback;
}

// "-pass -": the password is all of standard input (the run's time limit bounds the wait).
// 0, or -1 when it is too long or cannot be read.
int read_password(std::string* pass) {
  pass->clear();
  char chunk[512];
  for (;;) {
    const ssize_t n = read(STDIN_FILENO, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) break;
    if (n < 0 || pass->size() + size_t(n) > kPasswordMax) {
      std::fprintf(stderr, "mailsend: no password on standard input\n");
      return -1;
    }
    pass->append(chunk, size_t(n));
  }
  if (!pass->empty() && pass->back() == '\n') pass->pop_back();
  if (!pass->empty() && pass->back() == '\r') pass->pop_back();
  return 0;
}

// The whole run's limit: libcurl's own does not reach the wait for the answer to the message
// body, nor the QUIT after it.
void out_of_time(int) {
  static const char kLine[] = "mailsend: no answer within the time limit\n";
  (void)!write(STDERR_FILENO, kLine, sizeof kLine - 1);
  _exit(1);
}

// Owns everything libcurl is handed, for one mail.
struct Mail {
  CURL* curl = curl_easy_init();
  curl_mime* mime = nullptr;
  curl_slist* recipients = nullptr;
  curl_slist* headers = nullptr;
  ~Mail() {
    if (mime) curl_mime_free(mime);
    curl_slist_free_all(recipients);
    curl_slist_free_all(headers);
    if (curl) curl_easy_cleanup(curl);
  }
};

int send_mail(const Options& o) {
  if (!o.attach.empty()) {
    struct stat st {};
    if (stat(o.attach.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
      std::fprintf(stderr, "mailsend: cannot read the attachment %s\n", o.attach.c_str());
      return 1;
    }
  }
  Mail m;
  if (!m.curl) {
    std::fprintf(stderr, "mailsend: libcurl did not start\n");
    return 1;
  }
  CURL* c = m.curl;
  char error[CURL_ERROR_SIZE] = "";
  const std::vector<std::string> to = split_recipients(o.to);
  if (to.empty()) {
    std::fprintf(stderr, "mailsend: no recipient\n");
    return 1;
  }
  for (const std::string& r : to)
    m.recipients = curl_slist_append(m.recipients, ("<" + r + ">").c_str());

  char date[64];
  const time_t now = time(nullptr);
  struct tm t {};
  localtime_r(&now, &t);
  strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S %z", &t);
  std::string to_line;
  for (const std::string& r : to) to_line += (to_line.empty() ? "" : ", ") + r;
  for (const std::string& h : {std::string("Date: ") + date, "From: " + o.from, "To: " + to_line,
                               "Subject: " + header_text(o.subject)})
    m.headers = curl_slist_append(m.headers, h.c_str());

  m.mime = curl_mime_init(c);
  curl_mimepart* text = curl_mime_addpart(m.mime);
  curl_mime_data(text, o.message.c_str(), CURL_ZERO_TERMINATED);
  curl_mime_type(text, "text/plain; charset=UTF-8");
  curl_mime_encoder(text, "quoted-printable");
  if (!o.attach.empty()) {
    curl_mimepart* file = curl_mime_addpart(m.mime);
    curl_mime_filedata(file, o.attach.c_str());
    curl_mime_type(file, mime_type_of(o.attach));
    curl_mime_encoder(file, "base64");
  }

  curl_easy_setopt(c, CURLOPT_URL, smtp_url(o).c_str());
  curl_easy_setopt(c, CURLOPT_MAIL_FROM, ("<" + o.from + ">").c_str());
  curl_easy_setopt(c, CURLOPT_MAIL_RCPT, m.recipients);
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, m.headers);
  curl_easy_setopt(c, CURLOPT_MIMEPOST, m.mime);
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error);
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, timeout_or(kConnectTimeout));
  curl_easy_setopt(c, CURLOPT_TIMEOUT, timeout_or(kTransferTimeout));
  curl_easy_setopt(c, CURLOPT_SERVER_RESPONSE_TIMEOUT, timeout_or(kResponseTimeout));
  if (!o.user.empty()) {
    // Credentials only inside TLS: a server without STARTTLS gets no AUTH, and the mail fails.
    curl_easy_setopt(c, CURLOPT_USE_SSL, long(CURLUSESSL_ALL));
    curl_easy_setopt(c, CURLOPT_USERNAME, o.user.c_str());
    curl_easy_setopt(c, CURLOPT_PASSWORD, o.pass.c_str());
    curl_easy_setopt(c, CURLOPT_LOGIN_OPTIONS, o.auth.c_str());
  } else if (o.starttls) {
    curl_easy_setopt(c, CURLOPT_USE_SSL, long(CURLUSESSL_TRY));
  }
  const CURLcode rc = curl_easy_perform(c);
  if (rc != CURLE_OK) {
    std::fprintf(stderr, "mailsend: %s%s%s\n", curl_easy_strerror(rc), error[0] ? ": " : "", error);
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (int rc = parse(argc, argv, &o)) return rc;
  std::signal(SIGALRM, out_of_time);
  alarm(unsigned(timeout_or(kTransferTimeout)));
  if (o.pass == "-" && read_password(&o.pass) != 0) return 2;
  if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
    std::fprintf(stderr, "mailsend: libcurl did not start\n");
    return 1;
  }
  const int rc = send_mail(o);
  curl_global_cleanup();
  return rc;
}
