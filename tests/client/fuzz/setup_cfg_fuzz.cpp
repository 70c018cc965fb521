// libFuzzer target: setup.cfg read whole and handed to every section reader, as the loader
// does, then the tables released again so memory does not grow from input to input.
#include <cstdint>
#include <cstring>
#include <string>

#include "client/foundation/config/setup_config.h"
#include "tests/client/fuzz/fuzz_rig.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_rig::quiet_stdout();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  app_quit.store(0);
  if (size > 65536) return 0;
  const std::string text(reinterpret_cast<const char*>(data), size);  // ends in a NUL
  const char* t = text.c_str();
  load_dvr_info(t);
  load_group_info(t);
  for (int n = 0; n < get_num_group() && n < 64; ++n) load_group_details(t, n);
  load_user_info(t);
  load_system_info(t);
  load_email_info(t);
  load_language_info(t);
  load_resolution_info(t);
  get_max_select();
  free_setup_info();
  return 0;
}
