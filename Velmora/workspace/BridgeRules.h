#pragma once

// The script bridge's decisions as pure functions: which messages pass the gate, what a
// "revealTextFile" body must hold, where text files are saved by default, and the shape of
// the replies the page receives.

#include <QJsonValue>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariant>
#include <QVariantMap>

namespace velmora::workspace {

// Extensions of the text files the page saves and reveals; shared with downloads.
inline const QStringList textFileExtensions = {
    QStringLiteral("txt"),
    QStringLiteral("srt"),
    QStringLiteral("vtt"),
    QStringLiteral("md"),
};

// True when a message may reach its handler: its name is one of bridgeMessageNames, it was
// posted by the page's main frame, and that frame's URL, as the engine reports it when the
// message arrives, has the page's scheme, host and port.
bool gateAdmits(const QUrl &origin, const QString &name, bool fromMainFrame, const QUrl &frameUrl);

// One answer to one message: a value, no value (a cancelled panel) or an error text.
class BridgeReply
{
public:
    static BridgeReply withValue(const QVariant &value);
    static BridgeReply noValue();
    static BridgeReply failure(const QString &error);

    bool isFailure() const { return m_failure; }
    const QVariant &value() const { return m_value; }
    const QString &error() const { return m_error; }

    // What the page receives: {"value": v}, {"error": text} or {} for no value.
    QVariantMap toMessage() const;

    friend bool operator==(const BridgeReply &, const BridgeReply &) = default;

private:
    BridgeReply() = default;
    QVariant m_value;
    QString m_error;
    bool m_failure = false;
};

// A body as the page sent it: the JSON text of a one-element array holding it. Anything else
// (empty, malformed, too deeply nested) reads as undefined.
QJsonValue parseBody(const QString &bodyText);

// The extension of the last component of path, lower-cased, as a file URL reports it: the
// part after its last dot; none for a name that starts with its only dot or ends in a dot.
QString pathExtension(const QString &path);

// The file a "revealTextFile" body names, or an empty string when the body is not a
// dictionary with a "path" string that is absolute and ends in one of textFileExtensions.
QString revealTextFilePath(const QJsonValue &body);

// The text save directory: the stored setting when it is a non-empty string, else the user's
// downloads folder, else "Downloads" in the home folder. The folder is not tested. Trailing
// separators are dropped.
QString textSaveDirectory(const QVariant &stored, const QString &downloadsFolder, const QString &homeFolder);

// The folder the page is told about and panels start in: folder itself when it exists,
// otherwise the home folder (a save folder that has gone, a Downloads folder the system never
// had), so that neither the page nor a panel is pointed at nothing.
QString presentFolder(const QString &folder, bool folderExists, const QString &homeFolder);

// {"path": folder, "name": its last component}.
QVariantMap folderReply(const QString &folder);

// {"version": the version when it is a string else "", "updatesAvailable": true,
//  "canCheckForUpdates": canCheckForUpdates}.
QVariantMap appInfoReply(const QVariant &version, bool canCheckForUpdates);

} // namespace velmora::workspace
