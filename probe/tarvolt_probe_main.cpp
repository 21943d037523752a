// tarvolt-probe as it ships, on the platform's own radio (the Windows Runtime's or BlueZ's).
#include "ProbeMain.h"

int main(int argc, char **argv) { return tarvolt::probe::ProbeMain(argc, argv, {}); }
