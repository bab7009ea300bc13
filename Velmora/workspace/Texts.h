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
// "revealTextFile": no file manager answered and no folder opener could be started.
inline const QString revealFailedMessage = QStringLiteral("파일 관리자를 열 수 없습니다.");

// "chooseSaveLocation": the chosen folder cannot be written to.
inline const QString saveFolderNotWritableMessage = QStringLiteral(
    "선택한 폴더에 저장할 권한이 없습니다. 다른 폴더를 선택해 주세요.");

// "openVoiceMemos": no sound recorder is installed.
inline const QString voiceMemosMissingMessage = QStringLiteral("음성 메모 앱을 찾을 수 없습니다.");

// "openVoiceMemoPrivacy" on a desktop without application-permission settings.
inline const QString privacySettingsUnavailableMessage = QStringLiteral(
    "이 데스크톱에서는 개인정보 보호 설정을 열 수 없습니다.");

// The two folder panels.
inline const QString modelFolderPanelTitle = QStringLiteral("다운로드한 모델 폴더 선택");
inline const QString modelFolderPanelMessage = QStringLiteral(
    "config.json과 모델 가중치가 있는 TALO MLX 폴더를 선택하세요.");
inline const QString saveFolderPanelTitle = QStringLiteral("기본 경로 선택");
inline const QString saveFolderPanelMessage = QStringLiteral("파일을 저장하고, 불러올 기본 경로를 지정하세요.");
inline const QString folderPanelPrompt = QStringLiteral("이 폴더 사용");

// Downloads: the alert when one could not be saved, with one of the descriptions below.
inline const QString downloadFailedMessage = QStringLiteral("파일을 저장하지 못했어요");
inline const QString downloadConnectionBrokenText = QStringLiteral("파일을 받는 도중 연결이 끊어졌습니다.");
inline const QString downloadNetworkFailedText = QStringLiteral("네트워크 오류로 파일을 받지 못했습니다.");
inline const QString downloadTimedOutText = QStringLiteral("서버가 응답하지 않아 파일을 받지 못했습니다.");
inline const QString downloadServerFailedText = QStringLiteral("서버가 파일을 보내지 못했습니다.");
inline const QString downloadRefusedText = QStringLiteral("서버가 이 파일을 받도록 허락하지 않았습니다.");
inline const QString downloadAccessDeniedText = QStringLiteral("파일을 쓸 권한이 없습니다.");
inline const QString downloadNoSpaceText = QStringLiteral("디스크 공간이 부족합니다.");
inline const QString downloadNameTooLongText = QStringLiteral("파일 이름이 너무 깁니다.");
inline const QString downloadTooLargeText = QStringLiteral("파일이 너무 커서 저장할 수 없습니다.");
inline const QString downloadBlockedText = QStringLiteral("보안 검사에서 파일이 차단되었습니다.");
inline const QString downloadFileErrorText = QStringLiteral("파일을 쓰는 중 오류가 발생했습니다.");
inline const QString downloadStoppedText = QStringLiteral("다운로드가 중간에 멈췄습니다.");
inline const QString downloadNotStagedText = QStringLiteral("받는 파일을 임시로 둘 폴더를 만들지 못했습니다.");
inline const QString downloadNotPlacedText = QStringLiteral("선택한 위치에 파일을 만들지 못했습니다.");
inline const QString downloadUnknownFailureText = QStringLiteral("알 수 없는 오류가 발생했습니다.");

// The save panel of a download.
inline const QString savePanelTitle = QStringLiteral("파일 저장");
inline const QString savePanelPrompt = QStringLiteral("저장");

// The panel of a file input, which offers audio and video files only.
inline const QString mediaPanelTitle = QStringLiteral("오디오 또는 비디오 파일 선택");
inline const QString mediaPanelPrompt = QStringLiteral("열기");
inline const QString mediaFilterName = QStringLiteral("오디오 및 비디오 파일");

// The web view's own context menu, which holds editing actions only.
inline const QString contextMenuCutText = QStringLiteral("잘라내기");
inline const QString contextMenuCopyText = QStringLiteral("복사");
inline const QString contextMenuPasteText = QStringLiteral("붙여넣기");
inline const QString contextMenuSelectAllText = QStringLiteral("모두 선택");
inline const QString contextMenuCopyLinkText = QStringLiteral("링크 주소 복사");

} // namespace velmora::workspace
