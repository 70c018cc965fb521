#include "client/screens/screen_state.h"

#include <memory>

SCREEN_STATE screen_state;

void reset_screen_state(SCREEN_STATE* state) {
  std::destroy_at(state);
  std::construct_at(state);
}
