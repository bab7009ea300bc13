#pragma once

// Every text the application shell shows, each standing once.

#include <QString>

namespace velmora::app {

// Startup screens.
inline const QString accessCheckLabel = QStringLiteral("접근 권한을 확인하고 있어요");
inline const QString openingStatus = QStringLiteral("Velmora를 여는 중…");
inline const QString failureTitle = QStringLiteral("Velmora를 시작하지 못했어요");
inline const QString retryTitle = QStringLiteral("다시 시도");
inline const QString openLogTitle = QStringLiteral("로그 보기");
// Another program holds the backend's port: this run starts on a free one instead.
inline const QString startOnAnotherPortTitle = QStringLiteral("다른 포트로 시작");
// The backend was ready and went away; the message says how (backend/Texts.h).
inline const QString backendLostTitle = QStringLiteral("Velmora 작업 환경이 멈췄어요");
// The page's render process ended twice in a short time.
inline const QString pageFailedTitle = QStringLiteral("페이지를 표시하지 못했어요");
inline const QString pageFailedMessage = QStringLiteral("페이지 프로세스가 예기치 않게 종료되었습니다.");

// The main window and its application menu.
inline const QString windowTitle = QStringLiteral("Velmora");
inline const QString applicationMenuTitle = QStringLiteral("Velmora");
inline const QString aboutTitle = QStringLiteral("Velmora 정보");
inline const QString checkForUpdatesTitle = QStringLiteral("업데이트 확인…");
inline const QString quitTitle = QStringLiteral("종료");

// The About box: the application's name, its version and icon, what it does, its licence.
inline const QString productName = QStringLiteral("Velmora");
inline const QString versionLine = QStringLiteral("버전 %1");
inline const QString closeAboutTitle = QStringLiteral("확인");
inline const QString aboutDescription = QStringLiteral("녹음을 텍스트, 자막, 마크다운으로 바꿉니다");
inline const QString aboutLicence = QStringLiteral("© 2026 Velmora 개발자. 모든 권리 보유.");
// The home page link's name for screen readers; %1 is the site, as the link shows it.
inline const QString aboutHomePageTitle = QStringLiteral("홈페이지 %1");

// The status-area icon while the window is hidden; its quit entry is quitTitle.
inline const QString openTitle = QStringLiteral("열기");

} // namespace velmora::app
