// Index navigation of the log viewer.
#include "tool/module/logview/log_index.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "client/foundation/config/utils.h"

char prev_log_name[kLogNameSize];
char cur_log_name[kLogNameSize];
char next_log_name[kLogNameSize];

namespace {

constexpr const char* kSource = "./module/logview";

const char* day_pattern(int log) {
  return log == LOG_SYSTEM ? "./logs/sys%Y%m%d.txt" : "./logs/%Y%m%d.txt";
}

// The next white-space-separated word of `fp` (used by this thread only) into `out`; false at the
// end of the file. A word that does not fit `out` is skipped whole, so its tail never counts as a
// word.
bool read_word(FILE* fp, char (&out)[kLogNameSize]) {
  for (;;) {
    int c;
    while ((c = getc_unlocked(fp)) != EOF && isspace(c)) {}
    if (c == EOF) return false;
    size_t n = 0;
    bool too_long = false;
    for (; c != EOF && !isspace(c); c = getc_unlocked(fp)) {
      if (n + 1 < kLogNameSize)
        out[n++] = static_cast<char>(c);
      else
        too_long = true;
    }
    out[n] = '\0';
    if (!too_long) return true;
  }
}

// The next word that names a day file of `log`; other words are passed over.
bool read_day_name(FILE* fp, int log, char (&out)[kLogNameSize]) {
  while (read_word(fp, out))
    if (is_day_file_name(log, out)) return true;
  out[0] = '\0';
  return false;
}

void cant_open(int line) {
  printf("[%s:%d]can't open file err \n", kSource, line);
  fflush(stdout);
}

}  // namespace

const char* log_index_path(int log) {
  return log == LOG_SYSTEM ? "./logs/sysindex.txt" : "./logs/index.txt";
}

bool is_day_file_name(int log, const char* word) {
  const char* prefix = log == LOG_SYSTEM ? "./logs/sys" : "./logs/";
  const size_t p = strlen(prefix);
  if (!word || strncmp(word, prefix, p) != 0) return false;
  for (size_t i = 0; i < 8; ++i)
    if (!isdigit(static_cast<unsigned char>(word[p + i]))) return false;
  return strcmp(word + p + 8, ".txt") == 0;
}

void open_today_log_file(int log) {
  time_t now = time(nullptr);
  struct tm t {};
  if (!localtime_r(&now, &t)) return;
  char today[kLogNameSize];
  if (strftime(today, sizeof today, day_pattern(log), &t) == 0) return;
  copy_field(cur_log_name, today);
  // Cleared first: no name of another log or an earlier load survives a failed open.
  prev_log_name[0] = '\0';
  next_log_name[0] = '\0';

  FILE* fp = fopen(log_index_path(log), "a+");
  if (!fp) {
    cant_open(__LINE__);
    return;
  }
  rewind(fp);
  char word[kLogNameSize];
  while (read_day_name(fp, log, word)) {
    if (strcmp(word, cur_log_name) == 0) {
      read_day_name(fp, log, next_log_name);
      fclose(fp);
      return;
    }
    copy_field(prev_log_name, word);
  }
  // Not listed: today becomes the last entry. A last word without its line end would
  // otherwise run into today's name.
  if (fseek(fp, -1, SEEK_END) == 0) {
    int last = getc(fp);
    fseek(fp, 0, SEEK_END);
    if (last != EOF && !isspace(last)) fputc('\n', fp);
  }
  fprintf(fp, "%s\n", cur_log_name);
  fclose(fp);
}

void find_prev_log_file(int log) {
  if (!prev_log_name[0]) return;
  copy_field(next_log_name, cur_log_name);
  copy_field(cur_log_name, prev_log_name);
  prev_log_name[0] = '\0';
  FILE* fp = fopen(log_index_path(log), "r");
  if (!fp) {
    cant_open(__LINE__);
    return;
  }
  char word[kLogNameSize];
  while (read_day_name(fp, log, word)) {
    if (strcmp(word, cur_log_name) == 0) break;
    copy_field(prev_log_name, word);
  }
  fclose(fp);
}

void find_next_log_file(int log) {
  if (!next_log_name[0]) return;
  copy_field(prev_log_name, cur_log_name);
  copy_field(cur_log_name, next_log_name);
  next_log_name[0] = '\0';
  FILE* fp = fopen(log_index_path(log), "r");
  if (!fp) return;
  char word[kLogNameSize];
  while (read_day_name(fp, log, word)) {
    if (strcmp(word, cur_log_name) == 0) {
      read_day_name(fp, log, next_log_name);
      break;
    }
  }
  fclose(fp);
}
