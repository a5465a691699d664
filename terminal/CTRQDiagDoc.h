// The terminal's document: the transcript of the connection and the most recent
// block received. AppendReceived runs on the delivering thread (serial, modem or
// ISDN reader, or the LAN worker); everything else on the GUI thread,
// except the overflow dump, which the view runs on the delivering thread.
#pragma once

#include "terminal/ReceiveSink.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

class TerminalDisplay;

class CTRQDiagDoc : public ReceiveSink {
public:
    CTRQDiagDoc() = default;
    ~CTRQDiagDoc() override;
    CTRQDiagDoc(const CTRQDiagDoc&) = delete;
    CTRQDiagDoc& operator=(const CTRQDiagDoc&) = delete;

    // The view that shows this document; nullptr detaches it. Set before links deliver.
    void SetView(TerminalDisplay* view) { view_.store(view); }
    TerminalDisplay* GetView() const { return view_.load(); }

    // Stores the block (length bytes, its NUL bytes left out) and has the view lay it
    // out, grow its scroll range and scroll to the end.
    void AppendReceived(const char* text, int length) override;

    std::string GetTranscript() const;
    std::string GetNewText() const;
    void SetText(const std::string& text);
    void ClearText();

    // File > New: an empty document and screen.
    void OnNewDocument();
    // File > Open: replaces the text with the file's lines, each ended by one CR.
    // False when the file cannot be read; the old text then stays.
    bool OpenDocument(const std::string& path);
    // Writes the transcript's bytes exactly as received; append adds them to an
    // existing file instead of replacing it (and a failed append leaves the file as it
    // was). False when the file cannot be written.
    bool Store(const std::string& path, bool append = false) const;
    // The overflow dump: appends the transcript's first `upTo` bytes (all of it when
    // shorter) to path and removes them, as one step against other deliverers; what
    // follows stays for the next dump. False (and the text kept) when it cannot be
    // written; written gets the number of bytes appended.
    bool StoreAndClear(const std::string& path, size_t upTo = SIZE_MAX, size_t* written = nullptr);

private:
    bool StoreLocked(const std::string& path, bool append, size_t length = SIZE_MAX) const;
    // Appends the transcript's first length bytes to path through the file kept open
    // from the last dump when it is the same (dumps are named by the second), so that
    // a flood's many dumps cost one write each rather than an open, stats and a close.
    bool AppendDumpLocked(const std::string& path, size_t length);
    void CloseDumpLocked();

    mutable std::mutex transcriptLock_;
    std::string transcript_;
    int dumpFd_ = -1;  // the last dump's file, under transcriptLock_
    std::string dumpPath_;
    // The newest block is the transcript's last newTextSize_ bytes from newTextAt_:
    // kept as a place rather than a copy, so a flood's blocks are copied once. A dump
    // that takes part of it first copies it to newText_ (newTextCopied_). All under
    // transcriptLock_.
    size_t newTextAt_ = 0;
    size_t newTextSize_ = 0;
    bool newTextCopied_ = false;
    std::string newText_;
    std::atomic<TerminalDisplay*> view_{nullptr};
};
