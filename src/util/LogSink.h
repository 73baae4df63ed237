#pragma once
// Where the file and service utilities write their diagnostic lines; they
// know nothing of who keeps the log.
#include <string>

class CKvLogSink {
public:
    // One finished line; the sink adds its time stamp.
    virtual void LogText(const std::string& line) = 0;

protected:
    ~CKvLogSink() {}
};
