#include "app/VelmoraApp.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QLocale>
#include <QPushButton>
#include <QTest>

using namespace velmora;

// What Velmora shows besides its own texts is Korean too: the controls that Qt draws in the
// desktop's panels and message boxes, whatever the system's language.
class TestApplicationLanguage : public QObject
{
    Q_OBJECT
private slots:
    void qtsOwnControlsAreKorean()
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        app::VelmoraApp::describeApplication();

        QCOMPARE(QLocale().language(), QLocale::Korean);
        QDialogButtonBox buttons(QDialogButtonBox::Save | QDialogButtonBox::Cancel);
        QCOMPARE(buttons.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("취소"));
        QCOMPARE(buttons.button(QDialogButtonBox::Save)->text(), QStringLiteral("저장"));
    }
};

QTEST_MAIN(TestApplicationLanguage)
#include "tst_applicationlanguage.moc"
