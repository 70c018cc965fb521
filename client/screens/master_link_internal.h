// Internals of the master/slave link shared by its network side (master_link.cpp) and its
// command handling (master_link_commands.cpp). Only those two files include it.
//
// Threads: a MasterCommand lives on the window loop, around handle_link_command's work; the
// mark it sets is an atomic of the slave's state, read by hand_back_channels.
#pragma once

namespace master_link_internal {

// Clears the mark of a disconnect the master commanded when the handler is done with it.
struct MasterCommand {
  explicit MasterCommand(bool on);
  ~MasterCommand();
  bool on_;
};

}  // namespace master_link_internal
