#include "network/endpoints.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>

#include <gtest/gtest.h>

#include "support/test_certificate.h"

namespace orlune {
namespace {

const QByteArray kComplete = R"({"catalog": "https://127.0.0.1:8443/api/iphone/",
  "connectivityCheck": "https://127.0.0.1:8443/generate_204",
  "traceEcho": "https://127.0.0.1:8443/cdn-cgi/trace",
  "plainEchoes": ["https://127.0.0.2/", "https://127.0.0.3/", "https://127.0.0.4/ip"],
  "ipInformation": "https://127.0.0.5/info"})";

TEST(EndpointsFile, CompleteFileReplacesEveryDefault) {
    const Endpoints endpoints = Endpoints::fromJson(kComplete, "/");
    EXPECT_EQ(endpoints.catalog.toString(), "https://127.0.0.1:8443/api/iphone/");
    EXPECT_EQ(endpoints.plainEchoes[2].toString(), "https://127.0.0.4/ip");
    EXPECT_TRUE(endpoints.caCertificates.isEmpty());
    // The base gains its slash, so the address becomes a path segment of its own.
    EXPECT_EQ(endpoints.exitCountryUrl("203.0.113.9")->toString(), "https://127.0.0.5/info/203.0.113.9/country");
}

TEST(EndpointsFile, IncompleteOrMalformedFilesAreRefusedWithTheReason) {
    const struct {
        QByteArray json;
        const char* reason;
    } cases[] = {
        {"{", "malformed JSON"},
        {"[]", "one JSON object"},
        {R"({"catalog": "https://127.0.0.1/"})", "\"connectivityCheck\" is missing"},
        {QByteArray(kComplete).replace("\"plainEchoes\": [\"https://127.0.0.2/\", ", "\"plainEchoes\": ["),
         "exactly three"},
        {QByteArray(kComplete).replace("https://127.0.0.1:8443/generate_204", "http://127.0.0.1/generate_204"),
         "absolute https URL"},
        {QByteArray(kComplete).replace("https://127.0.0.5/info", "/info"), "absolute https URL"},
        {QByteArray(kComplete).replace("\"traceEcho\": \"https://127.0.0.1:8443/cdn-cgi/trace\"", "\"traceEcho\": 5"),
         "URL text"},
        {QByteArray(kComplete).replace("\"catalog\"", "\"catalogue\""), "unknown key \"catalogue\""},
        {QByteArray(kComplete).replace("}", ", \"caCertificates\": \"/nonexistent/ca.pem\"}"), "cannot be read"},
    };
    for (const auto& c : cases) {
        try {
            Endpoints::fromJson(c.json, "/");
            ADD_FAILURE() << "accepted: " << c.reason;
        } catch (const EndpointsError& error) {
            EXPECT_NE(std::string(error.what()).find(c.reason), std::string::npos) << error.what();
        }
    }
}

TEST(EndpointsFile, EnvironmentNamesTheFileAndRelativeCertificatePathsFollowIt) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile ca(dir.filePath("ca.pem"));
    ASSERT_TRUE(ca.open(QIODevice::WriteOnly));
    ca.write(test::TestCertificate::shared().certificatePem);
    ca.close();
    QFile file(dir.filePath("endpoints.json"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(kComplete).replace("}", ", \"caCertificates\": \"ca.pem\"}"));
    file.close();

    ASSERT_EQ(::setenv(kEndpointsVariable, qPrintable(file.fileName()), 1), 0);
    const Endpoints endpoints = Endpoints::fromEnvironment();
    EXPECT_EQ(endpoints.caCertificates, QList<QSslCertificate>{test::TestCertificate::shared().certificate});

    ASSERT_EQ(::setenv(kEndpointsVariable, "", 1), 0);
    EXPECT_THROW(Endpoints::fromEnvironment(), EndpointsError);
    ASSERT_EQ(::setenv(kEndpointsVariable, qPrintable(dir.filePath("missing.json")), 1), 0);
    EXPECT_THROW(Endpoints::fromEnvironment(), EndpointsError);
    QFile notPem(dir.filePath("ca.pem"));
    ASSERT_TRUE(notPem.open(QIODevice::WriteOnly | QIODevice::Truncate));
    notPem.write("not a certificate");
    notPem.close();
    ASSERT_EQ(::setenv(kEndpointsVariable, qPrintable(file.fileName()), 1), 0);
    EXPECT_THROW(Endpoints::fromEnvironment(), EndpointsError);
    ::unsetenv(kEndpointsVariable);
    // Unset means the public services; only compared here, never contacted.
    EXPECT_EQ(Endpoints::fromEnvironment().catalog.path(), "/api/iphone/");
}

TEST(EndpointsDefaults, PublicServicesHaveTheRequiredShapes) {
    const Endpoints defaults = Endpoints::publicDefaults();
    EXPECT_EQ(defaults.catalog.scheme(), "https");
    EXPECT_EQ(defaults.catalog.path(), "/api/iphone/");
    EXPECT_EQ(defaults.connectivityCheck.path(), "/generate_204");
    EXPECT_EQ(defaults.traceEcho.path(), "/cdn-cgi/trace");
    EXPECT_EQ(defaults.traceEcho.host(), "1.1.1.1");
    EXPECT_EQ(defaults.plainEchoes[0].path(), "/");
    EXPECT_EQ(defaults.plainEchoes[1].path(), "/");
    EXPECT_EQ(defaults.plainEchoes[2].path(), "/ip");
    QStringList hosts;
    for (const QUrl& url : {defaults.catalog, defaults.connectivityCheck, defaults.traceEcho, defaults.plainEchoes[0],
                            defaults.plainEchoes[1], defaults.plainEchoes[2]}) {
        EXPECT_FALSE(hosts.contains(url.host()));
        hosts.append(url.host());
    }
}

}  // namespace
}  // namespace orlune
