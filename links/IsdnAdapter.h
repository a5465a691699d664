// Loads the ISDN adapter library (libisdn30P.so) at run time and calls its four
// functions. Dial runs on the main thread; read on the link's reader thread while
// write and close run on the main thread (the library allows that).
#pragma once

#include "links/IsdnApi.h"

#include <string>

class IsdnAdapter {
public:
    // Dial failures of the loader itself, shown as the error code of a failed
    // dial; they keep the numbers a failed library load is known by.
    static constexpr int kErrLibraryMissing = 126;   // not found where it is looked for
    static constexpr int kErrFunctionMissing = 127;  // found, but lacks one of the four
    static constexpr int kErrLibraryBroken = 193;    // found, but cannot be loaded
    static constexpr const char* kLibraryName = "libisdn30P.so";
    static constexpr const char* kLibraryEnv = "PMX_ISDN_LIBRARY";

    // libraryPath empty: $PMX_ISDN_LIBRARY if set, else beside the executable,
    // else the system's library path. A path given either way is the only one tried.
    explicit IsdnAdapter(std::string libraryPath = std::string());
    ~IsdnAdapter();
    IsdnAdapter(const IsdnAdapter&) = delete;
    IsdnAdapter& operator=(const IsdnAdapter&) = delete;

    // Loads the library if it is not loaded yet. 0, or one of the kErr codes.
    int load();
    bool loaded() const { return handle_ != nullptr; }
    // Why the last load failed, for diagnostics (empty after a good load).
    const std::string& loadError() const { return loadError_; }

    // DialISDN's result: 0 when the call is up. Otherwise *errorCode receives the
    // adapter's last-error code, or a kErr code when the library is unusable.
    int dial(const char* number, int* errorCode);
    // The library's results; -1 when it is not loaded. Load (or dial) before
    // another thread calls these: loading sets the pointers they read.
    int writeBlock(const unsigned char* bytes, int count);
    int readBlock(unsigned char* buffer, int capacity);
    int closeCall();
    // After a failed read on the same thread: true when the adapter says the call is
    // over (the far end hung up, the line failed, or there is no call any more). An
    // adapter without GetISDNLastError cannot say, and a call is never taken as ended.
    bool callEnded() const;

private:
    std::string requestedPath_;
    std::string loadError_;
    void* handle_ = nullptr;
    DialISDNFn dial_ = nullptr;
    WriteISDNBlockFn write_ = nullptr;
    ReadISDNBlockFn read_ = nullptr;
    CloseISDNFn close_ = nullptr;
    GetISDNLastErrorFn lastError_ = nullptr;
};
