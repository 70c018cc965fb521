// The debug output (Windows' OutputDebugString): diagnostic lines meant for a developer's
// debugger, never for the operator. Silent unless VIGILO_DEBUG_OUTPUT=1 is set in the
// environment (then each text goes to standard error as written) or a sink is installed.
// Callable from any thread; texts reach the sink one at a time, whole.
#pragma once

#include <functional>
#include <string>

void debug_output(const char* text);
// printf-style form of debug_output; the text is cut at 4095 bytes.
void debug_outputf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Installs `sink` (empty: none) to receive every text; tests capture the traces this way.
// Returns the sink that was installed before.
using DebugOutputSink = std::function<void(const std::string&)>;
DebugOutputSink debug_output_set_sink(DebugOutputSink sink);
