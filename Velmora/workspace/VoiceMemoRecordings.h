#pragma once

// Where voice recordings are kept, and whether this process can read any of those places.
// The macOS Voice Memos folders stay on the list as they are; on Linux the desktop's sound
// recorder keeps its recordings in its folder under the XDG data home, or in its sandbox's
// copy of that folder when it runs as a Flatpak.

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

namespace velmora::workspace {

// Where macOS keeps the Voice Memos recordings, relative to the home folder, in probe order.
inline const QStringList voiceMemoRecordingFolders = {
    QStringLiteral("Library/Group Containers/group.com.apple.VoiceMemos.shared/Recordings"),
    QStringLiteral("Library/Containers/com.apple.VoiceMemos/Data/Library/Application Support/Recordings"),
    QStringLiteral("Library/Application Support/com.apple.voicememos/Recordings"),
};
// The Voice Memos application on macOS.
inline const QString voiceMemosApplicationId = QStringLiteral("com.apple.VoiceMemos");

// The sound recorders "openVoiceMemos" opens, by desktop entry id, best first: GNOME Sound
// Recorder, then KDE's recorder.
inline const QStringList soundRecorderApplicationIds = {
    QStringLiteral("org.gnome.SoundRecorder"),
    QStringLiteral("org.kde.krecorder"),
};

// A folder of a Linux sound recorder's recordings, relative to a base folder.
struct RecorderFolder
{
    enum class Base { Home, DataHome };
    Base base;
    QString relativePath;
};

// GNOME Sound Recorder keeps its recordings in its folder of the XDG data home; as a Flatpak,
// that data home is the sandbox's own under ~/.var/app.
inline const QList<RecorderFolder> soundRecorderFolders = {
    {RecorderFolder::Base::DataHome, QStringLiteral("org.gnome.SoundRecorder")},
    {RecorderFolder::Base::Home, QStringLiteral(".var/app/org.gnome.SoundRecorder/data/org.gnome.SoundRecorder")},
};

// The base folders the recording folders hang from.
struct RecordingPlaces
{
    QString home;
    QString dataHome;

    // The current user's: the home folder, and $XDG_DATA_HOME when it is absolute, else
    // ~/.local/share.
    static RecordingPlaces current();
};

// Every folder to probe, in order: the Voice Memos folders, then the sound recorders'.
QStringList recordingFolders(const RecordingPlaces &places);

// True when one of folders can be listed, even an empty one; stops at the first that can.
// A missing folder, a file in its place or a refused read moves on to the next.
bool canListAnyFolder(const QStringList &folders);

// What listing one recording folder finds.
enum class FolderAccess {
    Listed,  // listed, even when empty
    Missing, // nothing there, or a file in its place
    Refused, // there, but this process may not read it
};
FolderAccess folderAccess(const QString &folder);

// Whether the recordings can be read now, from what listing each folder found.
// With a permission system (macOS) only a listed folder counts: the system hides the Voice
// Memos folders from an application without Full Disk Access. Linux has no such permission:
// no recorder folder yet means no recordings yet, which the page hears as true (and then
// finds none); false means a folder is there that cannot be read.
bool recordingsReadable(const QList<FolderAccess> &found, bool permissionSystem);

// Whether this system guards the recordings with a permission the user grants (macOS).
constexpr bool recordingsNeedPermission =
#ifdef Q_OS_MACOS
    true;
#else
    false;
#endif

// Lists the recording folders of places on a worker thread and calls completion with
// recordingsReadable for this system on the main thread; nothing is called when receiver (an object of the main thread)
// is gone by then.
void probeVoiceMemoAccess(const RecordingPlaces &places, QObject *receiver, std::function<void(bool)> completion);

// Announces the user's return from the permission settings to the page.
inline const QString permissionReturnScript = QStringLiteral(
    "window.dispatchEvent(new Event('velmora-voice-memo-permission-return'));");

} // namespace velmora::workspace
