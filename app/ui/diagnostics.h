#pragma once

#include <QString>

#include <optional>

namespace orlune::ui {

// What the safe diagnostics text reports.
struct DiagnosticsFacts {
    std::optional<QString> version;  // the app's version, when the build has one
    std::optional<QString> build;    // the build number, when the build has one
    QString operatingSystem;         // e.g. "Debian GNU/Linux 12 (bookworm), kernel 6.1.0-28-amd64"
    bool serviceAvailable = false;   // a file exists at the control socket's path
    qsizetype catalogServers = 0;
    bool offline = false;
};

// The text "Copy Safe Diagnostics" puts on the clipboard. It can be pasted anywhere, so any
// part that came from outside the app and looks like an IPv4 or IPv6 address is blanked out.
QString safeDiagnostics(const DiagnosticsFacts& facts);

// `text` with everything that reads as an IPv4 or IPv6 address replaced by "[address removed]".
QString withoutAddresses(const QString& text);
// Whether `text` holds four dotted decimal numbers of at most three digits, or a run of hex
// digits and colons that is an IPv6 address.
bool containsAddress(const QString& text);

}  // namespace orlune::ui
