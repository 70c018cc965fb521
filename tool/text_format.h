// printf-style append to a growing text, for the writers of the tool's files. Any thread.
#pragma once

#include <string>

void appendf(std::string& out, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
