#pragma once

#include <QtQml/qqmlregistration.h>
#include <QTimer>
#include <QVariantList>

#include <optional>

#include "core/relay.h"
#include "ui/presentation.h"
#include "ui/shell_bound.h"

namespace orlune::ui {

// Everything the Home screen shows, computed from the model; the screen lays it out and calls
// the actions. Exists while the screen is shown, with its one-second clock for the duration.
class HomeViewModel : public orlune::ui::ShellBound {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QString refreshLabel READ refreshLabel NOTIFY changed)
    Q_PROPERTY(bool refreshEnabled READ refreshEnabled NOTIFY changed)
    Q_PROPERTY(QString statusTitle READ statusTitle NOTIFY changed)
    Q_PROPERTY(QString statusColor READ statusColor NOTIFY changed)
    Q_PROPERTY(QString bannerLine READ bannerLine NOTIFY changed)
    Q_PROPERTY(bool bannerIsCaption READ bannerIsCaption NOTIFY changed)
    Q_PROPERTY(bool showFailureCard READ showFailureCard NOTIFY changed)
    Q_PROPERTY(QString failureMessage READ failureMessage NOTIFY changed)
    Q_PROPERTY(bool stopEnabled READ stopEnabled NOTIFY changed)
    Q_PROPERTY(bool retryEnabled READ retryEnabled NOTIFY changed)
    Q_PROPERTY(QString emblemMode READ emblemMode NOTIFY changed)
    Q_PROPERTY(QString emblemSymbol READ emblemSymbolName NOTIFY changed)
    Q_PROPERTY(QString mainButtonLabel READ mainButtonLabel NOTIFY changed)
    Q_PROPERTY(bool mainButtonEnabled READ mainButtonEnabled NOTIFY changed)
    Q_PROPERTY(QString mainButtonTooltip READ mainButtonTooltip NOTIFY changed)
    Q_PROPERTY(QString mainButtonReason READ mainButtonReason NOTIFY changed)
    Q_PROPERTY(QString progressText READ progressText NOTIFY changed)
    Q_PROPERTY(QString readyCaption READ readyCaption NOTIFY changed)
    Q_PROPERTY(QString selectionNote READ selectionNote NOTIFY changed)
    Q_PROPERTY(bool showQuickConnect READ showQuickConnect NOTIFY changed)
    Q_PROPERTY(bool quickConnectEnabled READ quickConnectEnabled NOTIFY changed)
    Q_PROPERTY(QString pickerFlag READ pickerFlag NOTIFY changed)
    Q_PROPERTY(QString pickerName READ pickerName NOTIFY changed)
    Q_PROPERTY(QString pickerCount READ pickerCount NOTIFY changed)
    Q_PROPERTY(bool pickerEnabled READ pickerEnabled NOTIFY changed)
    Q_PROPERTY(QString pickerReason READ pickerReason NOTIFY changed)
    Q_PROPERTY(QString pickerTooltip READ pickerTooltip CONSTANT)
    Q_PROPERTY(QString pickerCaption READ pickerCaption CONSTANT)
    Q_PROPERTY(QVariantList pickerEntries READ pickerEntries NOTIFY changed)
    Q_PROPERTY(QString detailsHeading READ detailsHeading NOTIFY changed)
    Q_PROPERTY(QVariantList detailRows READ detailRows NOTIFY detailRowsChanged)
    Q_PROPERTY(QString detailsNote READ detailsNote NOTIFY changed)
    Q_PROPERTY(QString noticeSymbol READ noticeSymbol NOTIFY changed)
    Q_PROPERTY(QString noticeTitle READ noticeTitle NOTIFY changed)
    Q_PROPERTY(QStringList noticeParagraphs READ noticeParagraphs NOTIFY changed)

public:
    explicit HomeViewModel(QObject* parent = nullptr);

    QString refreshLabel() const;
    bool refreshEnabled() const;
    QString statusTitle() const { return ui::statusTitle(facts()); }
    QString statusColor() const { return statusColorRole(facts()); }
    QString bannerLine() const;
    bool bannerIsCaption() const { return !displayedRelay(); }
    bool showFailureCard() const;
    QString failureMessage() const;
    bool stopEnabled() const;
    bool retryEnabled() const;
    QString emblemMode() const;
    QString emblemSymbolName() const { return emblemSymbol(facts()); }
    QString mainButtonLabel() const { return ui::mainButtonLabel(facts()); }
    bool mainButtonEnabled() const { return ui::mainButtonEnabled(facts()); }
    QString mainButtonTooltip() const { return ui::mainButtonTooltip(facts()); }
    QString mainButtonReason() const { return ui::mainButtonDisabledReason(facts()); }
    QString progressText() const;
    QString readyCaption() const;
    QString selectionNote() const;
    bool showQuickConnect() const;
    bool quickConnectEnabled() const;
    QString pickerFlag() const;
    QString pickerName() const;
    QString pickerCount() const;
    bool pickerEnabled() const;
    // Why the picker is disabled, written under it; empty while it is enabled.
    QString pickerReason() const;
    QString pickerTooltip() const;
    QString pickerCaption() const;
    QVariantList pickerEntries() const;
    QString detailsHeading() const;
    // Each row: label, value, and muted for a value that is not a live figure.
    QVariantList detailRows() const;
    QString detailsNote() const;
    QString noticeSymbol() const;
    QString noticeTitle() const;
    QStringList noticeParagraphs() const;

    Q_INVOKABLE void refresh();
    Q_INVOKABLE void mainAction();
    Q_INVOKABLE void stop();
    Q_INVOKABLE void retry();
    Q_INVOKABLE void chooseAnotherServer();
    Q_INVOKABLE void browseServers();
    Q_INVOKABLE void quickConnect();
    Q_INVOKABLE void chooseCountry(const QString& code);

    // The one-second clock of the duration row; tests step it by hand.
    void tick();

signals:
    void detailRowsChanged();

protected:
    void attach(Shell& shell) override;

private:
    ConnectionFacts facts() const;
    std::optional<Relay> displayedRelay() const;

    QTimer clock_;
};

}  // namespace orlune::ui
