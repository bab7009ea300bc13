#pragma once

// Every text the workspace shows or gives the page, each standing once.

#include <QString>

namespace velmora::workspace {

// The bridge's refusal of a message from anywhere but the page itself, whatever its name.
inline const QString bridgeRefusedMessage = QStringLiteral("이 앱에서만 폴더 설정을 사용할 수 있습니다.");

// "revealTextFile": the body is not an absolute path of a text file.
inline const QString revealPathInvalidMessage = QStringLiteral("파일 경로를 확인해 주세요.");
// "revealTextFile": nothing, or a folder, at that path.
inline const QString revealFileMissingMessage = QStringLiteral("파일을 찾을 수 없습니다.");

// "chooseSaveLocation": the chosen folder cannot be written to.
inline const QString saveFolderNotWritableMessage = QStringLiteral("선택한 폴더에 저장할 권한이 없습니다. 다른 폴더를 선택해 주세요.");

// "openVoiceMemos": no sound recorder is installed.
inline const QString voiceMemosMissingMessage = QStringLiteral("음성 메모 앱을 찾을 수 없습니다.");

// The two folder panels.
inline const QString modelFolderPanelTitle = QStringLiteral("다운로드한 모델 폴더 선택");
inline const QString modelFolderPanelMessage = QStringLiteral("config.json과 모델 가중치가 있는 TALO MLX 폴더를 선택하세요.");
inline const QString saveFolderPanelTitle = QStringLiteral("기본 경로 선택");
inline const QString saveFolderPanelMessage = QStringLiteral("파일을 저장하고, 불러올 기본 경로를 지정하세요.");
inline const QString folderPanelPrompt = QStringLiteral("이 폴더 사용");

} // namespace velmora::workspace
