// The ISDN link: dial, reader thread, write and hang-up. Main thread for
// everything except readerLoop(), which runs on the reader thread.
#include "links/IsdnLink.h"

#include "platform/MessageService.h"
#include "links/IsdnNumbers.h"
#include "links/IsdnTexts.h"

#include <chrono>
#include <cstdio>
#include <system_error>

CIsdnLink::CIsdnLink(std::string libraryPath) : adapter_(std::move(libraryPath)) {}

CIsdnLink::~CIsdnLink() {
    close();
}

void CIsdnLink::setConsumer(Consumer consumer) {
    consumer_ = std::move(consumer);
}

void CIsdnLink::setCallEndedHandler(std::function<void()> handler) {
    callEnded_ = std::move(handler);
}

bool CIsdnLink::connect() {
    if (holdsCall_)
        return false;  // one call per link object
    std::string number = ReadStoredIsdnNumber();

    int code = 0;
    if (adapter_.dial(number.c_str(), &code) != 0) {
        lastErrorCode_ = code;
        char text[96];
        std::snprintf(text, sizeof text, isdn::kDialFailedFormat, code);
        ShowMessage(text);
        running_ = 0;
        return false;
    }
    lastErrorCode_ = 0;
    holdsCall_ = true;

    running_ = 1;
    if (!startReader()) {
        running_ = 0;
        // Without a reader nobody would ever hear the switch: do not leave the
        // call up behind a failed connect.
        adapter_.closeCall();
        holdsCall_ = false;
        return false;
    }
    return true;
}

bool CIsdnLink::startReader() {
    try {
        reader_ = std::thread(&CIsdnLink::readerLoop, this);
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void CIsdnLink::readerLoop() {
    unsigned char buffer[kReadBufferSize];
    try {
        while (running_.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollIntervalMs));
            // Nothing waiting ends this round; a call the adapter reports over ends
            // the reading (polling a dead call would only spin).
            for (;;) {
                int n = adapter_.readBlock(buffer, kReadBufferSize);
                if (n < 0 && running_.load() && adapter_.callEnded()) {
                    running_ = 0;
                    if (callEnded_)
                        callEnded_();
                    return;
                }
                if (n <= 0)
                    break;
                if (n > kReadBufferSize)
                    n = kReadBufferSize;  // an adapter overrunning its capacity
                if (consumer_)
                    consumer_(buffer, n);
            }
        }
    } catch (...) {
        // Ends the reader quietly; the call stays up until it is closed.
    }
}

bool CIsdnLink::write(const unsigned char* bytes, int length, bool reportFailure) {
    // The adapter's call is process-wide: a link that does not hold it must not
    // write into another link's call.
    if (!holdsCall_ || adapter_.writeBlock(bytes, length) < 0) {
        if (reportFailure)
            ShowMessage(isdn::kSendFailed);
        return false;
    }
    return true;
}

bool CIsdnLink::write(const char* bytes, int length, bool reportFailure) {
    return write(reinterpret_cast<const unsigned char*>(bytes), length, reportFailure);
}

void CIsdnLink::close() {
    running_ = 0;
    if (holdsCall_.exchange(false)) {
        // Hang up before joining: it also frees a reply stuck on a full line.
        adapter_.closeCall();
    }
    joinReader();
}

void CIsdnLink::joinReader() {
    if (reader_.joinable() && reader_.get_id() != std::this_thread::get_id())
        reader_.join();
}
