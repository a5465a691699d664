// Run-time binding of the ISDN adapter library. Main thread loads and dials; the
// function pointers are set before the reader thread starts and never change
// while it runs.
#include "links/IsdnAdapter.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace {

std::string executableDirectory() {
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.parent_path().string();
}

bool fileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

template <typename Fn>
Fn symbol(void* handle, const char* name) {
    return reinterpret_cast<Fn>(::dlsym(handle, name));
}

}  // namespace

IsdnAdapter::IsdnAdapter(std::string libraryPath) : requestedPath_(std::move(libraryPath)) {}

IsdnAdapter::~IsdnAdapter() {
    if (handle_)
        ::dlclose(handle_);
}

int IsdnAdapter::load() {
    if (handle_)
        return 0;
    std::string path = requestedPath_;
    if (path.empty()) {
        if (const char* env = std::getenv(kLibraryEnv); env && *env)
            path = env;
    }
    bool searchSystem = false;
    if (path.empty()) {
        // Beside the program (build tree), then where an installation puts it.
        const std::string dir = executableDirectory();
        const std::string beside = dir.empty() ? std::string() : dir + "/" + kLibraryName;
        const std::string installed = dir.empty() ? std::string() : dir + "/../lib/pmxdiag/" + kLibraryName;
        if (!beside.empty() && fileExists(beside)) {
            path = beside;
        } else if (!installed.empty() && fileExists(installed)) {
            path = installed;
        } else {
            path = kLibraryName;  // no slash: the dynamic linker's own search
            searchSystem = true;
        }
    }

    ::dlerror();
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = ::dlerror();
        loadError_ = why ? why : ("cannot load " + path);
        return (!searchSystem && fileExists(path)) ? kErrLibraryBroken : kErrLibraryMissing;
    }

    auto dial = symbol<DialISDNFn>(handle, "DialISDN");
    auto write = symbol<WriteISDNBlockFn>(handle, "WriteISDNBlock");
    auto read = symbol<ReadISDNBlockFn>(handle, "ReadISDNBlock");
    auto close = symbol<CloseISDNFn>(handle, "CloseISDN");
    const char* missing = !dial ? "DialISDN" : !write ? "WriteISDNBlock"
                        : !read ? "ReadISDNBlock" : !close ? "CloseISDN" : nullptr;
    if (missing) {
        loadError_ = path + " lacks " + missing;
        ::dlclose(handle);
        return kErrFunctionMissing;
    }
    handle_ = handle;
    dial_ = dial;
    write_ = write;
    read_ = read;
    close_ = close;
    lastError_ = symbol<GetISDNLastErrorFn>(handle, "GetISDNLastError");  // optional
    loadError_.clear();
    return 0;
}

int IsdnAdapter::dial(const char* number, int* errorCode) {
    int code = load();
    if (code != 0) {
        if (errorCode)
            *errorCode = code;
        return -1;
    }
    errno = 0;
    int result = dial_(number);
    int lastError = errno;  // before anything else can change it
    if (result != 0 && errorCode)
        *errorCode = lastError_ ? lastError_() : lastError;
    else if (errorCode)
        *errorCode = 0;
    return result;
}

int IsdnAdapter::writeBlock(const unsigned char* bytes, int count) {
    return write_ ? write_(bytes, count) : -1;
}

int IsdnAdapter::readBlock(unsigned char* buffer, int capacity) {
    return read_ ? read_(buffer, capacity) : -1;
}

bool IsdnAdapter::callEnded() const {
    if (!lastError_) return false;
    const int code = lastError_();
    return code == ISDN_ERR_HUNG_UP || code == ISDN_ERR_LINK || code == ISDN_ERR_NOT_CONNECTED;
}

int IsdnAdapter::closeCall() {
    return close_ ? close_() : -1;
}
