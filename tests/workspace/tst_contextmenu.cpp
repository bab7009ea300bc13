#include "PageLoad.h"
#include "PageScript.h"
#include "RecordingUrlOpener.h"
#include "TestSupport.h"

#include "app/Drawing.h"
#include "workspace/Texts.h"
#include "workspace/WorkspaceContextMenu.h"
#include "workspace/WorkspaceView.h"
#include "workspace/WorkspaceViewCoordinator.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QWebEngineView>

#include <memory>

using namespace velmora;
using workspace::ContextMenuAction;
using workspace::ContextMenuTarget;
using workspace::WorkspaceContextMenu;
using workspace::WorkspaceView;

Q_DECLARE_METATYPE(ContextMenuTarget)

namespace {

using Actions = QList<ContextMenuAction>;

QStringList texts(const Actions &actions)
{
    QStringList result;
    for (ContextMenuAction action : actions)
        result << WorkspaceContextMenu::text(action);
    return result;
}

ContextMenuTarget field(bool selection, bool canPaste)
{
    ContextMenuTarget t;
    t.editable = true;
    t.hasSelection = selection;
    t.canCut = t.canCopy = selection;
    t.canPaste = canPaste;
    t.canSelectAll = true;
    return t;
}

const QByteArray page
    = "<!doctype html><html><head><meta charset=utf-8><style>"
      "body { margin: 0; font: 16px sans-serif; } #field, #link, #words { display: block; width: 300px; height: 40px;"
      " margin: 10px; } #plain { height: 200px; }"
      "</style></head><body>"
      "<input id=field value='다섯 글자임'>"
      "<a id=link href='/elsewhere?x=1'>링크</a>"
      "<p id=words>선택할 글</p>"
      "<div id=plain></div>"
      "</body></html>";

} // namespace

class TestContextMenu : public QObject
{
    Q_OBJECT

    std::unique_ptr<test::LoopbackHttpServer> m_origin;
    test::RecordingUrlOpener m_opener;
    std::unique_ptr<WorkspaceView> m_view;

    WorkspaceContextMenu *menu() const { return m_view->webView()->findChild<WorkspaceContextMenu *>(); }

    // Right-clicks the element with this id, as the user's mouse does, and gives the actions
    // of the menu that answered.
    std::optional<Actions> rightClick(const QString &id)
    {
        const QVariantList centre = test::evaluate(
                                        m_view->coordinator(),
                                        QStringLiteral(
                                            "(() => { const r = document.getElementById('%1').getBoundingClientRect();"
                                            " return [r.left + r.width / 2, r.top + r.height / 2]; })()")
                                            .arg(id))
                                        .toList();
        if (centre.size() != 2)
            return std::nullopt;
        QSignalSpy answered(menu(), &WorkspaceContextMenu::answered);
        const QPoint at(centre.at(0).toInt(), centre.at(1).toInt());
        QWidget *target = m_view->webView()->focusProxy();
        QTest::mouseMove(target, at);
        QTest::mouseClick(target, Qt::RightButton, {}, at);
        if (!answered.wait(test::patience))
            return std::nullopt;
        return answered.first().first().value<Actions>();
    }

    QAction *menuAction(const QString &text) const
    {
        QMenu *open = menu()->openMenu();
        if (!open)
            return nullptr;
        for (QAction *action : open->actions()) {
            if (action->text() == text)
                return action;
        }
        return nullptr;
    }

private slots:
    void initTestCase()
    {
        qRegisterMetaType<Actions>();
        m_origin = std::make_unique<test::LoopbackHttpServer>();
        m_origin->setHandler([](const QByteArray &, const QString &) {
            return test::HttpReply{200, page, {{"Content-Type", "text/html; charset=utf-8"}}, false};
        });
        QVERIFY2(m_origin->listen(), qPrintable(m_origin->errorString()));
    }

    void init()
    {
        workspace::WorkspaceViewDependencies deps;
        deps.opener = &m_opener;
        m_view = std::make_unique<WorkspaceView>(m_origin->baseUrl(), deps);
        QVERIFY(test::showAndWaitForLoad(*m_view, QSize(600, 400), test::PageReady::ForInput));
        QVERIFY(menu());
    }

    void cleanup()
    {
        m_view.reset();
        QGuiApplication::clipboard()->clear();
    }

    void actions_data()
    {
        QTest::addColumn<ContextMenuTarget>("target");
        QTest::addColumn<Actions>("expected");
        using A = ContextMenuAction;
        QTest::newRow("plain page area") << ContextMenuTarget{false, false, false, false, false, false, true} << Actions{};
        QTest::newRow("selected page text")
            << ContextMenuTarget{false, true, false, false, true, false, true} << Actions{A::Copy};
        QTest::newRow("link") << ContextMenuTarget{false, false, true, false, false, false, true}
                              << Actions{A::CopyLinkAddress};
        QTest::newRow("selected text of a link")
            << ContextMenuTarget{false, true, true, false, true, false, true} << Actions{A::Copy, A::CopyLinkAddress};
        QTest::newRow("field with a selection") << field(true, true) << Actions{A::Cut, A::Copy, A::Paste, A::SelectAll};
        QTest::newRow("field without a selection") << field(false, true) << Actions{A::Paste, A::SelectAll};
        QTest::newRow("field, empty clipboard") << field(false, false) << Actions{A::SelectAll};
        ContextMenuTarget stale = field(false, false);
        stale.canCut = stale.canCopy = true; // flags without a selection cut or copy nothing
        QTest::newRow("field, flags without a selection") << stale << Actions{A::SelectAll};
    }

    void actions()
    {
        QFETCH(ContextMenuTarget, target);
        QFETCH(Actions, expected);
        QCOMPARE(workspace::contextMenuActions(target), expected);
    }

    void plainAreaShowsNoMenu()
    {
        QCOMPARE(rightClick(QStringLiteral("plain")), std::optional(Actions{}));
        QVERIFY(!menu()->openMenu());
        QVERIFY(!m_view->webView()->findChild<QMenu *>());
    }

    void linkOffersItsAddressOnly()
    {
        QCOMPARE(rightClick(QStringLiteral("link")), std::optional(Actions{ContextMenuAction::CopyLinkAddress}));
        QMenu *open = menu()->openMenu();
        QVERIFY(open);
        QStringList shown;
        for (QAction *action : open->actions()) {
            if (!action->isSeparator())
                shown << action->text();
        }
        QCOMPARE(shown, QStringList{workspace::contextMenuCopyLinkText});
        menuAction(workspace::contextMenuCopyLinkText)->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), m_origin->url(QStringLiteral("/elsewhere?x=1")).toString());
        QVERIFY(m_opener.opened.isEmpty());
    }

    void fieldOffersEditingAndItWorks()
    {
        QGuiApplication::clipboard()->setText(QStringLiteral("붙임"));
        test::evaluate(m_view->coordinator(), QStringLiteral("document.getElementById('field').focus();"
                                                             " document.getElementById('field').select(); true"));
        const std::optional<Actions> actions = rightClick(QStringLiteral("field"));
        QVERIFY(actions);
        QCOMPARE(texts(*actions), texts({ContextMenuAction::Cut, ContextMenuAction::Copy, ContextMenuAction::Paste,
                                         ContextMenuAction::SelectAll}));
        QVERIFY(menu()->openMenu());
        menuAction(workspace::contextMenuCopyText)->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(QGuiApplication::clipboard()->text(), QStringLiteral("다섯 글자임"), test::patience);
    }

    void selectedPageTextOffersCopy()
    {
        test::evaluate(m_view->coordinator(),
                       QStringLiteral("getSelection().selectAllChildren(document.getElementById('words')); true"));
        QCOMPARE(rightClick(QStringLiteral("words")), std::optional(Actions{ContextMenuAction::Copy}));
    }
};

int main(int argc, char *argv[])
{
    // The web view draws as it does in velmora.
    velmora::app::prepareDrawing(argc, argv);
    QApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    TestContextMenu test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_contextmenu.moc"
