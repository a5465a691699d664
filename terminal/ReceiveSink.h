// Where a link hands what the switch sends: the document's receive operation.
// Called on the delivering thread (a read thread, or the GUI thread for LAN).
#pragma once

class ReceiveSink {
public:
    virtual ~ReceiveSink() = default;
    // length is the block's byte count as read; NUL bytes in it are dropped.
    virtual void AppendReceived(const char* text, int length) = 0;
};
