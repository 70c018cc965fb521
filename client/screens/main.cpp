// vigilo: central monitoring station for CCTV DVRs.
#include "client/screens/startup.h"

int main(int argc, char** argv) { return vigilo_main(argc, argv); }
