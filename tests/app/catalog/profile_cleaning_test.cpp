#include "catalog/profile_cleaning.h"

#include <gtest/gtest.h>

#include "core/tunnel_error.h"
#include "support/catalog_fixtures.h"

namespace orlune {
namespace {

constexpr const char* kAppended =
    "remote-cert-tls server\nconnect-timeout 12\nserver-poll-timeout 15\nconnect-retry 3 5\n"
    "connect-retry-max 1\nauth-retry none\npull-filter ignore \"ping\"\nping 10\nping-exit 60\n";

Relay relayAt(const QString& address) {
    Relay relay;
    relay.hostname = address;
    return relay;
}

const QString kBlocks = "<ca>\nA\n</ca>\n<cert>\nB\n</cert>\n<key>\nC\n</key>\n";

TEST(ProfileCheck, RefusesWhatTheAppCannotVouchFor) {
    const struct {
        QString profile;
        const char* why;
    } cases[] = {
        {"remote 203.0.113.7 1194\nscript-security 2\n" + kBlocks, "script-security"},
        {"remote 203.0.113.7 1194\n  UP /tmp/x.sh\n" + kBlocks, "up hook, any case and indent"},
        {"remote 203.0.113.7 1194\nmanagement 127.0.0.1 7505\n" + kBlocks, "management"},
        {"remote 203.0.113.7 1194\nca /etc/ca.crt\n" + kBlocks, "ca as a file"},
        {"remote 203.0.113.7 1194\ntls-auth ta.key 1\n" + kBlocks, "tls-auth as a file"},
        {"remote 203.0.113.7 1194\nremote 203.0.113.7 443\n" + kBlocks, "two remotes"},
        {"remote 203.0.113.7 1194\nRemote 198.51.100.1 443\n" + kBlocks, "mixed-case second remote"},
        {"remote vpn.example.net 1194\n" + kBlocks, "host name instead of the address"},
        {"remote 203.0.113.7 openvpn\n" + kBlocks, "port not numeric"},
        {"remote 203.0.113.7\n" + kBlocks, "remote without a port"},
        {"remote 203.0.113.7 1194\nremote 198.51.100.1\n" + kBlocks, "a second remote without a port"},
        {"remote 203.0.113.7 1194\nremote\n" + kBlocks, "a second remote without anything"},
        {"client\n" + kBlocks, "no remote"},
        {"remote 203.0.113.7 1194\n<ca>\nA\n</ca>\n<cert>\nB\n</cert>\n", "no key block"},
        {"remote 203.0.113.7 1194\n<ca>\nA\n</ca>\n<cert>\nB\n</cert>\n#<key>\n", "key block only commented"},
        {"remote 203.0.113.7 1194\n<ca>\nA\n</ca>\n<cert>\nB\n</ not a closing line\nremote 198.51.100.1 "
         "443\n<key>\nC\n"
         "</key>\n",
         "cert block never closed: the second remote hides inside it"},
        {"remote 203.0.113.7 1194\n<ca>\nA\n<cert>\nB\n</cert>\n<key>\nC\n</key>\n", "block opened inside a block"},
        {"remote 203.0.113.7 1194\n<ca>\nA\n</ca>\n<cert>\nB\n</cert>\n<key>\nC\n", "key block never closed"},
        {"remote 203.0.113.7 1194\n<ca>\nA\n</key>\n<cert>\nB\n</cert>\n<key>\nC\n</key>\n", "closed by another name"},
    };
    for (const auto& c : cases) {
        try {
            cleanedProfile(c.profile, relayAt("203.0.113.7"));
            ADD_FAILURE() << "accepted: " << c.why;
        } catch (const TunnelError& error) {
            EXPECT_EQ(error.kind(), TunnelError::Kind::unsafeServerConfiguration) << c.why;
        }
    }
}

TEST(ProfileCheck, DirectivesInsideBlocksAndCommentsAreNotRead) {
    const QString profile =
        "# up /bin/sh\n;management x\nREMOTE 203.0.113.7 1194\n<ca>\nup evil\nremote 1.2.3.4 1\n"
        "</ca>\n<CERT>\nB\n</CERT>\n<key>\nC\n</key>\n";
    EXPECT_NO_THROW(cleanedProfile(profile, relayAt("203.0.113.7")));
}

TEST(ProfileCleanUp, ReplacesTimingDirectivesAndDropsBlankLinesInsideBlocks) {
    const QString profile =
        "client\r\nkeepalive 10 60\r\n\r\nping 5\r\n  Persist-Tun\r\n"
        "remote 203.0.113.7 1194\r\n<ca>\r\nA1\r\n\r\nA2\r\n</ca>\r\n"
        "<cert>\r\nB\r\n</cert>\r\n<key>\r\nC\r\n</key>\r\ncipher AES-128-CBC";
    EXPECT_EQ(cleanedProfile(profile, relayAt("203.0.113.7")),
              QString("client\n\nremote 203.0.113.7 1194\n<ca>\nA1\nA2\n</ca>\n<cert>\nB\n</cert>\n"
                      "<key>\nC\n</key>\ncipher AES-128-CBC\n") +
                  kAppended);
}

TEST(ProfileCleanUp, RealProfileIsAcceptedAndKeepsItsCertificates) {
    const QString real = QString::fromUtf8(test::readSample("vpn407900236_udp_2026-08-22.ovpn"));
    const QString cleaned = cleanedProfile(real, relayAt("138.64.235.144"));
    EXPECT_TRUE(cleaned.endsWith(kAppended));
    EXPECT_FALSE(cleaned.contains(u'\r'));
    EXPECT_FALSE(cleaned.contains("\npersist-tun"));
    EXPECT_TRUE(cleaned.contains("\npersist-key\n"));
    EXPECT_TRUE(cleaned.contains("\nremote 138.64.235.144 48483\n"));
    EXPECT_EQ(cleaned.count("-----BEGIN CERTIFICATE-----"), real.count("-----BEGIN CERTIFICATE-----"));
    EXPECT_TRUE(cleaned.contains("</key>\n"));

    EXPECT_THROW(cleanedProfile(real, relayAt("138.64.235.145")), TunnelError);
}

}  // namespace
}  // namespace orlune
