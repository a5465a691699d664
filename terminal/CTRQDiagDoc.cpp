// The terminal's document: transcript storage, receive operation, file load and store.
// AppendReceived is called on the delivering thread; the rest on the GUI thread.
#include "terminal/CTRQDiagDoc.h"

#include "platform/AppGlobals.h"
#include "terminal/TerminalDisplay.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

CTRQDiagDoc::~CTRQDiagDoc() { CloseDumpLocked(); }

void CTRQDiagDoc::AppendReceived(const char* text, int length) {
    // The length bounds the block (a read buffer handed over by a link need not be
    // NUL-terminated). NUL bytes carry no text: they are dropped and the rest of the
    // block kept, so a stray zero never hides the lines after it.
    std::string_view block;
    std::string withoutNul;
    if (text && length > 0) {
        block = std::string_view(text, static_cast<size_t>(length));
        if (std::memchr(text, 0, block.size())) {
            withoutNul.reserve(block.size());
            for (char c : block)
                if (c != 0) withoutNul.push_back(c);
            block = withoutNul;
        }
    }
    {
        std::lock_guard lock(transcriptLock_);
        newTextAt_ = transcript_.size();
        newTextSize_ = block.size();
        newTextCopied_ = false;
        transcript_.append(block);
    }
    if (TerminalDisplay* view = view_.load()) {
        // The block itself goes to the view: another thread may append the next one
        // before the view reads it.
        view->ShowNewText(block);
        view->UpdateScrollSizes();
        view->ScrollToEnd();
    }
}

std::string CTRQDiagDoc::GetTranscript() const {
    std::lock_guard lock(transcriptLock_);
    return transcript_;
}

std::string CTRQDiagDoc::GetNewText() const {
    std::lock_guard lock(transcriptLock_);
    if (newTextCopied_) return newText_;
    return transcript_.substr(std::min(newTextAt_, transcript_.size()), newTextSize_);
}

void CTRQDiagDoc::SetText(const std::string& text) {
    std::lock_guard lock(transcriptLock_);
    transcript_ = text;
    newTextAt_ = 0;
    newTextSize_ = text.size();
    newTextCopied_ = false;
    CloseDumpLocked();
}

void CTRQDiagDoc::ClearText() {
    std::lock_guard lock(transcriptLock_);
    transcript_.clear();
    newTextAt_ = newTextSize_ = 0;
    newTextCopied_ = false;
    // A cleared session (connect, disconnect, Clear New) keeps no dump file open.
    CloseDumpLocked();
}

void CTRQDiagDoc::OnNewDocument() {
    if (TerminalDisplay* view = view_.load())
        view->ClearScreen();  // empties the text too, under the view's lock
    else
        ClearText();
}

namespace {
// Only regular files: a directory reads as empty and a FIFO or device could block.
bool ReadWholeFile(const std::string& path, std::string& out) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return false;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

// Keeps g_loading at 1 for as long as a file is being opened.
struct LoadingFlag {
    LoadingFlag() { g_loading.store(1); }
    ~LoadingFlag() { g_loading.store(0); }
};
} // namespace

bool CTRQDiagDoc::OpenDocument(const std::string& path) {
    LoadingFlag loading;
    std::string raw;
    if (!ReadWholeFile(path, raw)) return false;

    // Each line without its line end (LF, or CR LF), followed by one CR. The whole
    // file is read before the screen is touched, so a failed read keeps the old text.
    std::string text;
    text.reserve(raw.size() + raw.size() / 32 + 1);
    size_t start = 0;
    while (start < raw.size()) {
        size_t lf = raw.find('\n', start);
        size_t end = lf == std::string::npos ? raw.size() : lf;
        size_t lineEnd = end;
        if (lf != std::string::npos && lineEnd > start && raw[lineEnd - 1] == '\r') --lineEnd;
        text.append(raw, start, lineEnd - start);
        text.push_back('\r');
        start = end + 1;
    }

    TerminalDisplay* view = view_.load();
    if (view) view->ClearScreen();
    SetText(text);
    if (view) view->TextReplaced();
    return true;
}

bool CTRQDiagDoc::Store(const std::string& path, bool append) const {
    std::lock_guard lock(transcriptLock_);
    return StoreLocked(path, append);
}

bool CTRQDiagDoc::StoreAndClear(const std::string& path, size_t upTo, size_t* written) {
    // One hold of the lock: text another thread delivers meanwhile is either in the
    // file or still in the transcript, never cleared unsaved.
    std::lock_guard lock(transcriptLock_);
    const size_t n = std::min(upTo, transcript_.size());
    if (written) *written = 0;
    if (n == 0) return true;  // no empty dump file
    if (!AppendDumpLocked(path, n)) return false;
    if (!newTextCopied_) {
        if (newTextAt_ < n) {
            newText_ = transcript_.substr(newTextAt_, newTextSize_);
            newTextCopied_ = true;
        } else {
            newTextAt_ -= n;
        }
    }
    transcript_.erase(0, n);
    if (written) *written = n;
    return true;
}

void CTRQDiagDoc::CloseDumpLocked() {
    if (dumpFd_ >= 0) ::close(dumpFd_);
    dumpFd_ = -1;
    dumpPath_.clear();
}

bool CTRQDiagDoc::AppendDumpLocked(const std::string& path, size_t length) {
    struct stat st {}, named {};
    // The kept file only while path still names it: one removed, renamed or moved
    // with its directory since the last dump is not written on unseen.
    if (dumpFd_ >= 0 && (path != dumpPath_ || ::fstat(dumpFd_, &st) != 0 || ::stat(path.c_str(), &named) != 0 ||
                         named.st_ino != st.st_ino || named.st_dev != st.st_dev))
        CloseDumpLocked();
    bool created = false;
    if (dumpFd_ < 0) {
        int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
        if (fd < 0 && errno == ENOENT) {
            fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            created = fd >= 0;
        }
        if (fd < 0 || ::fstat(fd, &st) != 0) {
            if (fd >= 0) ::close(fd);
            return false;
        }
        dumpFd_ = fd;
        dumpPath_ = path;
    }
    const off_t oldSize = st.st_size;
    length = std::min(length, transcript_.size());
    size_t done = 0;
    while (done < length) {
        const ssize_t w = ::write(dumpFd_, transcript_.data() + done, length - done);
        if (w > 0) done += static_cast<size_t>(w);
        else if (w < 0 && errno == EINTR) continue;
        else break;
    }
    if (done == length) return true;
    // An append that fails is undone, so a failed dump leaves no empty or partial file.
    if (created) ::unlink(path.c_str());
    else if (::ftruncate(dumpFd_, oldSize) != 0) {
        // Nothing more to undo with: the next dump goes to a new file.
    }
    CloseDumpLocked();
    return false;
}

bool CTRQDiagDoc::StoreLocked(const std::string& path, bool append, size_t length) const {
    // An append that fails is undone, so a failed dump leaves no empty or partial file.
    std::error_code ec;
    const bool existed = append && std::filesystem::exists(path, ec);
    const auto oldSize = existed ? std::filesystem::file_size(path, ec) : 0;
    std::FILE* f = std::fopen(path.c_str(), append ? "ab" : "wb");
    if (!f) return false;
    length = std::min(length, transcript_.size());
    bool ok = std::fwrite(transcript_.data(), 1, length, f) == length;
    ok = (std::fclose(f) == 0) && ok;
    if (!ok && append) {
        if (existed && !ec) std::filesystem::resize_file(path, oldSize, ec);
        else if (!existed) std::filesystem::remove(path, ec);
    }
    return ok;
}
