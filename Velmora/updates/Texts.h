#pragma once

// Every text of the update controller, its window and the update engine, each standing once.

#include <QString>

namespace velmora::updates {

// Status line of the update window.
inline const QString initialStatus = QStringLiteral("새 버전을 확인합니다.");
inline const QString developmentStatus = QStringLiteral("개발용 앱입니다. 배포 버전은 릴리스 페이지에서 확인할 수 있습니다.");
inline const QString preparingStatus = QStringLiteral("업데이트 확인을 준비하고 있습니다…");
inline const QString checkingStatus = QStringLiteral("업데이트를 확인하고 있습니다…");
// After "v" and the found version.
inline const QString foundStatusSuffix = QStringLiteral(" 업데이트가 있습니다.");
inline const QString upToDateStatus = QStringLiteral("최신 버전을 사용하고 있습니다.");
inline const QString failedStatus = QStringLiteral("업데이트를 확인하지 못했습니다. 잠시 후 다시 시도해 주세요.");

// Update window.
inline const QString updateWindowTitle = QStringLiteral("업데이트 확인");
inline const QString updateTitle = QStringLiteral("Velmora 업데이트");
// Before the running version.
inline const QString currentVersionPrefix = QStringLiteral("현재 버전 v");
inline const QString automaticChecksTitle = QStringLiteral("새 버전 자동 알림");
inline const QString developmentExplanation = QStringLiteral("설정은 저장되며, 자동 확인은 배포용 앱에서 적용됩니다.");
inline const QString releaseExplanation = QStringLiteral("앱을 열 때 바로 확인하고 새 버전을 알려줍니다. 다운로드·설치는 직접 선택할 때만 진행합니다.");
inline const QString releaseLinkTitle = QStringLiteral("변경 내용");
inline const QString showReleaseTitle = QStringLiteral("릴리스 보기");
inline const QString installTitle = QStringLiteral("다운로드 및 설치…");
inline const QString checkAgainTitle = QStringLiteral("다시 확인");

// Release notes box.
inline const QString notesHeading = QStringLiteral("업데이트 내용");
inline const QString notesLoading = QStringLiteral("변경 내용을 불러오고 있습니다…");
inline const QString notesFailed = QStringLiteral("변경 내용을 불러오지 못했습니다. 아래 ‘변경 내용’ 링크에서 확인할 수 있습니다.");

// Update engine: descriptions of its errors (the update window shows its own line for any
// failure), and its install path in this build.
inline const QString insecureFeedText = QStringLiteral("업데이트 정보 주소가 HTTPS가 아니어서 확인하지 않았습니다.");
inline const QString invalidFeedText = QStringLiteral("업데이트 정보 주소가 올바르지 않습니다.");
inline const QString checkRefusedText = QStringLiteral("지금은 업데이트를 확인할 수 없습니다. 진행 중인 확인이 끝난 뒤 다시 시도해 주세요.");
inline const QString unreadableFeedText = QStringLiteral("업데이트 정보를 읽을 수 없습니다.");
inline const QString noUpdateText = QStringLiteral("새 업데이트가 없습니다.");
inline const QString unavailableFeedText = QStringLiteral("업데이트 정보를 내려받지 못했습니다.");
inline const QString installNoticeTitle = QStringLiteral("업데이트 설치");
inline const QString installUnavailableText = QStringLiteral("이 버전에서는 업데이트 설치를 아직 지원하지 않습니다.");

} // namespace velmora::updates
