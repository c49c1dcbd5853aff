/* A tiny library the library-loading tests load; each build returns its own id. */
int KavProbeId(void) { return KAV_PROBE_ID; }
