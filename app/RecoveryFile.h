#pragma once

#include <string>

#include "framework/FileTime.h"
#include "framework/String.h"
#include "framework/StringSet.h"
#include "framework/Time.h"

// What a session must preserve, as the recovery file carries it: the Flash
// and Java start sets, the history URLs and the cookie records (each cookie
// record holds three line breaks and takes four lines in the file), and the
// history stores that could not be read when the snapshot was taken, which
// the clean-up must leave alone since what they held is unknown.
struct CRecoverySnapshot {
    CStringSet flash;
    CStringSet java;
    CStringSet history;
    CStringSet cookies;
    CStringSet historyUnscanned;
    // The instant the session started, at the platform's precision; zero
    // when the file does not say (files of earlier versions).
    CFileTime sessionStart;
};

// The recovery file "recovery.lck": text lines ended by CR LF, the sections
// "[Flash Cookies]", "[Java Cache]", "[History]" and "[Cookies]" in that
// order, and its last-modification time standing for the session's start.
class CRecoveryFile {
public:
    // Written before "[Flash Cookies]": the entries after it are UTF-8, so
    // that paths, URLs and cookies outside the ANSI code page come back as
    // they were. Readers of files without it decode the ANSI code page, and
    // readers that predate it skip it with everything else before the first
    // section.
    static constexpr const char* kUtf8Marker = "[Encoding UTF-8]";
    // Also before "[Flash Cookies]", after the marker, and only when there
    // is an entry: one line per history store left unread.
    static constexpr const char* kUnscannedHistoryHeader = "[Unscanned History]";
    // Also before "[Flash Cookies]", after the marker: "[Session Start N]",
    // N the start as a FILETIME in decimal. The file's own time is later
    // than the start, and whole seconds are too coarse to tell the user's
    // cache entries from the session's; readers that predate the line skip
    // it as a section of its own.
    static constexpr const char* kSessionStartPrefix = "[Session Start ";

    // The temporary file a write goes through: the path followed by ".tmp".
    static CString TempPathOf(const CString& strPath) { return strPath + L".tmp"; }

    // Writes the snapshot to a temporary file beside the path and moves it
    // over the path only once it is complete, so that a failed write never
    // leaves a partial snapshot that a later start would take for the whole
    // truth. FALSE (logged) when the file could not be written.
    [[nodiscard]] static BOOL Write(const CString& strPath, const CRecoverySnapshot& snapshot);

    // Opens the file without sharing, reads every section and returns its
    // last-modification time. FALSE when the file cannot be opened (missing,
    // or held open by another copy) or read: there is nothing to recover.
    [[nodiscard]] static BOOL Read(const CString& strPath, CRecoverySnapshot& snapshot, CFileTime& lastWriteTime);

    // The session start a recovery works with: the recorded one, or, when
    // the file records none or one it cannot have been written after, the
    // file's last-modification time.
    static CFileTime SessionStartOf(const CRecoverySnapshot& snapshot, CFileTime lastWriteTime);

    // The reading rules applied to a whole file's bytes: lines end at LF
    // (a CR before it is dropped); everything before the first
    // "[Flash Cookies]" is skipped but the encoding marker, the session start
    // and the unscanned history stores; a section ends at the next section's
    // header; cookie records are groups of four lines, a short last group
    // is dropped.
    static CRecoverySnapshot Parse(const std::string& content);
};
