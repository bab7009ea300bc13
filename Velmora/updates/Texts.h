#pragma once

// Every text of the update controller, its window and the update engine, each standing once.

#include <QString>

namespace velmora::updates {

// Status line of the update window.
inline const QString initialStatus = QStringLiteral("새 버전을 확인합니다.");
inline const QString developmentStatus = QStringLiteral(
    "개발용 앱입니다. 배포 버전은 릴리스 페이지에서 확인할 수 있습니다.");
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
inline const QString releaseExplanation = QStringLiteral(
    "앱을 열 때 바로 확인하고 새 버전을 알려줍니다. 다운로드·설치는 직접 선택할 때만 진행합니다.");
inline const QString releaseLinkTitle = QStringLiteral("변경 내용");
inline const QString showReleaseTitle = QStringLiteral("릴리스 보기");
inline const QString installTitle = QStringLiteral("다운로드 및 설치…");
inline const QString checkAgainTitle = QStringLiteral("다시 확인");

// Release notes box.
inline const QString notesHeading = QStringLiteral("업데이트 내용");
inline const QString notesLoading = QStringLiteral("변경 내용을 불러오고 있습니다…");
inline const QString notesFailed = QStringLiteral(
    "변경 내용을 불러오지 못했습니다. 아래 ‘변경 내용’ 링크에서 확인할 수 있습니다.");

// Update engine: descriptions of its errors (the update window shows its own line for any
// failure), and its install path in this build.
inline const QString insecureFeedText = QStringLiteral("업데이트 정보 주소가 HTTPS가 아니어서 확인하지 않았습니다.");
inline const QString invalidFeedText = QStringLiteral("업데이트 정보 주소가 올바르지 않습니다.");
inline const QString checkRefusedText = QStringLiteral(
    "지금은 업데이트를 확인할 수 없습니다. 진행 중인 확인이 끝난 뒤 다시 시도해 주세요.");
inline const QString unreadableFeedText = QStringLiteral("업데이트 정보를 읽을 수 없습니다.");
inline const QString noUpdateText = QStringLiteral("새 업데이트가 없습니다.");
inline const QString unavailableFeedText = QStringLiteral("업데이트 정보를 내려받지 못했습니다.");

// The engine's window: a found update, its download and its installation.
inline const QString installWindowTitle = QStringLiteral("소프트웨어 업데이트");
inline const QString foundHeading = QStringLiteral("새 버전의 Velmora를 사용할 수 있습니다.");
// %1: the new version, %2: the running one (both without "v").
inline const QString foundDetail = QStringLiteral("Velmora v%1을(를) 설치할 수 있습니다. 지금 사용 중인 버전은 v%2입니다.");
inline const QString installNowTitle = QStringLiteral("설치");
inline const QString laterTitle = QStringLiteral("나중에");
inline const QString skipVersionTitle = QStringLiteral("이 버전 건너뛰기");
inline const QString downloadingHeading = QStringLiteral("업데이트를 내려받고 있습니다…");
// %1 received, %2 total, each with its unit.
inline const QString downloadProgressText = QStringLiteral("%1 / %2");
inline const QString cancelTitle = QStringLiteral("취소");
inline const QString preparingHeading = QStringLiteral("내려받은 업데이트를 확인하고 있습니다…");
inline const QString readyHeading = QStringLiteral("업데이트를 설치할 준비가 되었습니다.");
inline const QString readyDetail = QStringLiteral("‘나중에’를 누르면 Velmora를 종료할 때 설치됩니다.");
inline const QString installAndRelaunchTitle = QStringLiteral("설치 후 다시 시작");
inline const QString waitingHeading = QStringLiteral("진행 중인 작업이 끝나면 설치하고 다시 시작합니다…");
inline const QString installingHeading = QStringLiteral("업데이트를 설치하고 있습니다…");
inline const QString failedHeading = QStringLiteral("업데이트를 설치하지 못했습니다.");
inline const QString refusedHeading = QStringLiteral("여기서는 업데이트를 설치할 수 없습니다.");
inline const QString closeTitle = QStringLiteral("닫기");
inline const QString openReleasePageTitle = QStringLiteral("릴리스 페이지 열기");

// Why installing is refused, and how to update instead.
inline const QString packageManagedText = QStringLiteral(
    "Velmora가 패키지 관리자(apt)로 설치되어 있어 여기서 업데이트를 설치하지 않습니다. 터미널에서 ‘sudo apt update && sudo "
    "apt upgrade’를 실행하거나, 새 버전의 .deb 파일을 내려받아 ‘sudo apt install ./파일이름.deb’로 설치해 주세요.");
// %1: the bundle folder.
inline const QString notWritableText = QStringLiteral(
    "Velmora가 설치된 폴더(%1)를 바꿀 권한이 없어 업데이트를 설치할 수 없습니다. 릴리스 페이지에서 새 버전을 내려받아 직접 "
    "설치하거나, Velmora를 쓸 수 있는 폴더로 옮긴 뒤 다시 시도해 주세요.");
inline const QString sharedParentText = QStringLiteral(
    "Velmora 폴더가 들어 있는 폴더(%1)에 다른 사용자도 쓸 수 있어 업데이트를 설치하지 않습니다. 그 폴더에서 다른 사용자의 "
    "쓰기 권한을 없애거나 Velmora를 내 폴더로 옮긴 뒤 다시 시도해 주세요.");
inline const QString separateFileSystemText = QStringLiteral(
    "Velmora 폴더(%1)가 따로 연결된 저장 장치여서 업데이트를 설치할 수 없습니다. 릴리스 페이지에서 새 버전을 내려받아 직접 "
    "설치해 주세요.");
inline const QString notABundleText = QStringLiteral("이 Velmora는 릴리스 묶음으로 설치된 것이 아니어서 업데이트를 설치할 "
                                                     "수 없습니다. 릴리스 페이지에서 새 버전을 내려받아 주세요.");
inline const QString noPublicKeysText = QStringLiteral("이 Velmora에는 업데이트 서명을 확인할 키가 없어 업데이트를 설치할 "
                                                       "수 없습니다. 릴리스 페이지에서 새 버전을 내려받아 주세요.");

// Each failure of a download or an installation.
inline const QString insecureDownloadText = QStringLiteral(
    "업데이트 파일 주소가 안전한 HTTPS 주소가 아니어서 내려받지 않았습니다.");
inline const QString redirectRefusedText = QStringLiteral(
    "업데이트 파일 주소가 안전하지 않은 주소로 이어져 내려받지 않았습니다.");
inline const QString noLengthText = QStringLiteral("업데이트 정보에 파일 크기가 없어 설치하지 않았습니다.");
inline const QString tooLargeText = QStringLiteral("업데이트 파일이 허용된 크기보다 커서 내려받지 않았습니다.");
inline const QString diskFullText = QStringLiteral(
    "디스크 공간이 부족해 업데이트를 내려받을 수 없습니다. 공간을 확보한 뒤 다시 시도해 주세요.");
inline const QString downloadFailedText = QStringLiteral(
    "업데이트를 내려받지 못했습니다. 인터넷 연결을 확인한 뒤 다시 시도해 주세요.");
// %1: the HTTP status.
inline const QString downloadStatusText = QStringLiteral(
    "업데이트 파일을 내려받지 못했습니다(서버 응답 %1). 잠시 후 다시 시도해 주세요.");
inline const QString lengthMismatchText = QStringLiteral(
    "내려받은 업데이트 파일의 크기가 업데이트 정보와 달라 설치하지 않았습니다.");
inline const QString missingSignatureText = QStringLiteral("업데이트에 서명이 없어 설치하지 않았습니다.");
inline const QString badSignatureText = QStringLiteral(
    "업데이트 파일의 서명이 올바르지 않아 설치하지 않았습니다. 파일이 손상되었거나 변조되었을 수 있습니다.");
inline const QString damagedArchiveText = QStringLiteral(
    "업데이트 파일을 풀 수 없어 설치하지 않았습니다. 파일이 손상되었을 수 있습니다.");
inline const QString unsafeArchiveText = QStringLiteral("업데이트 파일에 허용되지 않는 항목이 있어 설치하지 않았습니다.");
inline const QString notABundleArchiveText = QStringLiteral("업데이트 파일에 Velmora 프로그램이 없어 설치하지 않았습니다.");
// %1: the archive's version, %2: the feed's.
inline const QString wrongVersionText = QStringLiteral(
    "업데이트 파일의 버전(v%1)이 안내된 버전(v%2)과 달라 설치하지 않았습니다.");
// %1: the archive's version, %2: the running one.
inline const QString notNewerText = QStringLiteral(
    "업데이트 파일의 버전(v%1)이 지금 사용 중인 버전(v%2)보다 새롭지 않아 설치하지 않았습니다.");
inline const QString busyText = QStringLiteral(
    "다른 Velmora 창이 업데이트를 설치하고 있습니다. 그 설치가 끝난 뒤 다시 시도해 주세요.");
// %1: the system's own description of the failure.
inline const QString fileErrorText = QStringLiteral("업데이트 파일을 준비하지 못했습니다: %1");
inline const QString swapFailedText = QStringLiteral("업데이트를 설치하지 못해 지금 버전을 계속 사용합니다: %1");
inline const QString cannotStartText = QStringLiteral(
    "새 버전(v%1)이 이 컴퓨터에서 시작되지 않아 설치하지 않았습니다. 지금 버전을 계속 사용합니다. 문제가 계속되면 릴리스 "
    "페이지에서 새 버전을 내려받아 주세요.");
inline const QString relaunchFailedText = QStringLiteral("새 버전을 시작하지 못해 지금 버전으로 되돌렸습니다: %1");

// After a rollback, shown by the version that came back. %1: the new version, %2: the old one.
inline const QString rolledBackTitle = QStringLiteral("업데이트를 되돌렸습니다");
inline const QString rolledBackNotConfirmedText = QStringLiteral(
    "새 버전(v%1)이 두 번 시작하는 동안 제대로 준비되지 않아 이전 버전(v%2)으로 되돌렸습니다. 나중에 다시 업데이트해 "
    "보시고, 문제가 계속되면 릴리스 페이지에서 새 버전을 내려받아 주세요.");
inline const QString rolledBackFirstStartText = QStringLiteral(
    "새 버전(v%1)이 처음 시작하는 동안 제대로 준비되지 않아 이전 버전(v%2)으로 되돌렸습니다. 나중에 다시 업데이트해 "
    "보시고, 문제가 계속되면 릴리스 페이지에서 새 버전을 내려받아 주세요.");
inline const QString rolledBackRelaunchFailedText = QStringLiteral(
    "새 버전(v%1)을 시작하지 못해 이전 버전(v%2)으로 되돌렸습니다. 나중에 다시 업데이트해 보시고, 문제가 계속되면 릴리스 "
    "페이지에서 새 버전을 내려받아 주세요.");

} // namespace velmora::updates
