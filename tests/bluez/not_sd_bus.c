/* A library with the names of libsystemd and libelogind but without sd-bus in it. */
int tarvolt_not_sd_bus(void) { return 0; }
