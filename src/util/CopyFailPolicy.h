#pragma once
// The copy the file sections use: a safety copy of the file being replaced,
// and the OnCopyFail policy (clear read-only, replace at the next boot).
#include <windows.h>

#include <string>
#include <vector>

#include "util/FileUtil.h"
#include "util/LogSink.h"

// What a caller already has for the first attempt of a copy, so that
// nothing is opened, asked or copied twice.
struct CKvCopyPlan {
    // The source, opened (and perhaps read into buffer) by the caller; the
    // first attempt copies from it and closes it, later attempts open the
    // source by its path again.
    CKvCopySource* source = nullptr;
    std::vector<BYTE>* buffer = nullptr;
    // The destination's attributes as the caller found them just before
    // (INVALID_FILE_ATTRIBUTES: it does not exist); null: ask.
    const DWORD* destinationAttributes = nullptr;
    // A complete copy of the destination as it is now (the backup the same
    // item has just made of it): a failed copy is undone from it, so no
    // safety copy is needed.
    std::string restoreFrom;
    // Filled in (when not null) with the fingerprint of what the copy wrote
    // into the destination, or into the file staged for the next start.
    CKvFingerprint* written = nullptr;
    // Filled in with the staged file when the new file was staged for the
    // next start instead of copied now.
    std::string staged;
};

int CopyFileSafe(CKvLogSink* pLog, const std::string& source, const std::string& destination,
                 CKvCopyPlan* plan = nullptr);
// *pRebootScheduled (when given) tells whether the new file was staged for
// replacement at the next start; the caller raises NEED_REBOOT then.
int CopyFileWithFailPolicy(CKvLogSink* pLog, const std::string& source, const std::string& destination,
                           bool removeReadOnly, bool reboot, bool* pRebootScheduled = nullptr,
                           CKvCopyPlan* plan = nullptr);
