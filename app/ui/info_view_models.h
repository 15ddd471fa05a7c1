#pragma once

// The read-mostly pages: Statistics, Help & Support and About.

#include <QtQml/qqmlregistration.h>
#include <QStringList>
#include <QTimer>
#include <QVariantList>
#include <QVariantMap>

#include "ui/diagnostics.h"
#include "ui/shell_bound.h"
#include "ui/support_texts.h"

namespace orlune::ui {

// The live facts of the active tunnel, with the one-second clock of the duration.
class StatisticsViewModel : public orlune::ui::ShellBound {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(bool connected READ connected NOTIFY changed)
    Q_PROPERTY(QString subtitle READ subtitle NOTIFY changed)
    Q_PROPERTY(QVariantList tiles READ tiles NOTIFY tilesChanged)
    // How many tiles there are, fixed: the tiles stay in place while their values change.
    Q_PROPERTY(int tileCount READ tileCount CONSTANT)
    Q_PROPERTY(QString historyNote READ historyNote CONSTANT)

public:
    explicit StatisticsViewModel(QObject* parent = nullptr);

    bool connected() const;
    QString subtitle() const;
    // Each tile: symbol, label, value.
    QVariantList tiles() const;
    static constexpr int kTileCount = 6;
    int tileCount() const { return kTileCount; }
    QString historyNote() const;
    // The clock's step; tests call it by hand.
    void tick();

signals:
    void tilesChanged();

protected:
    void attach(Shell& shell) override;

private:
    QTimer clock_;
};

// Guidance, outside links and the safe diagnostics for the clipboard.
class HelpViewModel : public orlune::ui::ShellBound {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QVariantList cards READ cards CONSTANT)
    Q_PROPERTY(QVariantList links READ links CONSTANT)
    Q_PROPERTY(QString diagnosticsNote READ diagnosticsNote CONSTANT)
    Q_PROPERTY(bool copied READ copied NOTIFY copiedChanged)
    Q_PROPERTY(QString copyLabel READ copyLabel NOTIFY copiedChanged)
    Q_PROPERTY(QString copySymbol READ copySymbol NOTIFY copiedChanged)

public:
    explicit HelpViewModel(QObject* parent = nullptr) : ShellBound(parent) {}

    QVariantList cards() const;
    QVariantList links() const;
    QString diagnosticsNote() const;
    bool copied() const { return copied_; }
    QString copyLabel() const;
    QString copySymbol() const;

    // The facts of the diagnostics text as they are now.
    DiagnosticsFacts diagnosticsFacts() const;
    Q_INVOKABLE void copyDiagnostics();
    Q_INVOKABLE void openLink(int index);

signals:
    void copiedChanged();

protected:
    void attach(Shell&) override {}

private:
    bool copied_ = false;
};

// The app's name and version, links, and the legal documents in a sheet.
class AboutViewModel : public orlune::ui::ShellBound {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QString versionText READ versionText NOTIFY changed)
    Q_PROPERTY(QVariantList links READ links CONSTANT)
    Q_PROPERTY(QString selectedDocument READ selectedDocument NOTIFY selectedDocumentChanged)
    Q_PROPERTY(QVariantMap document READ document NOTIFY selectedDocumentChanged)
    Q_PROPERTY(QString ownershipText READ ownershipText CONSTANT)
    Q_PROPERTY(QString updatesText READ updatesText CONSTANT)

public:
    explicit AboutViewModel(QObject* parent = nullptr) : ShellBound(parent) {}

    // "Version " and the version, or "Version Development" for a build without one.
    QString versionText() const;
    QVariantList links() const;
    QString ownershipText() const;
    QString updatesText() const;
    // "privacy", "terms", or empty while no sheet is shown.
    QString selectedDocument() const;
    // The selected document: title, lastUpdated, sections (title, text, links).
    QVariantMap document() const;

    Q_INVOKABLE void showDocument(const QString& identity);
    Q_INVOKABLE void closeDocument();
    Q_INVOKABLE void openLink(int index);
    Q_INVOKABLE void openDocumentLink(int section, int index);

signals:
    void selectedDocumentChanged();

protected:
    void attach(Shell&) override {}

private:
    std::optional<AboutDocument> selected_;
};

}  // namespace orlune::ui
