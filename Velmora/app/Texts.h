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
