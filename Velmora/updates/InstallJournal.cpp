#include "updates/InstallJournal.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <array>
#include <utility>

namespace velmora::updates {
namespace {

constexpr int journalFormat = 1;
// A count beyond any real one: a larger number is no journal of ours.
constexpr int maxStartsRead = 1000;

constexpr std::array<std::pair<JournalStep, const char *>, 9> stepNames{{
    {JournalStep::Downloading, "downloading"},
    {JournalStep::Downloaded, "downloaded"},
    {JournalStep::Unpacking, "unpacking"},
    {JournalStep::Ready, "ready"},
    {JournalStep::Swapping, "swapping"},
    {JournalStep::Swapped, "swapped"},
    {JournalStep::Confirmed, "confirmed"},
    {JournalStep::RollingBack, "rollingBack"},
    {JournalStep::RolledBack, "rolledBack"},
}};

constexpr std::array<std::pair<RollbackReason, const char *>, 3> reasonNames{{
    {RollbackReason::NotConfirmed, "notConfirmed"},
    {RollbackReason::RelaunchFailed, "relaunchFailed"},
    {RollbackReason::FirstStartFailed, "firstStartFailed"},
}};

QString identityText(FolderIdentity identity)
{
    return QStringLiteral("%1:%2").arg(identity.device).arg(identity.inode);
}

std::optional<FolderIdentity> identityFrom(const QJsonValue &value)
{
    if (!value.isString())
        return std::nullopt;
    const QString text = value.toString();
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    if (colon <= 0 || colon == text.size() - 1)
        return std::nullopt;
    bool deviceOk = false;
    bool inodeOk = false;
    const QStringView deviceText = QStringView(text).left(colon);
    const QStringView inodeText = QStringView(text).mid(colon + 1);
    // Digits only: toULongLong would also take a sign or a "0x".
    for (QStringView part : {deviceText, inodeText}) {
        for (QChar c : part) {
            if (c < u'0' || c > u'9')
                return std::nullopt;
        }
    }
    FolderIdentity identity{deviceText.toULongLong(&deviceOk), inodeText.toULongLong(&inodeOk)};
    if (!deviceOk || !inodeOk)
        return std::nullopt;
    return identity;
}

bool needsIdentities(JournalStep step)
{
    return step >= JournalStep::Swapping;
}

} // namespace

QString stepName(JournalStep step)
{
    for (const auto &[value, name] : stepNames) {
        if (value == step)
            return QLatin1String(name);
    }
    return {};
}

QByteArray serializeJournal(const InstallJournal &journal)
{
    QJsonObject object;
    object.insert(QLatin1String("format"), journalFormat);
    object.insert(QLatin1String("step"), stepName(journal.step));
    object.insert(QLatin1String("bundle"), journal.bundle);
    object.insert(QLatin1String("fromVersion"), journal.fromVersion);
    object.insert(QLatin1String("toVersion"), journal.toVersion);
    object.insert(QLatin1String("oldBundle"), identityText(journal.oldBundle));
    object.insert(QLatin1String("newBundle"), identityText(journal.newBundle));
    object.insert(QLatin1String("starts"), journal.starts);
    for (const auto &[value, name] : reasonNames) {
        if (value == journal.reason)
            object.insert(QLatin1String("reason"), QLatin1String(name));
    }
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

std::optional<InstallJournal> parseJournal(const QByteArray &document)
{
    if (document.size() > maxJournalBytes)
        return std::nullopt;
    QJsonParseError error;
    const QJsonDocument json = QJsonDocument::fromJson(document, &error);
    if (error.error != QJsonParseError::NoError || !json.isObject())
        return std::nullopt;
    const QJsonObject object = json.object();

    const QJsonValue format = object.value(QLatin1String("format"));
    if (!format.isDouble() || format.toDouble() != journalFormat)
        return std::nullopt;

    InstallJournal journal;
    const QJsonValue step = object.value(QLatin1String("step"));
    bool stepKnown = false;
    for (const auto &[value, name] : stepNames) {
        if (step.isString() && step.toString() == QLatin1String(name)) {
            journal.step = value;
            stepKnown = true;
        }
    }
    if (!stepKnown)
        return std::nullopt;

    for (auto [field, target] : {std::pair{"bundle", &journal.bundle}, std::pair{"fromVersion", &journal.fromVersion},
                                 std::pair{"toVersion", &journal.toVersion}}) {
        const QJsonValue value = object.value(QLatin1String(field));
        if (!value.isString())
            return std::nullopt;
        *target = value.toString();
    }
    if (journal.bundle.isEmpty())
        return std::nullopt;

    const auto oldBundle = identityFrom(object.value(QLatin1String("oldBundle")));
    const auto newBundle = identityFrom(object.value(QLatin1String("newBundle")));
    if (!oldBundle || !newBundle)
        return std::nullopt;
    journal.oldBundle = *oldBundle;
    journal.newBundle = *newBundle;
    if (needsIdentities(journal.step)
        && (journal.oldBundle.isNull() || journal.newBundle.isNull() || journal.oldBundle == journal.newBundle))
        return std::nullopt;

    const QJsonValue starts = object.value(QLatin1String("starts"));
    if (!starts.isDouble())
        return std::nullopt;
    const double count = starts.toDouble();
    if (count < 0 || count > maxStartsRead || count != double(int(count)))
        return std::nullopt;
    journal.starts = int(count);

    const QJsonValue reason = object.value(QLatin1String("reason"));
    bool reasonKnown = false;
    for (const auto &[value, name] : reasonNames) {
        if (reason.isString() && reason.toString() == QLatin1String(name)) {
            journal.reason = value;
            reasonKnown = true;
        }
    }
    if (!reasonKnown)
        return std::nullopt;
    return journal;
}

RecoveryPlan planRecovery(const RecoveryFacts &facts, int startsAllowed)
{
    RecoveryPlan plan;
    plan.journal = facts.journal;
    auto decide = [&plan](RecoveryAction action) {
        plan.action = action;
        return plan;
    };

    if (facts.heldByAnother)
        return decide(RecoveryAction::LeaveAlone);
    if (facts.journalState == RecoveryFacts::Journal::Absent)
        return decide(facts.workFolderExists ? RecoveryAction::DiscardWork : RecoveryAction::Nothing);
    // A journal is always replaced whole; one that cannot be read was not written by us. The
    // running bundle is complete (it runs), so what lies in the work folder can go.
    if (facts.journalState == RecoveryFacts::Journal::Unreadable)
        return decide(RecoveryAction::DiscardWork);

    const InstallJournal &journal = facts.journal;
    const bool newAtBundle = !facts.atBundle.isNull() && facts.atBundle == journal.newBundle;
    const bool oldAtBundle = !facts.atBundle.isNull() && facts.atBundle == journal.oldBundle;
    const bool backupAtSwap = !facts.atSwap.isNull() && facts.atSwap == journal.oldBundle;

    switch (journal.step) {
    case JournalStep::Downloading:
    case JournalStep::Downloaded:
    case JournalStep::Unpacking:
    case JournalStep::Ready:
        // Nothing was exchanged: the running bundle is the one that was there.
        return decide(RecoveryAction::DiscardWork);

    case JournalStep::Swapping:
    case JournalStep::Swapped:
        if (!newAtBundle)
            // The exchange never happened (or someone put another bundle there).
            return decide(RecoveryAction::DiscardWork);
        if (journal.starts >= startsAllowed) {
            // Without the backup there is nothing to go back to: keep what runs.
            if (!backupAtSwap)
                return decide(RecoveryAction::DiscardWork);
            plan.journal.step = JournalStep::RollingBack;
            plan.journal.reason = RollbackReason::NotConfirmed;
            return decide(RecoveryAction::RollBack);
        }
        plan.journal.step = JournalStep::Swapped;
        plan.journal.starts = journal.starts + 1;
        return decide(RecoveryAction::CountStart);

    case JournalStep::Confirmed:
        return decide(RecoveryAction::FinishConfirmation);

    case JournalStep::RollingBack:
        if (oldAtBundle) {
            plan.journal.step = JournalStep::RolledBack;
            return decide(RecoveryAction::ReportRolledBack);
        }
        if (newAtBundle && backupAtSwap)
            return decide(RecoveryAction::RollBack);
        return decide(RecoveryAction::DiscardWork);

    case JournalStep::RolledBack:
        return decide(oldAtBundle ? RecoveryAction::ReportRolledBack : RecoveryAction::DiscardWork);
    }
    return decide(RecoveryAction::DiscardWork);
}

} // namespace velmora::updates
