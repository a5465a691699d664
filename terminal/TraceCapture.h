// Trace capture: what the switch sends, appended to a text file with CR LF line
// breaks between a start and a stop banner. Started and stopped on the GUI thread;
// written from whichever thread delivers received text. One lock guards the state
// and the path, and is held for each write, so a write never uses a path that is
// being changed and never interleaves with a banner.
#pragma once

#include <chrono>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

class TraceCapture {
public:
    enum class State { Off, Starting, On };

    // Creates (empties) the chosen file and remembers it. Text received from now
    // until Confirm() is kept in memory and written right after the start banner, so
    // nothing that arrives while the user reads the confirmation is lost.
    bool Begin(const std::string& path);
    // Writes the start banner and then the text kept since Begin(); capture is on.
    // False when the banner could not be written (the file could not be opened).
    bool Confirm();
    // Ends capture (no further text is written); returns the path to write the stop banner to.
    std::string End();
    // Appends a banner to a path (the stop banner after End()). False on open failure.
    static bool WriteLabel(const std::string& path, bool start, std::time_t when);

    // The received text of one piece: CR -> CR LF, TAB -> 8 blanks, LF dropped, the rest
    // unchanged. A write that fails (file gone, disk full) ends the capture there: the
    // file keeps what was written before, and the failure handler is called once.
    // False for the piece whose write failed.
    bool SaveReceived(std::string_view text);
    // Called, on the thread whose write failed and without the lock, with the trace
    // file's path when a failed write has ended the capture.
    void SetFailureHandler(std::function<void(const std::string& path)> handler);

    // A link that hands its block over a byte at a time (the Telnet stream) brackets
    // the block with these: the block's text is then written with one open of the
    // file, when the block ends, instead of one per byte. Nesting is allowed.
    void BeginBlock();
    void EndBlock();

    // Each line written from received text starts with the local time it arrived,
    // "[HH:MM:SS.mmm] ". Off by default; may change while capturing.
    void SetTimestamps(bool on);
    bool timestamps() const;
    static std::string Stamp(std::chrono::system_clock::time_point when);

    State state() const;
    bool capturing() const { return state() != State::Off; }
    std::string path() const;

    static std::string Banner(bool start, std::time_t when);
    static std::string FormatTime(std::time_t when);  // "03:07:09PM, December 06, 2026"
    static std::string ConvertReceived(std::string_view text);

private:
    static bool append(const std::string& path, const std::string& bytes);

    mutable std::mutex mutex_;
    State state_ = State::Off;
    std::string path_;
    std::string pending_;  // received while Starting
    int blockDepth_ = 0;
    std::string blockText_;  // received inside BeginBlock/EndBlock, not yet written
    std::function<void(const std::string&)> onFailure_;
    bool timestamps_ = false;
    // The next received byte starts a line of the file (only used with timestamps):
    // the start banner ends inside a line, after its prompt.
    bool atLineStart_ = false;
    std::string convertLocked(std::string_view text);
    bool flushBlockLocked();
    // Ends the capture after a failed write; returns the path for the handler.
    std::string stopOnFailureLocked();
    void reportFailure(const std::string& path);
};
