// A broken adapter for the loader's tests: it has every function but CloseISDN.
extern "C" __attribute__((visibility("default"))) int DialISDN(const char*) { return 0; }
extern "C" __attribute__((visibility("default"))) int WriteISDNBlock(const unsigned char*, int n) {
    return n;
}
extern "C" __attribute__((visibility("default"))) int ReadISDNBlock(unsigned char*, int) {
    return 0;
}
