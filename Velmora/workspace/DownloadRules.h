#pragma once

// The decisions of saving a download, as pure functions: where its save panel starts, and what
// the alert says when it could not be saved.

#include <QString>

namespace velmora::workspace {

// True when the name's extension is one of textFileExtensions, in any letter case.
bool isTextFileName(const QString &name);

// The folder a download's save panel starts in: the text save directory for a text file,
// else empty, which leaves the panel at its own default. Only the suggested name counts; the
// response's type and size play no part.
QString saveStartFolder(const QString &suggestedName, const QString &textSaveDirectory);

// The web engine's reasons for an interrupted transfer, with its values.
enum class DownloadInterruptReason : int {
    NoReason = 0,
    FileFailed = 1,
    FileAccessDenied = 2,
    FileNoSpace = 3,
    FileNameTooLong = 5,
    FileTooLarge = 6,
    FileVirusInfected = 7,
    FileTransientError = 10,
    FileBlocked = 11,
    FileSecurityCheckFailed = 12,
    FileTooShort = 13,
    FileHashMismatch = 14,
    NetworkFailed = 20,
    NetworkTimeout = 21,
    NetworkDisconnected = 22,
    NetworkServerDown = 23,
    NetworkInvalidRequest = 24,
    ServerFailed = 30,
    ServerBadContent = 33,
    ServerUnauthorized = 34,
    ServerCertProblem = 35,
    ServerForbidden = 36,
    ServerUnreachable = 37,
    UserCanceled = 40,
};

// Why a download was not saved.
struct DownloadFailure
{
    enum class Kind {
        // The transfer broke off (the engine starts it over, which is taken as the failure).
        ConnectionBroken,
        // The engine interrupted it, for reason.
        Interrupted,
        // The engine cancelled it without being asked to.
        Stopped,
        // Its staging folder could not be made (systemText says why).
        NotStaged,
        // The finished file could not be put at the chosen place (systemText says why).
        NotPlaced,
    };

    Kind kind = Kind::Stopped;
    DownloadInterruptReason reason = DownloadInterruptReason::NoReason;
    // The system's description of a failed file operation, in the user's language.
    QString systemText;
};

// The alert's informative text for failure: a finished Korean sentence. The engine's reasons
// are coarse (a broken connection and a missing folder may look alike), so related reasons
// share a sentence.
QString downloadFailureDescription(const DownloadFailure &failure);

} // namespace velmora::workspace
