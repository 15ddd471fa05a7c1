#include "ui/support_texts.h"

#include "texts/platform_texts.h"
#include "ui/presentation.h"

namespace orlune::ui {
namespace {

const QString kVPNGate = QStringLiteral("https://www.vpngate.net");

}  // namespace

namespace SupportLinks {
QUrl vpnGateFAQ() {
    return QUrl(kVPNGate + QStringLiteral("/en/about_faq.aspx"));
}
QUrl openVPNGuide() {
    return QUrl(kVPNGate + QStringLiteral("/en/howto_openvpn.aspx"));
}
QUrl vpnGateAbusePolicy() {
    return QUrl(kVPNGate + QStringLiteral("/en/about_abuse.aspx"));
}
QUrl website() {
    return QUrl(QStringLiteral("https://orlune.app/"));
}
}  // namespace SupportLinks

QList<HelpCard> helpCards() {
    return {
        {QStringLiteral("globe"), QStringLiteral("Connect to a country"),
         QStringLiteral("Refresh the relay list, choose a country on Home or a relay on Servers, then press "
                        "Connect. Choosing only prepares a relay; nothing changes on your connection until "
                        "you connect. \u201CConnected\u201D appears only after the VPN service confirms an "
                        "active tunnel, %1, a changed public IP address and an exit country that matches "
                        "the one you chose.")
             .arg(platformText(kPlatformTexts.tunnelRoute))},
        {QStringLiteral("exclamationmark.triangle"), QStringLiteral("Connection failed or timed out"),
         QStringLiteral("Relays are run by volunteers and can vanish, fill up or refuse connections at any "
                        "time. Refresh the list and try again, or pick another relay of the same country on "
                        "Servers. Orlune VPN never switches to another country by itself.")},
        {QStringLiteral("lock.shield"), QStringLiteral("One-time installation"),
         platformText(kPlatformTexts.installationHelp)},
        {QStringLiteral("hand.raised"), QStringLiteral("Privacy and relay operators"),
         QStringLiteral("Orlune VPN keeps no browsing history and no record of your traffic. VPN Gate and each "
                        "relay operator have their own logging practices. The relays are community "
                        "volunteers' servers, not infrastructure run by the makers of Orlune VPN.")},
    };
}

QList<Link> helpLinks() {
    return {{QStringLiteral("VPN Gate FAQ"), SupportLinks::vpnGateFAQ()},
            {QStringLiteral("OpenVPN Guide"), SupportLinks::openVPNGuide()},
            {QStringLiteral("Orlune Website"), SupportLinks::website()}};
}

QList<Link> aboutLinks() {
    return {{QStringLiteral("Help & Support"), SupportLinks::vpnGateFAQ()},
            {QStringLiteral("Orlune website"), SupportLinks::website()}};
}

std::optional<AboutDocument> aboutDocument(const QString& identity) {
    if (identity == QLatin1String("privacy")) return AboutDocument::privacy;
    if (identity == QLatin1String("terms")) return AboutDocument::terms;
    return std::nullopt;
}

LegalDocument legalDocument(AboutDocument document) {
    const QString lastUpdated = QStringLiteral("Last updated: October 8, 2026");
    if (document == AboutDocument::privacy) {
        return {document,
                QStringLiteral("privacy"),
                QStringLiteral("Privacy Policy"),
                lastUpdated,
                {
                    {QStringLiteral("Data handled by Orlune VPN"),
                     QStringLiteral("Orlune VPN has no accounts, shows no advertising and contains no analytics or "
                                    "tracking. It does not collect the websites you visit or anything you send "
                                    "through the tunnel. Your preferences, favourite relays and temporarily "
                                    "hidden relays are stored locally %1 and never leave it.")
                         .arg(platformText(kPlatformTexts.preferencesLocation)),
                     {}},
                    {QStringLiteral("Network requests"),
                     QStringLiteral("Refreshing the relay list and connecting contact VPN Gate to download the list "
                                    "and a relay's profile. Before and after connecting, the public IP check "
                                    "contacts public IP echo services to read your public address and prove that "
                                    "it changed. These services receive the requests, and with them your public "
                                    "IP address at that moment, as any web server does.")},
                    {QStringLiteral("Connection diagnostics"),
                     QStringLiteral("While a tunnel runs, the VPN service writes local technical logs: the relay's "
                                    "address, times, and errors reported by OpenVPN. They stay on this computer "
                                    "and are never uploaded automatically; they help you or support understand a "
                                    "failed connection when you choose to share them.")},
                    {QStringLiteral("Third-party relay privacy"),
                     QStringLiteral("VPN Gate and the independent volunteers who operate its relays have their own "
                                    "logging practices, which Orlune VPN does not control. A relay can see "
                                    "metadata of your traffic, such as the addresses you connect to, the times "
                                    "and the amount of data.")},
                    {QStringLiteral("Traffic limits"),
                     QStringLiteral("Only IPv4 traffic goes through the tunnel. IPv6 stays available and its "
                                    "traffic may bypass the VPN. While connected, DNS is set to 1.1.1.1 and "
                                    "8.8.8.8, and your previous DNS setting is restored when the VPN stops.")},
                    {QString(),
                     QString(),
                     {{QStringLiteral("VPN Gate Anti-Abuse and Logging Policy"), SupportLinks::vpnGateAbusePolicy()},
                      {QStringLiteral("VPN Gate FAQ and relay logging information"), SupportLinks::vpnGateFAQ()}}},
                }};
    }
    return {document,
            QStringLiteral("terms"),
            QStringLiteral("Terms & Conditions"),
            lastUpdated,
            {
                {QStringLiteral("Independent software"),
                 QStringLiteral("Orlune VPN is independent software. It is not operated, sponsored or endorsed by "
                                "VPN Gate, by the organisation that runs it, or by any relay operator. It uses the "
                                "public relay catalog that VPN Gate publishes.")},
                {QStringLiteral("Your use"),
                 QStringLiteral("Use Orlune VPN and the relays only lawfully, under the laws that apply where you "
                                "are and under the relays' own terms. You are responsible for the traffic you "
                                "send through a relay.")},
                {QStringLiteral("Relay availability and privacy"),
                 QStringLiteral("Relays are run by volunteers and may be slow, missing, located elsewhere than "
                                "listed, or withdrawn at any time. There is no guarantee of speed, security, "
                                "anonymity or exit country.")},
                {QStringLiteral("Connection limitations"),
                 QStringLiteral("Only IPv4 traffic goes through the tunnel; IPv6 traffic may bypass it. While "
                                "connected, DNS queries go to the configured providers, 1.1.1.1 and 8.8.8.8. "
                                "Orlune VPN does not guarantee anonymity or protection against every threat.")},
                {QStringLiteral("Software and changes"),
                 QStringLiteral("Orlune VPN is provided without a promise that every relay or every feature "
                                "works. These terms may change; if you do not accept them, stop using the app.")},
                {QStringLiteral("External policies"),
                 QStringLiteral("VPN Gate's own policies apply independently of these terms."),
                 {{QStringLiteral("VPN Gate terms and policies"), SupportLinks::vpnGateAbusePolicy()}}},
            }};
}

}  // namespace orlune::ui
