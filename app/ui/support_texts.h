#pragma once

// The fixed texts of the Help & Support and About pages: the help cards, the outside links and
// the two legal documents.

#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

namespace orlune::ui {

struct HelpCard {
    QString symbol;
    QString title;
    QString text;
};

struct Link {
    QString title;
    QUrl url;
};

struct LegalSection {
    LegalSection(QString sectionTitle, QString sectionText, QList<Link> sectionLinks = {})
        : title(std::move(sectionTitle)), text(std::move(sectionText)), links(std::move(sectionLinks)) {}

    QString title;  // empty for a block of links alone
    QString text;
    QList<Link> links;
};

enum class AboutDocument { privacy, terms };

struct LegalDocument {
    AboutDocument document;
    QString identity;  // "privacy" or "terms"
    QString title;
    QString lastUpdated;
    QList<LegalSection> sections;
};

namespace SupportLinks {
QUrl vpnGateFAQ();
QUrl openVPNGuide();
QUrl vpnGateAbusePolicy();
QUrl website();
}  // namespace SupportLinks

QList<HelpCard> helpCards();
// "VPN Gate FAQ", "OpenVPN Guide", "Orlune Website".
QList<Link> helpLinks();
// "Help & Support", "Orlune website".
QList<Link> aboutLinks();

LegalDocument legalDocument(AboutDocument document);
// The document for "privacy" or "terms"; anything else gives none.
std::optional<AboutDocument> aboutDocument(const QString& identity);

}  // namespace orlune::ui
