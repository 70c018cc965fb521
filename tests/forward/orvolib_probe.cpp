// A program bound to OrvoLib at load time: it starts (exit 0) only when every SDK function
// OrvoLib imports is there.
#include "forward/orvolib/orvolib.h"

int main(int argc, char**) {
  if (argc > 99) ORVOSDK_Terminate();  // keeps the import; never called
  return 0;
}
