#pragma once

#include <QByteArray>
#include <QList>
#include <QSslCertificate>
#include <QString>
#include <QUrl>

#include <array>
#include <chrono>
#include <optional>
#include <stdexcept>
#include <vector>

namespace orlune {

// The environment variable that names an endpoints file replacing every public default.
inline constexpr const char* kEndpointsVariable = "ORLUNE_ENDPOINTS";

// An endpoints file that cannot be used. The app refuses to start with it rather than fall
// back to the public defaults, which the file's author meant to avoid.
class EndpointsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Every HTTPS address the app talks to. The file form is
//   {"catalog": URL, "connectivityCheck": URL, "traceEcho": URL,
//    "plainEchoes": [URL, URL, URL], "ipInformation": BASE-URL,
//    "caCertificates": PEM-FILE-PATH (optional), "catalogMirrors": [URL, ...] (optional),
//    "speedTest": URL (optional)}
// Reachability probes: connectivityCheck, traceEcho, plainEchoes[0], catalog. Public-IP
// lookups: traceEcho and the three plainEchoes. Exit country: ipInformation + address +
// "/country". caCertificates adds trusted CAs for every request. catalogMirrors are tried in
// order after the catalog; each is https, or plain http to a loopback address. speedTest is a
// large download the optional throughput measurement reads the start of.
struct Endpoints {
    QUrl catalog;
    QUrl connectivityCheck;
    QUrl traceEcho;
    std::array<QUrl, 3> plainEchoes;
    QUrl ipInformation;
    QList<QSslCertificate> caCertificates;
    std::vector<QUrl> catalogMirrors;
    QUrl speedTest;  // empty: no throughput measurement

    // The real public services.
    static Endpoints publicDefaults();
    // Parses a file's content. `baseDirectory` resolves a relative caCertificates path.
    // Throws EndpointsError naming what is wrong: malformed JSON, a missing, unknown or
    // mistyped key, a URL that is not absolute HTTPS, or an unreadable certificate file.
    static Endpoints fromJson(const QByteArray& json, const QString& baseDirectory);
    // Reads and parses a file; throws EndpointsError.
    static Endpoints fromFile(const QString& path);
    // The file named by ORLUNE_ENDPOINTS, or the public defaults when it is unset. Throws
    // EndpointsError when it is set to an empty value or names an unusable file.
    static Endpoints fromEnvironment();

    // The exit-country address for `address`, or nothing when no valid URL results.
    std::optional<QUrl> exitCountryUrl(const QString& address) const;

    // The process-wide configuration every network operation reads. Set once at start-up
    // (tests set their own local servers); defaults to the public services.
    static Endpoints current();
    static void setCurrent(Endpoints endpoints);
};

// Per-request time-outs (inactivity limits of the HTTP client). Fixed in the app; tests
// shorten them so that a hanging server costs milliseconds, not seconds.
struct NetworkTimeouts {
    std::chrono::milliseconds catalog{15'000};
    std::chrono::milliseconds profile{20'000};
    std::chrono::milliseconds probe{5'000};
    std::chrono::milliseconds publicIP{8'000};
    std::chrono::milliseconds exitCountry{10'000};

    static NetworkTimeouts current();
    static void setCurrent(NetworkTimeouts timeouts);
};

}  // namespace orlune
