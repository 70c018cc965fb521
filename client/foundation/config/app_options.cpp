#include "client/foundation/config/app_options.h"

#include <cstdio>
#include <cstring>
#include <memory>

APP_OPTIONS app_options;

void init_peer_endpoint(PEER_ENDPOINT* peer) {
  if (!peer) return;
  memset(peer, 0, sizeof(*peer));
  snprintf(peer->address, sizeof(peer->address), "%s", "127.0.0.1");
  peer->socket = -1;
  peer->port = 6780;
  peer->timeout = 30;
}

void init_app_options(APP_OPTIONS* opts) {
  if (!opts) return;
  // Value-initialise the whole record, so fields appended later start at zero too.
  std::destroy_at(opts);
  std::construct_at(opts);
  opts->master = 1;
  opts->dvr_type = 1;
  opts->conn_state.store(CONN_DISCONNECTED);
  snprintf(opts->config_file, sizeof(opts->config_file), "%s", "setup.cfg");
  snprintf(opts->skin_file, sizeof(opts->skin_file), "%s", "skin.cfg");
  opts->sock_timeout = 30;
  opts->timeout = 30;
  opts->live_port = 9201;
  opts->pb_port = 9203;
  opts->ctrl_port = 9205;
  opts->skin = 1;
  opts->mail = -1;
  opts->search_word2 = 1;
  opts->win_left = opts->win_top = opts->win_word = -1;
  for (int i = 0; i < NUM_PEER_ENDPOINTS; ++i) {
    init_peer_endpoint(&opts->peers[i]);
    opts->peers[i].index = static_cast<uint32_t>(i);
  }
}

void free_app_options(APP_OPTIONS* opts) {
  // The password is the only secret the record holds; do not leave it in memory.
  if (opts) memset(opts->password, 0, sizeof(opts->password));
}
