#include "workspace/DownloadRules.h"

#include "workspace/BridgeRules.h"
#include "workspace/Texts.h"

namespace velmora::workspace {

bool isTextFileName(const QString &name)
{
    return textFileExtensions.contains(pathExtension(name));
}

QString saveStartFolder(const QString &suggestedName, const QString &textSaveDirectory)
{
    return isTextFileName(suggestedName) ? textSaveDirectory : QString();
}

namespace {

QString interruptionText(DownloadInterruptReason reason)
{
    using R = DownloadInterruptReason;
    switch (reason) {
    case R::FileAccessDenied:
        return downloadAccessDeniedText;
    case R::FileNoSpace:
        return downloadNoSpaceText;
    case R::FileNameTooLong:
        return downloadNameTooLongText;
    case R::FileTooLarge:
        return downloadTooLargeText;
    case R::FileVirusInfected:
    case R::FileBlocked:
    case R::FileSecurityCheckFailed:
        return downloadBlockedText;
    case R::FileFailed:
    case R::FileTransientError:
    case R::FileTooShort:
    case R::FileHashMismatch:
        return downloadFileErrorText;
    case R::NetworkFailed:
    case R::NetworkDisconnected:
    case R::NetworkServerDown:
    case R::NetworkInvalidRequest:
        return downloadNetworkFailedText;
    case R::NetworkTimeout:
        return downloadTimedOutText;
    case R::ServerFailed:
    case R::ServerBadContent:
    case R::ServerCertProblem:
    case R::ServerUnreachable:
        return downloadServerFailedText;
    case R::ServerUnauthorized:
    case R::ServerForbidden:
        return downloadRefusedText;
    case R::UserCanceled:
        // Nobody asked for it here: the engine gave up on its own.
        return downloadStoppedText;
    case R::NoReason:
        break;
    }
    return downloadUnknownFailureText;
}

QString withSystemText(const QString &sentence, const QString &systemText)
{
    const QString detail = systemText.simplified();
    return detail.isEmpty() ? sentence : sentence + QStringLiteral(" (") + detail + QLatin1Char(')');
}

} // namespace

QString downloadFailureDescription(const DownloadFailure &failure)
{
    switch (failure.kind) {
    case DownloadFailure::Kind::ConnectionBroken:
        return downloadConnectionBrokenText;
    case DownloadFailure::Kind::Interrupted:
        return interruptionText(failure.reason);
    case DownloadFailure::Kind::Stopped:
        return downloadStoppedText;
    case DownloadFailure::Kind::NotStaged:
        return withSystemText(downloadNotStagedText, failure.systemText);
    case DownloadFailure::Kind::NotPlaced:
        return withSystemText(downloadNotPlacedText, failure.systemText);
    }
    return downloadUnknownFailureText;
}

} // namespace velmora::workspace
