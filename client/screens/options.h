// Command-line options of vigilo: the parser into APP_OPTIONS and the usage text.
//
// Runs once on the first thread during start-up (it uses getopt's process-wide state).
#pragma once

struct APP_OPTIONS;

// Scans argv[1..] in order (words are never reordered) into `opts`, which init_app_options
// has filled. Bad letters and missing arguments print "getopt_long() returned %d\n" and are
// skipped, and the scan then prints one line listing the options; a bad -m shows a message
// box and selects mode 0. Returns 1 at "--help" (the caller prints the usage and ends with
// 0), 0 when exactly one word is left after the options (the caller prints the usage and
// ends with -1), else -1. The password of -u is wiped from argv once copied, so the
// process's command line no longer shows it.
int parse_options(int argc, char** argv, APP_OPTIONS* opts);

// Prints the usage text to standard output.
void print_usage();
